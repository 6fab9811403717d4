#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>

#include "base/cp1251.h"
#include "billing/directory.h"
#include "billing/period.h"
#include "billing/tariffs.h"
#include "reports/report_export.h"
#include "reports/report_session.h"
#include "tests/common/test_support.h"
#include "tests/reports/report_sample.h"

using namespace testing_support;

namespace {

std::string Dotted(int y, int m, int d) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", d, m, y);
    return buf;
}

std::string Lines(std::initializer_list<std::string> lines) {
    std::string bytes;
    for (const std::string& l : lines)
        bytes += Utf8ToCp1251(l) + "\r\n";
    return bytes;
}

struct ReportSession : testing::Test {
    TTempDir dir;
    std::string sample = dir.File("calls.txt");
    TReportSession session{Dotted};
    void SetUp() override {
        WriteFile(sample, ReportSampleFile());
        ASSERT_TRUE(session.Load(sample).Ok());
    }
    std::string Export(TExportKind kind) {
        const std::string out = dir.File("out.txt");
        EXPECT_TRUE(session.Export(kind, out).Ok());
        return ReadFile(out);
    }
};

TEST_F(ReportSession, LoadFillsTheGridsAndEachExportIsWhatTheyShow) {
    EXPECT_EQ(session.Caption(), "Кол-во строк: 11");
    ASSERT_EQ(session.CallGrid().RowCount(), 9u);
    const std::array<std::string, 7> midnight = {"05.03.2007", "23:59:50", "23:59:59", "105",
                                                 "201",        "3",        "8123"};
    EXPECT_EQ(session.CallGrid().Cells(1), midnight);

    const std::string calls = Export(TExportKind::Calls);
    EXPECT_EQ(calls.substr(0, calls.find("\r\n")), Utf8ToCp1251(kCallExportHeader));
    EXPECT_NE(calls.find("\r\n06.03.2007  00:00:10  23:59:59  105   201    3" +
                         std::string(15, ' ') + "\r\n"),
              std::string::npos);
    EXPECT_NE(calls.find("\r\n06.03.2007  11:00:00  00:00:30  7     17     9      800" +
                         std::string(6, ' ') + "\r\n"),
              std::string::npos);

    EXPECT_EQ(Export(TExportKind::Lines),
              Lines({kALExportHeader,
                     "105         201         120:01:30      23:59:59        144:01:29"
                     "             ",
                     "7           17          00:00:40       00:00:00        00:00:40         "}));
    EXPECT_EQ(Export(TExportKind::Trunks),
              Lines({kSLExportHeader,
                     "3         48:01:33       23:59:59        72:01:32                     ",
                     "9         48:00:28       00:00:00        48:00:28                     ",
                     "10        24:00:09       00:00:00        24:00:09                      "}));
}

TEST(ReportSessionTitles, AFileOfTitlesOnlyShowsHeadersAndTheNextLoadWorks) {
    TTempDir dir;
    const std::string titles =
        ReportSampleFile().substr(0, ReportSampleFile().find("\r\n05-03") + 2);
    WriteFile(dir.File("titles.txt"), titles);
    TReportSession session(Dotted);
    ASSERT_TRUE(session.Load(dir.File("titles.txt")).Ok());
    EXPECT_EQ(session.Caption(), "Кол-во строк: 2");
    EXPECT_EQ(
        session.CallGrid().RowCount() + session.ALGrid().RowCount() + session.SLGrid().RowCount(),
        0u);
    ASSERT_TRUE(session.Export(TExportKind::Calls, dir.File("out.txt")).Ok());
    EXPECT_EQ(ReadFile(dir.File("out.txt")), Lines({kCallExportHeader}));
    WriteFile(dir.File("calls.txt"), ReportSampleFile());
    ASSERT_TRUE(session.Load(dir.File("calls.txt")).Ok());
    EXPECT_EQ(session.CallGrid().RowCount(), 9u);
}

