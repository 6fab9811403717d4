// Commands heard and replies framed by the simulated exchange.
#include "tools/sim_exchange/protocol.h"

namespace sim {

namespace {

// A command whose bytes stop coming for this long is abandoned, so that a
// program that died half-way through one cannot swallow the next session's
// echoes as parameter bytes.
constexpr std::chrono::milliseconds kInterByteTimeout{500};

void PutLe(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

}  // namespace

void TProtocol::Reset() {
    parse_ = TParse::Idle;
    block_.clear();
}

void TProtocol::Feed(uint8_t b, TimePoint at) {
    if (parse_ != TParse::Idle && at - lastByteAt_ > kInterByteTimeout) parse_ = TParse::Idle;
    lastByteAt_ = at;
    switch (parse_) {
        case TParse::Idle:
            break;
        case TParse::Status:
            parse_ = TParse::Idle;
            if (b == 0x03) {
                ReplyStatus(at);
                return;
            }
            break;  // not a status request after all: b is a command of its own
        case TParse::Param:
            param_ = b;
            parse_ = TParse::BlockLen;
            return;
        case TParse::BlockLen:
            blockLen_ = b;
            block_.clear();
            parse_ = blockLen_ == 0 ? TParse::Sum : TParse::Block;
            return;
        case TParse::Block:
            block_.push_back(b);
            if (block_.size() == blockLen_) parse_ = TParse::Sum;
            return;
        case TParse::Sum: {
            parse_ = TParse::Idle;
            uint8_t sum = 0;
            for (uint8_t x : block_)
                sum = static_cast<uint8_t>(sum + x);
            if (command_ == 0x84)
                ReplySelect(sum == b, at);
            else if (sum == b)
                ReplyLineState(at);
            // A line-state request with a broken block is not answered.
            return;
        }
    }
    switch (b) {
        case 0x00:
            ReplyEcho(at);
            break;
        case 0x01:
            ReplyIdentify(at);
            break;
        case 0x02:
            ReplyRecord(true, at);
            break;
        case 0x03:
            ReplyRecord(false, at);
            break;
        case 0x40:
            parse_ = TParse::Status;
            break;
        case 0x84:
            command_ = b;
            parse_ = TParse::BlockLen;
            break;
        case 0xF0:
            command_ = b;
            parse_ = TParse::Param;
            break;
        default:
            break;  // unknown bytes are line noise to the exchange
    }
}

uint8_t TProtocol::Scramble(uint8_t b) const {
    return static_cast<uint8_t>(b ^ state_.Config().Key);
}

// Length, scrambled payload and the sum of the scrambled bytes.
std::vector<uint8_t> TProtocol::Framed(const std::vector<uint8_t>& payload, bool badSum) const {
    std::vector<uint8_t> f;
    f.push_back(static_cast<uint8_t>(payload.size()));
    uint8_t sum = 0;
    for (uint8_t p : payload) {
        f.push_back(Scramble(p));
        sum = static_cast<uint8_t>(sum + f.back());
    }
    f.push_back(badSum ? static_cast<uint8_t>(sum + 1) : sum);
    return f;
}

void TProtocol::ReplyEcho(TimePoint at) {
    const int reply = faults_.EchoReply();
    if (reply >= 0) transport_.Send({static_cast<uint8_t>(reply)}, at);
}

void TProtocol::ReplyIdentify(TimePoint at) {
    if (faults_.IdentifySilent()) return;
    const TExchangeConfig& cfg = state_.Config();
    std::vector<uint8_t> p(16, 0);
    const TClockStamp now = state_.IdentifyStamp(at);
    p[0] = static_cast<uint8_t>(now.Days & 0xFF);
    p[1] = static_cast<uint8_t>(now.Days >> 8);
    p[2] = static_cast<uint8_t>(now.Ticks & 0xFF);
    p[3] = static_cast<uint8_t>(now.Ticks >> 8);
    p[5] = cfg.TypeCode;
    p[6] = cfg.VersionNibbles;
    p[7] = cfg.VersionMain;
    p[13] = cfg.TickByte;
    p[14] = static_cast<uint8_t>(cfg.Serial & 0xFF);
    p[15] = static_cast<uint8_t>(cfg.Serial >> 8);
    p.insert(p.end(), cfg.Name.begin(), cfg.Name.end());
    if (p.size() < 16 + 17) p.resize(16 + 17, 0);  // the name ends at a zero byte
    std::vector<uint8_t> f;
    f.push_back(static_cast<uint8_t>(p.size()));
    for (size_t i = 0; i < p.size(); ++i)
        f.push_back(i == 11 ? cfg.Key : Scramble(p[i]));
    transport_.Send(f, at);
}

void TProtocol::ReplyStatus(TimePoint at) {
    const TExchangeState::TBufferStatus s = state_.Status(at);
    std::vector<uint8_t> p;
    PutLe(p, s.Capacity);
    PutLe(p, s.Counter1);
    PutLe(p, s.Counter2);
    const bool bad = faults_.SpoilStatus();
    transport_.Send(Framed(p, bad), at + state_.Config().StatusDelay);
}

void TProtocol::ReplySelect(bool sumOk, TimePoint at) {
    ++selectCount_;
    const bool ok = sumOk && !block_.empty() && state_.Select(Scramble(block_[0]));
    transport_.Send({0x84, static_cast<uint8_t>(ok ? 0x00 : 0x01)}, at);
}

void TProtocol::ReplyLineState(TimePoint at) {
    if (state_.Config().LineStateFault == TLineStateFault::NoReply) return;
    std::vector<uint8_t> p = state_.LineState(at);
    if (p.size() > 255) p.resize(255);
    transport_.Send(Framed(p, state_.Config().LineStateFault == TLineStateFault::BadChecksum), at);
}

// First (02) or next (03) record of the active unit. The record that 03
// finds delivered is the one the program has taken: it is dropped.
void TProtocol::ReplyRecord(bool first, TimePoint at) {
    // Found, it counts as delivered even if the reply is lost below: the
    // exchange cannot know.
    const std::vector<uint8_t> payload =
        state_.FrontRecord(!first, at).value_or(std::vector<uint8_t>{0x00});  // empty: one byte
    const TimePoint when = transport_.InMemory() ? at : TTransport::Clock::now();
    const TFaultInjector::TRecordFault fault = faults_.NextRecordReply(when);
    std::vector<uint8_t> f = Framed(
        payload, fault.Fault == TReplyFault::BadChecksum || (first && faults_.FirstRecordBad()));
    if (faults_.Spoil(fault, f, payload.size(), when)) transport_.Send(f, at);
}

}  // namespace sim
