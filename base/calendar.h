// The proleptic Gregorian calendar: dates as day counts and back.
#pragma once

#include <cstdint>

// Days from 1970-01-01 to year y, month m (1-12), day d (negative before);
// a day past the month's end counts on into the next month.
int64_t DaysFromCivil(int64_t y, int m, int d);

// The date of day z counted as DaysFromCivil counts; y must fit an int.
void CivilFromDays(int64_t z, int& y, int& m, int& d);

// True for a year divisible by 4, except centuries not divisible by 400.
bool IsLeapYear(int64_t y);

// Days in month m (1-12) of year y; 0 for any other m.
int DaysInMonth(int64_t y, int m);

// A date and a time of day, as a person reads them; by default 1 January
// 1980, 00:00:00, the first day the exchanges count from.
struct TDateTimeParts {
    int Year = 1980;
    int Month = 1;
    int Day = 1;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
};
