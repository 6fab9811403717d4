// Records as the simulated exchange packs them, generated office days and
// scenario files.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <stdexcept>
#include <tuple>

#include "tools/sim_exchange/scenario.h"
#include "tools/sim_exchange/sim_exchange.h"

namespace {

using Bytes = std::vector<uint8_t>;

// How a reader of the wire format turns packed digits into text: hex text,
// zeros dropped, A read as 0, and (without swap) B..F as * # P A T.
std::string Unpack(const Bytes& b, size_t from, size_t count, bool swap) {
    Bytes v(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + count));
    if (swap && v.size() >= 2) std::swap(v[0], v[1]);
    std::string hex;
    char two[3];
    for (uint8_t x : v) {
        std::snprintf(two, sizeof two, "%02X", x);
        hex += two;
    }
    std::string out;
    for (char c : hex) {
        if (c == '0') continue;
        if (c == 'A') {
            out += '0';
        } else if (!swap && c >= 'B') {
            out += "*#PAT"[c - 'B'];
        } else {
            out += c;
        }
    }
    return out;
}

uint16_t Le(const Bytes& b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

TEST(EncodeRecord, ProgrammedNumberDigitsFillFromTheRight) {
    sim::TSimCall call;
    call.PrgDigits = "23";
    Bytes r = sim::EncodeRecord(call);
    EXPECT_EQ(r[8], 0x23);
    EXPECT_EQ(r[9], 0x00);

    call.PrgDigits = "201";  // the zero must not vanish as filler
    r = sim::EncodeRecord(call);
    EXPECT_EQ(r[8], 0xA1);
    EXPECT_EQ(r[9], 0x02);
    EXPECT_EQ("1" + Unpack(r, 8, 2, true), "1201");

    call.PrgDigits = "4567";
    r = sim::EncodeRecord(call);
    EXPECT_EQ(Unpack(r, 8, 2, true), "4567");

    call.PrgDigits = "";
    r = sim::EncodeRecord(call);
    EXPECT_EQ(r[8], 0x00);
    EXPECT_EQ(r[9], 0x00);
}

TEST(EncodeRecord, DialledDigitsPackAfterAFillerNibble) {
    sim::TSimCall call;
    call.DialDigits = "012*";
    Bytes r = sim::EncodeRecord(call);
    EXPECT_EQ(Bytes(r.begin() + 11, r.end()), (Bytes{0x0A, 0x12, 0xB0}));
    call.DialDigits = "012*5";
    r = sim::EncodeRecord(call);
    EXPECT_EQ(Bytes(r.begin() + 11, r.end()), (Bytes{0x0A, 0x12, 0xB5}));
    call.DialDigits = "#PAT9";
    r = sim::EncodeRecord(call);
    EXPECT_EQ(Bytes(r.begin() + 11, r.end()), (Bytes{0x0C, 0xDE, 0xF9}));
    EXPECT_EQ(Unpack(r, 11, r.size() - 11, false), "#PAT9");
}

TEST(EncodeRecord, FixedFieldsAreLittleEndianAndNoDigitsGiveElevenBytes) {
    sim::TSimCall call;
    call.Days = 0x2686;
    call.Ticks = 0x1234;
    call.DurationTicks = 0xABCD;
    call.HwLine = 0x0102;
    call.TrunkCode = 0x45;
    Bytes r = sim::EncodeRecord(call);
    EXPECT_EQ(r, (Bytes{0x86, 0x26, 0x34, 0x12, 0xCD, 0xAB, 0x02, 0x01, 0x00, 0x00, 0x45}));
    EXPECT_EQ(sim::RejectedRecord(), (Bytes{0x0F, 0xFF}));
}

TEST(EncodeRecord, RejectsWhatCannotBePacked) {
    sim::TSimCall call;
    call.PrgDigits = "12345";
    EXPECT_THROW(sim::EncodeRecord(call), std::invalid_argument);
    call.PrgDigits = "1*";
    EXPECT_THROW(sim::EncodeRecord(call), std::invalid_argument);
    call.PrgDigits = "";
    call.DialDigits = "12x";
    EXPECT_THROW(sim::EncodeRecord(call), std::invalid_argument);
}

TEST(GenerateOfficeDay, PlausibleCallsInTimeOrder) {
    sim::TDayOptions o;
    o.Calls = 400;
    o.Seed = 7;
    o.TickLength = 2;
    Bytes::size_type incoming = 0, special = 0, longCalls = 0, longDistance = 0;
    uint16_t lastTicks = 0;
    for (const Bytes& r : sim::GenerateOfficeDay(o)) {
        ASSERT_GE(r.size(), 11u);
        EXPECT_EQ(Le(r, 0), o.Days);
        EXPECT_GE(Le(r, 2), lastTicks);
        lastTicks = Le(r, 2);
        EXPECT_GE(Le(r, 2) * 2, 8 * 3600);  // office hours
        EXPECT_LT(Le(r, 2) * 2, 18 * 3600);
        EXPECT_GE(Le(r, 6), 1);
        EXPECT_LE(Le(r, 6), 64);
        EXPECT_GE(r[10], 1);
        EXPECT_LE(r[10], 8);
        std::string prg = Unpack(r, 8, 2, true);
        EXPECT_EQ(std::stoi(prg), Le(r, 6));  // programmed number follows the line
        if (Le(r, 4) * 2 > 3600) ++longCalls;
        std::string dial = Unpack(r, 11, r.size() - 11, false);
        if (dial.empty()) ++incoming;
        if (dial.find_first_of("*#") != std::string::npos) ++special;
        if (dial.size() == 11) ++longDistance;
    }
    EXPECT_GT(incoming, 50u);
    EXPECT_GT(special, 0u);
    EXPECT_GT(longCalls, 0u);
    EXPECT_GT(longDistance, 10u);
}

TEST(GenerateOfficeDay, TrunkCodesFitTheModel) {
    const std::set<int> pollo{1, 2, 3, 4, 6, 7, 8, 9};
    for (uint8_t type : {5, 9, 2}) {
        sim::TDayOptions o;
        o.Calls = 200;
        o.TypeCode = type;
        o.Unit = 2;
        std::set<int> seen;
        for (const Bytes& r : sim::GenerateOfficeDay(o))
            seen.insert(r[10]);
        for (int code : seen) {
            if (type == 9) {
                EXPECT_TRUE(pollo.count(code)) << code;
            } else {
                EXPECT_EQ(code >> 6, 2) << code;  // the unit's trunks
                EXPECT_GE(code & 63, 1);
                EXPECT_LE(code & 63, 24);
            }
        }
        EXPECT_GT(seen.size(), 4u);
    }
}

TEST(GenerateOfficeDay, DeterministicWithRejectedAndShortRecords) {
    sim::TDayOptions o;
    o.Calls = 60;
    o.Seed = 3;
    o.RejectedEvery = 10;
    o.ShortEvery = 7;
    auto a = sim::GenerateOfficeDay(o);
    EXPECT_EQ(a, sim::GenerateOfficeDay(o));
    o.Seed = 4;
    EXPECT_NE(a, sim::GenerateOfficeDay(o));
    ASSERT_EQ(a.size(), 60u);
    for (size_t i = 0; i < a.size(); ++i) {
        const int n = static_cast<int>(i) + 1;
        const bool rejected = a[i].size() == 2 && a[i][0] == 0x0F && a[i][1] == 0xFF;
        EXPECT_EQ(rejected, n % 10 == 0) << n;
        if (n % 7 == 0 && n % 10 != 0) {
            EXPECT_GE(a[i].size(), 2u);
            EXPECT_LE(a[i].size(), 11u);
        }
    }
    o.Calls = -1;
    EXPECT_THROW(sim::GenerateOfficeDay(o), std::invalid_argument);
}

// A day with twins is the same day with a copy after every n-th record;
// the rows make rejected and short records the copied ones.
TEST(GenerateOfficeDay, TwinsFollowEveryNthRecord) {
    for (const auto& [twins, rejected, cut] : {std::tuple{3, 0, 0}, {4, 4, 0}, {2, 0, 2}}) {
        sim::TDayOptions o;
        o.Calls = 30;
        o.RejectedEvery = rejected;
        o.ShortEvery = cut;
        const auto plain = sim::GenerateOfficeDay(o);
        o.TwinsEvery = twins;
        const auto day = sim::GenerateOfficeDay(o);
        std::vector<Bytes> want;
        for (size_t i = 0; i < plain.size(); ++i)
            want.insert(want.end(), (i + 1) % static_cast<size_t>(twins) == 0 ? 2 : 1, plain[i]);
        EXPECT_EQ(day, want) << twins;
    }
}

TEST(Scenario, RepeatedRecordsAndFaultLines) {
    const sim::TScenario s = sim::ParseScenario(
        "repeat=2 rejected\n"
        "lose-reply=3 lose-reply=7\n"
        "unit=1 repeat=2 hex=02 26\n"
        "flip-reply=5\n"
        "hide-link-at=1.5 hide-link-for=0.25 hide-link-to=/dev/null\n",
        0);
    ASSERT_EQ(s.Records.size(), 4u);
    EXPECT_EQ(s.Records[1].Payload, sim::RejectedRecord());
    EXPECT_EQ(s.Records[3].Payload, (Bytes{0x02, 0x26}));
    EXPECT_EQ(s.Records[3].Unit, 1);
    EXPECT_EQ(s.Records[3].Line, 3);
    EXPECT_EQ(s.Faults.LoseReply, (std::vector<int>{3, 7}));
    EXPECT_EQ(s.Faults.FlipReply, std::vector<int>{5});
    EXPECT_DOUBLE_EQ(s.Faults.HideLinkAt, 1.5);
    EXPECT_DOUBLE_EQ(s.Faults.HideLinkFor, 0.25);
    EXPECT_EQ(s.Faults.HideLinkTo, "/dev/null");
}

TEST(Scenario, LinesBecomeRecords) {
    const sim::TScenario parsed = sim::ParseScenario(
        "# a small day\n"
        "days=9863 ticks=100 dur=65 hw=5 prg=05 trunk=3 dial=*21#  # forward\n"
        "\n"
        "unit=1 rejected\r\n"
        "unit=2 hex=02 26 ff\n"
        "hw=7\n",
        9862);
    const auto& recs = parsed.Records;
    ASSERT_EQ(recs.size(), 4u);
    sim::TSimCall call;
    call.Days = 9863;
    call.Ticks = 100;
    call.DurationTicks = 65;
    call.HwLine = 5;
    call.PrgDigits = "05";
    call.TrunkCode = 3;
    call.DialDigits = "*21#";
    EXPECT_EQ(recs[0].Payload, sim::EncodeRecord(call));
    EXPECT_EQ(recs[0].Line, 2);
    EXPECT_EQ(recs[1].Unit, 1);
    EXPECT_EQ(recs[1].Payload, sim::RejectedRecord());
    EXPECT_EQ(recs[2].Unit, 2);
    EXPECT_EQ(recs[2].Payload, (Bytes{0x02, 0x26, 0xFF}));
    EXPECT_EQ(Le(recs[3].Payload, 0), 9862);  // the exchange's day by default
    EXPECT_EQ(recs[3].Payload.size(), 11u);
}

TEST(Scenario, BadLinesNameTheirLineNumber) {
    const char* bad[] = {"hw=70000",
                         "colour=red",
                         "prg=12345",
                         "dial=12x",
                         "hex=1 2 3",
                         "rejected hw=1",
                         "ticks=",
                         "hw=-1",
                         "banana",
                         "repeat=0",
                         "lose-reply=0",
                         "hide-link-for=1",
                         "hide-link-at=1.2.3",
                         "lose-reply=2 hw=1",
                         "hide-link-at=1 repeat=2"};
    for (const char* line : bad) {
        try {
            sim::ParseScenario(std::string("hw=1\n# fine\n") + line + "\n", 0);
            ADD_FAILURE() << "accepted: " << line;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()).rfind("line 3: ", 0), 0u) << e.what();
        }
    }
}

TEST(Scenario, HexBytes) {
    EXPECT_EQ(sim::ParseHexBytes("02 44 05,00 4602"), (Bytes{0x02, 0x44, 0x05, 0x00, 0x46, 0x02}));
    EXPECT_EQ(sim::ParseHexBytes(""), Bytes{});
    EXPECT_THROW(sim::ParseHexBytes("0 2"), std::invalid_argument);
    EXPECT_THROW(sim::ParseHexBytes("0g"), std::invalid_argument);
}

}  // namespace
