// The call-log file: its title block and line layouts, appending to it, and
// the record callback's file part with the lines that could not be written
// yet.
#pragma once

#include <boost/shared_ptr.hpp>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fd.h"
#include "low_level.h"
#include "unacknowledged_file.h"

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
// CR LF: open, write, close. A first open that fails is tried once more,
// and then, with breakOnRetry, a line end goes first. Returns true only
// when every byte reached the file; a failed write is cut back off the
// file, so the file never keeps half a line. What is neither a regular
// file nor a character device is refused (a FIFO never blocks), and so is,
// for root, a symbolic link to a file of another user; error (UTF-8)
// then tells why.
bool AppendLines(const std::string& path, const std::vector<std::string>& lines,
                 bool breakOnRetry = true, std::string* error = nullptr);

// Writes the title's two lines to TarifFileName: 1 written, -1 not.
int WriteTitle(const TSettings& settings, const TCallLogTitle& title);
// Appends text as one line to TarifFileName: 1 written, -1 not.
int AppendLine(const TSettings& settings, const std::string& text);

// Steps of writing one call line, in their order, as a test may follow
// them.
enum class TCallLogStep {
    Received,     // the reading handed a record on
    StateSaved,   // the record and the place of its line are in the state file
    LineWritten,  // the line is in the call-log file
    OnDisk,       // both are on the disk: the exchange may drop the record
};

// The file side of the record callback, and the keeper of what the reading
// hands on. A line that cannot be written is never lost: it waits, in
// order, and the reading is held before the next record is requested
// (HoldFlag), so the exchange keeps what follows. Waiting lines are written
// first as soon as writing works again.
//
// Before a call line is written, its record and the place of the line are
// saved in the state file; the line and that file are forced to the disk
// on a thread of their own while the link is tested, and the next-record
// request waits for that (Settle). So a kill or a power cut at any moment
// neither loses a call the exchange has dropped nor, at the next start,
// writes one twice: a record offered again is skipped only when the
// call-log file ends with its line.
class TCallLog : public IUnacknowledgedStore {
  public:
    // stateFile: the state file's path (empty: nothing kept across runs).
    explicit TCallLog(boost::shared_ptr<TLowLevel> ll, std::string stateFile = std::string());
    // Waits until what was written is on the disk.
    ~TCallLog() override;
    TCallLog(const TCallLog&) = delete;
    TCallLog& operator=(const TCallLog&) = delete;

    // The records an earlier run left unacknowledged whose lines the
    // call-log file (TarifFileName) ends with; the others are dropped from
    // the state file, as their records must be written when offered.
    std::map<int, std::vector<uint8_t>> RestoreUnacknowledged();

    // Formats record and appends its line after any waiting lines. Returns
    // the lines that reached the file, in order (the waiting ones first);
    // when the line could not be written it joins the waiting lines, ll's
    // HoldFlag is set and the result is empty.
    std::vector<std::string> OnCallRecord(const TRecord& record);
    // Writes the waiting lines to TarifFileName; returns those written
    // (all or none).
    std::vector<std::string> WritePending();
    size_t PendingCount() const;
    // Why the last write failed (UTF-8; empty when it did not).
    std::string LastError() const;

    void Handing(int unit, const std::vector<uint8_t>& payload) override;
    bool Settle() override;
    void Forget(int unit) override;

    // Told of every step (on the reading's thread); for tests.
    void SetStepHook(std::function<void(TCallLogStep)> hook) { hook_ = std::move(hook); }

  private:
    struct TEntry {
        std::string Line;
        // The record the line is of, when the exchange still holds it
        // (Unit -1: none).
        int Unit = -1;
        std::vector<uint8_t> Payload;
    };
    class TDiskSync;

    void Step(TCallLogStep step);
    std::vector<std::string> WritePendingLocked();
    bool SettleLocked();

    boost::shared_ptr<TLowLevel> ll_;
    TUnacknowledgedFile stateFile_;
    std::function<void(TCallLogStep)> hook_;
    mutable std::mutex mutex_;
    std::deque<TEntry> pending_;
    // What the state file holds.
    std::map<int, TUnacknowledged> unacknowledged_;
    int handingUnit_ = -1;
    std::vector<uint8_t> handingPayload_;
    // The lines written last and not yet known to be on the disk.
    std::deque<TEntry> unsettled_;
    TFd unsettledFile_;
    uint64_t unsettledOffset_ = 0;
    std::unique_ptr<TDiskSync> sync_;
    std::string error_;
};
