// Call-record decoding: dates, packed digits, trunk numbering and the
// record layout, byte for byte.
#include <gtest/gtest.h>

#include <vector>

#include "link/exchange_model.h"
#include "link/record.h"

namespace {

struct TDateRow {
    uint64_t seconds;
    TDateTimeParts expected;
};

void PrintTo(const TDateRow& r, std::ostream* os) {
    *os << r.seconds;
}

class SecondsToDate : public ::testing::TestWithParam<TDateRow> {};

TEST_P(SecondsToDate, GivesTheCalendarDate) {
    const TDateTimeParts t = SecondsToDateTime(GetParam().seconds);
    const TDateTimeParts& e = GetParam().expected;
    EXPECT_EQ(t.Year, e.Year);
    EXPECT_EQ(t.Month, e.Month);
    EXPECT_EQ(t.Day, e.Day);
    EXPECT_EQ(t.Hour, e.Hour);
    EXPECT_EQ(t.Minute, e.Minute);
    EXPECT_EQ(t.Second, e.Second);
}

constexpr uint64_t kDay = 86400;
INSTANTIATE_TEST_SUITE_P(
    Calendar, SecondsToDate,
    ::testing::Values(TDateRow{0, {1980, 1, 1, 0, 0, 0}}, TDateRow{86399, {1980, 1, 1, 23, 59, 59}},
                      TDateRow{59 * kDay, {1980, 2, 29, 0, 0, 0}},
                      TDateRow{60 * kDay, {1980, 3, 1, 0, 0, 0}},
                      TDateRow{365 * kDay, {1980, 12, 31, 0, 0, 0}},
                      TDateRow{366 * kDay, {1981, 1, 1, 0, 0, 0}},
                      TDateRow{(366 + 59) * kDay, {1981, 3, 1, 0, 0, 0}},
                      TDateRow{(366 + 3 * 365) * kDay, {1984, 1, 1, 0, 0, 0}},
                      TDateRow{(1461 + 59) * kDay + 3723, {1984, 2, 29, 1, 2, 3}},
                      TDateRow{9862 * kDay, {2007, 1, 1, 0, 0, 0}},
                      // Far beyond 32 bits: a far year, not a wrapped one.
                      TDateRow{65535 * kDay, {2159, 6, 5, 0, 0, 0}}));

struct TDigitsRow {
    std::vector<uint8_t> bytes;
    bool swap;
    std::string expected;
};

void PrintTo(const TDigitsRow& r, std::ostream* os) {
    *os << r.expected;
}

class Digits : public ::testing::TestWithParam<TDigitsRow> {};

TEST_P(Digits, DecodeAsTheExchangePacksThem) {
    const auto& p = GetParam();
    EXPECT_EQ(DecodeDigits(p.bytes.data(), static_cast<int>(p.bytes.size()), p.swap), p.expected);
}

INSTANTIATE_TEST_SUITE_P(Packed, Digits,
                         ::testing::Values(TDigitsRow{{0x23, 0x00}, true, "23"},
                                           TDigitsRow{{0x0A, 0x12, 0xB0}, false, "012*"},
                                           TDigitsRow{{0xCD, 0xEF}, false, "#PAT"},
                                           // With swap the letters other than A stay letters.
                                           TDigitsRow{{0xBC, 0x0A}, true, "0BC"},
                                           TDigitsRow{{0x55, 0x51, 0x23, 0x40}, false, "5551234"},
                                           TDigitsRow{{0x00, 0x00}, false, ""}));

struct TTrunkRow {
    TTrunkFamily family;
    int code;
    int expected;
};

void PrintTo(const TTrunkRow& r, std::ostream* os) {
    *os << int(r.family) << ":" << r.code;
}

class Trunks : public ::testing::TestWithParam<TTrunkRow> {};

TEST_P(Trunks, NumberByFamily) {
    EXPECT_EQ(TrunkNumber(GetParam().family, GetParam().code), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Families, Trunks,
    ::testing::Values(TTrunkRow{TTrunkFamily::QTV, 0, 200}, TTrunkRow{TTrunkFamily::QTV, 2, 204},
                      TTrunkRow{TTrunkFamily::QS16, 0, 200}, TTrunkRow{TTrunkFamily::QS16, 1, 202},
                      TTrunkRow{TTrunkFamily::QS16, 2, 210}, TTrunkRow{TTrunkFamily::QS16, 3, 212},
                      TTrunkRow{TTrunkFamily::QS16, 4, 220}, TTrunkRow{TTrunkFamily::QS16, -1, 198},
                      TTrunkRow{TTrunkFamily::QS800, 0x45, 5},
                      TTrunkRow{TTrunkFamily::QS800, 0x40, -1},
                      TTrunkRow{TTrunkFamily::QS800, 24, 24},
                      TTrunkRow{TTrunkFamily::QS800, 25, -1}, TTrunkRow{TTrunkFamily::Pollo, 1, 0},
                      TTrunkRow{TTrunkFamily::Pollo, 4, 12}, TTrunkRow{TTrunkFamily::Pollo, 6, 20},
                      TTrunkRow{TTrunkFamily::Pollo, 9, 32}, TTrunkRow{TTrunkFamily::Pollo, 0, -1},
                      TTrunkRow{TTrunkFamily::Pollo, 5, -1},
                      TTrunkRow{TTrunkFamily::Pollo, 10, -1}));

// A record payload: date, time and duration in ticks, hardware line,
// programmed number, trunk code, dialled digits.
std::vector<uint8_t> Payload(uint16_t days, uint16_t ticks, uint16_t dur, uint16_t hw,
                             std::vector<uint8_t> tail) {
    std::vector<uint8_t> p;
    p.reserve(8 + tail.size());
    for (const uint16_t w : {days, ticks, dur, hw}) {
        p.push_back(static_cast<uint8_t>(w & 0xFF));
        p.push_back(static_cast<uint8_t>(w >> 8));
    }
    for (const uint8_t b : tail)
        p.push_back(b);
    return p;
}

struct TTrunkTextRow {
    std::string model;
    bool multiUnit;
    uint8_t code;
    std::string expected;
};

void PrintTo(const TTrunkTextRow& r, std::ostream* os) {
    *os << r.model << ":" << int(r.code);
}

class TrunkText : public ::testing::TestWithParam<TTrunkTextRow> {};

TEST_P(TrunkText, FollowsTheModel) {
    TIdentification ll;
    ll.ModelName = GetParam().model;
    ll.MultiUnit = GetParam().multiUnit;
    const auto p = Payload(9862, 0, 0, 1, {0x23, 0x00, GetParam().code});
    EXPECT_EQ(DecodeRecord(ll, p.data(), static_cast<int>(p.size())).Trunk, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Models, TrunkText,
    ::testing::Values(
        TTrunkTextRow{"QTV610", false, 1, "200"}, TTrunkTextRow{"QTV930-1", false, 3, "204"},
        TTrunkTextRow{"QS16", false, 3, "210"}, TTrunkTextRow{"QS20", false, 1, "200"},
        TTrunkTextRow{"QS800", false, 0x45, "(3)05"}, TTrunkTextRow{"QS800", false, 0x40, "(3)-1"},
        TTrunkTextRow{"QS800", false, 0x59, "(3)-1"}, TTrunkTextRow{"QS800", false, 0x8C, "(4)12"},
        TTrunkTextRow{"B", false, 0x01, "(2)01"}, TTrunkTextRow{"30B", true, 0x47, "(3)07"},
        TTrunkTextRow{"QS31", false, 4, "12"}, TTrunkTextRow{"QS53", false, 5, "-1"},
        TTrunkTextRow{"QS31x", false, 4, ""}, TTrunkTextRow{"C", false, 4, ""}));

TEST(DecodeRecord, FieldsOfAFullRecord) {
    TIdentification ll;
    ll.ModelName = "QTV610";
    ll.TickLength = 2;
    // 2007-03-05 14:02:07 is 50527 s into the day; 95 s of talk.
    auto p =
        Payload(9862 + 31 + 28 + 4, 25263, 47, 121, {0x23, 0x00, 0x01, 0x55, 0x51, 0x23, 0x40});
    TRecord r = DecodeRecord(ll, p.data(), static_cast<int>(p.size()));
    EXPECT_EQ(r.Year, 2007);
    EXPECT_EQ(r.Month, 3);
    EXPECT_EQ(r.Day, 5);
    EXPECT_EQ(r.StartHour, 14);
    EXPECT_EQ(r.StartMin, 2);
    EXPECT_EQ(r.StartSec, 6);
    EXPECT_EQ(r.DurHour, 0);
    EXPECT_EQ(r.DurMin, 1);
    EXPECT_EQ(r.DurSec, 34);
    EXPECT_EQ(r.HwLine, 121);
    EXPECT_EQ(r.PrgNumber, "123");
    EXPECT_EQ(r.Trunk, "200");
    EXPECT_EQ(r.DialNumber, "5551234");
    EXPECT_EQ(r.YearFlag, 0);
    EXPECT_EQ(r.DurSecFlag, 0);
}

TEST(DecodeRecord, WholeDaysOfADurationAreDropped) {
    TIdentification ll;
    ll.TickLength = 6;
    const auto p = Payload(9862, 0, 25 * 600, 1, {0x00, 0x00, 0x00});  // 25 hours
    const TRecord r = DecodeRecord(ll, p.data(), static_cast<int>(p.size()));
    EXPECT_EQ(r.DurHour, 1);
    EXPECT_EQ(r.DurMin, 0);
    EXPECT_EQ(r.DurSec, 0);
    EXPECT_EQ(r.PrgNumber, "-1");
    EXPECT_EQ(r.DialNumber, "");
}

TEST(DecodeRecord, ShortRecordsReadTheMissingBytesAsZero) {
    TIdentification ll;
    ll.ModelName = "QTV610";
    const uint8_t five[] = {0x86, 0x26, 0x10, 0x00, 0x05};
    const TRecord r = DecodeRecord(ll, five, 5);
    EXPECT_EQ(r.HwLine, 0);
    EXPECT_EQ(r.PrgNumber, "-1");
    EXPECT_EQ(r.Trunk, "198");  // code 0 on a QTV: t = -1
    EXPECT_EQ(r.DialNumber, "");

    const auto eleven = Payload(9862, 0, 1, 7, {0x45, 0x00, 0x02});
    EXPECT_EQ(DecodeRecord(ll, eleven.data(), 11).DialNumber, "");
    auto twelve = eleven;
    twelve.push_back(0x9A);
    EXPECT_EQ(DecodeRecord(ll, twelve.data(), 12).DialNumber, "90");
}

TEST(ValidateRecord, FlagsOnlyWhatIsOutOfRange) {
    TRecord r;
    r.Year = 1999;
    r.Month = 13;
    r.Day = 0;
    r.StartMin = 60;
    r.DurHour = -1;
    r.DurMin = 99;  // not looked at: the hours are already invalid
    r = ValidateRecord(r, 2026);
    EXPECT_EQ(r.YearFlag, -1);
    EXPECT_EQ(r.MonthFlag, -1);
    EXPECT_EQ(r.DayFlag, -1);
    EXPECT_EQ(r.StartMinFlag, -1);
    EXPECT_EQ(r.StartSecFlag, 0);
    EXPECT_EQ(r.DurHourFlag, -1);
    EXPECT_EQ(r.DurMinFlag, 0);

    TRecord ahead;
    ahead.Year = 2027;
    ahead.Month = 1;
    ahead.Day = 1;
    EXPECT_EQ(ValidateRecord(ahead, 2026).YearFlag, -1);
    EXPECT_EQ(ValidateRecord(ahead, 2027).YearFlag, 0);
}

}  // namespace
