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

void TellBufferFill(const TReadingHooks& hooks, const TIdentification& x) {
    if (!hooks.BufferRead || x.UnitBuffers.empty()) return;
    hooks.BufferRead(BufferFill(x));
}
