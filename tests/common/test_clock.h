// A clock that only moves when told: the protocol's waits and pauses take
// no real time, and every run sees the same instants.
#pragma once

#include <chrono>
#include <mutex>

#include "link/byte_line.h"

namespace testing_support {

class TTestClock : public IClock {
  public:
    // Where a clock starts unless told otherwise: a fixed instant well away
    // from the zero time point, which code may take for "never".
    static constexpr TTimePoint kStart = TTimePoint{} + std::chrono::hours(24);

    explicit TTestClock(TTimePoint start = kStart) : now_(start) {}
    // The manual time.
    TTimePoint Now() override;
    // Advances the time by ms at once; never really sleeps.
    void Sleep(std::chrono::milliseconds ms) override;
    // Advances the time by d (negative: no change).
    void Advance(std::chrono::nanoseconds d);
    // Moves the time to t unless it is already later.
    void AdvanceTo(TTimePoint t);

  private:
    std::mutex mutex_;  // the protocol may run on a thread of its own
    TTimePoint now_;
};

}  // namespace testing_support
