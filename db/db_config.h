// Where the calls go besides the call-log file: a PostgreSQL database and
// the name this office's calls carry there.
#pragma once

#include <string>

// The configuration file of the database, in the start-up directory.
extern const char* const kDbConfigFileName;  // "TallyphonDb.cfg"

struct TDbConfig {
    // A libpq connection string or URI; empty: no database.
    std::string ConnInfo;
    // The site (office) whose calls these are.
    std::string Site;
    bool Enabled() const { return !ConnInfo.empty(); }
};

struct TDbConfigLoad {
    enum class TStatus {
        Loaded,   // the file's configuration, or none when there is no file
        Refused,  // the file cannot be used; Config is empty
    };
    TStatus Status = TStatus::Loaded;
    bool Ok() const { return Status == TStatus::Loaded; }
    TDbConfig Config;
    std::string Error;  // why the file was refused (UTF-8, one line)
    // Set when the file holds a password and is readable by its group or
    // others (UTF-8, one line, naming the file); the file is used all the same.
    std::string Warning;
};

// Reads "TallyphonDb.cfg" in startDir (empty: the current directory): lines
// CONNINFO=… and SITE=… in UTF-8; blank lines and lines starting with "#"
// are skipped, a CR before the line end is dropped. A missing file gives an
// empty configuration. Refused, at once and naming the file: a
// file that cannot be read, anything but a regular file (a FIFO, a device,
// a link to one), a file of more than 64 KiB, an unknown key, a key twice, CONNINFO without SITE or
// SITE without CONNINFO, a site name that CheckSiteName refuses.
TDbConfigLoad LoadDbConfig(const std::string& startDir);

// What is wrong with name as a site's name: empty, longer than 64
// characters, not UTF-8, or holding a control character. Empty when usable.
std::string CheckSiteName(const std::string& name);

// What messages and the journal show of a connection string: host (or
// hostaddr), port, dbname and user as libpq reads them, and nothing else of
// it; a string CheckConnInfo refuses shows as "(строка подключения не
// разобрана)".
std::string ConnInfoForDisplay(const std::string& connInfo);

// Why libpq would misread connInfo, in words that quote nothing of it:
// libpq cannot parse it, or it is a URI with "@" past its host, where an
// unencoded "/" in a password leaves pieces of it in the host, port or
// database. Empty when usable.
std::string CheckConnInfo(const std::string& connInfo);

// Whether connInfo holds a password; a string CheckConnInfo refuses does
// when it holds "password" or "@".
bool ConnInfoHasPassword(const std::string& connInfo);

// The warning for a password given on the command line (UTF-8, one line).
extern const char* const kPasswordSeen;

// libpq's message with the password connInfo names replaced by "***", on
// one line.
std::string HidePassword(std::string message, const std::string& connInfo);
