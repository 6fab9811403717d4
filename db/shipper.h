// Ships the calls of the call-log file to the database, each exactly once.
//
// The call-log file stays the primary record: the shipper only reads it.
// After every written line (Notify) and at start it ships what the file
// holds past what the database has for this site and file. Every batch
// inserts its calls and moves the file's shipped offset in one
// transaction, so a kill, a crash or an outage at any moment neither loses
// nor repeats a call. Shipping runs on a thread of its own: the reading of
// the exchange never waits for the database.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/fd.h"
#include "base/file_result.h"
#include "db/connection.h"
#include "db/db_config.h"

// The call-log file now written and the exchange its new lines come from
// (model name and serial number; empty before the exchange is known: the
// site's last known exchange is taken then).
struct TShipSource {
    std::string Path;
    std::string Model;
    std::string Serial;
};

enum class TShipState {
    CaughtUp,  // every complete line of the file is in the database
    NoFile,    // no call-log file (none chosen, or not there yet)
    Stopped,   // Stop was asked for midway; what was committed stays
    Failed,    // the database or the file failed; nothing of the batch stays
};

struct TShipResult {
    TShipState State = TShipState::CaughtUp;
    uint64_t Calls = 0;  // calls this pass committed
    std::string Error;   // why it failed (UTF-8, one line)
    // The failure is no outage of the server but something an
    // administrator must mend (a damaged table or file record, a missing
    // right); it is told at error priority on every failing pass.
    bool Damaged = false;
};

class TShipper {
  public:
    struct TOptions {
        // Bytes of the file one transaction ships at most; keeps the
        // memory of a long catch-up small.
        size_t BatchBytes = size_t{4} << 20;
        // How long a stalled shipper waits before it tries again: first
        // RetryAfter, then twice as long after each failing pass, at most
        // RetryMax. A short outage (a server restarting) is over in a
        // second; a long one is not asked about many times a minute.
        std::chrono::milliseconds RetryAfter{1000};
        std::chrono::milliseconds RetryMax{60000};
        // The server's limits on the shipper's statements: a lock held by
        // another session, or a statement the server does not finish,
        // fails the pass, which is tried again.
        std::chrono::milliseconds LockTimeout{10000};
        std::chrono::milliseconds StatementTimeout{60000};
        // A wait this long for the server is told of in the journal, with
        // what is waited for.
        std::chrono::milliseconds WarnAfter{30000};
        // How soon a failure that needs mending is told again.
        std::chrono::milliseconds RepeatAfter{60000};
        // How long a file moved away from the call-log's name must stay
        // at its end before it is done with: the writer may still finish
        // a line it began in it before the move.
        std::chrono::milliseconds RotatedSettle{2000};
    };

    explicit TShipper(TDbConfig config);
    TShipper(TDbConfig config, TOptions options);
    // Stops the thread (Stop).
    ~TShipper();
    TShipper(const TShipper&) = delete;
    TShipper& operator=(const TShipper&) = delete;

    // Starts the shipping thread, which ships what source's file holds
    // past the database's offset at once.
    void Start(const TShipSource& source);
    // Lines were written to source's file: ship them. Never blocks on the
    // database. The file now at the name is kept open from here on until
    // every call of it is shipped, whatever it is renamed to.
    void Notify(const TShipSource& source);
    // Ends the thread after the batch it is in; waits for it. With
    // LastLines, what the file holds past the database's offset is shipped
    // first, unless the database was out of reach at the last try. Whatever
    // the server does, returns within about 1.5 s: a connect still going on
    // then is abandoned and the running statement cancelled (rolled back).
    enum class TDrain { No, LastLines };
    void Stop(TDrain drain = TDrain::No);

