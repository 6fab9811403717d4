// The database's side of the calls: connecting, and the schema "tallyphon"
// with its tables (described for administrators in docs/database.md).
//
// How db/ tells its callers that an operation failed: a result that holds
// an outcome enum class of its own (its Status, or State for a shipping
// pass) and, beside it, the message Error (UTF-8, one line, libpq's words
// with no password), as libserialport pairs sp_return with
// sp_last_error_message().
// Callers switch over the outcome and only show the message. Nothing of
// db/ raises to them; the connecting and schema functions below do, being
// the building blocks of its own operations, which catch what they throw.
#pragma once

#include <exception>
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

// Whether the schema "tallyphon" holds every table, column and index
// EnsureSchema makes.
bool SchemaCurrent(pqxx::connection_base& connection);

// Unless SchemaCurrent, creates the schema "tallyphon", its tables, columns
// and indexes where they are missing (upgrading a database of an earlier
// version in place), in one transaction under an advisory lock, so that
// two programs starting at once do not trip over each other. Throws on
// failure; without the right to, with a text naming the right and the
// command that makes the schema. Returns that text instead when only the
// tables of the web view and the alerts are missing: the calls can be
// shipped without them.
std::string EnsureSchema(pqxx::connection_base& connection);

// Makes the schema as EnsureSchema does, whether current or not; with
// roles, also the table offices (which office role ships which site), the
// roles tallyphon_office, tallyphon_reader and tallyphon_web where missing,
// and their
// rights and row-level policies (see docs/database.md). Run by the
// database's owner. Throws on failure.
void MakeSchema(pqxx::connection_base& connection, bool roles);

// The outcome of an operation of db/ that either works or fails.
struct TDbResult {
    enum class TStatus { Done, Failed };
    TStatus Status = TStatus::Done;
    std::string Error;  // why it failed; empty when Done
    bool Ok() const { return Status == TStatus::Done; }
};

// Connects to connInfo and makes the schema with the roles, as MakeSchema
// does; Failed with the server's reason when it cannot.
TDbResult MakeSchemaAt(const std::string& connInfo);

// The text of a database error for a message: libpq's words, without the
// line breaks and blanks around them.
std::string DbErrorText(const std::exception& error);
