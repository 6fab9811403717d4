#include "base/disk_sync.h"

#include <pthread.h>
#include <sched.h>

#include <utility>

TDiskSync::TDiskSync(bool onCallingThread) : onCallingThread_(onCallingThread) {}

TDiskSync::~TDiskSync() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void TDiskSync::Post(std::function<bool()> job) {
    if (onCallingThread_) {
        result_ = job();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = std::move(job);
        done_ = false;
    }
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    wake_.notify_all();
}

bool TDiskSync::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [this] { return done_; });
    return result_;
}

void TDiskSync::Run() {
    pthread_setname_np(pthread_self(), "tallyphon-sync");
    // Started from a real-time thread (the reading's), it would share its
    // priority; waiting for the disk needs none.
    sched_param normal{};
    static_cast<void>(pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal));
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || job_; });
        if (!job_) return;
        std::function<bool()> job = std::move(job_);
        job_ = nullptr;
        lock.unlock();
        const bool result = job();
        lock.lock();
        result_ = result;
        done_ = true;
        wake_.notify_all();
    }
}
