// The conditions the alert rules watch, judged from what the reading, the
// monitor and the database's shipper tell: the buffer filling, a silent
// exchange, a held reading, a connection going on too long, the database
// falling behind. Each is raised in the alerter when it crosses its rule's
// threshold and cleared when it falls back; a kind without a rule is not
// watched. Every method may be called on any thread and never waits for a
// delivery.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "acquisition/reading_hooks.h"
#include "alerts/alerter.h"
#include "realtime/busy_tracker.h"

class TConditionWatch {
  public:
    // alerter must outlive the watch.
    explicit TConditionWatch(TAlerter& alerter);

    // The hooks of the reading, bound to this watch.
    TReadingHooks ReadingHooks();

    void BufferRead(const std::vector<TUnitBufferFill>& units);
    void Silence(TSilenceStep step, std::chrono::seconds lasted);
    void Held(bool held, const std::string& text);
    // After each poll of the monitor: the lines and trunks busy.
    void Polled(const std::vector<TBusyConnection>& busy);
    // Where the database stands: whether its shipper is stalled, and calls
    // written to the call log since it stalled; now on a steady clock.
    void Shipping(bool stalled, uint64_t callsSinceStall,
                  std::chrono::steady_clock::time_point now);

  private:
    TAlerter& alerter_;
    std::mutex mutex_;
    bool stalled_ = false;  // stalled with calls waiting
    std::chrono::steady_clock::time_point stalledSince_{};
};
