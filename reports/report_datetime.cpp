#include "report_datetime.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

constexpr int64_t kSecondsPerDay = 86400;

bool IsLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// Days from 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

const int64_t kEpochOffset = DaysFromCivil(1899, 12, 30);

}  // namespace

bool IsValidRepDate(int year, int month, int day) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    const int last = kDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0);
    return day <= last;
}

double EncodeRepDateTime(int year, int month, int day, int hour, int minute, int second) {
    const int64_t days = DaysFromCivil(year, month, day) - kEpochOffset;
    const double frac = static_cast<double>(hour * 3600 + minute * 60 + second) / kSecondsPerDay;
    return days >= 0 ? static_cast<double>(days) + frac : static_cast<double>(days) - frac;
}

TRepDateParts DecodeRepDateTime(double value) {
    TRepDateParts p;
    if (!std::isfinite(value) || std::fabs(value) > 1e7) return p;
    const double whole = std::trunc(value);
    int64_t days = static_cast<int64_t>(whole);
    int64_t secs = std::llround(std::fabs(value - whole) * kSecondsPerDay);
    if (secs >= kSecondsPerDay) {  // rounding reached the next day
        secs -= kSecondsPerDay;
        ++days;
    }
    CivilFromDays(days + kEpochOffset, p.Year, p.Month, p.Day);
    p.Hour = static_cast<int>(secs / 3600);
    p.Minute = static_cast<int>(secs / 60 % 60);
    p.Second = static_cast<int>(secs % 60);
    return p;
}

std::string RepTimeText(double value) {
    const TRepDateParts p = DecodeRepDateTime(value);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.Hour, p.Minute, p.Second);
    return buf;
}
