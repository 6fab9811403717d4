// Runs the line-state query off the user-interface thread, one at a time,
// and hands its outcome to the thread of a receiving object. A query over a
// silent line takes seconds; the window that asked stays responsive.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/shared_ptr.hpp>

#include <QObject>

#include "link/low_level.h"

// One query's outcome as it stood when the query ended.
struct TLineStateOutcome {
    TLineStateResult Result = TLineStateResult::NoLink;
    // Whether a reply came and filled the table; without one the table is
    // the last reply's.
    bool Answered = false;
    std::vector<std::string> Entries;  // the connection table's texts (UTF-8)
    std::vector<TConnection> Connections;
};

class TLineStateRunner {
  public:
    using TDone = std::function<void(const TLineStateOutcome&)>;

    // Outcomes are handed to receiver's thread; receiver (not owned)
    // outlives the runner. Outcomes still queued when it ends are dropped.
    explicit TLineStateRunner(QObject* receiver);
    // Calls off a running query and waits for it.
    ~TLineStateRunner();
    TLineStateRunner(const TLineStateRunner&) = delete;
    TLineStateRunner& operator=(const TLineStateRunner&) = delete;

    // Starts a query over link; done gets its outcome on the receiver's
    // thread. False, nothing started, while a query runs.
    bool Start(boost::shared_ptr<TLowLevel> link, TDone done);
    // Whether a query is running.
    bool Busy() const;
    // Calls off the running query, if any: its outcome is dropped, and the
    // query ends within one echo's wait; returns when it has ended (the
    // link is free then).
    void CancelAndWait();
    // Queries started so far.
    uint64_t Started() const { return started_; }
    // Whether the query started last has been called off (by CancelAndWait
    // or the runner's end).
    bool CallingOff() const { return cancel_; }

  private:
    void Work();

    QObject* receiver_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    boost::shared_ptr<TLowLevel> link_;
    TDone done_;
    bool pending_ = false;
    bool running_ = false;
    bool quit_ = false;
    std::atomic<bool> cancel_{false};
    // Outcomes of queries started before the last call-off are dropped.
    // Shared with the outcomes on their way, which may outlive the runner.
    std::shared_ptr<std::atomic<uint64_t>> generation_ = std::make_shared<std::atomic<uint64_t>>(0);
    uint64_t started_ = 0;
    std::thread worker_;
};
