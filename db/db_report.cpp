#include "db/db_report.h"

#include <algorithm>
#include <utility>

#include <pqxx/result>
#include <pqxx/transaction>

#include "calllog/report_datetime.h"
#include "db/schema.h"

namespace {

// Rows one FETCH brings: few enough to keep a batch small beside the
// calls, enough that the round trips cost little.
constexpr int kFetchRows = 20000;

// One snapshot for every query of a report, so that the offices' calls,
// their count and their sums agree while the shipper goes on writing.
using TReadTransaction =
    pqxx::transaction<pqxx::isolation_level::repeatable_read, pqxx::readwrite_policy::read_only>;

TDbReportResult Failure(std::string error) {
    return {TDbReportResult::TStatus::Failed, std::move(error)};
}

// The offices of the database in byte order; none before anything was
// shipped (no schema yet).
std::vector<std::string> AllSites(pqxx::transaction_base& tx) {
    std::vector<std::string> sites;
    if (tx.exec("SELECT to_regclass('tallyphon.sites') IS NULL")[0][0].as<bool>()) return sites;
    for (const auto& row : tx.exec("SELECT site FROM tallyphon.sites"))
        sites.push_back(row[0].as<std::string>());
    std::sort(sites.begin(), sites.end());
    return sites;
}

// The offices source asks for, in byte order, each once; UnknownSite when
// one is not in the database.
TDbReportResult ChosenSites(pqxx::transaction_base& tx, const TDbReportSource& source,
                            std::vector<std::string>& sites) {
    const std::vector<std::string> all = AllSites(tx);
    if (source.Sites.empty()) {
        sites = all;
        return {};
    }
    sites = source.Sites;
    std::sort(sites.begin(), sites.end());
    sites.erase(std::unique(sites.begin(), sites.end()), sites.end());
    for (const std::string& site : sites)
        if (!std::binary_search(all.begin(), all.end(), site))
            return {TDbReportResult::TStatus::UnknownSite,
                    "в базе данных нет площадки «" + site + "»"};
    return {};
}

// The condition on "start" of the calls of period, starting with " AND".
std::string PeriodCondition(const TPeriod& period) {
    std::string sql;
    if (period.FromDay != TPeriod().FromDay)
        sql += " AND start >= DATE '1899-12-30' + " + std::to_string(period.FromDay);
    if (period.ToDay != TPeriod().ToDay)
        sql += " AND start < DATE '1899-12-30' + " + std::to_string(int64_t{period.ToDay} + 1);
    return sql;
}

// A digit run of text at [at, at + n), or -1.
int Number(std::string_view text, size_t at, size_t n) {
    int v = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') return -1;
        v = v * 10 + (text[i] - '0');
    }
    return v;
}

std::string_view View(const pqxx::field& f) {
    return {f.c_str(), f.size()};
}

// The condition on "day" of the sums of period's days, starting with " AND".
std::string DayCondition(const TPeriod& period) {
    std::string sql;
    if (period.FromDay != TPeriod().FromDay)
        sql += " AND day >= DATE '1899-12-30' + " + std::to_string(period.FromDay);
    if (period.ToDay != TPeriod().ToDay)
        sql += " AND day <= DATE '1899-12-30' + " + std::to_string(period.ToDay);
    return sql;
}

// The lists of one office ($1) from the sums of its days: a line's or
// trunk's first call is the least "first" over the days, and a line takes
// that call's programmed number. $2, when not empty, is the only office
// the reader may see.
const char* const kLineSums = R"sql(
SELECT hw_line, (array_agg(prg_number ORDER BY first))[1], sum(in_sec), sum(all_sec)
FROM tallyphon.line_sums
WHERE site = $1 AND ($2 = '' OR site = $2) %PERIOD%
GROUP BY hw_line
ORDER BY min(first)
)sql";

const char* const kTrunkSums = R"sql(
SELECT trunk, sum(in_sec), sum(all_sec)
FROM tallyphon.trunk_sums
WHERE site = $1 AND ($2 = '' OR site = $2) %PERIOD%
GROUP BY trunk
ORDER BY min(first)
)sql";

std::string WithPeriod(std::string sql, const TPeriod& period) {
    const size_t at = sql.find("%PERIOD%");
    return sql.replace(at, 8, DayCondition(period));
}

}  // namespace

bool DbStartTime(std::string_view text, double& value) {
    if (text.size() != 19) return false;
    const int year = Number(text, 0, 4), month = Number(text, 5, 2), day = Number(text, 8, 2);
    const int hour = Number(text, 11, 2), minute = Number(text, 14, 2),
              second = Number(text, 17, 2);
    if ((year | month | day | hour | minute | second) < 0 || !IsValidRepDate(year, month, day))
        return false;
    value = EncodeRepDateTime(year, month, day, hour, minute, second);
    return true;
}

TDbReportResult ListDbSites(const std::string& connInfo, std::vector<std::string>& sites) {
    try {
        auto connection = ConnectDb(connInfo);
        TReadTransaction tx(*connection);
        sites = AllSites(tx);
        return {};
    } catch (const std::exception& e) {
        return Failure(DbErrorText(e));
    }
}

