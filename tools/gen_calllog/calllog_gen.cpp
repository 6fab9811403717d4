#include "calllog_gen.h"

#include <cmath>
#include <cstdio>

namespace {

std::string Two(int v) {
    char b[16];
    std::snprintf(b, sizeof b, "%02d", v);
    return b;
}

int DaysInMonth(int y, int m) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

}  // namespace

std::string FormatStandardLine(const TGenCall& c, const std::string& model) {
    const char ds = c.DateInvalid ? '*' : '-';
    const char ts = c.TimeInvalid ? '*' : ':';
    const char us = c.DurInvalid ? '*' : ':';
    std::string line;
    line.reserve(80);
    line += Two(c.Day) + ds + Two(c.Month) + ds + std::to_string(c.Year);
    line += ' ';
    line += Two(c.Hour) + ts + Two(c.Minute) + ts + Two(c.Second);
    line += "   ";
    line += Two(c.DurHour) + us + Two(c.DurMin) + us + Two(c.DurSec);
    line += "   ";
    line += std::to_string(c.HwLine);
    if (c.PrgNumber == "-1") {
        line += "(    )   ";
    } else {
        std::string prg = c.PrgNumber;
        if (prg.size() < 4) prg.insert(0, 4 - prg.size(), ' ');
        line += "(" + prg + ")   ";
    }
    std::string trunk = c.Trunk;
    if ((model == "QS31" || model == "QS53") && trunk.size() == 1) trunk.insert(0, "0");
    for (int i = 0; i < 4 && trunk.size() < 5; ++i)
        trunk.insert(0, " ");
    line += trunk + "     ";
    std::string dial = c.DialNumber;
    if (dial.size() < 21) dial.append(21 - dial.size(), ' ');
    line += dial;
    return line;
}

std::string TitleLine(int year, int month, int day, int hour, int minute, int second) {
    // "       Данные на  " in Windows-1251.
    std::string line = "       \xC4\xE0\xED\xED\xFB\xE5 \xED\xE0  ";
    line += Two(day) + "-" + Two(month) + "-" + std::to_string(year) + " ";
    line += Two(hour) + ":" + Two(minute) + ":" + Two(second) + " ";
    return line;
}

std::string ColumnLine() {
    // "       Начало         Продолжит   Абонент      СЛ     Номер" in Windows-1251.
    return "       \xCD\xE0\xF7\xE0\xEB\xEE         \xCF\xF0\xEE\xE4\xEE\xEB\xE6\xE8\xF2   "
           "\xC0\xE1\xEE\xED\xE5\xED\xF2      \xD1\xCB     \xCD\xEE\xEC\xE5\xF0";
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
