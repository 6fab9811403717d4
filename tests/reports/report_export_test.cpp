#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include <cerrno>
#include <string>
#include <vector>

#include "base/cp1251.h"
#include "reports/report_export.h"
#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

std::string Blanks(size_t n) {
    return std::string(n, ' ');
}

TEST(ExportLines, CallGridExample) {
    const std::string line =
        CallExportLine({"05.03.2007", "14:02:07", "00:01:35", "105", "201", "3", "1234567"});
    EXPECT_EQ(line, "05.03.2007  14:02:07  00:01:35  105   201    3      1234567" + Blanks(9));
    EXPECT_EQ(line.size(), 68u);
    EXPECT_EQ(line.find("105"), 32u);
    EXPECT_EQ(line.find("201"), 38u);
    EXPECT_EQ(line.find("1234567"), 52u);
}

TEST(ExportLines, SubscriberLineAndTrunkExamples) {
    const std::string al = ALExportLine({"105", "201", "01:02:03", "00:05:09", "01:07:12"});
    EXPECT_EQ(al, "105" + Blanks(9) + "201" + Blanks(9) + "01:02:03" + Blanks(7) + "00:05:09" +
                      Blanks(8) + "01:07:12" + Blanks(12));
    EXPECT_EQ(al.size(), 75u);
    const std::string sl = SLExportLine({"3", "01:02:03", "00:05:09", "01:07:12"});
    EXPECT_EQ(sl, "3" + Blanks(9) + "01:02:03" + Blanks(7) + "00:05:09" + Blanks(8) + "01:07:12" +
                      Blanks(21));
    EXPECT_EQ(sl.size(), 70u);
}

TEST(ExportLines, ShortTimesLongValuesAndOverruns) {
    // A seven-character time gets its leading zero.
    const std::string call =
        CallExportLine({"05.03.2007", "9:05:07", "0:01:35", "105", "201", "3", "1"});
    EXPECT_EQ(call.substr(12, 8), "09:05:07");
    EXPECT_EQ(call.substr(22, 8), "00:01:35");
    // A programmed number of eight characters is overrun by the trunk.
    const std::string over =
        CallExportLine({"05.03.2007", "14:02:07", "00:01:35", "105", "12345678", "3", "1"});
    EXPECT_EQ(over.substr(38, 9),
              "12345673"
              "8");
    // Traffic of 100 hours or more: the next value still starts in its column.
    const std::string al = ALExportLine({"105", "201", "100:00:00", "00:05:09", "1234:00:00"});
    EXPECT_EQ(al.substr(24, 9), "100:00:00");
    EXPECT_EQ(al.substr(39, 8), "00:05:09");
    EXPECT_EQ(al.substr(55, 10), "1234:00:00");
    // Positions count characters, not bytes.
    const std::string sl = SLExportLine({"Т1", "01:02:03", "00:05:09", "01:07:12"});
    EXPECT_EQ(Utf8ToCp1251(sl).size(), 71u);
    EXPECT_EQ(Utf8ToCp1251(sl).substr(10, 8), "01:02:03");
}

TEST(ExportLines, InsertAtAppendsToShortLines) {
    std::string line = "abc";
    InsertAt(line, "X", 10);
    EXPECT_EQ(line, "abcX");
    InsertAt(line, "Y", 5);
    EXPECT_EQ(line, "abcXY");
    InsertAt(line, "Z", 1);
    EXPECT_EQ(line, "ZabcXY");
    InsertAt(line, "W", 3);
    EXPECT_EQ(line, "ZaWbcXY");
}

