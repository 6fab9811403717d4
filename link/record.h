// Decoded call records and the decoding helpers shared by identification
// and buffer reading.
#pragma once

#include <cstdint>
#include <string>

#include "base/calendar.h"

// One decoded call record: the 24 values handed to the record callback.
struct TRecord {
    int Year = 0;
    int Month = 0;
    int Day = 0;
    int StartGroup0 = 0;  // not set by decoding
    int StartSec = 0;
    int StartMin = 0;
    int StartHour = 0;
    int DurGroup0 = 0;  // not set by decoding
    int DurSec = 0;
    int DurMin = 0;
    int DurHour = 0;  // whole days of the duration are dropped
    int HwLine = 0;
    std::string PrgNumber;
    std::string Trunk;
    std::string DialNumber;  // empty for an incoming call
    // Validity flags: 0 valid, -1 invalid.
    int YearFlag = 0;
    int MonthFlag = 0;
    int DayFlag = 0;
    int StartHourFlag = 0;
    int StartMinFlag = 0;
    int StartSecFlag = 0;
    int DurHourFlag = 0;
    int DurMinFlag = 0;
    int DurSecFlag = 0;
};

// Seconds since 1 January 1980 00:00:00 to date and time of day, with every
// fourth year from 1980 a leap year. Taken 64 bits wide so that a far date
// of a damaged record gives a far year (flagged invalid) instead of wrapping
// round to a plausible one.
TDateTimeParts SecondsToDateTime(uint64_t seconds);

// Packed digit bytes to text: hex digits with nibble 0 dropped, A read as 0;
// with swap the first two bytes are exchanged and the other letters kept,
// without swap B C D E F become * # P A T.
std::string DecodeDigits(const uint8_t* bytes, int count, bool swap);

enum class TTrunkFamily { QTV, QS16, QS800, Pollo };

// Trunk number of code t in family; -1 where the family defines none.
int TrunkNumber(TTrunkFamily family, int t);

// Sets the nine validity flags of record; currentYear is the computer's year.
TRecord ValidateRecord(TRecord record, int currentYear);
// Same, with the year of the computer's date.
TRecord ValidateRecord(TRecord record);
