// The period a report is limited to: calls whose start date lies between
// two dates, both inclusive, either end open.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

struct TPeriod {
    // Day numbers as TExtStr_rep::StartTime counts them (days since 30
    // December 1899); open ends hold the extremes.
    int32_t FromDay = std::numeric_limits<int32_t>::min();
    int32_t ToDay = std::numeric_limits<int32_t>::max();

    bool Whole() const {
        return FromDay == std::numeric_limits<int32_t>::min() &&
               ToDay == std::numeric_limits<int32_t>::max();
    }
    // Whether a call starting at startTime (days since 30 December 1899,
    // time of day as the fraction) lies in the period.
    bool Holds(double startTime) const;
};

// The day number of a date "YYYY-MM-DD"; false for anything else or a
// date that does not exist.
bool ParseIsoDate(std::string_view text, int32_t& day);
