#include "tests/common/sim_line.h"

#include <algorithm>
#include <cerrno>

#include "link/comm_port.h"

namespace testing_support {

TSimLine::TSimLine(sim::TSimExchange& exchange, TTestClock& clock)
    : exchange_(exchange), clock_(clock) {}

IClock::TTimePoint TSimLine::Sync() {
    const IClock::TTimePoint now = clock_.Now();
    // Lets a device that was due back by now come back before Gone is asked.
    exchange_.NextForProgram(now);
    return now;
}

int TSimLine::ReadWithin(int timeoutMs) {
    const IClock::TTimePoint now = clock_.Now();
    const IClock::TTimePoint limit = now + std::chrono::milliseconds(std::max(timeoutMs, 0));
    // Gone before the wait or during it, as far as the exchange can tell.
    const IClock::TTimePoint next = exchange_.NextForProgram(now);
    if (lost_ || exchange_.Gone()) {
        lost_ = true;
        throw ECommError(kErrRead, EIO);
    }
    if (next > limit) {
        clock_.AdvanceTo(limit);
        return -1;
    }
    clock_.AdvanceTo(next);
    return exchange_.TakeForProgram(clock_.Now());
}

void TSimLine::WriteByte(uint8_t b) {
    const IClock::TTimePoint now = Sync();
    if (lost_ || exchange_.Gone()) {
        lost_ = true;
        throw ECommError(kErrWrite, EIO);
    }
    exchange_.ReceiveFromProgram(b, now);
}

void TSimLine::Reopen() {
    lost_ = false;
}

void TSimLine::PurgeInput() {
    exchange_.PurgeForProgram(clock_.Now());
}

}  // namespace testing_support
