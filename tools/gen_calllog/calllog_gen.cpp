#include "tools/gen_calllog/calllog_gen.h"

#include <cmath>
#include <cstdio>

#include "base/calendar.h"
#include "base/cp1251.h"
#include "calllog/call_line.h"

std::string FormatStandardLine(const TGenCall& c, const std::string& model) {
    // The program's own writer, so that what the reports read back is what
    // the reading writes.
    TRecord r;
    r.Year = c.Year;
    r.Month = c.Month;
    r.Day = c.Day;
    r.StartHour = c.Hour;
    r.StartMin = c.Minute;
    r.StartSec = c.Second;
    r.DurHour = c.DurHour;
    r.DurMin = c.DurMin;
    r.DurSec = c.DurSec;
    r.HwLine = c.HwLine;
    r.PrgNumber = c.PrgNumber;
    r.Trunk = c.Trunk;
    r.DialNumber = c.DialNumber;
    r.YearFlag = c.DateInvalid ? -1 : 0;
    r.StartHourFlag = c.TimeInvalid ? -1 : 0;
    r.DurHourFlag = c.DurInvalid ? -1 : 0;
    return FormatCallLine(r, false, model, "");
}

std::string TitleLine(int year, int month, int day, int hour, int minute, int second) {
    TDateTimeParts clock;
    clock.Year = year;
    clock.Month = month;
    clock.Day = day;
    clock.Hour = hour;
    clock.Minute = minute;
    clock.Second = second;
    return Utf8ToCp1251(TitleText(clock));
}

std::string ColumnLine() {
    return Utf8ToCp1251(kColumnLine);
}

TCallGenerator::TCallGenerator(uint32_t seed) : rng_(seed) {}

void TCallGenerator::Advance(int seconds) {
    secondOfDay_ += seconds;
    while (secondOfDay_ >= 86400) {
        secondOfDay_ -= 86400;
        if (++day_ > DaysInMonth(year_, month_)) {
            day_ = 1;
            if (++month_ > 12) {
                month_ = 1;
                ++year_;
            }
        }
    }
}

std::string TCallGenerator::Digits(int count) {
    std::uniform_int_distribution<int> digit(0, 9);
    std::string s;
    for (int i = 0; i < count; ++i)
        s += static_cast<char>('0' + digit(rng_));
    return s;
}

TGenCall TCallGenerator::Next() {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::exponential_distribution<double> gap(1.0 / 40.0);
    Advance(1 + static_cast<int>(gap(rng_)));

    TGenCall c;
    c.Year = year_;
    c.Month = month_;
    c.Day = day_;
    c.Hour = secondOfDay_ / 3600;
    c.Minute = secondOfDay_ / 60 % 60;
    c.Second = secondOfDay_ % 60;

    // Most calls last a minute or two; a few run for hours.
    std::lognormal_distribution<double> length(4.2, 1.1);
    int dur = static_cast<int>(length(rng_));
    if (dur > 86399) dur = 86399;
    c.DurHour = dur / 3600;
    c.DurMin = dur / 60 % 60;
    c.DurSec = dur % 60;

    // Lines 1-150: the first nine have one digit, the next ninety two.
    std::uniform_int_distribution<int> hw(1, 150);
    c.HwLine = hw(rng_);
    c.PrgNumber = u(rng_) < 0.05 ? "-1" : std::to_string(200 + c.HwLine);
    std::uniform_int_distribution<int> trunk(1, 16);
    c.Trunk = std::to_string(trunk(rng_));

    // Two in five calls are incoming; a few are internal, with neither trunk
    // nor dialled number.
    const double kind = u(rng_);
    if (kind < 0.02) {
        c.Trunk.clear();
    } else if (kind < 0.4) {
        c.DialNumber.clear();
    } else if (kind < 0.8) {
        c.DialNumber = std::to_string(2 + static_cast<int>(u(rng_) * 7)) + Digits(6);
    } else if (kind < 0.95) {
        c.DialNumber = "8" + Digits(10);
    } else {
        c.DialNumber = "810" + Digits(11);
    }
    if (u(rng_) < 0.001) c.DateInvalid = true;
    if (u(rng_) < 0.001) c.TimeInvalid = true;
    return c;
}
