#include "tests/common/sim_line.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <thread>

#include "link/comm_error.h"

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

TSimDevice::TSimDevice(sim::TSimExchange& exchange, TTestClock& clock, std::string name)
    : TSimLine(exchange, clock), exchange_(exchange), name_(std::move(name)) {}

namespace {

// A moment of real time. The reading thread runs at real-time priority
// where it may: on a line that never makes it wait, it would keep a
// processor from the test's own threads.
void Breathe() {
    std::this_thread::sleep_for(std::chrono::microseconds(50));
}

}  // namespace

void TSimDevice::Open(const std::string& name, const std::string&) {
    if (open_) return;
    Sync();  // a device due back by now is back
    bool found = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        found = !name.empty() && name == name_ && exchange_.Serving() && !exchange_.Gone();
    }
    if (!found) {
        Breathe();
        throw ECommError(kErrOpen, ENOENT);
    }
    Reopen();
    open_ = true;
}

void TSimDevice::SetName(std::string name) {
    std::lock_guard<std::mutex> lock(mutex_);
    name_ = std::move(name);
}

void TSimDevice::MustBeOpen() const {
    if (!open_) throw ECommError(kErrNotOpen, EBADF);
}

int TSimDevice::ReadWithin(int timeoutMs) {
    MustBeOpen();
    const int b = TSimLine::ReadWithin(timeoutMs);
    if (b < 0) Breathe();
    return b;
}

void TSimDevice::WriteByte(uint8_t b) {
    MustBeOpen();
    TSimLine::WriteByte(b);
}

void TSimDevice::PurgeInput() {
    MustBeOpen();
    TSimLine::PurgeInput();
}

void TSimDevice::Flush() {
    MustBeOpen();
}

std::unique_ptr<sim::TSimExchange> StartInMemory(sim::TExchangeConfig config) {
    config.Paced = true;
    auto ex = std::make_unique<sim::TSimExchange>(std::move(config));
    if (!ex->StartInMemory(TTestClock::kStart)) throw std::runtime_error(ex->LastError());
    return ex;
}

}  // namespace testing_support
