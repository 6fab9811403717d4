// Call-log lines byte for byte, and appending them to the file.
#include "acquisition/call_log.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <boost/make_shared.hpp>
#include <cerrno>

#include "base/cp1251.h"
#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

TRecord Call() {
    TRecord r;
    r.Year = 2007;
    r.Month = 3;
    r.Day = 5;
    r.StartHour = 14;
    r.StartMin = 2;
    r.StartSec = 7;
    r.DurMin = 1;
    r.DurSec = 35;
    r.HwLine = 12;
    r.PrgNumber = "121";
    r.Trunk = "200";
    r.DialNumber = "5551234";
    return r;
}

TEST(CallLine, StandardLayoutOfTheExampleCall) {
    const std::string line = FormatCallLine(Call(), false, "QTV610", "4660");
    EXPECT_EQ(line, "05-03-2007 14:02:07   00:01:35   12( 121)     200     5551234              ");
    EXPECT_EQ(line.size(), 75u);
    // The trunk ends under the trunk heading, the number starts under its own.
    EXPECT_EQ(line.substr(54, 7), "5551234");
}

TEST(CallLine, InvalidPartsTakeAStarAsSeparator) {
    TRecord r = Call();
    r.Year = 1999;
    r.YearFlag = -1;
    EXPECT_EQ(FormatCallLine(r, false, "QTV610", "").substr(0, 10), "05*03*1999");
    r = Call();
    r.StartMinFlag = -1;
    r.DurSecFlag = -1;
    const std::string line = FormatCallLine(r, false, "QTV610", "");
    EXPECT_EQ(line.substr(11, 8), "14*02*07");
    EXPECT_EQ(line.substr(22, 8), "00*01*35");
}

TEST(CallLine, PolloTrunkWithoutProgrammedNumberOrDialledDigits) {
    TRecord r = Call();
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
    TRecord r = Call();
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
    TRecord r = Call();
    r.DurMin = 0;
    r.DurSec = 5;
    EXPECT_EQ(FormatCallLine(r, false, "QTV610", "").substr(22, 8), "00:00:05");
    EXPECT_EQ(FormatCallLine(r, true, "QTV610", "1"),
              "121;12;200;0;05/03/2007;14:02:07;5;5551234;1");
}

TEST(CallLine, AlternativeLayout) {
    EXPECT_EQ(FormatCallLine(Call(), true, "QTV610", "4660"),
              "121;12;200;0;05/03/2007;14:02:07;95;5551234;4660");
    TRecord in = Call();
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

TEST(Append, WritesWindows1251WithCrLf) {
    TTempDir dir;
    const std::string path = dir.Path() + "/calls.txt";
    ASSERT_TRUE(AppendLines(path, {"АТС 1", "x"}).Ok());
    ASSERT_TRUE(AppendLines(path, {"y"}).Ok());
    EXPECT_EQ(ReadFile(path), "\xC0\xD2\xD1 1\r\nx\r\ny\r\n");
}

TEST(Append, AFileThatCannotBeOpenedGetsNothingAndSaysSo) {
    TTempDir dir;
    EXPECT_FALSE(AppendLines(dir.Path() + "/missing/calls.txt", {"x"}).Ok());
    EXPECT_FALSE(AppendLines(dir.Path(), {"x"}).Ok());  // a directory
    EXPECT_FALSE(AppendLines("", {"x"}).Ok());
}

TEST(Append, RootNeverWritesThroughALinkToAnotherUsersFileNorCreatesThroughOne) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    TTempDir dir;
    const std::string theirs = dir.File("theirs.txt");
    const std::string mine = dir.File("mine.txt");
    WriteFile(theirs, "x\r\n");
    WriteFile(mine, "");
    ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
    ASSERT_EQ(symlink(theirs.c_str(), dir.File("to-theirs").c_str()), 0);
    ASSERT_EQ(symlink(mine.c_str(), dir.File("to-mine").c_str()), 0);
    ASSERT_EQ(symlink(dir.File("none.txt").c_str(), dir.File("dangling").c_str()), 0);
    const TCallLogWrite theirsWrite = AppendLines(dir.File("to-theirs"), {"a"});
    EXPECT_FALSE(theirsWrite.Ok());
    EXPECT_NE(theirsWrite.Why.find("другого пользователя"), std::string::npos);
    EXPECT_EQ(ReadFile(theirs), "x\r\n");
    EXPECT_FALSE(AppendLines(dir.File("dangling"), {"a"}).Ok());
    EXPECT_FALSE(Exists(dir.File("none.txt")));
    EXPECT_TRUE(AppendLines(dir.File("to-mine"), {"a"}).Ok());
    EXPECT_EQ(ReadFile(mine), "a\r\n");
}

