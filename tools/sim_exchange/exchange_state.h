// The simulated exchange's own state: the configuration with its units and
// their record buffers, the unit selected, records still to arrive, calls in
// progress and the clock. It knows nothing of the line or of faults.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/sim_exchange/sim_exchange.h"

namespace sim {

class TExchangeState {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // What a buffer-status reply reports of the active unit.
    struct TBufferStatus {
        uint16_t Capacity = 0;
        uint16_t Counter1 = 0;
        uint16_t Counter2 = 0;
    };

    explicit TExchangeState(TExchangeConfig config) : cfg_(std::move(config)) {}

    TExchangeConfig& Config() { return cfg_; }
    const TExchangeConfig& Config() const { return cfg_; }

    // Why the configuration cannot be served; empty when it can.
    std::string Unusable() const;
    // Serving starts at start: unit 0 active, nothing delivered, and the
    // clock at the configured Days and Ticks.
    void Begin(TimePoint start);

    // Throw for a unit that does not exist and a payload no record can hold.
    void CheckUnit(int unit) const;
    static void CheckPayload(const std::vector<uint8_t>& payload);

    // --- clock --------------------------------------------------------------
    int TickLength() const { return cfg_.TickByte == 0 ? 6 : cfg_.TickByte; }
    // Simulated seconds since 1980 at t.
    uint64_t SecondsAt(TimePoint t) const;
    // The time the identification reply gives at t.
    TClockStamp IdentifyStamp(TimePoint t) const;

    // --- buffers ------------------------------------------------------------
    void AddRecord(int unit, std::vector<uint8_t> payload);
    const std::deque<std::vector<uint8_t>>& Records(int unit) const;
    void ScheduleArrivals(
        int unit, TimePoint now,
        std::vector<std::pair<std::chrono::milliseconds, std::vector<uint8_t>>> arrivals);
    // Calls that have ended and arrivals whose time has come by now join
    // their buffers.
    void ApplyArrivals(TimePoint now);
    int ActiveUnit() const { return activeUnit_; }
    // Makes unit the active one unless it does not exist or refuses.
    bool Select(int unit);
    // The active unit's capacity and counters once everything due by at has
    // arrived.
    TBufferStatus Status(TimePoint at);
    // The front record of the active unit once everything due by at has
    // arrived, after dropping the one delivered before when dropDelivered
    // (the next-record request). It counts as delivered from then on;
    // nothing when the buffer is empty.
    std::optional<std::vector<uint8_t>> FrontRecord(bool dropDelivered, TimePoint at);

    // --- calls in progress --------------------------------------------------
    void BeginCall(int unit, TSimCall call, TimePoint now, std::chrono::milliseconds duration,
                   uint16_t partnerLine);
    size_t CallsInProgress() const { return live_.size(); }
    // The line-state payload at at: the configured one, or one group per
    // call in progress and a 0 after the last (nothing when there is none).
    std::vector<uint8_t> LineState(TimePoint at);

    // Lowers next to the earliest arrival or call end still to come.
    void NextDue(TimePoint& next) const;

  private:
    struct TArrival {
        TimePoint At;
        int Unit;
        std::vector<uint8_t> Payload;
    };
    struct TLiveCall {
        TimePoint Start;
        TimePoint End;
        int Unit;
        TSimCall Call;
        std::vector<uint8_t> Group;  // its line-state group
    };

    void EndCalls(TimePoint now);

    TExchangeConfig cfg_;
    int activeUnit_ = 0;
    std::vector<bool> delivered_;  // per unit: the front record went out
    std::vector<TArrival> arrivals_;
    std::vector<TLiveCall> live_;
    TimePoint servedFrom_{};  // when the clock was at Days and Ticks
};

}  // namespace sim
