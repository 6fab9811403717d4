#include "db/schema.h"

#include <stdexcept>

#include <pqxx/except>
#include <pqxx/nontransaction>
#include <pqxx/transaction>

namespace {

// Any two programs creating the schema take this lock first ("TPHN").
constexpr long long kSchemaLock = 0x5450484E;

const char* const kSchema = R"sql(
CREATE SCHEMA IF NOT EXISTS tallyphon;

CREATE TABLE IF NOT EXISTS tallyphon.sites (
    site          text PRIMARY KEY,
    file_no       integer NOT NULL DEFAULT 0,
    model         text NOT NULL DEFAULT '',
    serial        text NOT NULL DEFAULT '',
    shipped_calls bigint NOT NULL DEFAULT 0,
    shipped_at    timestamptz
);

CREATE TABLE IF NOT EXISTS tallyphon.files (
    site           text NOT NULL REFERENCES tallyphon.sites,
    file_no        integer NOT NULL,
    path           text NOT NULL,
    device         bigint NOT NULL,
    inode          bigint NOT NULL,
    shipped_offset bigint NOT NULL DEFAULT 0,
    tail           bytea NOT NULL DEFAULT '',
    first_shipped  timestamptz NOT NULL DEFAULT now(),
    last_shipped   timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (site, file_no)
);
CREATE INDEX IF NOT EXISTS files_site_inode ON tallyphon.files (site, device, inode);

CREATE TABLE IF NOT EXISTS tallyphon.calls (
    site        text NOT NULL,
    file_no     integer NOT NULL,
    file_offset bigint NOT NULL,
    model       text NOT NULL,
    serial      text NOT NULL,
    start       timestamp(0) without time zone NOT NULL,
    duration    integer NOT NULL,
    hw_line     text NOT NULL,
    prg_number  text NOT NULL,
    trunk       text NOT NULL,
    dialled     text NOT NULL,
    log_line    text NOT NULL,
    PRIMARY KEY (site, file_no, file_offset)
);
CREATE INDEX IF NOT EXISTS calls_site_start ON tallyphon.calls (site, start);
-- The subscriber-line report sums an office's calls per line (GROUP BY
-- site, hw_line, in the key's order); the other columns it reads are
-- included, so that the server scans this index alone, never the rows.
CREATE INDEX IF NOT EXISTS calls_site_line ON tallyphon.calls (site, hw_line)
    INCLUDE (file_no, file_offset, start, duration, dialled);

-- A file's identity from its content: one file_no per file, so that the
-- calls' key (site, file_no, file_offset) never takes a file shipped
-- again for a new one. Added to databases made before it.
ALTER TABLE tallyphon.files ADD COLUMN IF NOT EXISTS file_id bigint;
CREATE UNIQUE INDEX IF NOT EXISTS files_site_file_id ON tallyphon.files (site, file_id);

-- A file moved away from the call-log's name (rotated) is looked for by
-- its identity until it is done with: shipped to its end, or told lost,
-- with how many bytes, from its length when last shipped (seen_bytes)
-- when nothing better is known. Files of databases made before were
-- followed by their name only: they count as done with.
ALTER TABLE tallyphon.files ADD COLUMN IF NOT EXISTS finished boolean NOT NULL DEFAULT true;
ALTER TABLE tallyphon.files ALTER COLUMN finished SET DEFAULT false;
ALTER TABLE tallyphon.files ADD COLUMN IF NOT EXISTS seen_bytes bigint NOT NULL DEFAULT 0;
CREATE INDEX IF NOT EXISTS files_site_unfinished ON tallyphon.files (site) WHERE NOT finished;

-- An office's tariff file and subscriber directory as uploaded through the
-- web view (the bytes as the administrator's spreadsheet saved them): the
-- web view rates and bills that office's calls by them.
CREATE TABLE IF NOT EXISTS tallyphon.office_files (
    site        text NOT NULL,
    kind        text NOT NULL CHECK (kind IN ('tariffs', 'directory')),
    file_name   text NOT NULL,
    content     bytea NOT NULL,
    uploaded_at timestamptz NOT NULL DEFAULT now(),
    uploaded_by text NOT NULL,
    PRIMARY KEY (site, kind)
);

-- The alerts an office raised and cleared (see alerts/), one row each:
-- the key is the alert's own, so that a delivery repeated after a lost
-- answer adds nothing (INSERT … ON CONFLICT DO NOTHING). The web view
-- reads an office's newest first.
CREATE TABLE IF NOT EXISTS tallyphon.alerts (
    site      text NOT NULL,
    key       text NOT NULL,
    kind      text NOT NULL,
    cleared   boolean NOT NULL DEFAULT false,
    raised_at timestamptz NOT NULL,
    text      text NOT NULL,
    call_line text NOT NULL DEFAULT '',
    PRIMARY KEY (site, key)
);
CREATE INDEX IF NOT EXISTS alerts_site_raised ON tallyphon.alerts (site, raised_at);
)sql";

// The rights of the roles, made by the database's owner once: an office
// (a member of tallyphon_office, mapped to its site in offices) reads and
// adds its own rows only (calls and alerts), and changes only its own progress; a reader
// (tallyphon_reader) only reads the calls; the web server
// (tallyphon_web) reads as a reader and also reads its users and adds to
// their audit, whose rows older than 400 days it may have deleted;
// nobody but the owner otherwise deletes or changes the tables.
const char* const kRoles = R"sql(
CREATE TABLE IF NOT EXISTS tallyphon.offices (
    site text PRIMARY KEY,
    role name NOT NULL UNIQUE
);
-- The web server's users (tallyphon-web --add-user) and what they did.
-- Only the server's own role reads the users (their password hashes) and
-- adds to the audit, and nothing else of these two tables: a reader who
-- runs reports must not get the hashes to try offline.
CREATE TABLE IF NOT EXISTS tallyphon.web_users (
    name    text PRIMARY KEY,
    role    text NOT NULL,
    hash    text NOT NULL,
    created timestamptz NOT NULL DEFAULT now()
);
CREATE TABLE IF NOT EXISTS tallyphon.web_audit (
    at      timestamptz NOT NULL DEFAULT now(),
    name    text NOT NULL,
    address text NOT NULL,
    event   text NOT NULL
);
DO $$
DECLARE
    t text;
    own constant text := 'site IN (SELECT site FROM tallyphon.offices WHERE role = current_user)';
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'tallyphon_office') THEN
        CREATE ROLE tallyphon_office NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'tallyphon_reader') THEN
        CREATE ROLE tallyphon_reader NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'tallyphon_web') THEN
        CREATE ROLE tallyphon_web NOLOGIN;
    END IF;
    IF NOT pg_has_role('tallyphon_web', 'tallyphon_reader', 'MEMBER') THEN
        GRANT tallyphon_reader TO tallyphon_web;
    END IF;
    REVOKE ALL ON SCHEMA tallyphon FROM PUBLIC;
    GRANT USAGE ON SCHEMA tallyphon TO tallyphon_office, tallyphon_reader, tallyphon_web;
    -- Also takes back what older schemas gave the reader on the web tables.
    REVOKE ALL ON ALL TABLES IN SCHEMA tallyphon
        FROM PUBLIC, tallyphon_office, tallyphon_reader, tallyphon_web;
    GRANT SELECT ON ALL TABLES IN SCHEMA tallyphon TO tallyphon_reader;
    REVOKE ALL ON tallyphon.web_users, tallyphon.web_audit FROM tallyphon_reader;
    GRANT SELECT ON tallyphon.web_users TO tallyphon_web;
    GRANT INSERT ON tallyphon.web_audit TO tallyphon_web;
    GRANT INSERT, UPDATE, DELETE ON tallyphon.office_files TO tallyphon_web;
    GRANT SELECT ON tallyphon.offices TO tallyphon_office;
    GRANT SELECT, INSERT, UPDATE ON tallyphon.sites, tallyphon.files TO tallyphon_office;
    GRANT SELECT, INSERT ON tallyphon.calls, tallyphon.alerts TO tallyphon_office;
    FOREACH t IN ARRAY ARRAY['offices', 'sites', 'files', 'calls', 'alerts'] LOOP
        EXECUTE format('ALTER TABLE tallyphon.%I ENABLE ROW LEVEL SECURITY', t);
        EXECUTE format('DROP POLICY IF EXISTS reader ON tallyphon.%I', t);
        EXECUTE format('DROP POLICY IF EXISTS office ON tallyphon.%I', t);
        EXECUTE format('CREATE POLICY reader ON tallyphon.%I FOR SELECT TO tallyphon_reader'
                       ' USING (true)', t);
        EXECUTE format('CREATE POLICY office ON tallyphon.%I TO tallyphon_office USING (%s)'
                       ' WITH CHECK (%s)', t,
                       CASE t WHEN 'offices' THEN 'role = current_user' ELSE own END,
                       CASE t WHEN 'offices' THEN 'false' ELSE own END);
    END LOOP;
