// The exchange's side of the serial protocol: parses the program's commands
// byte by byte (echo, identify, buffer status, select unit, first and next
// record, line state) and frames the replies: a length byte, the payload
// scrambled with the key and the sum of the scrambled bytes.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "tools/sim_exchange/exchange_state.h"
#include "tools/sim_exchange/fault_injector.h"
#include "tools/sim_exchange/transport.h"

namespace sim {

class TProtocol {
  public:
    using TimePoint = TTransport::TimePoint;

    TProtocol(TExchangeState& state, TTransport& transport, TFaultInjector& faults)
        : state_(state), transport_(transport), faults_(faults) {}

    // Acts on one byte of the program's, arrived at `at`.
    void Feed(uint8_t b, TimePoint at);
    // Forgets a command half heard: the line starts clean.
    void Reset();
    // Number of select-unit commands heard.
    int SelectCount() const { return selectCount_; }

  private:
    enum class TParse { Idle, Status, Param, BlockLen, Block, Sum };

    uint8_t Scramble(uint8_t b) const;
    std::vector<uint8_t> Framed(const std::vector<uint8_t>& payload, bool badSum) const;
    void ReplyEcho(TimePoint at);
    void ReplyIdentify(TimePoint at);
    void ReplyStatus(TimePoint at);
    void ReplySelect(bool sumOk, TimePoint at);
    void ReplyLineState(TimePoint at);
    void ReplyRecord(bool first, TimePoint at);

    TExchangeState& state_;
    TTransport& transport_;
    TFaultInjector& faults_;

    TParse parse_ = TParse::Idle;
    uint8_t command_ = 0;
    uint8_t param_ = 0;
    size_t blockLen_ = 0;
    std::vector<uint8_t> block_;
    TimePoint lastByteAt_{};
    int selectCount_ = 0;
};

}  // namespace sim
