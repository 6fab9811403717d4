// The line to a scripted exchange, in memory: whatever the program writes
// is handed to a responder (e.g. a TScriptedExchange) whose answer can be
// read at once. The in-memory counterpart of TPtyPeer.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "link/byte_line.h"
#include "tests/common/test_clock.h"

namespace testing_support {

class TScriptedLine : public IByteLine {
  public:
    using TResponder = std::function<std::vector<uint8_t>(uint8_t)>;
    // Waits take their time on clock; no responder: nothing is answered.
    explicit TScriptedLine(TTestClock& clock, TResponder responder = nullptr);

    // A readable byte at once; with none, the clock moves on by the
    // time-out and -1 is returned. Raises ECommError 10 once vanished.
    int ReadWithin(int timeoutMs) override;
    // Records b and makes the responder's answer readable. Raises
    // ECommError 9 once vanished.
    void WriteByte(uint8_t b) override;
    // Drops every readable byte.
    void PurgeInput() override;
    // Nothing is ever left to send.
    void Flush() override {}

    // Makes bytes readable by the program, as if the exchange sent them.
    void Send(const std::vector<uint8_t>& bytes);
    // Every byte the program wrote, in order.
    std::vector<uint8_t> Written() const;
    // The device goes away for good.
    void Vanish();

  private:
    TTestClock& clock_;
    TResponder responder_;
    mutable std::mutex mutex_;
    std::deque<uint8_t> readable_;
    std::vector<uint8_t> written_;
    bool vanished_ = false;
};

}  // namespace testing_support