END $$;
-- The audit keeps 400 days. The server's role may not delete from it (a
-- server taken over must not erase what was done through it of late): it
-- calls this function, which runs with the owner's rights and deletes
-- only the rows older than that.
CREATE OR REPLACE FUNCTION tallyphon.prune_web_audit() RETURNS bigint
    LANGUAGE sql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $f$
    WITH gone AS (DELETE FROM tallyphon.web_audit
                  WHERE at < now() - interval '400 days' RETURNING 1)
    SELECT count(*) FROM gone
$f$;
REVOKE ALL ON FUNCTION tallyphon.prune_web_audit() FROM PUBLIC;
GRANT EXECUTE ON FUNCTION tallyphon.prune_web_audit() TO tallyphon_web;
)sql";

// Every index the schema makes (each implies its table and columns): when
// all are there the schema is current and nothing is changed. The first
// are what shipping writes and reads; the rest came with the web view and
// the alerts, and a database made before them ships on without them until
// its owner makes the schema again.
const char* const kShippingIndexes[] = {
    "sites_pkey", "files_pkey",       "files_site_inode", "files_site_file_id",
    "calls_pkey", "calls_site_start", "calls_site_line",  "files_site_unfinished",
};
const char* const kLaterIndexes[] = {
    "office_files_pkey",
    "alerts_pkey",
    "alerts_site_raised",
};

