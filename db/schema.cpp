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
-- Sums of the calls, kept by the trigger below as calls are added, so that
-- the web pages and the list reports cost as many rows as offices, days,
-- lines and trunks, never as calls. "day" is the day a call starts on; a
-- period of days sums the days' rows. "first" is the key of the day's
-- first call (file number and offset in one bigint, offsets below 2^40):
-- the least over the days orders the lists by first appearance and names
-- the call whose programmed number a line's entry takes. Only calls added
-- are summed: none but the owner may change or delete one, and what the
-- owner changes by hand stays in the sums as it was.
CREATE TABLE IF NOT EXISTS tallyphon.day_sums (
    site     text COLLATE "C" NOT NULL,
    day      date NOT NULL,
    calls    bigint NOT NULL,
    in_calls bigint NOT NULL,  -- of them incoming (no dialled number)
    in_sec   bigint NOT NULL,
    all_sec  bigint NOT NULL,
    PRIMARY KEY (site, day)
);
CREATE TABLE IF NOT EXISTS tallyphon.line_sums (
    site       text COLLATE "C" NOT NULL,
    day        date NOT NULL,
    hw_line    text COLLATE "C" NOT NULL,
    first      bigint NOT NULL,
    prg_number text NOT NULL,  -- of the call "first"
    calls      bigint NOT NULL,
    in_calls   bigint NOT NULL,
    in_sec     bigint NOT NULL,
    all_sec    bigint NOT NULL,
    PRIMARY KEY (site, day, hw_line)
);
CREATE TABLE IF NOT EXISTS tallyphon.trunk_sums (
    site     text COLLATE "C" NOT NULL,
    day      date NOT NULL,
    trunk    text COLLATE "C" NOT NULL,
    first    bigint NOT NULL,
    calls    bigint NOT NULL,
    in_calls bigint NOT NULL,
    in_sec   bigint NOT NULL,
    all_sec  bigint NOT NULL,
    PRIMARY KEY (site, day, trunk)
);
-- The hour-of-day chart of the calls starting on "day": a call counts in
-- the hour it starts, its seconds in the hours of the day they fall in
-- (past midnight in the next day's hours, still under its start's day).
CREATE TABLE IF NOT EXISTS tallyphon.hour_sums (
    site      text COLLATE "C" NOT NULL,
    day       date NOT NULL,
    hour      smallint NOT NULL,
    out_calls bigint NOT NULL,
    in_calls  bigint NOT NULL,
    out_sec   bigint NOT NULL,
    in_sec    bigint NOT NULL,
    PRIMARY KEY (site, day, hour)
);

-- The index the subscriber-line report once summed the calls from: the
-- sums serve it now, and every call added cost an entry of it.
DROP INDEX IF EXISTS tallyphon.calls_site_line;

-- Every statement that adds calls (INSERT or COPY, by any role) adds its
-- rows to the sums at once, in one pass per table. It runs with the
-- owner's rights: an office may add calls but not touch the sums, which
-- hold every office's.
CREATE OR REPLACE FUNCTION tallyphon.add_call_sums() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp
-- A batch is summed in memory; compiling its few statements would cost
-- more than running them.
SET work_mem = '64MB' SET jit = off AS $fn$
BEGIN
%SUMS_OF_NEW%
    RETURN NULL;
END
$fn$;
REVOKE ALL ON FUNCTION tallyphon.add_call_sums() FROM PUBLIC;
CREATE OR REPLACE TRIGGER calls_sums AFTER INSERT ON tallyphon.calls
    REFERENCING NEW TABLE AS new_calls
    FOR EACH STATEMENT EXECUTE FUNCTION tallyphon.add_call_sums();
)sql";

// Adds the calls of the table %CALLS% to the sums: the trigger's body (of
// the statement's new rows) and the filling of a database whose calls were
// shipped before the sums were kept (of every call).
const char* const kAddSums = R"sql(
-- The programmed number of each line's first call is fetched by that
-- call's key: cheaper than ordering every line's calls.
INSERT INTO tallyphon.line_sums AS t
SELECT g.site, g.day, g.hw_line, g.first, n.prg_number, g.calls, g.in_calls, g.in_sec, g.all_sec
FROM (SELECT site, start::date AS day, hw_line,
             min((file_no::bigint << 40) | file_offset) AS first, count(*) AS calls,
             count(*) FILTER (WHERE dialled = '') AS in_calls,
             coalesce(sum(duration) FILTER (WHERE dialled = ''), 0) AS in_sec,
             sum(duration) AS all_sec
      FROM %CALLS% GROUP BY 1, 2, 3) g
JOIN %CALLS% n ON n.site = g.site AND n.file_no = (g.first >> 40)::integer
                AND n.file_offset = g.first & 1099511627775
ON CONFLICT (site, day, hw_line) DO UPDATE SET
    prg_number = CASE WHEN excluded.first < t.first THEN excluded.prg_number
                      ELSE t.prg_number END,
    first = least(t.first, excluded.first),
    calls = t.calls + excluded.calls, in_calls = t.in_calls + excluded.in_calls,
    in_sec = t.in_sec + excluded.in_sec, all_sec = t.all_sec + excluded.all_sec;
