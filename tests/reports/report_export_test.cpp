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

std::string Inserted(std::string line, const std::string& t, size_t p) {
    InsertAt(line, t, p);
    return line;
}

// Each row: a line made, and the text expected at its character position
// at, or the whole line when at is 0.
TEST(ExportLines, TextsStandInTheirColumns) {
    struct Row {
        std::string line;
        size_t at;
        std::string text;
    };
    const Row rows[] = {
        {CallExportLine({"05.03.2007", "14:02:07", "00:01:35", "105", "201", "3", "1234567"}), 0,
         "05.03.2007  14:02:07  00:01:35  105   201    3      1234567" + Blanks(9)},
        {ALExportLine({"105", "201", "01:02:03", "00:05:09", "01:07:12"}), 0,
         "105" + Blanks(9) + "201" + Blanks(9) + "01:02:03" + Blanks(7) + "00:05:09" + Blanks(8) +
             "01:07:12" + Blanks(12)},
        {SLExportLine({"3", "01:02:03", "00:05:09", "01:07:12"}), 0,
         "3" + Blanks(9) + "01:02:03" + Blanks(7) + "00:05:09" + Blanks(8) + "01:07:12" +
             Blanks(21)},
        // A seven-character time gets its leading zero.
        {CallExportLine({"05.03.2007", "9:05:07", "0:01:35", "105", "201", "3", "1"}), 12,
         "09:05:07  00:01:35"},
        // A programmed number of eight characters is overrun by the trunk.
        {CallExportLine({"05.03.2007", "14:02:07", "00:01:35", "105", "12345678", "3", "1"}), 38,
         "123456738"},
        // Traffic of 100 hours or more: the next value still starts in its column.
        {ALExportLine({"105", "201", "100:00:00", "00:05:09", "1234:00:00"}), 24,
         "100:00:00      00:05:09        1234:00:00"},
        // Positions count characters, not bytes.
        {Utf8ToCp1251(SLExportLine({"Т1", "01:02:03", "00:05:09", "01:07:12"})), 0,
         "\xD2"
         "1" +
             Blanks(8) + "01:02:03" + Blanks(7) + "00:05:09" + Blanks(8) + "01:07:12" + Blanks(22)},
        // InsertAt appends to a line too short for its position.
        {Inserted("abc", "X", 10), 0, "abcX"},
        {Inserted("abcX", "Y", 5), 0, "abcXY"},
        {Inserted("abcXY", "Z", 1), 0, "ZabcXY"},
        {Inserted("ZabcXY", "W", 3), 0, "ZaWbcXY"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.at ? r.line.substr(r.at, r.text.size()) : r.line, r.text) << r.text;
}

TEST(WriteLinesToFile, WritesWindows1251WithCrLf) {
    TTempDir dir;
    const std::string path = dir.File("out.txt");
    WriteFile(path, std::string(1000, 'z'));  // an older, longer file is cut
    const std::string header1251 =
        "\xC0\xEF\xEF.\xD1\xCB   \xC8\xF1\xF5. \xF2\xF0\xE0\xF4\xE8\xEA    \xC2\xF5. "
        "\xF2\xF0\xE0\xF4\xE8\xEA     \xCE\xE1\xF9\xE8\xE9 \xF2\xF0\xE0\xF4\xE8\xEA";
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{kSLExportHeader}, header1251 + "\r\n"},
        {{kALExportHeader, "a", "", "b"}, Utf8ToCp1251(kALExportHeader) + "\r\na\r\n\r\nb\r\n"},
    };
    for (const auto& [lines, bytes] : rows) {
        ASSERT_EQ(WriteLinesToFile(lines, path), TFileResult{});
        EXPECT_EQ(ReadFile(path), bytes);
    }
    EXPECT_EQ(Cp1251ToUtf8(Utf8ToCp1251(kCallExportHeader)), kCallExportHeader);
}

TEST(WriteLinesToFile, FailuresCarryTheErrorNumber) {
    TTempDir dir;
    struct Row {
        std::string path, line;
        TFileResult result;
    };
    std::vector<Row> rows = {
        {dir.File("no/such/dir/out.txt"), "x", {TFileStatus::CannotOpen, ENOENT}},
        {dir.Path(), "x", {TFileStatus::CannotOpen, EISDIR}},
    };
    // A write that fails is not reported as written.
    if (access("/dev/full", W_OK) == 0)
        rows.push_back({"/dev/full", std::string(100000, 'x'), {TFileStatus::CannotWrite, ENOSPC}});
    const std::string ro = dir.File("ro");
    ASSERT_EQ(mkdir(ro.c_str(), 0555), 0);
    if (geteuid() != 0) rows.push_back({ro + "/out.txt", "x", {TFileStatus::CannotOpen, EACCES}});
    for (const Row& r : rows)
        EXPECT_EQ(WriteLinesToFile({r.line}, r.path), r.result) << r.path;
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

TEST(WriteLinesToFile, FollowsALinkOnlyOfItsOwnOrOfItsTargetsOwner) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    TTempDir dir;
    const std::string victim = dir.File("victim.txt"), sticky = dir.File("tmp");
    WriteFile(victim, "keep");
    ASSERT_EQ(chown(victim.c_str(), 4321, 4321), 0);
    ASSERT_EQ(mkdir(sticky.c_str(), 01777), 0);
    MakeLink(victim, sticky + "/planted", 65534);
    MakeLink(victim, sticky + "/theirs", 4321);
    MakeLink(victim, sticky + "/mine", 0);
    EXPECT_EQ(WriteLinesToFile({"x"}, sticky + "/planted"),
              (TFileResult{TFileStatus::ForeignLink, 0}));
    EXPECT_EQ(ExportRefusal(sticky + "/planted", {}).Status, TFileStatus::ForeignLink);
    EXPECT_EQ(ReadFile(victim), "keep");
    EXPECT_TRUE(WriteLinesToFile({"y"}, sticky + "/theirs").Ok());
    EXPECT_TRUE(WriteLinesToFile({"z"}, sticky + "/mine").Ok());
    EXPECT_EQ(ReadFile(victim), "z\r\n");
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
