// The database's side of the calls: connecting, and the schema "tallyphon"
// with its tables (described for administrators in docs/database.md).
#pragma once

#include <memory>
#include <string>

#include <pqxx/connection>

// Connects to the database connInfo names (a libpq connection string or
// URI). A connection string that names no connect_timeout gets one of ten
// seconds, so that an unreachable server never holds the caller longer.
// Throws pqxx::broken_connection (or another std::exception) when the
// server cannot be reached or refuses.
std::unique_ptr<pqxx::connection> ConnectDb(const std::string& connInfo);

// The connection string with connect_timeout=10 added when it names none.
std::string WithConnectTimeout(const std::string& connInfo);

// Creates the schema "tallyphon", its tables and indexes where they are
// missing, in one transaction under an advisory lock, so that two programs
// starting at once do not trip over each other. Throws on failure.
void EnsureSchema(pqxx::connection& connection);

// The text of a database error for a message: libpq's words, without the
// line breaks and blanks around them.
std::string DbErrorText(const std::exception& error);
