#include "link/record.h"

#include <ctime>

TDateTimeParts SecondsToDateTime(uint64_t seconds) {
    TDateTimeParts t;
    const uint64_t r = seconds % 86400;
    t.Second = static_cast<int>(r % 60);
    t.Minute = static_cast<int>((r / 60) % 60);
    t.Hour = static_cast<int>((r / 3600) % 24);

    const uint64_t d = seconds / 86400;
    uint64_t n = d % 1461;
    uint64_t year = 4 * (d / 1461);
    bool leap = true;
    if (n >= 366) {
        year += (n - 366) / 365 + 1;
        n = (n - 366) % 365;
        leap = false;
    }
    t.Year = static_cast<int>(year + 1980);
    static const int kMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int month = 0;
    for (; month < 12; ++month) {
        const uint64_t len = (month == 1 && leap) ? 29 : kMonth[month];
        if (n < len) break;
        n -= len;
    }
    t.Month = month + 1;
    t.Day = static_cast<int>(n + 1);
    return t;
}

std::string DecodeDigits(const uint8_t* bytes, int count, bool swap) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(static_cast<size_t>(count) * 2);
    for (int i = 0; i < count; ++i) {
        // With swap the first two bytes are taken in the other order.
        int at = i;
        if (swap && count >= 2 && i < 2) at = 1 - i;
        const uint8_t b = bytes[at];
        for (const int nibble : {b >> 4, b & 0x0F}) {
            const char c = kHex[nibble];
            if (c == '0') continue;  // nibble 0 is filler
            if (c == 'A') {
                out += '0';
            } else if (!swap && c == 'B') {
                out += '*';
            } else if (!swap && c == 'C') {
                out += '#';
            } else if (!swap && c == 'D') {
                out += 'P';
            } else if (!swap && c == 'E') {
                out += 'A';
            } else if (!swap && c == 'F') {
                out += 'T';
            } else {
                out += c;
            }
        }
    }
    return out;
}

int TrunkNumber(TTrunkFamily family, int t) {
    switch (family) {
        case TTrunkFamily::QTV:
            return 200 + 2 * t;
        case TTrunkFamily::QS16:
            return 200 + 2 * t + 6 * (t / 2);
        case TTrunkFamily::QS800: {
            const int m = t % 64;
            return (m >= 1 && m <= 24) ? m : -1;
        }
        case TTrunkFamily::Pollo:
            switch (t) {
                case 1:
                    return 0;
                case 2:
                    return 4;
                case 3:
                    return 8;
                case 4:
                    return 12;
                case 6:
                    return 20;
                case 7:
                    return 24;
                case 8:
                    return 28;
                case 9:
                    return 32;
                default:
                    return -1;  // codes without a trunk of their own
            }
    }
    return -1;
}

TRecord ValidateRecord(TRecord r, int currentYear) {
    r.YearFlag = (r.Year < 2000 || r.Year > currentYear) ? -1 : 0;
    r.MonthFlag = (r.Month < 1 || r.Month > 12) ? -1 : 0;
    r.DayFlag = (r.Day < 1 || r.Day > 31) ? -1 : 0;
    r.StartHourFlag = r.StartHour < 0 ? -1 : 0;
    r.StartMinFlag = (r.StartMin < 0 || r.StartMin > 59) ? -1 : 0;
    r.StartSecFlag = (r.StartSec < 0 || r.StartSec > 59) ? -1 : 0;
    r.DurHourFlag = r.DurHour < 0 ? -1 : 0;
    r.DurMinFlag = 0;
    r.DurSecFlag = 0;
    if (r.DurHourFlag == 0) r.DurMinFlag = (r.DurMin < 0 || r.DurMin > 59) ? -1 : 0;
    if (r.DurHourFlag == 0 && r.DurMinFlag == 0)
        r.DurSecFlag = (r.DurSec < 0 || r.DurSec > 59) ? -1 : 0;
    return r;
}

TRecord ValidateRecord(TRecord record) {
    const std::time_t now = std::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    return ValidateRecord(std::move(record), local.tm_year + 1900);
}
