#include "byte_line.h"

#include <thread>

IClock::TTimePoint TSteadyClock::Now() {
    return std::chrono::steady_clock::now();
}

void TSteadyClock::Sleep(std::chrono::milliseconds ms) {
    std::this_thread::sleep_for(ms);
}

TSteadyClock& TSteadyClock::Instance() {
    static TSteadyClock clock;
    return clock;
}