INSERT INTO tallyphon.trunk_sums AS t
SELECT site, start::date, trunk, min((file_no::bigint << 40) | file_offset),
       count(*), count(*) FILTER (WHERE dialled = ''),
       coalesce(sum(duration) FILTER (WHERE dialled = ''), 0), sum(duration)
FROM %CALLS% GROUP BY 1, 2, 3
ON CONFLICT (site, day, trunk) DO UPDATE SET
    first = least(t.first, excluded.first),
    calls = t.calls + excluded.calls, in_calls = t.in_calls + excluded.in_calls,
    in_sec = t.in_sec + excluded.in_sec, all_sec = t.all_sec + excluded.all_sec;
-- s: the start's second of the day; d: the seconds. Every call counts in
-- the hour it starts in, with the seconds it has there; the few that go
-- on past that hour add their seconds to each further hour. A day's sums
-- are those of its hours.
WITH h AS MATERIALIZED (
    SELECT site, day, hour % 24 AS hour,
           count(*) FILTER (WHERE starts AND out) AS out_calls,
           count(*) FILTER (WHERE starts AND NOT out) AS in_calls,
           coalesce(sum(sec) FILTER (WHERE out), 0) AS out_sec,
           coalesce(sum(sec) FILTER (WHERE NOT out), 0) AS in_sec
    FROM (SELECT site, day, out, s / 3600 AS hour, true AS starts,
                 least(d, 3600 - s % 3600) AS sec
          FROM (SELECT site, start::date AS day, dialled <> '' AS out,
                       (date_part('epoch', start)::bigint % 86400 + 86400) % 86400 AS s,
                       greatest(duration, 0)::bigint AS d
                FROM %CALLS%) a
          UNION ALL
          SELECT site, day, out, s / 3600 + k, false,
                 least(s + d, (s / 3600 + k + 1) * 3600) - (s / 3600 + k) * 3600
          FROM (SELECT site, start::date AS day, dialled <> '' AS out,
                       (date_part('epoch', start)::bigint % 86400 + 86400) % 86400 AS s,
                       greatest(duration, 0)::bigint AS d
                FROM %CALLS%) b
          CROSS JOIN LATERAL generate_series(1, (s % 3600 + d - 1) / 3600) k
          WHERE s % 3600 + d > 3600) x
    GROUP BY 1, 2, 3),
days AS (
    INSERT INTO tallyphon.day_sums AS t
    SELECT site, day, sum(out_calls + in_calls), sum(in_calls), sum(in_sec),
           sum(out_sec + in_sec)
    FROM h GROUP BY 1, 2
    ON CONFLICT (site, day) DO UPDATE SET
        calls = t.calls + excluded.calls, in_calls = t.in_calls + excluded.in_calls,
        in_sec = t.in_sec + excluded.in_sec, all_sec = t.all_sec + excluded.all_sec)
INSERT INTO tallyphon.hour_sums AS t
SELECT * FROM h
ON CONFLICT (site, day, hour) DO UPDATE SET
    out_calls = t.out_calls + excluded.out_calls, in_calls = t.in_calls + excluded.in_calls,
    out_sec = t.out_sec + excluded.out_sec, in_sec = t.in_sec + excluded.in_sec;
)sql";

// text with every "%NAME%" replaced by value.
std::string Replaced(std::string text, const std::string& name, const std::string& value) {
    for (size_t at = text.find(name); at != std::string::npos;
         at = text.find(name, at + value.size()))
        text.replace(at, name.size(), value);
    return text;
}

std::string SumsOf(const std::string& table) {
    return Replaced(kAddSums, "%CALLS%", table);
}

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
    FOREACH t IN ARRAY ARRAY['offices', 'sites', 'files', 'calls', 'alerts', 'day_sums',
                             'line_sums', 'trunk_sums', 'hour_sums'] LOOP
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
    "sites_pkey", "files_pkey",       "files_site_inode",      "files_site_file_id",
    "calls_pkey", "calls_site_start", "files_site_unfinished",
};
const char* const kLaterIndexes[] = {
    "office_files_pkey", "alerts_pkey",     "alerts_site_raised", "day_sums_pkey",
    "line_sums_pkey",    "trunk_sums_pkey", "hour_sums_pkey",
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
            return "в базе данных нет таблиц тревог, сумм и веб-просмотра схемы tallyphon, а "
                   "сделать их нельзя: " +
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
    // Sums made by this run start from the calls already there; the
    // trigger, made first, holds off every other writer of calls until the
    // commit, so that none is summed twice or missed.
    const bool sumsNew = w.exec1("SELECT to_regclass('tallyphon.day_sums') IS NULL")[0].as<bool>();
    w.exec(Replaced(kSchema, "%SUMS_OF_NEW%", SumsOf("new_calls")));
    if (sumsNew) w.exec(SumsOf("tallyphon.calls"));
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
