#include "tests/common/test_clock.h"

#include <algorithm>

namespace testing_support {

IClock::TTimePoint TTestClock::Now() {
    std::lock_guard<std::mutex> lock(mutex_);
    return now_;
}

void TTestClock::Sleep(std::chrono::milliseconds ms) {
    Advance(ms);
}

void TTestClock::Advance(std::chrono::nanoseconds d) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (d.count() > 0) now_ += d;
}

void TTestClock::AdvanceTo(TTimePoint t) {
    std::lock_guard<std::mutex> lock(mutex_);
    now_ = std::max(now_, t);
}

}  // namespace testing_support
