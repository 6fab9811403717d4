// The exchange's units, buffers, calls in progress and clock.
#include "tools/sim_exchange/exchange_state.h"

#include <algorithm>
#include <stdexcept>

namespace sim {

namespace {

// Base of the counters in the status reply when they are derived.
constexpr uint16_t kCounterBase = 1000;

}  // namespace

std::string TExchangeState::Unusable() const {
    if (cfg_.Units.empty()) return "an exchange has at least one unit";
    if (cfg_.Name.size() > 254 - 16) return "the exchange name is longer than 238 bytes";
    if (cfg_.LineState.size() > 255) return "the line-state reply is longer than 255";
    for (const TUnit& u : cfg_.Units)
        for (const auto& r : u.Records)
            if (r.empty() || r.size() > 255) return "a record holds 1 to 255 bytes";
    return "";
}

void TExchangeState::Begin(TimePoint start) {
    delivered_.assign(cfg_.Units.size(), false);
    activeUnit_ = 0;
    servedFrom_ = start;
}

void TExchangeState::CheckUnit(int unit) const {
    if (unit < 0 || static_cast<size_t>(unit) >= cfg_.Units.size())
        throw std::out_of_range("unit " + std::to_string(unit) + " does not exist (" +
                                std::to_string(cfg_.Units.size()) + " units)");
}

void TExchangeState::CheckPayload(const std::vector<uint8_t>& payload) {
    if (payload.empty() || payload.size() > 255)
        throw std::invalid_argument("a record payload holds 1 to 255 bytes, not " +
                                    std::to_string(payload.size()));
}

uint64_t TExchangeState::SecondsAt(TimePoint t) const {
    const uint64_t start = uint64_t{cfg_.Days} * 86400 + uint64_t{cfg_.Ticks} * TickLength();
    const auto served = std::chrono::duration_cast<std::chrono::seconds>(t - servedFrom_);
    return start + static_cast<uint64_t>(std::max<int64_t>(served.count(), 0));
}

TClockStamp TExchangeState::IdentifyStamp(TimePoint t) const {
    return cfg_.ClockRuns ? ClockStampAt(SecondsAt(t), TickLength())
                          : TClockStamp{cfg_.Days, cfg_.Ticks};
}

void TExchangeState::AddRecord(int unit, std::vector<uint8_t> payload) {
    CheckUnit(unit);
    cfg_.Units[static_cast<size_t>(unit)].Records.push_back(std::move(payload));
}

const std::deque<std::vector<uint8_t>>& TExchangeState::Records(int unit) const {
    CheckUnit(unit);
    return cfg_.Units[static_cast<size_t>(unit)].Records;
}

void TExchangeState::ScheduleArrivals(
    int unit, TimePoint now,
    std::vector<std::pair<std::chrono::milliseconds, std::vector<uint8_t>>> arrivals) {
    CheckUnit(unit);
    for (auto& a : arrivals)
        arrivals_.push_back({now + a.first, unit, std::move(a.second)});
}

// Calls that have ended by now leave their records in the buffer, in the
// order they ended.
void TExchangeState::EndCalls(TimePoint now) {
    // Calls stay in the order they began; the one ending first goes first.
    for (;;) {
        auto first =
            std::min_element(live_.begin(), live_.end(),
                             [](const TLiveCall& a, const TLiveCall& b) { return a.End < b.End; });
        if (first == live_.end() || first->End > now) return;
        TLiveCall& c = *first;
        const int tick = TickLength();
        const TClockStamp start = ClockStampAt(SecondsAt(c.Start), tick);
        c.Call.Days = start.Days;
        c.Call.Ticks = start.Ticks;
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(c.End - c.Start);
        c.Call.DurationTicks = static_cast<uint16_t>(
            std::min<int64_t>((ms.count() + 500 * tick) / (1000 * tick), 0xFFFF));
        cfg_.Units[static_cast<size_t>(c.Unit)].Records.push_back(EncodeRecord(c.Call));
        live_.erase(first);
    }
}

void TExchangeState::ApplyArrivals(TimePoint now) {
    EndCalls(now);
    for (auto it = arrivals_.begin(); it != arrivals_.end();) {
        if (it->At <= now) {
            cfg_.Units[static_cast<size_t>(it->Unit)].Records.push_back(std::move(it->Payload));
            it = arrivals_.erase(it);
        } else {
            ++it;
        }
    }
}

bool TExchangeState::Select(int unit) {
    if (static_cast<size_t>(unit) >= cfg_.Units.size() ||
        cfg_.Units[static_cast<size_t>(unit)].RefuseSelect)
        return false;
    activeUnit_ = unit;
    return true;
}

TExchangeState::TBufferStatus TExchangeState::Status(TimePoint at) {
    ApplyArrivals(at);
    const TUnit& u = cfg_.Units[static_cast<size_t>(activeUnit_)];
    TBufferStatus s{u.Capacity, u.Counter1, u.Counter2};
    if (u.AutoCounters) {
        s.Counter2 = kCounterBase;
        s.Counter1 = static_cast<uint16_t>(kCounterBase + u.Records.size());
    }
    return s;
}

std::optional<std::vector<uint8_t>> TExchangeState::FrontRecord(bool dropDelivered, TimePoint at) {
    ApplyArrivals(at);
    const size_t ui = static_cast<size_t>(activeUnit_);
    auto& records = cfg_.Units[ui].Records;
    if (dropDelivered && delivered_[ui] && !records.empty()) records.pop_front();
    delivered_[ui] = !records.empty();
    if (records.empty()) return std::nullopt;
    return records.front();
}

void TExchangeState::BeginCall(int unit, TSimCall call, TimePoint now,
                               std::chrono::milliseconds duration, uint16_t partnerLine) {
    CheckUnit(unit);
    std::vector<uint8_t> group{0x02, 0x44, static_cast<uint8_t>(call.HwLine - 1), 0x00};
    if (partnerLine != 0)
        group.insert(group.end(), {0x44, static_cast<uint8_t>(partnerLine - 1), 0x01});
    else
        group.insert(group.end(), {0x46, LineStateTrunkByte(cfg_.TypeCode, call.TrunkCode), 0x01});
    live_.push_back({now, now + duration, unit, std::move(call), std::move(group)});
}

std::vector<uint8_t> TExchangeState::LineState(TimePoint at) {
    EndCalls(at);
    std::vector<uint8_t> p = cfg_.LineState;
    if (p.empty()) {
        for (const TLiveCall& c : live_)
            if (c.Start <= at) p.insert(p.end(), c.Group.begin(), c.Group.end());
        if (!p.empty()) p.push_back(0x00);
    }
    return p;
}

void TExchangeState::NextDue(TimePoint& next) const {
    for (const TArrival& a : arrivals_)
        next = std::min(next, a.At);
    for (const TLiveCall& c : live_)
        next = std::min(next, c.End);
}

TClockStamp ClockStampAt(uint64_t secondsSince1980, int tickLength) {
    return {static_cast<uint16_t>(secondsSince1980 / 86400),
            static_cast<uint16_t>(std::min<uint64_t>(
                secondsSince1980 % 86400 / static_cast<uint64_t>(tickLength), 0xFFFF))};
}

uint8_t LineStateTrunkByte(uint8_t typeCode, uint8_t b) {
    // Records of the QTV and QS16 families count their trunks from 1, the
    // line state from 0; the other families count both alike.
    switch (typeCode) {
        case 4:
        case 6:
        case 7:
        case 8:
            return static_cast<uint8_t>(b - 1);
        default:
            return b;
    }
}

}  // namespace sim
