#include "calllog/report_datetime.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "base/calendar.h"

namespace {

constexpr int64_t kSecondsPerDay = 86400;

const int64_t kEpochOffset = DaysFromCivil(1899, 12, 30);

}  // namespace

bool IsValidRepDate(int year, int month, int day) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    return day <= DaysInMonth(year, month);
}

double EncodeRepDateTime(int year, int month, int day, int hour, int minute, int second) {
    const int64_t days = DaysFromCivil(year, month, day) - kEpochOffset;
    const double frac = static_cast<double>(hour * 3600 + minute * 60 + second) / kSecondsPerDay;
    return days >= 0 ? static_cast<double>(days) + frac : static_cast<double>(days) - frac;
}

TDateTimeParts DecodeRepDateTime(double value) {
    TDateTimeParts p{1899, 12, 30, 0, 0, 0};
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
    const TDateTimeParts p = DecodeRepDateTime(value);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.Hour, p.Minute, p.Second);
    return buf;
}

std::string FixedDateText(int year, int month, int day) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", day, month, year);
    return buf;
}
