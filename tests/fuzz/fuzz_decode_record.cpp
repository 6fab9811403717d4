// libFuzzer harness: a call record's payload decoded for any model and tick
// length identification can give, and the date and digit helpers it uses.
//
// Input: byte 0 picks the model (low four bits) and whether the exchange is
// multi-unit (bit 4); byte 1 is the tick byte of the identification reply;
// the rest is the descrambled record payload.
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/exchange_model.h"
#include "link/record.h"
#include "tests/fuzz/fuzz_require.h"

namespace {

// Model names identification can make: the model table's, reported names
// of multi-unit and other exchanges as cut, and names of no known family.
const char* const kModels[16] = {"C",    "QTV610", "QS800", "QTV930-1", "QS16", "QS20",
                                 "QS31", "QS53",   "30B",   "2-B",      "3A",   "QS310",
                                 "B",    "",       "QS3",   "VERANTA"};

bool OnlyOf(const std::string& text, const char* allowed) {
    return text.find_first_not_of(allowed) == std::string::npos;
}

// Requires a date and time within the calendar: a real month, a day that
// month has (29 February only in a leap year), a real time of day.
void RequireCalendar(const TDateTimeParts& t) {
    static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    FuzzRequire(t.Month >= 1 && t.Month <= 12, "month within 1..12");
    FuzzRequire(t.Day >= 1 && t.Day <= kDays[t.Month - 1], "day within its month");
    // Every fourth year from 1980 is a leap year; a far year may have wrapped
    // round in int, which keeps its remainder by 4 when read unsigned.
    FuzzRequire(t.Month != 2 || t.Day != 29 || static_cast<unsigned>(t.Year) % 4 == 0,
                "29 February only in a leap year");
    FuzzRequire(t.Hour >= 0 && t.Hour <= 23, "hour within 0..23");
    FuzzRequire(t.Minute >= 0 && t.Minute <= 59, "minute within 0..59");
    FuzzRequire(t.Second >= 0 && t.Second <= 59, "second within 0..59");
}

// Requires the decoded record's fields to be what the decoding can give.
void RequireRecord(const TRecord& r, int len) {
    RequireCalendar({r.Year, r.Month, r.Day, r.StartHour, r.StartMin, r.StartSec});
    FuzzRequire(r.DurHour >= 0 && r.DurHour <= 23, "duration hours within a day");
    FuzzRequire(r.DurMin >= 0 && r.DurMin <= 59 && r.DurSec >= 0 && r.DurSec <= 59,
                "duration minutes and seconds within 0..59");
    FuzzRequire(r.MonthFlag == 0 && r.DayFlag == 0 && r.StartHourFlag == 0 && r.StartMinFlag == 0 &&
                    r.StartSecFlag == 0 && r.DurHourFlag == 0 && r.DurMinFlag == 0 &&
                    r.DurSecFlag == 0,
                "a calendar date and time are flagged valid");
    FuzzRequire(r.YearFlag == 0 || r.YearFlag == -1, "year flag 0 or -1");
    FuzzRequire(r.HwLine >= 0 && r.HwLine <= 0xFFFF, "hardware line of one 16-bit word");
    FuzzRequire(
        r.PrgNumber == "-1" || (r.PrgNumber[0] == '1' && OnlyOf(r.PrgNumber, "0123456789BCDEF")),
        "programmed number -1 or 1 and its digits");
    const int digitBytes = (len < 255 ? len : 255) - 11;
    FuzzRequire(r.DialNumber.empty() || (static_cast<int>(r.DialNumber.size()) <= 2 * digitBytes &&
                                         OnlyOf(r.DialNumber, "0123456789*#PAT")),
                "dialled number of the record's digits");
}

}  // namespace

// Decodes the payload and checks every helper's output; aborts when a
// property fails.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 65536) return 0;
    TIdentification exchange;
    exchange.ModelName = kModels[data[0] & 0x0F];
    exchange.MultiUnit = (data[0] & 0x10) != 0;
    exchange.TickLength = data[1] == 0 ? 6 : data[1];
    // The payload ends where the input does, so any read past len is seen.
    const uint8_t* payload = data + 2;
    const int len = static_cast<int>(size - 2);

    RequireRecord(DecodeRecord(exchange, payload, len), len);

    const std::string digits = DecodeDigits(payload, len, false);
    FuzzRequire(digits.size() <= 2 * static_cast<size_t>(len) && OnlyOf(digits, "0123456789*#PAT"),
                "dialled digits: two at most per byte, of 0-9 * # P A T");
    const std::string swapped = DecodeDigits(payload, len, true);
    FuzzRequire(
        swapped.size() <= 2 * static_cast<size_t>(len) && OnlyOf(swapped, "0123456789BCDEF"),
        "swapped digits: two at most per byte, hex with A read as 0");

    if (len >= 8) {
        uint64_t seconds = 0;
        for (int i = 7; i >= 0; --i)
            seconds = seconds << 8 | payload[i];
        RequireCalendar(SecondsToDateTime(seconds));
    }
    return 0;
}
