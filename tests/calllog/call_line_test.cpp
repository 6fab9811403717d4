// Call-log lines byte for byte, and the reports reading back what the
// writer wrote.
#include "calllog/call_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/cp1251.h"
#include "calllog/calllog_loader.h"
#include "calllog/report_datetime.h"
#include "tests/calllog/example_call.h"
#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

TEST(CallLine, StandardLayoutOfTheExampleCall) {
    const std::string line = FormatCallLine(ExampleCall(), false, "QTV610", "4660");
    EXPECT_EQ(line, "05-03-2007 14:02:07   00:01:35   12( 121)     200     5551234              ");
    EXPECT_EQ(line.size(), 75u);
    // The trunk ends under the trunk heading, the number starts under its own.
    EXPECT_EQ(line.substr(54, 7), "5551234");
}

TEST(CallLine, InvalidPartsTakeAStarAsSeparator) {
    TRecord r = ExampleCall();
    r.Year = 1999;
    r.YearFlag = -1;
    EXPECT_EQ(FormatCallLine(r, false, "QTV610", "").substr(0, 10), "05*03*1999");
    r = ExampleCall();
    r.StartMinFlag = -1;
    r.DurSecFlag = -1;
    const std::string line = FormatCallLine(r, false, "QTV610", "");
    EXPECT_EQ(line.substr(11, 8), "14*02*07");
    EXPECT_EQ(line.substr(22, 8), "00*01*35");
}

TEST(CallLine, PolloTrunkWithoutProgrammedNumberOrDialledDigits) {
    TRecord r = ExampleCall();
    r.HwLine = 105;
    r.PrgNumber = "-1";
    r.Trunk = "4";
    r.DialNumber = "";
    const std::string line = FormatCallLine(r, false, "QS31", "");
    EXPECT_EQ(line,
              "05-03-2007 14:02:07   00:01:35   105(    )      04     " + std::string(21, ' '));
    EXPECT_EQ(line.size(), 76u);
    // The "0" rule belongs to those two models only.
    EXPECT_NE(FormatCallLine(r, false, "QS31x", "").find("    4     "), std::string::npos);
}

struct TPadRow {
    std::string field;  // which field is changed
    std::string value;
    std::string expectedTail;  // the line from column 33 on
};

void PrintTo(const TPadRow& r, std::ostream* os) {
    *os << r.field << "=" << r.value;
}

class Padding : public ::testing::TestWithParam<TPadRow> {};

TEST_P(Padding, OfTheVariableFields) {
    TRecord r = ExampleCall();
    const TPadRow& p = GetParam();
    if (p.field == "prg") r.PrgNumber = p.value;
    if (p.field == "trunk") r.Trunk = p.value;
    if (p.field == "dial") r.DialNumber = p.value;
    EXPECT_EQ(FormatCallLine(r, false, "QTV610", "").substr(33), p.expectedTail);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, Padding,
    ::testing::Values(
        TPadRow{"prg", "12345", "12(12345)     200     5551234              "},
        TPadRow{"prg", "1", "12(   1)     200     5551234              "},
        TPadRow{"trunk", "", "12( 121)       " + std::string(5, ' ') + "5551234              "},
        TPadRow{"trunk", "(3)05", "12( 121)   (3)05     5551234              "},
        TPadRow{"trunk", "(3)-1", "12( 121)   (3)-1     5551234              "},
        TPadRow{"trunk", "1234567", "12( 121)   1234567     5551234              "},
        TPadRow{"dial", "123456789012345678901", "12( 121)     200     123456789012345678901"},
        TPadRow{"dial", "1234567890123456789012345",
                "12( 121)     200     1234567890123456789012345"}));

TEST(CallLine, ShortDurationsArePadded) {
    TRecord r = ExampleCall();
    r.DurMin = 0;
    r.DurSec = 5;
    EXPECT_EQ(FormatCallLine(r, false, "QTV610", "").substr(22, 8), "00:00:05");
    EXPECT_EQ(FormatCallLine(r, true, "QTV610", "1"),
              "121;12;200;0;05/03/2007;14:02:07;5;5551234;1");
}

TEST(CallLine, AlternativeLayout) {
    EXPECT_EQ(FormatCallLine(ExampleCall(), true, "QTV610", "4660"),
              "121;12;200;0;05/03/2007;14:02:07;95;5551234;4660");
    TRecord in = ExampleCall();
    in.PrgNumber = "-1";
    in.DialNumber = "";
    in.Trunk = "4";
    in.DurHour = 2;
    in.YearFlag = -1;  // flags play no part here
    EXPECT_EQ(FormatCallLine(in, true, "QS31", "7"), ";12;4;1;05/03/2007;14:02:07;7295;;7");
}

TEST(Title, IsThirtyEightCharactersOfWindows1251) {
    TDateTimeParts clock;
    clock.Year = 2007;
    clock.Month = 3;
    clock.Day = 5;
    clock.Hour = 9;
    clock.Minute = 7;
    clock.Second = 3;
    const std::string title = TitleText(clock);
    EXPECT_EQ(title, "       Данные на  05-03-2007 09:07:03 ");
    EXPECT_EQ(Utf8ToCp1251(title).size(), 38u);
    const std::string columns = Utf8ToCp1251(kColumnLine);
    EXPECT_EQ(columns.size(), 59u);
    for (const size_t at : {7u, 22u, 34u, 47u, 54u}) {
        EXPECT_EQ(columns[at - 1], ' ');
        EXPECT_NE(columns[at], ' ');
    }
}

// What the writer writes, the reports read: a few calls written by hand as
// records, put in a file as the reading puts them (title block first), and
// loaded as the report window loads a file.

