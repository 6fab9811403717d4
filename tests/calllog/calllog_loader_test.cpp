#include <gtest/gtest.h>

#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "calllog/calllog_loader.h"
#include "calllog/report_datetime.h"
#include "tests/common/test_support.h"
#include "tests/reports/call_line.h"
#include "tools/gen_calllog/calllog_gen.h"

using namespace testing_support;

namespace {

// The fields of a parsed line, or "rejected".
std::string Fields(const std::string& line) {
    TExtStr_rep r;
    if (!ParseCallLogLine(line, r)) return "rejected";
    return r.HwLine.str() + "|" + r.PrgLine.str() + "|" + r.Trunk.str() + "|" + r.ExtNumber.str();
}

// Lines as the reading writes them, written out by hand: a fault the
// reports share with the writer does not hide here.
const std::string kGood =
    "05-03-2007 14:02:07   00:01:35   123( 121)     200     5551234              ";
// The same call in the semicolon layout.
const std::string kAlt = "121;12;200;0;05/03/2007;14:02:07;95;5551234;4660";
// Date, start and duration of the lines below, with the blanks that follow.
const std::string kAt = "05-03-2007 14:02:07   00:01:35   ";

TEST(LineRule, StandardLayoutExamples) {
    ASSERT_EQ(kGood.size(), 76u);
    const std::string blank21(21, ' ');
    struct {
        std::string line, fields;
    } rows[] = {
        {kGood, "123|121|200|5551234"},
        // Hardware numbers of one and two digits are read up to the "(",
        // and the programmed number keeps its first character.
        {kAt + "12( 121)     200     5551234              ", "12|121|200|5551234"},
        {kAt + "5(4321)       7     5551234              ", "5|4321|7|5551234"},
        {kAt + "123(4321)       7     " + blank21, "123|4321|7|"},
        {kAt + "1234(  12)       7     8                    ", "1234|12|7|8"},
        // No programmed number, a programmed number longer than its field.
        {kAt + "105(    )       4     " + blank21, "105||4|"},
        {kAt + "105(12345)       4     1                    ", "105|12345|4|1"},
        // A blank trunk field takes the dialled number as the trunk.
        {kAt + "105( 201)            5551234              ", "105|201|5551234|"},
        // Trunk longer than its field, dialled number longer than 21.
        {kAt + "105( 201)   123456     1234567890123456789012345",
         "105|201|123456|1234567890123456789012345"},
        // Inner blanks of the dialled number are dropped.
        {kGood.substr(0, 54) + "555 12 34" + std::string(12, ' '), "123|121|200|5551234"},
        // Trunk "Т1" and dialled number "№5" in Windows-1251 become UTF-8.
        {CallLine(12, "121", "\xD2\x31", "\xB9\x35"), "12|121|Т1|№5"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(Fields(r.line), r.fields) << "[" << r.line << "]";
}

TEST(LineRule, AlternativeLayoutFillsTheSameFields) {
    EXPECT_EQ(Fields(kAlt), "12|121|200|5551234");
    EXPECT_EQ(Fields(";105;\xD2\x31;1;05/03/2007;14:02:07;95;;4660"), "105||Т1|");
    EXPECT_EQ(Fields("12 1;12;200;0;05/03/2007;14:02:07;95;555 1234;4660"), "12|121|200|5551234");
    TExtStr_rep r;
    ASSERT_TRUE(ParseCallLogLine(";12;200;1;29/02/2008;23:59:58;3723;;4660", r));
    EXPECT_DOUBLE_EQ(r.StartTime, EncodeRepDateTime(2008, 2, 29, 23, 59, 58));
    EXPECT_EQ(r.DurTotalSec, 3723);
    EXPECT_EQ(r.DurHour(), 1);
    EXPECT_EQ(r.DurMin(), 2);
    EXPECT_EQ(r.DurSec(), 3);
}

TEST(LineRule, TimesAndDurationAreRead) {
    TExtStr_rep r;
    ASSERT_TRUE(ParseCallLogLine(
        "05-03-2007 14:02:07   01:02:03   12( 121)     200     1                    ", r));
    EXPECT_DOUBLE_EQ(r.StartTime, EncodeRepDateTime(2007, 3, 5, 14, 2, 7));
    EXPECT_DOUBLE_EQ(r.Duration(), EncodeRepDateTime(1900, 1, 1, 1, 2, 3));
    EXPECT_EQ(r.DurHour(), 1);
    EXPECT_EQ(r.DurMin(), 2);
    EXPECT_EQ(r.DurSec(), 3);
    EXPECT_EQ(r.DurTotalSec, 3723);
}

// Replaces the characters of line from 1-based position p.
std::string Patch(std::string line, size_t p, const std::string& with) {
    return line.replace(p - 1, with.size(), with);
}

TEST(LineRule, AcceptsAndRejects) {
    const std::string l46 = kGood.substr(0, 46);
    struct {
        std::string line;
        bool accepted;
    } rows[] = {
        {l46, false},
        {l46 + " ", true},
        {"", false},
        {" " + kGood.substr(1), false},
        {Patch(kGood, 3, "*"), true},
        {Patch(Patch(kGood, 3, "*"), 6, "*"), true},
        {Patch(Patch(kGood, 14, "*"), 25, "*"), true},
        {Patch(kGood, 1, "31-02"), false},
        {Patch(kGood, 1, "29-02-2007"), false},
        {Patch(kGood, 1, "29-02-2008"), true},
        {Patch(kGood, 4, "13"), false},
        {Patch(kGood, 4, "00"), false},
        {Patch(kGood, 1, "00"), false},
        {Patch(kGood, 7, "0000"), false},
        {Patch(kGood, 12, "24"), false},
        {Patch(kGood, 12, "23:59:59"), true},
        {Patch(kGood, 15, "60"), false},
        {Patch(kGood, 18, "60"), false},
        {Patch(kGood, 23, "24"), false},
        {Patch(kGood, 23, "23:59:59"), true},
        {Patch(kGood, 26, "60"), false},
        {Patch(kGood, 29, "60"), false},
        {Patch(kGood, 1, "0a"), false},
        {Patch(kGood, 9, " 7"), false},
        {Patch(kGood, 13, "+"), false},
        {Patch(kGood, 30, "\x01"), false},
        // No ")" after the programmed number.
        {Patch(kGood, 42, " "), false},
        {kGood.substr(0, 41) + std::string(10, ' '), false},
        // NUL bytes are ordinary characters of the line.
        {Patch(kGood, 60, std::string("\0\0", 2)), true},
        // The semicolon layout.
        {kAlt, true},
        {";12;;1;05/03/2007;14:02:07;0;;1", true},
        {"121;12;200;0;05/03/2007;14:02:07;86399;5551234;4660", true},
        {"121;12;200;0;05/03/2007;14:02:07;86400;5551234;4660", false},
        {"121;12;200;0;05/03/2007;14:02:07;95;5551234", false},
        {"121;12;200;0;05/03/2007;14:02:07;95;5551234;4660;", false},
        {"121;12;200;0;05/03/2007;14:02:07;9a;5551234;4660", false},
        {"121;12;200;0;31/02/2007;14:02:07;95;5551234;4660", false},
        {"121;12;200;0;05-03-2007;14:02:07;95;5551234;4660", false},
        {"121;1x;200;0;05/03/2007;14:02:07;95;5551234;4660", false},
        {"121;12;200;0;05/03/2007;14:02:07;95;5551234;", false},
        {"121;12;200;1;05/03/2007;14:02:07;95;5551234;4660", false},
    };
    for (const auto& r : rows) {
        TExtStr_rep rec;
        EXPECT_EQ(ParseCallLogLine(r.line, rec), r.accepted) << "[" << r.line << "]";
    }
}

TEST(LineRule, NeverReadsPastTheLine) {
    // The ")" that would make the line acceptable lies just past its end.
    const std::string buffer = kGood.substr(0, 41) + std::string(10, ' ') + ")";
    TExtStr_rep rec;
    EXPECT_FALSE(ParseCallLogLine(std::string_view(buffer.data(), buffer.size() - 1), rec));
    EXPECT_TRUE(ParseCallLogLine(buffer, rec));
    // A line cut from a longer call line inside its trunk field.
    EXPECT_TRUE(ParseCallLogLine(std::string_view(kGood.data(), 48), rec));
    EXPECT_EQ(rec.Trunk, "2");
    EXPECT_EQ(rec.ExtNumber, "");
}

TEST(LineSplitting, EndsAreCrLfLfOrCr) {
    const std::string a = CallLine(1, "101", "1", "11");
    const std::string b = CallLine(2, "102", "2", "22");
    const std::string c = CallLine(3, "103", "3", "33");
    struct {
        std::string text;
        size_t lines, records;
    } rows[] = {
        {"", 0, 0},
        {a, 1, 1},
        {a + "\r\n" + b + "\r\n", 2, 2},
        {a + "\n" + b + "\r" + c, 3, 3},
        {a + "\r\r\n" + b + "\n\n" + c + "\r", 3, 3},
        {a + "\r\n" + std::string(29, 'x') + "\r\n" + std::string(30, 'x') + "\n" + b, 3, 2},
        {TitleLine(2007, 3, 5, 9, 7, 3) + "\r\n" + ColumnLine() + "\r\n", 2, 0},
        {std::string("\0\0\0", 3) + a + "\n" + std::string(5, '\0'), 1, 0},
    };
    for (const auto& r : rows) {
        const TCallLogContent content = ReadCallLogText(r.text);
        EXPECT_EQ(content.LineCount, r.lines) << r.text;
        EXPECT_EQ(content.LineList.Count(), r.records) << r.text;
    }
    const TCallLogContent content = ReadCallLogText(a + "\r" + b + "\n" + c);
    ASSERT_EQ(content.LineList.Count(), 3u);
    EXPECT_EQ(content.LineList[0].HwLine, "1");
    EXPECT_EQ(content.LineList[1].HwLine, "2");
    EXPECT_EQ(content.LineList[2].HwLine, "3");
}

// The file reader works in blocks; it must give exactly what reading the
// whole text at once gives, wherever a line end falls.
TEST(FileReader, BlockBoundariesChangeNothing) {
    TTempDir dir;
    const size_t block = size_t{4} << 20;
    const std::string line = CallLine(12, "121", "200", "5551234");
    for (const std::string& end : {std::string("\r\n"), std::string("\r"), std::string("\n")}) {
        for (size_t shift : {0u, 1u, 2u}) {
            // Filler lines, then a call line whose end straddles the block edge.
            std::string text(block - shift - line.size() - 1, 'x');
            text[0] = ' ';
            text += "\n" + line + end + line + end + line;
            const std::string path = dir.File("calls.txt");
            WriteFile(path, text);
            TCallLogContent fromFile;
            ASSERT_TRUE(ReadCallLogFile(path, fromFile).Ok());
            const TCallLogContent fromText = ReadCallLogText(text);
            EXPECT_EQ(fromFile.LineCount, 4u);
            EXPECT_EQ(fromFile.LineCount, fromText.LineCount);
            ASSERT_EQ(fromFile.LineList.Count(), 3u) << shift;
            EXPECT_EQ(fromFile.LineList[2].ExtNumber, "5551234");
        }
    }
}

TEST(FileReader, LinesOverFourKilobytesAreCountedAndRejected) {
    TTempDir dir;
    const std::string path = dir.File("long.txt");
    const std::string good = CallLine(12, "121", "200", "5551234");
    const auto callOf = [](size_t length) {
        return kGood.substr(0, 54) + std::string(length - 54, '7');
    };
    for (const std::string& end : {std::string("\r\n"), std::string("\r"), std::string("\n")}) {
        // Within one block, across blocks, and at the end without a line end.
        const std::string text = callOf(4096) + end + good + end + callOf(4097) + end + good + end +
                                 callOf(10u << 20) + end + good + end + callOf(5u << 20);
        WriteFile(path, text);
        for (const TCallLogContent& content : {ReadCallLogText(text), [&] {
                                                   TCallLogContent c;
                                                   EXPECT_TRUE(ReadCallLogFile(path, c).Ok());
                                                   return c;
                                               }()}) {
            EXPECT_EQ(content.LineCount, 7u);
            ASSERT_EQ(content.LineList.Count(), 4u);
            EXPECT_EQ(content.LineList[0].ExtNumber.size(), 4096u - 54);
            for (size_t i = 1; i < 4; ++i)
                EXPECT_EQ(content.LineList[i].ExtNumber, "5551234");
        }
    }
}

TEST(FileReader, BinaryGarbageLoadsWithoutHarm) {
    TTempDir dir;
    std::mt19937 rng(7);
    std::string text(1 << 20, '\0');
    for (char& c : text)
        c = static_cast<char>(rng());
    text += "\r\n" + kGood;
    WriteFile(dir.File("junk.bin"), text);
    TCallLogContent content;
    ASSERT_TRUE(ReadCallLogFile(dir.File("junk.bin"), content).Ok());
    EXPECT_EQ(content.LineCount, ReadCallLogText(text).LineCount);
    ASSERT_GE(content.LineList.Count(), 1u);
    EXPECT_EQ(content.LineList[content.LineList.Count() - 1].HwLine, "123");
}

// Lines the generator writes read back into the same fields.
TEST(RoundTrip, GeneratedLinesReadBack) {
    TCallGenerator gen(42);
    for (int i = 0; i < 3000; ++i) {
        TGenCall c = gen.Next();
        c.DurInvalid = i % 7 == 0;
        TExtStr_rep r;
        const std::string line = FormatStandardLine(c);
        ASSERT_TRUE(ParseCallLogLine(line, r)) << line;
        EXPECT_EQ(r.HwLine, std::to_string(c.HwLine));
        EXPECT_EQ(r.PrgLine, c.PrgNumber == "-1" ? "" : c.PrgNumber);
        if (c.Trunk.empty()) {
            EXPECT_EQ(r.Trunk, c.DialNumber);
            EXPECT_EQ(r.ExtNumber, "");
        } else {
            EXPECT_EQ(r.Trunk, c.Trunk);
            EXPECT_EQ(r.ExtNumber, c.DialNumber);
        }
        const TDateTimeParts p = DecodeRepDateTime(r.StartTime);
        EXPECT_EQ(std::vector<int>({p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second}),
                  std::vector<int>({c.Year, c.Month, c.Day, c.Hour, c.Minute, c.Second}));
        EXPECT_EQ(r.DurTotalSec, c.DurHour * 3600 + c.DurMin * 60 + c.DurSec);
    }
}

}  // namespace