    // Ships every complete line of source's file past what the database
    // holds, batch by batch, on the calling thread, connecting (and
    // creating the schema) when not connected. After a failure the
    // connection is dropped, to be made anew by the next pass.
    //
    // Files that held source's name before (rotated: renamed, copied and
    // cut, compressed) go first: those kept open since they were seen at
    // the name, and those the database knows as not done with, looked for
    // by their identity among the files of the directory whose name starts
    // with the call-log's (and files there the database never saw,
    // written after the last it knows). Such a file is done with once it
    // has stayed at its end for RotatedSettle while another file holds the
    // name; one that cannot be found any more is told of once, at error
    // priority.
    TShipResult ShipPending(const TShipSource& source);

    // Calls committed by this shipper since it was made.
    uint64_t ShippedCalls() const { return shipped_.load(); }
    // Whether the last pass of the thread failed.
    bool Stalled() const;

  private:
    // A file seen at the call-log's name (or found under a rotated one),
    // held open until done with, so that a rename, a compression or a
    // removal never takes its unshipped calls away.
    struct THeldFile {
        TFd Fd;
        uint64_t Device = 0, Inode = 0;
        std::string Path;                             // the name it was opened by
        off_t Size = 0;                               // its length when last looked at
        std::chrono::steady_clock::time_point Since;  // when it got that length
        off_t AtEnd = -1;                             // its length when last shipped to its end
    };
    using THeld = std::shared_ptr<THeldFile>;

    void Run();
    // Holds the file now at path, when there is one; opened tells how
    // opening it went.
    THeld Observe(const std::string& path, TFileResult* opened = nullptr);
    std::vector<THeld> HeldFiles() const;
    void Release(const THeld& file);
    // Holds the files the database knows as not done with that are no
    // longer at source's name, found by their identity in its directory,
    // and those there it never saw that were written after the last it
    // knows; those not found (or only compressed) are told of and done
    // with. Looks only at start and when another file holds the name.
    void FindRotated(const TShipSource& source);
    static off_t SizeOf(const THeldFile& file);
    // One batch of the first file with something to ship.
    TShipResult ShipNext(const TShipSource& source, bool& more);
    // Tells of a wait for the server that has lasted WarnAfter.
    void Watch();
    // What the shipping now waits for the server for (empty: nothing).
    void Waiting(std::string what);
    // One batch of file. The current file's progress is kept for
    // CountBehind; a rotated one is marked done with when finish and it is
    // at its end (done).
    TShipResult ShipBatch(THeldFile& file, const TShipSource& source, bool current, bool finish,
                          bool& more, bool& done);
    // Call lines of source's file past the offset known shipped.
    uint64_t CountBehind(const TShipSource& source) const;

    TDbConfig config_;
    TOptions options_;
    TDbInterrupt interrupt_;
    std::unique_ptr<TDbConnection> connection_;
    std::atomic<uint64_t> shipped_{0};

    // The file and offset of the last committed batch, for counting what
    // is behind while the database cannot be asked.
    std::string knownPath_;
    uint64_t knownDevice_ = 0, knownInode_ = 0;
    int64_t knownOffset_ = -1;

    // The files held, oldest first; Notify adds to them on the writer's
    // thread.
    mutable std::mutex heldMutex_;
    std::vector<THeld> held_;
    // When a rotated file at its end has stayed there for RotatedSettle
    // (max: none waits).
    std::chrono::steady_clock::time_point settleAt_ = std::chrono::steady_clock::time_point::max();
    // The identity of the file at the name when rotated files were last
    // looked for (0: none there, or no line in it yet).
    bool searched_ = false;
    int64_t searchedId_ = 0;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_, watchdog_;
    std::condition_variable ended_;
    bool running_ = false;
    std::string waitingFor_;
    std::chrono::steady_clock::time_point waitingSince_;
    bool waitTold_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<bool> draining_{false};
    // Whether the missing tables of the web view and the alerts were told of.
    bool toldSchema_ = false;
    bool notified_ = false;
    bool drain_ = false;
    bool stalled_ = false;
    TShipSource source_;
};
