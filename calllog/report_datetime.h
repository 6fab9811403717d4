// Date-time values of the report: 64-bit floating-point day counts from
// 30 December 1899 with the time of day as the fraction (for days before that
// date the fraction counts away from zero, -1.25 is 29 December 1899 06:00).
#pragma once

#include <string>

#include "base/calendar.h"

// True for a real calendar date: year 1-9999, month 1-12, day within the month.
bool IsValidRepDate(int year, int month, int day);

// Day count of a valid date (see IsValidRepDate) plus the time of day.
double EncodeRepDateTime(int year, int month, int day, int hour, int minute, int second);

// Date and time of day of a value, rounded to the nearest second; the
// day count's zero (30 December 1899) for a value out of range.
TDateTimeParts DecodeRepDateTime(double value);

// The time of day of a value as "hh:mm:ss".
std::string RepTimeText(double value);

// A date as dd.MM.yyyy, whatever the locale: for files other programs read.
std::string FixedDateText(int year, int month, int day);
