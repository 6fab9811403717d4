#include "realtime/line_state_runner.h"

#include <pthread.h>

#include <QMetaObject>

TLineStateRunner::TLineStateRunner(QObject* receiver)
    : receiver_(receiver), worker_([this] { Work(); }) {}

TLineStateRunner::~TLineStateRunner() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        cancel_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

bool TLineStateRunner::Start(boost::shared_ptr<TLowLevel> link, TDone done) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (pending_ || running_ || quit_) return false;
        link_ = std::move(link);
        done_ = std::move(done);
        cancel_ = false;
        pending_ = true;
        ++started_;
    }
    wake_.notify_all();
    return true;
}

bool TLineStateRunner::Busy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_ || running_;
}

void TLineStateRunner::CancelAndWait() {
    std::unique_lock<std::mutex> lock(mutex_);
    ++*generation_;
    cancel_ = true;
    idle_.wait(lock, [this] { return !pending_ && !running_; });
}

void TLineStateRunner::Work() {
    pthread_setname_np(pthread_self(), "line_state");
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return pending_ || quit_; });
        if (quit_) {
            pending_ = false;
            idle_.notify_all();
            return;
        }
        pending_ = false;
        running_ = true;
        boost::shared_ptr<TLowLevel> link = std::move(link_);
        TDone done = std::move(done_);
        const uint64_t generation = *generation_;
        lock.unlock();

        // The table is copied here, on the thread that filled it: the
        // receiving thread never reads the link while a query runs.
        TLineStateOutcome outcome;
        // While the monitor is open nothing else uses the port: a device
        // that went away and came back is taken up again here.
        if (!cancel_) static_cast<void>(link->ReopenLostPort());
        outcome.Result = link->QueryLineState(&cancel_);
        outcome.Answered = link->LineStateAnswered();
        outcome.Entries = link->ConnectionTable();
        outcome.Connections = link->Connections();
        link.reset();

        lock.lock();
        running_ = false;
        // Handed over under the lock, so a call-off either drops it here or
        // finds its generation changed when it arrives.
        if (!cancel_) {
            QMetaObject::invokeMethod(
                receiver_,
                [current = generation_, generation, outcome = std::move(outcome),
                 done = std::move(done)] {
                    if (generation == *current) done(outcome);
                },
                Qt::QueuedConnection);
        }
        idle_.notify_all();
    }
}
