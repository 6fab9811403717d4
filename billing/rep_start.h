// The start of a call as the billing reads it: its day number, weekday and
// second of the day, rounded to the nearest second as the grids show it.
#pragma once

#include <cmath>
#include <cstdint>

struct TRepStart {
    int64_t Day = 0;      // days since 30 December 1899
    int Weekday = 6;      // 1 Monday .. 7 Sunday (30 December 1899 was a Saturday)
    int SecondOfDay = 0;  // 0 .. 86399
};

// Splits a report date-time value (days since 30 December 1899, the time of
// day as the fraction, counting away from zero before that date) the way
// DecodeRepDateTime does, so that a call is rated and limited to a period by
// the date and time the grids show for it.
inline TRepStart SplitRepStart(double value) {
    TRepStart s;
    if (!std::isfinite(value) || std::fabs(value) > 1e7) value = 0;
    const double whole = std::trunc(value);
    s.Day = static_cast<int64_t>(whole);
    int64_t secs = std::llround(std::fabs(value - whole) * 86400);
    if (secs >= 86400) {
        secs -= 86400;
        ++s.Day;
    }
    s.SecondOfDay = static_cast<int>(secs);
    s.Weekday = static_cast<int>(((s.Day + 5) % 7 + 7) % 7) + 1;
    return s;
}
