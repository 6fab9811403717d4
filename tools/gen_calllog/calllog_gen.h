// Call-log lines in the standard layout, and a generator of realistic calls.
#pragma once

#include <cstdint>
#include <random>
#include <string>

// One call as the exchange reports it.
struct TGenCall {
    int Year = 2007, Month = 1, Day = 1;
    int Hour = 0, Minute = 0, Second = 0;
    int DurHour = 0, DurMin = 0, DurSec = 0;
    int HwLine = 1;
    std::string PrgNumber = "-1";  // "-1": no programmed number
    std::string Trunk;
    std::string DialNumber;  // empty for an incoming call
    bool DateInvalid = false;
    bool TimeInvalid = false;
    bool DurInvalid = false;
};

// The call's line in the standard fixed-column layout, without line end.
// model matters only for "QS31" and "QS53", which put a "0" in front of a
// one-character trunk.
std::string FormatStandardLine(const TGenCall& call, const std::string& model = "");

// The two title lines (Windows-1251) for an exchange clock.
std::string TitleLine(int year, int month, int day, int hour, int minute, int second);
std::string ColumnLine();

// Produces calls of an office exchange in time order: subscriber lines of
// one to three digits, mostly with a programmed number, about 16 trunks,
// two in five calls incoming, short durations with a long tail.
class TCallGenerator {
  public:
    explicit TCallGenerator(uint32_t seed);
    TGenCall Next();
    // Clock of the latest call, for title lines.
    int Year() const { return year_; }
    int Month() const { return month_; }
    int Day() const { return day_; }
    int SecondOfDay() const { return secondOfDay_; }

  private:
    void Advance(int seconds);
    std::string Digits(int count);

    std::mt19937 rng_;
    int year_ = 2007, month_ = 3, day_ = 5;
    int secondOfDay_ = 8 * 3600;
};
