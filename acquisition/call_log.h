// The call-log file: its title block and line layouts, appending to it, and
// the record callback's file part with the lines that could not be written
// yet.
#pragma once

#include <boost/shared_ptr.hpp>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "low_level.h"

// Second title line: the column heads.
extern const char* const kColumnLine;
// Lines held by the main window's list before it is emptied.
constexpr int kMaxListLines = 20000;

// The two title lines of one reading run (UTF-8).
struct TCallLogTitle {
    std::string TitleLine;
    std::string ColumnLine;
};

// "       Данные на  DD-MM-YYYY hh:mm:ss " for the exchange clock (UTF-8).
std::string TitleText(const TDateTimeParts& clock);
// The title of a reading run from the exchange's clock.
TCallLogTitle BuildTitle(const TDateTimeParts& clock);

// The call line of record (UTF-8, no line end): the fixed-column standard
// layout, or with altFormat the nine semicolon-separated fields.
std::string FormatCallLine(const TRecord& record, bool altFormat, const std::string& modelName,
                           const std::string& serialNumber);

// Appends lines (UTF-8) to the file at path in Windows-1251, each ended by
// CR LF: open, write, flush, close. A first open that fails is tried once
// more, and then, with breakOnRetry, a line end goes first. Returns true
// only when every byte reached the file; a failed write is cut back off the
// file, so the file never keeps half a line.
bool AppendLines(const std::string& path, const std::vector<std::string>& lines,
                 bool breakOnRetry = true);

// Writes the title's two lines to TarifFileName: 1 written, -1 not.
int WriteTitle(const TSettings& settings, const TCallLogTitle& title);
// Appends text as one line to TarifFileName: 1 written, -1 not.
int AppendLine(const TSettings& settings, const std::string& text);

// The file side of the record callback. A line that cannot be written is
// never lost: it waits, in order, and the reading is held before the next
// record is requested (HoldFlag), so the exchange keeps what follows.
// Waiting lines are written first as soon as writing works again.
class TCallLog {
  public:
    explicit TCallLog(boost::shared_ptr<TLowLevel> ll);

    // Formats record and appends its line after any waiting lines. Returns
    // the lines that reached the file, in order (the waiting ones first);
    // when the line could not be written it joins the waiting lines, ll's
    // HoldFlag is set and the result is empty.
    std::vector<std::string> OnCallRecord(const TRecord& record);
    // Writes the waiting lines to TarifFileName; returns those written
    // (all or none).
    std::vector<std::string> WritePending();
    size_t PendingCount() const;

  private:
    boost::shared_ptr<TLowLevel> ll_;
    mutable std::mutex mutex_;
    std::deque<std::string> pending_;
};
