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

// Each call packs to its record, and a reader of the wire format gets its
// digits back.
TEST(EncodeRecord, PacksEachField) {
    auto digits = [](const char* prg, const char* dial) {
        sim::TSimCall c;
        c.PrgDigits = prg;
        c.DialDigits = dial;
        return c;
    };
    sim::TSimCall fixed;
    fixed.Days = 0x2686;
    fixed.Ticks = 0x1234;
    fixed.DurationTicks = 0xABCD;
    fixed.HwLine = 0x0102;
    fixed.TrunkCode = 0x45;
    const std::pair<sim::TSimCall, Bytes> rows[] = {
        // Programmed number digits fill from the right; a zero must not
        // vanish as filler.
        {digits("23", ""), {0, 0, 0, 0, 0, 0, 0, 0, 0x23, 0x00, 0}},
        {digits("201", ""), {0, 0, 0, 0, 0, 0, 0, 0, 0xA1, 0x02, 0}},
        {digits("4567", ""), {0, 0, 0, 0, 0, 0, 0, 0, 0x67, 0x45, 0}},
        {digits("", ""), {0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0}},
        // Dialled digits pack after a filler nibble.
        {digits("", "012*"), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0A, 0x12, 0xB0}},
        {digits("", "012*5"), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0A, 0x12, 0xB5}},
        {digits("", "#PAT9"), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0C, 0xDE, 0xF9}},
        // Fixed fields are little-endian; no digits give eleven bytes.
        {fixed, {0x86, 0x26, 0x34, 0x12, 0xCD, 0xAB, 0x02, 0x01, 0x00, 0x00, 0x45}},
    };
    for (const auto& [call, record] : rows) {
        SCOPED_TRACE(call.PrgDigits + "/" + call.DialDigits);
        const Bytes r = sim::EncodeRecord(call);
        EXPECT_EQ(r, record);
        EXPECT_EQ(Unpack(r, 8, 2, true), call.PrgDigits);
        EXPECT_EQ(Unpack(r, 11, r.size() - 11, false), call.DialDigits);
    }
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

// Each row is a scenario text, the records it gives (unit, line, payload)
// and the faults it asks for (none: the defaults).
TEST(Scenario, LinesBecomeRecordsAndFaults) {
    using TRecord = std::tuple<int, int, Bytes>;
    struct TRow {
        const char* Text;
        uint16_t DefaultDays;
        std::vector<TRecord> Records;
        sim::TScenarioFaults Faults;
    };
    const Bytes rejected{0x0F, 0xFF};
    const TRow rows[] = {
        {"# a small day\n"
         "days=9863 ticks=100 dur=65 hw=5 prg=05 trunk=3 dial=*21#  # forward\n"
         "\n"
         "unit=1 rejected\r\n"
         "unit=2 hex=02 26 ff\n"
         "hw=7\n",
         9862,
         {{0,
           2,
           {0x87, 0x26, 0x64, 0x00, 0x41, 0x00, 0x05, 0x00, 0xA5, 0x00, 0x03, 0x0B, 0x21, 0xC0}},
          {1, 4, rejected},
          {2, 5, {0x02, 0x26, 0xFF}},
          // The exchange's day by default.
          {0, 6, {0x86, 0x26, 0x00, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x00}}},
         {}},
        {"repeat=2 rejected\n"
         "lose-reply=3 lose-reply=7\n"
         "unit=1 repeat=2 hex=02 26\n"
         "flip-reply=5\n"
         "hide-link-at=1.5 hide-link-for=0.25 hide-link-to=/dev/null\n",
         0,
         {{0, 1, rejected}, {0, 1, rejected}, {1, 3, {0x02, 0x26}}, {1, 3, {0x02, 0x26}}},
         {{3, 7}, {5}, 1.5, 0.25, "/dev/null"}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Text);
        const sim::TScenario s = sim::ParseScenario(row.Text, row.DefaultDays);
        std::vector<TRecord> records;
        for (const sim::TScenarioRecord& r : s.Records)
            records.emplace_back(r.Unit, r.Line, r.Payload);
        EXPECT_EQ(records, row.Records);
        EXPECT_EQ(s.Faults.LoseReply, row.Faults.LoseReply);
        EXPECT_EQ(s.Faults.FlipReply, row.Faults.FlipReply);
        EXPECT_DOUBLE_EQ(s.Faults.HideLinkAt, row.Faults.HideLinkAt);
        EXPECT_DOUBLE_EQ(s.Faults.HideLinkFor, row.Faults.HideLinkFor);
        EXPECT_EQ(s.Faults.HideLinkTo, row.Faults.HideLinkTo);
    }
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