TDbReportResult LoadDbCalls(const TDbReportSource& source, const TPeriod& period,
                            TReportModel& model, const TLoadProgress& progress) {
    try {
        auto connection = ConnectDb(source.ConnInfo);
        return LoadDbCalls(*connection, source.Sites, period, model, progress);
    } catch (const std::exception& e) {
        return Failure(DbErrorText(e));
    }
}

TDbReportResult LoadDbCalls(pqxx::connection_base& connection,
                            const std::vector<std::string>& wanted, const TPeriod& period,
                            TReportModel& model, const TLoadProgress& progress) {
    try {
        TReadTransaction tx(connection);
        const TDbReportSource source{{}, wanted};
        std::vector<std::string> sites;
        if (TDbReportResult chosen = ChosenSites(tx, source, sites); !chosen.Ok()) return chosen;
        tx.exec("SET LOCAL DateStyle = ISO");
        const std::string when = PeriodCondition(period);
        uint64_t total = 0, done = 0;
        if (progress && !sites.empty()) {
            std::string list;
            for (const std::string& site : sites)
                list += (list.empty() ? "" : ",") + tx.quote(site);
            total = tx.exec("SELECT count(*) FROM tallyphon.calls WHERE site IN (" + list + ")" +
                            when)[0][0]
                        .as<uint64_t>();
            if (!progress(0, total)) return {TDbReportResult::TStatus::Cancelled, {}};
        }
        TCallLogContent content;
        std::vector<TSiteSpan> spans;
        for (const std::string& site : sites) {
            spans.push_back({site, content.LineList.Count()});
            tx.exec(
                "DECLARE calls NO SCROLL CURSOR FOR"
                " SELECT start, duration, hw_line, prg_number, trunk, dialled"
                " FROM tallyphon.calls WHERE site = " +
                tx.quote(site) + when + " ORDER BY file_no, file_offset");
            const std::string fetch = "FETCH " + std::to_string(kFetchRows) + " FROM calls";
            for (;;) {
                const pqxx::result rows = tx.exec(fetch);
                if (rows.empty()) break;
                for (const auto& row : rows) {
                    TExtStr_rep& call = content.LineList.Add();
                    if (!DbStartTime(View(row[0]), call.StartTime))
                        return Failure("непонятное время начала звонка: " +
                                       row[0].as<std::string>());
                    call.DurTotalSec = row[1].as<int32_t>();
                    call.HwLine.assign(View(row[2]));
                    call.PrgLine.assign(View(row[3]));
                    call.Trunk.assign(View(row[4]));
                    call.ExtNumber.assign(View(row[5]));
                }
                done += rows.size();
                if (progress && !progress(done, std::max(total, done)))
                    return {TDbReportResult::TStatus::Cancelled, {}};
            }
            tx.exec("CLOSE calls");
        }
        content.LineCount = content.LineList.Count();
        model.LoadContent(std::move(content));
        model.SetSites(std::move(spans));
        return {};
    } catch (const std::exception& e) {
        return Failure(DbErrorText(e));
    }
}

void ReadDbLists(pqxx::transaction_base& tx, const std::vector<std::string>& sites,
                 const std::string& onlySite, const TPeriod& period, bool lines, bool trunks,
                 TReportModel& model) {
    const std::string lineSums = WithPeriod(kLineSums, period);
    const std::string trunkSums = WithPeriod(kTrunkSums, period);
    TReportModel made;
    std::vector<TSiteSpan> spans;
    for (const std::string& site : sites)
        spans.push_back({site, 0});
    made.SetSites(std::move(spans));
    const bool multi = made.MultiSite();
    for (const std::string& site : sites) {
        const std::string entrySite = multi ? site : std::string();
        if (lines)
            for (const auto& row : tx.exec_params(lineSums, site, onlySite)) {
                TAL_rep& entry = made.AddAL(entrySite, row[0].as<std::string>());
                entry.PrgLine = row[1].as<std::string>();
                const int64_t in = row[2].as<int64_t>();
                entry.AddSeconds(in, row[3].as<int64_t>() - in);
            }
        if (trunks)
            for (const auto& row : tx.exec_params(trunkSums, site, onlySite)) {
                TSL_rep& entry = made.AddSL(entrySite, row[0].as<std::string>());
                const int64_t in = row[1].as<int64_t>();
                entry.AddSeconds(in, row[2].as<int64_t>() - in);
            }
    }
    model = std::move(made);
}

TDbReportResult LoadDbLists(const TDbReportSource& source, const TPeriod& period, bool lines,
                            bool trunks, TReportModel& model) {
    try {
        auto connection = ConnectDb(source.ConnInfo);
        TReadTransaction tx(*connection);
        std::vector<std::string> sites;
        if (TDbReportResult chosen = ChosenSites(tx, source, sites); !chosen.Ok()) return chosen;
        ReadDbLists(tx, sites, std::string(), period, lines, trunks, model);
        return {};
    } catch (const std::exception& e) {
        return Failure(DbErrorText(e));
    }
}