// A call as a record and, written out by hand, the fields the reports must
// read from its line; the semicolon layout keeps the trunk unpadded.
struct TRoundTrip {
    TRecord Record;
    std::string Hw, Prg, Trunk, Dial;
    TDateTimeParts Start;
    int32_t Seconds;
    std::string AltTrunk;
};

std::vector<TRoundTrip> RoundTripCalls() {
    TRoundTrip outgoing{ExampleCall(),          "12", "121", "200", "5551234",
                        {2007, 3, 5, 14, 2, 7}, 95,   "200"};

    TRoundTrip incoming{ExampleCall(), "105", "", "04", "", {2026, 12, 31, 23, 59, 59}, 7205, "4"};
    TRecord& in = incoming.Record;
    in.Year = 2026, in.Month = 12, in.Day = 31;
    in.StartHour = 23, in.StartMin = 59, in.StartSec = 59;
    in.DurHour = 2, in.DurMin = 0, in.DurSec = 5;
    in.HwLine = 105;
    in.PrgNumber = "-1";  // no programmed number
    in.Trunk = "4";       // padded to "04" for this model
    in.DialNumber = "";

    TRoundTrip longer{ExampleCall(),          "1234", "12345", "(3)05", "1234567890123456789012345",
                      {2000, 2, 29, 0, 0, 0}, 0,      "(3)05"};
    TRecord& l = longer.Record;
    l.Year = 2000, l.Month = 2, l.Day = 29;
    l.StartHour = 0, l.StartMin = 0, l.StartSec = 0;
    l.DurMin = 0, l.DurSec = 0;
    l.HwLine = 1234;
    l.PrgNumber = "12345";
    l.Trunk = "(3)05";
    l.DialNumber = "1234567890123456789012345";
    return {outgoing, incoming, longer};
}

// The call-log file the reading writes of the calls: in the standard
// layout, or mixed, every call in both layouts, the first in the other
// layout from the call before.
std::string WrittenCallLog(const TTempDir& dir, bool mixed) {
    const TCallLogTitle title = BuildTitle({2007, 3, 5, 9, 7, 3});
    std::string bytes = CallLogBytes(title.TitleLine) + CallLogBytes(title.ColumnLine);
    bool alt = false;
    for (const TRoundTrip& c : RoundTripCalls()) {
        bytes += CallLogBytes(FormatCallLine(c.Record, alt, "QS31", "4660"));
        if (mixed) bytes += CallLogBytes(FormatCallLine(c.Record, !alt, "QS31", "4660"));
        alt = mixed && !alt;
    }
    const std::string path = dir.File(mixed ? "mixed.txt" : "standard.txt");
    WriteFile(path, bytes);
    return path;
}

void ExpectReadAs(const TExtStr_rep& read, const TRoundTrip& c, const std::string& trunk,
                  size_t i) {
    EXPECT_EQ(read.HwLine, c.Hw) << i;
    EXPECT_EQ(read.PrgLine, c.Prg) << i;
    EXPECT_EQ(read.Trunk, trunk) << i;
    EXPECT_EQ(read.ExtNumber, c.Dial) << i;
    EXPECT_EQ(read.DurTotalSec, c.Seconds) << i;
    const TDateTimeParts at = DecodeRepDateTime(read.StartTime);
    EXPECT_EQ(std::vector<int>({at.Year, at.Month, at.Day, at.Hour, at.Minute, at.Second}),
              std::vector<int>({c.Start.Year, c.Start.Month, c.Start.Day, c.Start.Hour,
                                c.Start.Minute, c.Start.Second}))
        << i;
}

TEST(WrittenThenRead, TheStandardLayoutReadsBackFieldForField) {
    TTempDir dir;
    TCallLogContent content;
    ASSERT_TRUE(ReadCallLogFile(WrittenCallLog(dir, false), content).Ok());
    const std::vector<TRoundTrip> calls = RoundTripCalls();
    EXPECT_EQ(content.LineCount, 2 + calls.size());  // the title block counts, as ever
    ASSERT_EQ(content.LineList.Count(), calls.size());
    for (size_t i = 0; i < calls.size(); ++i)
        ExpectReadAs(content.LineList[i], calls[i], calls[i].Trunk, i);
}

// The layout may be switched between two runs into the same file: the
// reports (and so the database, which ships what they read) read the calls
// of both, and nothing else from the title block.
TEST(WrittenThenRead, BothLayoutsMixedInOneFileReadBackFieldForField) {
    TTempDir dir;
    const std::string path = WrittenCallLog(dir, true);
    const std::string bytes = ReadFile(path);
    for (const char* alt : {"121;12;200;0;05/03/2007;14:02:07;95;5551234;4660\r\n",
                            ";105;4;1;31/12/2026;23:59:59;7205;;4660\r\n",
                            "12345;1234;(3)05;0;29/02/2000;00:00:00;0;"
                            "1234567890123456789012345;4660\r\n"})
        EXPECT_NE(bytes.find(alt), std::string::npos) << alt;
    TCallLogContent content;
    ASSERT_TRUE(ReadCallLogFile(path, content).Ok());
    const std::vector<TRoundTrip> calls = RoundTripCalls();
    EXPECT_EQ(content.LineCount, 2u + 6u);
    ASSERT_EQ(content.LineList.Count(), 6u);
    // Standard, alternative; alternative, standard; standard, alternative.
    const bool altAt[] = {false, true, true, false, false, true};
    for (size_t i = 0; i < 6; ++i) {
        const TRoundTrip& c = calls[i / 2];
        ExpectReadAs(content.LineList[i], c, altAt[i] ? c.AltTrunk : c.Trunk, i);
    }
}

}  // namespace