TEST(Append, NoLinkOfAnotherUserIsFollowed) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    TTempDir dir;
    const std::string mine = dir.File("mine.txt");
    WriteFile(mine, "");
    MakeLink(mine, dir.File("planted"), 65534);
    MakeLink(dir.File("planted"), dir.File("chain"), 0);
    MakeLink(dir.File("none.txt"), dir.File("dangling"), 65534);
    for (const char* name : {"planted", "chain", "dangling"}) {
        const TCallLogWrite write = AppendLines(dir.File(name), {"a"});
        EXPECT_EQ(write.Why, "Файл \"" + dir.File(name) +
                                 "\" — символическая ссылка другого пользователя или на файл "
                                 "другого пользователя; через нее запись не ведется.");
    }
    EXPECT_EQ(ReadFile(mine), "");
    EXPECT_FALSE(Exists(dir.File("none.txt")));
}

TEST(Append, AWriteThatFailsHalfWayLeavesNoHalfLine) {
    TTempDir dir;
    const std::string path = dir.Path() + "/calls.txt";
    ASSERT_TRUE(AppendLines(path, {std::string(10, 'a')}).Ok());
    // Allow the file to grow to 20 bytes only: the next line does not fit.
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit small = old;
    small.rlim_cur = 20;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool ok = AppendLines(path, {std::string(30, 'b')}).Ok();
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(ok);
    EXPECT_EQ(ReadFile(path), std::string(10, 'a') + "\r\n");
}

TEST(CallLogWriter, KeepsWhatCannotBeWrittenAndWritesItFirstLater) {
    TTempDir dir;
    auto ll = boost::make_shared<TLowLevel>();
    TIdentification exchange;
    exchange.ModelName = "QTV610";
    ll->AdoptIdentification(exchange);
    ll->Settings.TarifFileName = dir.Path() + "/later/calls.txt";  // the folder is not there yet
    TCallLog log(ll);
    std::vector<std::string> written;
    log.SetWrittenHook([&](const std::vector<std::string>& lines) {
        written.insert(written.end(), lines.begin(), lines.end());
    });
    TRecord first = Call();
    log.OnCallRecord(first);
    EXPECT_FALSE(log.Settle());
    EXPECT_EQ(log.PendingCount(), 1u);
    EXPECT_TRUE(log.WritePending().empty());

    ASSERT_EQ(mkdir((dir.Path() + "/later").c_str(), 0755), 0);
    TRecord second = Call();
    second.HwLine = 13;
    const std::vector<std::string> lines = {
        "05-03-2007 14:02:07   00:01:35   12( 121)     200     5551234              ",
        "05-03-2007 14:02:07   00:01:35   13( 121)     200     5551234              "};
    log.OnCallRecord(second);
    EXPECT_TRUE(log.Settle());
    EXPECT_EQ(written, lines);
    EXPECT_EQ(log.PendingCount(), 0u);
    EXPECT_EQ(ReadFile(ll->Settings.TarifFileName), lines[0] + "\r\n" + lines[1] + "\r\n");
}

TEST(CallLogWriter, TitleAndLinesFollowTheSettings) {
    TTempDir dir;
    TSettings settings;
    settings.TarifFileName = dir.Path() + "/calls.txt";
    TDateTimeParts clock;
    clock.Year = 2026;
    clock.Month = 3;
    clock.Day = 9;
    clock.Hour = 7;
    clock.Minute = 5;
    clock.Second = 4;
    const TCallLogTitle title = BuildTitle(clock);
    EXPECT_EQ(title.TitleLine, "       Данные на  09-03-2026 07:05:04 ");
    EXPECT_EQ(WriteTitle(settings, title).Result, TCallLogResult::Written);
    EXPECT_EQ(AppendLine(settings, "line").Result, TCallLogResult::Written);
    const std::string bytes = ReadFile(settings.TarifFileName);
    EXPECT_EQ(bytes,
              Utf8ToCp1251(title.TitleLine) + "\r\n" + Utf8ToCp1251(kColumnLine) + "\r\nline\r\n");
    settings.TarifFileName = dir.Path();
    const TCallLogWrite refused = AppendLine(settings, "line");
    EXPECT_EQ(refused.Result, TCallLogResult::Failed);
    EXPECT_EQ(refused.Errno, EISDIR);
    settings.TarifFileName = dir.File("missing/calls.txt");
    EXPECT_EQ(WriteTitle(settings, title).Errno, ENOENT);
}

}  // namespace
