#include "alerts/condition_watch.h"

#include <cstdio>

#include "realtime/busy_tracker.h"

namespace {

std::string Minutes(std::chrono::seconds s) {
    return std::to_string(s.count() / 60) + " мин";
}

}  // namespace

TConditionWatch::TConditionWatch(TAlerter& alerter) : alerter_(alerter) {}

TReadingHooks TConditionWatch::ReadingHooks() {
    TReadingHooks hooks;
    hooks.BufferRead = [this](const std::vector<TUnitBufferFill>& units) { BufferRead(units); };
    hooks.Silence = [this](TSilenceStep step, std::chrono::seconds lasted) {
        Silence(step, lasted);
    };
    hooks.Held = [this](bool held, const std::string& text) { Held(held, text); };
    return hooks;
}

void TConditionWatch::BufferRead(const std::vector<TUnitBufferFill>& units) {
    const TAlertRule* rule = alerter_.RuleOf(TAlertKind::Buffer);
    if (!rule || units.empty()) return;
    const TUnitBufferFill* fullest = &units.front();
    for (const TUnitBufferFill& unit : units)
        if (unit.Percent > fullest->Percent) fullest = &unit;
    const std::string detail =
        "буфер тарификации" +
        (units.size() > 1 ? " блока " + std::to_string(fullest->Unit + 1) : std::string()) +
        " заполнен на " + std::to_string(fullest->Percent) + " % (" +
        std::to_string(fullest->Records) + " записей из " + std::to_string(fullest->Capacity) + ")";
    if (fullest->Percent >= rule->Percent)
        alerter_.Raise(TAlertKind::Buffer, detail);
    else if (alerter_.Raised(TAlertKind::Buffer))
        alerter_.Clear(TAlertKind::Buffer, detail);
}

void TConditionWatch::Silence(TSilenceStep step, std::chrono::seconds lasted) {
    const TAlertRule* rule = alerter_.RuleOf(TAlertKind::Silent);
    if (!rule) return;
    if (step == TSilenceStep::Ended) {
        if (alerter_.Raised(TAlertKind::Silent))
            alerter_.Clear(TAlertKind::Silent, "АТС снова отвечает после " + Minutes(lasted));
    } else if (lasted >= std::chrono::minutes(rule->Minutes)) {
        alerter_.Raise(TAlertKind::Silent, "АТС не отвечает уже " + Minutes(lasted));
    }
}

void TConditionWatch::Held(bool held, const std::string& text) {
    if (!alerter_.RuleOf(TAlertKind::Held)) return;
    if (held)
        alerter_.Raise(TAlertKind::Held, text);
    else if (alerter_.Raised(TAlertKind::Held))
        alerter_.Clear(TAlertKind::Held, text);
}

void TConditionWatch::Polled(const std::vector<TBusyConnection>& busy) {
    const TAlertRule* rule = alerter_.RuleOf(TAlertKind::Live);
    if (!rule) return;
    const TBusyConnection* longest = nullptr;
    for (const TBusyConnection& c : busy)
        if (!longest || c.Lasted > longest->Lasted) longest = &c;
    if (longest && longest->Lasted >= std::chrono::minutes(rule->Minutes))
        alerter_.Raise(TAlertKind::Live, "соединение идет уже " + DurationText(longest->Lasted) +
                                             ": " + longest->Connection);
    else if (alerter_.Raised(TAlertKind::Live))
        alerter_.Clear(TAlertKind::Live,
                       "соединений дольше " + std::to_string(rule->Minutes) + " мин больше нет");
}

void TConditionWatch::Shipping(bool stalled, uint64_t callsSinceStall,
                               std::chrono::steady_clock::time_point now) {
    const TAlertRule* rule = alerter_.RuleOf(TAlertKind::Db);
    if (!rule) return;
    // Behind since the first call written while it stalled.
    std::chrono::seconds behind{0};
    const bool waiting = stalled && callsSinceStall > 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (waiting && !stalled_) stalledSince_ = now;
        stalled_ = waiting;
        if (waiting) behind = std::chrono::duration_cast<std::chrono::seconds>(now - stalledSince_);
    }
    const bool late =
        waiting && (rule->DbCalls > 0 ? callsSinceStall >= static_cast<uint64_t>(rule->DbCalls)
                                      : behind >= std::chrono::minutes(rule->Minutes));
    if (late)
        alerter_.Raise(TAlertKind::Db, "база данных отстает от журнала звонков: " +
                                           std::to_string(callsSinceStall) +
                                           " звонков не отправлено за " + Minutes(behind));
    else if (!stalled && alerter_.Raised(TAlertKind::Db))
        alerter_.Clear(TAlertKind::Db, "звонки снова уходят в базу данных");
}