// Whether every one of indexes is there.
template <size_t N>
bool IndexesThere(pqxx::connection_base& connection, const char* const (&indexes)[N]) {
    std::string query = "SELECT true";
    for (const char* index : indexes)
        query += std::string(" AND to_regclass('tallyphon.") + index + "') IS NOT NULL";
    pqxx::nontransaction n(connection);
    return n.exec1(query)[0].as<bool>();
}

}  // namespace

std::string WithTimeouts(const std::string& connInfo) {
    // connect_timeout bounds the connecting; the keepalives find a server
    // that vanished from the network while a connection was open (TCP
    // only; libpq ignores them on a Unix socket).
    static const std::pair<const char*, const char*> kDefaults[] = {
        {"connect_timeout", "10"},
        {"keepalives_idle", "30"},
        {"keepalives_interval", "10"},
        {"keepalives_count", "3"},
    };
    const bool uri =
        connInfo.rfind("postgresql://", 0) == 0 || connInfo.rfind("postgres://", 0) == 0;
    std::string out = connInfo;
    for (const auto& [key, value] : kDefaults) {
        if (connInfo.find(key) != std::string::npos) continue;
        if (uri)
            out += (out.find('?') == std::string::npos ? "?" : "&");
        else
            out += " ";
        out += std::string(key) + "=" + value;
    }
    return out;
}

std::unique_ptr<TDbConnection> ConnectDb(const std::string& connInfo, TDbInterrupt* interrupt) {
    // Every text the program sends and reads is UTF-8. Left to libpq, the
    // client encoding would be the database's: a database made in
    // Windows-1251, as Russian servers often are, would take each byte of
    // our UTF-8 for a letter of its own, store the names twice encoded and
    // refuse those holding a byte it has no letter for ("И" holds 0x98).
    // Given last, it wins over one in the user's string.
    std::string info = WithTimeouts(connInfo);
    if (info.rfind("postgresql://", 0) == 0 || info.rfind("postgres://", 0) == 0)
        info += (info.find('?') == std::string::npos ? "?" : "&");
    else
        info += " ";
    info += "client_encoding=UTF8";
    return std::make_unique<TDbConnection>(info, interrupt);
}

bool SchemaCurrent(pqxx::connection_base& connection) {
    return IndexesThere(connection, kShippingIndexes) && IndexesThere(connection, kLaterIndexes);
}

std::string EnsureSchema(pqxx::connection_base& connection) {
    // DDL locks the tables against every reader and needs the owner's
    // rights: only when something is missing.
    if (SchemaCurrent(connection)) return {};
    try {
        MakeSchema(connection, false);
    } catch (const pqxx::insufficient_privilege& e) {
        const std::string command =
            "; их делает владелец базы данных командой tallyphon-report --db СТРОКА "
            "--create-schema";
        // An office upgraded before its database: the calls go on.
        if (IndexesThere(connection, kShippingIndexes))
            return "в базе данных нет таблиц тревог и веб-просмотра схемы tallyphon, а сделать "
                   "их нельзя: " +
                   DbErrorText(e) + command;
        throw std::runtime_error(
            "в базе данных нет всех таблиц, столбцов и индексов схемы tallyphon, а сделать их "
            "нельзя: " +
            DbErrorText(e) + command);
    }
    return {};
}

void MakeSchema(pqxx::connection_base& connection, bool roles) {
    pqxx::work w(connection);
    w.exec("SET LOCAL client_min_messages = warning");
    w.exec("SELECT pg_advisory_xact_lock(" + std::to_string(kSchemaLock) + ")");
    w.exec(kSchema);
    if (roles) w.exec(kRoles);
    w.commit();
}

TDbResult MakeSchemaAt(const std::string& connInfo) {
    try {
        MakeSchema(*ConnectDb(connInfo), true);
    } catch (const std::exception& e) {
        return {TDbResult::TStatus::Failed, DbErrorText(e)};
    }
    return {};
}

std::string DbErrorText(const std::exception& error) {
    std::string text = error.what();
    for (char& c : text)
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    while (text.find("  ") != std::string::npos)
        text.erase(text.find("  "), 1);
    const size_t end = text.find_last_not_of(' ');
    text.erase(end == std::string::npos ? 0 : end + 1);
    const size_t begin = text.find_first_not_of(' ');
    return begin == std::string::npos ? std::string() : text.substr(begin);
}