TEST_F(ReportSession, SortsAndQueriesRewriteOnlyTheirOwnGrid) {
    session.SortSL(TSLSortKey::Trunk);  // text order: "10" before "3" and "9"
    EXPECT_EQ(session.SLGrid().Cells(0)[0], "10");
    session.SortAL(TALSortKey::HwLine);
    EXPECT_EQ(session.ALGrid().Cells(0)[0], "7");
    EXPECT_EQ(session.SLGrid().Cells(0)[0], "10");

    struct Row {
        const char* number;
        const char* prefix;
        bool byProgrammed;
        std::vector<std::string> dialled;
    };
    const Row rows[] = {
        {" 201", "8", true, {"8123", "8", "800"}},  // not 78 nor 5800
        {"7", "", false, {"800", "5551234"}},       // one-digit hardware number
        {"", "", true, {"1234567", "8123", "", "78", "5800", "8", "800", "800", "5551234"}},
        {"201", "", false, {""}},  // selects nothing: one empty row
    };
    for (const Row& r : rows) {
        session.Query(r.number, r.prefix, r.byProgrammed);
        std::vector<std::string> dialled;
        for (size_t i = 0; i < session.CallGrid().RowCount(); ++i)
            dialled.push_back(session.CallGrid().Cells(i)[6]);
        EXPECT_EQ(dialled, r.dialled) << r.number << "/" << r.prefix;
    }
    EXPECT_EQ(Export(TExportKind::Calls),
              Lines({kCallExportHeader, "  0  0" + std::string(24, ' ')}));
    EXPECT_EQ(session.Caption(), "Кол-во строк: 11");
    EXPECT_EQ(session.ALGrid().RowCount(), 2u);
}

TEST_F(ReportSession, NewListsEmptyTheSortsButTheGridsKeepTheirTexts) {
    session.CreateLists();  // the window shown again
    EXPECT_EQ(session.CallGrid().RowCount(), 9u);
    EXPECT_EQ(session.ALGrid().Cells(0)[0], "105");
    session.SortAL(TALSortKey::TotalTraffic);
    EXPECT_EQ(session.ALGrid().RowCount(), 0u);
    session.Query("", "", true);
    EXPECT_EQ(session.CallGrid().RowCount(), 1u);
    EXPECT_EQ(session.SLGrid().RowCount(), 3u);
}

TEST_F(ReportSession, AFailedOrCancelledLoadChangesNothing) {
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    WriteFile(dir.File("other.txt"), ReportSampleFile() + ReportSampleFile());
    struct Row {
        std::string path;
        TFileResult result;
    };
    const Row rows[] = {{dir.File("missing.txt"), {TFileStatus::CannotOpen, ENOENT}},
                        {dir.Path(), {TFileStatus::CannotOpen, EISDIR}},
                        // Refused at once, never waits for a writer.
                        {fifo, {TFileStatus::CannotOpen, EINVAL}},
                        {dir.File("other.txt"), {TFileStatus::Cancelled, 0}}};
    for (const Row& r : rows) {
        EXPECT_EQ(session.Load(r.path, [](uint64_t, uint64_t) { return false; }), r.result)
            << r.path;
        EXPECT_EQ(session.Caption(), "Кол-во строк: 11");
        EXPECT_EQ(session.Lists().LineList().Count(), 9u);
        EXPECT_EQ(session.CallGrid().RowCount(), 9u);
    }
}

// One call for every export: refusals come before the question about an
// existing file, and the writer runs only once both let it.
TEST_F(ReportSession, EveryExportIsRefusedOrAskedAboutBeforeItIsWritten) {
    const std::string fifo = dir.File("fifo"), earlier = dir.File("earlier.csv");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Row {
        TExportKind kind;
        std::string path;
        bool answer;
        TFileResult result;
        bool asked;
        int runs;
    };
    const Row rows[] = {
        {TExportKind::Calls, sample, true, {TFileStatus::IsKept, 0}, false, 0},
        {TExportKind::Workbook, fifo, true, {TFileStatus::NotAFile, 0}, false, 0},
        {TExportKind::LinesCsv, earlier, false, {TFileStatus::Declined, 0}, true, 0},
        {TExportKind::CallsCsv,
         dir.File("no/out.csv"),
         true,
         {TFileStatus::CannotOpen, ENOENT},
         false,
         1},
        {TExportKind::TrunksCsv, earlier, true, {}, true, 1},
    };
    WriteFile(earlier, "earlier");
    for (const Row& r : rows) {
        bool asked = false;
        int runs = 0;
        TExportOptions options;
        options.ConfirmReplace = [&] { return asked = true, r.answer; };
        options.Run = [&runs](const std::function<TFileResult()>& write) {
            ++runs;
            return write();
        };
        EXPECT_EQ(session.Export(r.kind, r.path, options), r.result) << r.path;
        EXPECT_EQ(asked, r.asked) << r.path;
        EXPECT_EQ(runs, r.runs) << r.path;
    }
    EXPECT_EQ(ReadFile(sample), ReportSampleFile());
    EXPECT_EQ(ReadFile(earlier).substr(0, 15), "\xEF\xBB\xBFАпп. СЛ");
}

