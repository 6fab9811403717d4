// Appending lines to the call-log file, and the writer that keeps what
// cannot be written yet.
#include "acquisition/call_log.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <boost/make_shared.hpp>
#include <cerrno>

#include "base/cp1251.h"
#include "tests/calllog/example_call.h"
#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

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
    TRecord first = ExampleCall();
    log.OnCallRecord(first);
    EXPECT_FALSE(log.Settle());
    EXPECT_EQ(log.PendingCount(), 1u);
    EXPECT_TRUE(log.WritePending().empty());

    ASSERT_EQ(mkdir((dir.Path() + "/later").c_str(), 0755), 0);
    TRecord second = ExampleCall();
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
