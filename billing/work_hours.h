// Working days and hours ("пн-пт 08:00-19:00"): when an office is expected
// to ship, and when a call is made within working time.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

// On Days (bit d - 1 set for weekday d, 1 Monday .. 7 Sunday), from minute
// From to minute To of the day, local time.
struct TWorkHours {
    uint8_t Days = 0x1F;
    int From = 8 * 60;
    int To = 19 * 60;
    // Whether weekday (1 Monday .. 7 Sunday) at minute of the day is
    // within them.
    bool Holds(int weekday, int minute) const {
        return weekday >= 1 && weekday <= 7 && (Days & (1u << (weekday - 1))) && minute >= From &&
               minute < To;
    }
};
// Reads hours as "пн-пт 08:00-19:00" (days "пн" … "вс", single or as a
// range, several joined by ","; "00:00-24:00" is the whole day); the
// reason when it is not that, else empty (hours set).
std::string ParseWorkHours(std::string_view text, TWorkHours& hours);
// The seconds of working hours in [from, to), counted no further than
// enough (a bound for a gap of years); 0 when to is not after from.
int64_t WorkSeconds(const TWorkHours& hours, std::time_t from, std::time_t to, int64_t enough);