TEST(WriteLinesToFile, AFailedExportLeavesTheEarlierFileAsItWas) {
    TTempDir dir;
    const std::string out = dir.File("out.txt");
    WriteFile(out, "earlier");
    ASSERT_EQ(chmod(out.c_str(), 0640), 0);
    // A file system that fills up: the file size limit fails the write.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const TFileResult result = WriteLinesToFile(
        3000, [](size_t) { return std::string(60, 'x'); }, out);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(result, (TFileResult{TFileStatus::CannotWrite, EFBIG}));
    EXPECT_EQ(ReadFile(out), "earlier");

    // A good export replaces the file through a link and keeps its mode.
    const std::string link = dir.File("link.txt");
    ASSERT_EQ(symlink(out.c_str(), link.c_str()), 0);
    ASSERT_TRUE(WriteLinesToFile({"new"}, link).Ok());
    EXPECT_EQ(ReadFile(out), "new\r\n");
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // Nothing is left behind beside it.
    const auto entries = std::filesystem::directory_iterator(dir.Path());
    EXPECT_EQ(std::distance(begin(entries), end(entries)), 2);
}

}  // namespace

TEST_F(ReportSession, TablesAddColumnsToTheSheetsAndAPeriodKeepsAQuery) {
    const std::string fixedBefore = Export(TExportKind::Calls);
    auto tariffs = std::make_shared<TTariffs>();
    ASSERT_TRUE(tariffs->Parse("8;Межгород;5,50\n*;Город;1,00;0,10;60;60;5\n").Ok());
    auto directory = std::make_shared<TDirectory>();
    ASSERT_TRUE(directory->Parse("17;Петров П.;Склад\n").Ok());
    session.SetTariffs(tariffs);
    session.SetDirectory(directory);
    session.Query("17", "", true);
    int32_t day = 0;
    ASSERT_TRUE(ParseIsoDate("2007-03-06", day));
    TPeriod period;
    period.FromDay = day;
    session.SetPeriod(period);
    EXPECT_EQ(Export(TExportKind::CallsCsv),
              "\xEF\xBB\xBF"
              "Дата;Время;Длительность;Апп. АЛ;Прг. АЛ;Имя;Отдел;Номер СЛ;Внешний номер;Зона;"
              "Стоимость\r\n"
              "06.03.2007;11:00:00;00:00:30;7;17;Петров П.;Склад;9;800;Межгород;5,50\r\n"
              "06.03.2007;11:30:00;00:00:10;7;17;Петров П.;Склад;10;5551234;Город;1,10\r\n");
    EXPECT_EQ(Export(TExportKind::TrunksCsv),
              "\xEF\xBB\xBF"
              "Апп. СЛ;Исх. трафик;Вх. трафик;Общий трафик;Звонков;Стоимость\r\n"
              "3;23:59:59;23:59:59;47:59:58;1;1440,10\r\n"
              "9;48:00:28;00:00:00;48:00:28;3;9365,60\r\n"
              "10;24:00:09;00:00:00;24:00:09;2;7921,10\r\n");
    EXPECT_TRUE(session.Export(TExportKind::Workbook, dir.File("book.xlsx")).Ok());
    EXPECT_NE(ZipMember(dir.File("book.xlsx"), "xl/worksheets/sheet1.xml").find("Межгород"),
              std::string::npos);

    // Another table rates every call again.
    auto flat = std::make_shared<TTariffs>();
    ASSERT_TRUE(flat->Parse("*;Всё;2,00\n").Ok());
    session.SetTariffs(flat);
    const std::string again = Export(TExportKind::CallsCsv);
    EXPECT_NE(again.find(";9;800;Всё;2,00\r\n"), std::string::npos) << again;

    session.SetPeriod({});
    session.Query("", "", true);
    session.SetTariffs(nullptr);
    session.SetDirectory(nullptr);
    EXPECT_EQ(Export(TExportKind::Calls), fixedBefore);
}
