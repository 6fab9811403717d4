// The database's side of the calls: connecting, and the schema "tallyphon"
// with its tables (described for administrators in docs/database.md).
#pragma once

#include <memory>
#include <string>

#include "db/connection.h"

// Connects to the database connInfo names (a libpq connection string or
// URI), with the limits of WithTimeouts; interrupt, when given, can end the
// connecting and the statements. Throws pqxx::broken_connection (or
// another std::exception) when the server cannot be reached or refuses;
// its text holds no password.
std::unique_ptr<TDbConnection> ConnectDb(const std::string& connInfo,
                                         TDbInterrupt* interrupt = nullptr);

// The connection string with whichever of these it does not name added:
// connect_timeout=10, so that an unreachable server never holds the caller
// longer, and TCP keepalives after 30 s idle, every 10 s, 3 tries, so that
// a server gone from the network ends an open connection within a minute.
std::string WithTimeouts(const std::string& connInfo);

// Creates the schema "tallyphon", its tables and indexes where they are
// missing, in one transaction under an advisory lock, so that two programs
// starting at once do not trip over each other. Throws on failure.
void EnsureSchema(pqxx::connection_base& connection);

// The text of a database error for a message: libpq's words, without the
// line breaks and blanks around them.
std::string DbErrorText(const std::exception& error);
