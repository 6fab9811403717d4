// Waiting for the disk off the caller's way: one job at a time (writing
// and forcing files to the disk) on a thread of its own, while the caller
// goes on with other work and collects the result when it needs it.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class TDiskSync {
  public:
    // With onCallingThread each job runs where it is posted, at once (for
    // tests that stop the work at a chosen step).
    explicit TDiskSync(bool onCallingThread);
    // Lets the job running end, then ends the thread.
    ~TDiskSync();
    TDiskSync(const TDiskSync&) = delete;
    TDiskSync& operator=(const TDiskSync&) = delete;

    // Runs job; the previous one must have been waited for.
    void Post(std::function<bool()> job);
    // The result of the job posted last, once it is done.
    bool Wait();

  private:
    void Run();

    const bool onCallingThread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::function<bool()> job_;
    bool done_ = true;
    bool result_ = true;
    bool quit_ = false;
    std::thread thread_;
};