TEST(WriteLinesToFile, WritesWindows1251WithCrLf) {
    TTempDir dir;
    const std::string path = dir.File("out.txt");
    WriteFile(path, std::string(1000, 'z'));  // an older, longer file is cut
    ASSERT_EQ(WriteLinesToFile({kSLExportHeader}, path), TFileResult{});
    const std::string header1251 =
        "\xC0\xEF\xEF.\xD1\xCB   \xC8\xF1\xF5. \xF2\xF0\xE0\xF4\xE8\xEA    \xC2\xF5. "
        "\xF2\xF0\xE0\xF4\xE8\xEA     \xCE\xE1\xF9\xE8\xE9 \xF2\xF0\xE0\xF4\xE8\xEA";
    EXPECT_EQ(ReadFile(path), header1251 + "\r\n");

    ASSERT_TRUE(WriteLinesToFile({kALExportHeader, "a", "", "b"}, path).Ok());
    EXPECT_EQ(ReadFile(path), Utf8ToCp1251(kALExportHeader) + "\r\na\r\n\r\nb\r\n");
    EXPECT_EQ(Cp1251ToUtf8(Utf8ToCp1251(kCallExportHeader)), kCallExportHeader);
}

TEST(WriteLinesToFile, FailuresCarryTheErrorNumber) {
    TTempDir dir;
    const TFileResult cannotOpen{TFileStatus::CannotOpen, ENOENT};
    EXPECT_EQ(WriteLinesToFile({"x"}, dir.File("no/such/dir/out.txt")), cannotOpen);
    EXPECT_EQ(WriteLinesToFile({"x"}, dir.Path()), (TFileResult{TFileStatus::CannotOpen, EISDIR}));
    // A write that fails is not reported as written.
    if (access("/dev/full", W_OK) == 0) {
        EXPECT_EQ(WriteLinesToFile({std::string(100000, 'x')}, "/dev/full"),
                  (TFileResult{TFileStatus::CannotWrite, ENOSPC}));
    }
    if (geteuid() != 0) {
        const std::string ro = dir.File("ro");
        ASSERT_EQ(mkdir(ro.c_str(), 0555), 0);
        EXPECT_EQ(WriteLinesToFile({"x"}, ro + "/out.txt"),
                  (TFileResult{TFileStatus::CannotOpen, EACCES}));
    }
}

TEST(WriteLinesToFile, RefusesPipesSocketsAndTheKeptFile) {
    TTempDir dir;
    const std::string fifo = dir.File("fifo"), sock = dir.File("sock"), log = dir.File("log.txt");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, sock.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    close(s);
    WriteFile(log, "calls");
    ASSERT_EQ(link(log.c_str(), dir.File("hard.txt").c_str()), 0);
    ASSERT_EQ(symlink(log.c_str(), dir.File("soft.txt").c_str()), 0);
    TWriteControl keepLog;
    keepLog.Keep = log;
    const std::pair<std::string, TFileStatus> rows[] = {{fifo, TFileStatus::NotAFile},
                                                        {sock, TFileStatus::NotAFile},
                                                        {log, TFileStatus::IsKept},
                                                        {dir.File("hard.txt"), TFileStatus::IsKept},
                                                        {dir.File("soft.txt"), TFileStatus::IsKept},
                                                        {"/dev/null", TFileStatus::Done},
                                                        {dir.File("other.txt"), TFileStatus::Done}};
    for (const auto& [target, status] : rows)
        EXPECT_EQ(WriteLinesToFile(
                      1, [](size_t) { return "x"; }, target, keepLog),
                  (TFileResult{status, 0}))
            << target;
    EXPECT_EQ(ReadFile(log), "calls");
    struct stat st {};
    ASSERT_EQ(stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(ExportRefusalText(TFileStatus::IsKept, "/a/log.txt"),
              "Файл \"/a/log.txt\" — загруженный журнал звонков. Сохраните в другой файл.");
}

TEST(WriteLinesToFile, KeepsTheOwnerOfTheFileReplaced) {
    if (geteuid() != 0) GTEST_SKIP() << "only root gives files away";
    TTempDir dir;
    const std::string out = dir.File("out.txt");
    WriteFile(out, "earlier");
    ASSERT_EQ(chown(out.c_str(), 4321, 5432), 0);
    ASSERT_TRUE(WriteLinesToFile({"new"}, out).Ok());
    struct stat st {};
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 5432u);
    EXPECT_EQ(ReadFile(out), "new\r\n");
}

}  // namespace
