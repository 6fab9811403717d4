#include "tests/common/scripted_line.h"

#include <cerrno>

#include "link/comm_error.h"

namespace testing_support {

TScriptedLine::TScriptedLine(TTestClock& clock, TResponder responder)
    : clock_(clock), responder_(std::move(responder)) {}

int TScriptedLine::ReadWithin(int timeoutMs) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (vanished_) throw ECommError(kErrRead, EIO);
        if (!readable_.empty()) {
            const uint8_t b = readable_.front();
            readable_.pop_front();
            return b;
        }
    }
    clock_.Advance(std::chrono::milliseconds(timeoutMs));
    return -1;
}

void TScriptedLine::WriteByte(uint8_t b) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (vanished_) throw ECommError(kErrWrite, EIO);
        written_.push_back(b);
    }
    // Answered outside the lock: a responder may well talk to the line.
    if (responder_) Send(responder_(b));
}

void TScriptedLine::PurgeInput() {
    std::lock_guard<std::mutex> lock(mutex_);
    readable_.clear();
}

void TScriptedLine::Send(const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    readable_.insert(readable_.end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> TScriptedLine::Written() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
}

void TScriptedLine::Vanish() {
    std::lock_guard<std::mutex> lock(mutex_);
    vanished_ = true;
    readable_.clear();
}

}  // namespace testing_support
