// Writing the call-log file: appending lines to it, and the record
// callback's file part with the lines that could not be written yet.
#pragma once

#include <boost/shared_ptr.hpp>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/unacknowledged_file.h"
#include "base/disk_sync.h"
#include "base/fd.h"
#include "calllog/call_line.h"
#include "link/low_level.h"

// Lines held by the main window's list before it is emptied.
constexpr int kMaxListLines = 20000;

enum class TCallLogResult { Written, Failed };
// How a write to the call-log file went, with errno of the call that failed
// (0 when none did: no file chosen, or a file refused for its kind or
// owner) and why, in words (UTF-8), when it failed.
struct [[nodiscard]] TCallLogWrite {
    TCallLogResult Result = TCallLogResult::Failed;
    int Errno = 0;
    std::string Why;
    bool Ok() const { return Result == TCallLogResult::Written; }
};

// Appends lines (UTF-8) to the file at path in Windows-1251, each ended by
// CR LF: open, write, close. A first open that fails is tried once more,
// and then, with breakOnRetry, a line end goes first. Written only when
// every byte reached the file; a failed write is cut back off the file, so
// the file never keeps half a line. What is neither a regular file nor a
// character device is refused (a FIFO never blocks), and so is, for root, a
// symbolic link to a file of another user.
TCallLogWrite AppendLines(const std::string& path, const std::vector<std::string>& lines,
                          bool breakOnRetry = true);

// Writes the title's two lines to TarifFileName.
TCallLogWrite WriteTitle(const TSettings& settings, const TCallLogTitle& title);
// Appends text as one line to TarifFileName.
TCallLogWrite AppendLine(const TSettings& settings, const std::string& text);

// The call-log file that lines have just reached the disk in, and the
// exchange they came from, for whoever reads the file on (e.g. to ship its
// calls elsewhere).
struct TWrittenFile {
    std::string Path;
    std::string ModelName;
    std::string SerialNumber;
    size_t Lines = 0;  // call lines that reached it this time
};

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
// saved in the state file. Saving, writing and forcing both to the disk
// run on a thread of their own while the link is tested, and the
// next-record request waits for them (Settle). So a kill or a power cut at
// any moment neither loses a call the exchange has dropped nor, at the next
// start, writes one twice: a record offered again is skipped only when the
// call-log file ends with its line.
class TCallLog : public IUnacknowledgedStore {
  public:
    // stateFile: the state file's path (empty: nothing kept across runs).
    // With onCallingThread the writing runs where it is asked for, not on a
    // thread of its own (for tests that stop a reading at any step).
    explicit TCallLog(boost::shared_ptr<TLowLevel> ll, std::string stateFile = std::string(),
                      bool onCallingThread = false);
    // Waits until what was written is on the disk.
    ~TCallLog() override;
    TCallLog(const TCallLog&) = delete;
    TCallLog& operator=(const TCallLog&) = delete;

    // The records an earlier run left unacknowledged whose lines the
    // call-log file (TarifFileName) ends with; the others are dropped from
    // the state file, as their records must be written when offered.
    std::map<int, std::vector<uint8_t>> RestoreUnacknowledged();

    // Formats record and starts appending its line after any waiting lines;
    // Settle tells how it went.
    void OnCallRecord(const TRecord& record);
    // Writes the waiting lines to TarifFileName and puts them on the disk;
    // returns the call lines written (all or none: PendingCount tells).
    std::vector<std::string> WritePending();
    // A run's title that could not be written waits, after the lines
    // waiting already, as a call line would (shown when it was made, so
    // never returned as written).
    void HoldTitle(const TCallLogTitle& title);
    size_t PendingCount() const;
    // Why the last write failed (UTF-8; empty when it did not).
    std::string LastError() const;
    // Told, on the thread that settles, of the lines that have reached the
    // disk.
    void SetWrittenHook(std::function<void(const std::vector<std::string>&)> hook);
    // Told the same, besides the written hook, of the file the lines are
    // in. It must not wait: the reading waits for it.
    void SetFileHook(std::function<void(const TWrittenFile&)> hook);

    void Handing(int unit, const std::vector<uint8_t>& payload) override;
    // Waits for the lines started last: true when they are on the disk;
    // false when they could not be written or put there, and then they wait
    // again, first.
    bool Settle() override;
    void Forget(int unit) override;

    // Told when a failed write begins an episode of lines waiting (held
    // true, with why, naming the file) and when the waiting lines reached
    // the file at last (held false, with the journal's line of it); on the
    // thread that wrote, outside the writer's lock. It must not wait. Set
    // while lines wait, it is told so at once, on the caller's thread.
    void SetHeldHook(std::function<void(bool held, const std::string& text)> hook);

    // Told of every step, on the thread that takes it; for tests.
    void SetStepHook(std::function<void(TCallLogStep)> hook) { hook_ = std::move(hook); }

  private:
    struct TEntry {
        std::string Line;
        // The record the line is of, when the exchange still holds it
        // (Unit -1: none).
        int Unit = -1;
        std::vector<uint8_t> Payload;
        bool Title = false;
    };
    struct TBatch;

    void Step(TCallLogStep step) const;
    // Starts writing the waiting lines.
    void StartLocked();
    // Waits for the lines started last; those written go to written.
    bool SettleLocked(std::vector<std::string>& written);
    // Writes batch and puts it on the disk (on the disk's thread).
    bool Write(TBatch& batch) const;

    boost::shared_ptr<TLowLevel> ll_;
    const TUnacknowledgedFile stateFile_;
    std::function<void(TCallLogStep)> hook_;
    mutable std::mutex mutex_;
    std::deque<TEntry> pending_;
    // What the state file holds.
    std::map<int, TUnacknowledged> unacknowledged_;
    int handingUnit_ = -1;
    std::vector<uint8_t> handingPayload_;
    // The lines being written, until settled.
    std::shared_ptr<TBatch> started_;
    std::function<void(const std::vector<std::string>&)> written_;
    std::function<void(const TWrittenFile&)> fileHook_;
    // Tells the hooks (taken under the lock) of written, outside the lock;
    // the written hook only with toWrittenHook.
    void TellWritten(const std::vector<std::string>& written, bool toWrittenHook = true) const;
    // Tells the held hook (taken under the lock) of the changes SettleLocked
    // noted, outside the lock.
    void TellHeld();
    std::function<void(bool, const std::string&)> heldHook_;
    std::vector<std::pair<bool, std::string>> heldChanges_;
    std::unique_ptr<TDiskSync> sync_;
    std::string error_;
    // Set from a failed write until one succeeds (which the log is told).
    bool failing_ = false;
};
