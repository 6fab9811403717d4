#include "acquisition/reading_hooks.h"

#include <algorithm>

std::vector<TUnitBufferFill> BufferFill(const TIdentification& x) {
    std::vector<TUnitBufferFill> units;
    for (size_t u = 0; u < x.UnitBuffers.size(); ++u) {
        TUnitBufferFill f;
        f.Unit = static_cast<int>(u);
        f.Capacity = x.UnitBuffers[u].Capacity;
        f.Records = std::max(0, x.UnitBuffers[u].Records);
        if (f.Capacity > 0)
            f.Percent = static_cast<int>(static_cast<long long>(f.Records) * 100 / f.Capacity);
        else
            f.Percent = f.Records > 0 ? 100 : 0;
        units.push_back(f);
    }
    return units;
}

void TReadingHookSlot::Set(TReadingHooks hooks) {
    std::vector<TUnitBufferFill> fill;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hooks_ = hooks;
        fill = lastFill_;
    }
    if (hooks.BufferRead && !fill.empty()) hooks.BufferRead(fill);
}

TReadingHooks TReadingHookSlot::Get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return hooks_;
}

void TReadingHookSlot::TellBufferFill(const TIdentification& x) {
    const std::vector<TUnitBufferFill> fill = BufferFill(x);
    if (fill.empty()) return;
    std::function<void(const std::vector<TUnitBufferFill>&)> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lastFill_ = fill;
        hook = hooks_.BufferRead;
    }
    if (hook) hook(fill);
}
