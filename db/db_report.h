// Reports from the database: the calls of chosen offices read back into a
// report model as a call-log file is, or only the subscriber-line and trunk
// lists, summed by the server.
//
// Calls and list entries come office by office, offices ordered by the
// bytes of their names; within an office in the order written (the order of
// the file the calls were shipped from). With one office the model is that
// of the office's file; with several it keeps each office's calls apart
// (TReportModel::SetSites), so its lists hold one entry per office and line
// or trunk.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <pqxx/connection_base>
#include <pqxx/transaction_base>

#include "billing/period.h"
#include "calllog/calllog_loader.h"
#include "reports/report_model.h"

// Where a report's calls come from: the database and its offices.
struct TDbReportSource {
    std::string ConnInfo;            // libpq connection string or URI
    std::vector<std::string> Sites;  // empty: every office of the database
};

struct TDbReportResult {
    enum class TStatus {
        Done,
        UnknownSite,  // an office asked for is not in the database
        Failed,       // the database could not be reached or failed
        Cancelled,    // the progress callback said stop
    };
    TStatus Status = TStatus::Done;
    std::string Error;  // why (UTF-8, one line), unless Done or Cancelled
    bool Ok() const { return Status == TStatus::Done; }
};

// The start of a call from the server's text of its timestamp in ISO
// ("2007-03-05 14:02:07"), as a call read from a call-log line holds it;
// false when text is not such a date and time.
bool DbStartTime(std::string_view text, double& value);

// The offices of the database, ordered by the bytes of their names.
TDbReportResult ListDbSites(const std::string& connInfo, std::vector<std::string>& sites);

// Reads the calls of source's offices that started within period into
// model (which is changed only when Done), rows fetched in batches through
// a cursor, so that memory holds the calls as a file load does and no more.
// progress, when given, hears of calls read out of all to read.
TDbReportResult LoadDbCalls(const TDbReportSource& source, const TPeriod& period,
                            TReportModel& model, const TLoadProgress& progress = nullptr);
// The same on a connection already open (a server's, which keeps it), with
// no transaction running on it: the calls of sites (empty: every office).
TDbReportResult LoadDbCalls(pqxx::connection_base& connection,
                            const std::vector<std::string>& sites, const TPeriod& period,
                            TReportModel& model, const TLoadProgress& progress = nullptr);

// Fills model with only the lists of source's offices over period, from
// the sums the database keeps per office, day and line or trunk: the
// entries, their order (of first appearance), the programmed number of a
// line's first call and the traffic are those TReportModel::BuildLists
// makes of the calls.
// The model holds no calls. Lists not asked for stay empty.
TDbReportResult LoadDbLists(const TDbReportSource& source, const TPeriod& period, bool lines,
                            bool trunks, TReportModel& model);

// The same lists read within tx, of sites (in the order given, each an
// office of the database); onlySite, when not empty, is the one office the
// reader may see: the others' lists come out empty. Throws what the
// database throws.
void ReadDbLists(pqxx::transaction_base& tx, const std::vector<std::string>& sites,
                 const std::string& onlySite, const TPeriod& period, bool lines, bool trunks,
                 TReportModel& model);
