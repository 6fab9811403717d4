// The write counter's decisions and the log file's bytes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "realtime/real_time_log.h"
#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

const std::vector<std::string> kView = {"АЛ205(0)   СЛ204(1)   ", "ГГС200(3)   "};

struct TQuery {
    int period;
    bool writing;
};

struct TCounterRow {
    const char* name;
    std::vector<TQuery> queries;
    std::vector<TLogStep> expected;
};

void PrintTo(const TCounterRow& r, std::ostream* os) {
    *os << r.name;
}

class WriteCounter : public ::testing::TestWithParam<TCounterRow> {};

TEST_P(WriteCounter, DecidesWhenTheCounterReachesThePeriod) {
    TTempDir dir;
    TRealTimeLog log;
    std::vector<TLogStep> steps;
    for (const TQuery& q : GetParam().queries)
        steps.push_back(log.AfterQuery(kView, q.period, q.writing, dir.File("rt.log")));
    EXPECT_EQ(steps, GetParam().expected);
}

constexpr TQuery W1{1, true}, W3{3, true}, W5{5, true}, Off2{2, false}, W2{2, true};
constexpr TQuery W10{10, true};
using S = TLogStep;

INSTANTIATE_TEST_SUITE_P(
    Rules, WriteCounter,
    ::testing::Values(
        TCounterRow{"PeriodOne", {W1, W1, W1}, {S::Written, S::Written, S::Written}},
        TCounterRow{"PeriodThree",
                    {W3, W3, W3, W3, W3, W3},
                    {S::Counted, S::Counted, S::Written, S::Counted, S::Counted, S::Written}},
        TCounterRow{"RaisedAtOnce",
                    {W3, W5, W5, W5, W5},
                    {S::Counted, S::Counted, S::Counted, S::Counted, S::Written}},
        TCounterRow{"LoweredBelowTheCounter",
                    {W10, W10, W10, W10, W3},
                    {S::Counted, S::Counted, S::Counted, S::Counted, S::Written}},
        TCounterRow{"UncheckedClosesAtTheNextDecision",
                    {W2, W2, Off2, Off2, Off2, Off2},
                    {S::Counted, S::Written, S::Counted, S::Closed, S::Counted, S::Idle}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RealTimeLog, AFileThatBecomesUnwritableIsClosed) {
    TRealTimeLog log;
    // A full file system takes the opening but not the bytes.
    EXPECT_EQ(log.AfterQuery({"x"}, 1, true, "/dev/full"), TLogStep::WriteFailed);
    EXPECT_FALSE(log.IsOpen());
    // A removed file is not written on unseen: its name is opened again.
    TTempDir dir;
    const std::string folder = dir.File("logs"), path = folder + "/rt.log";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(log.AfterQuery({"x"}, 1, true, path), TLogStep::Written);
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(log.AfterQuery({"y"}, 1, true, path), TLogStep::Written);
    EXPECT_EQ(ReadFile(path), "y\r\n");
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(rmdir(folder.c_str()), 0);
    EXPECT_EQ(log.AfterQuery({"z"}, 1, true, path), TLogStep::OpenFailed);
}

TLogStep WriteUnderASizeLimit(const std::string& path, rlim_t bytes) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_FSIZE, &limit);
    TRealTimeLog log;
    return log.AfterQuery(kView, 1, true, path);
}

TEST(RealTimeLog, AWriteCutShortLeavesNoPartOfItsBlock) {
    TTempDir dir;
    const std::string path = dir.File("rt.log");
    WriteFile(path, "earlier\r\n");
    // A size limit in a child stands for a full disc: the block's write
    // stops after 10 bytes, then fails with EFBIG.
    EXPECT_EXIT(_exit(WriteUnderASizeLimit(path, 19) == TLogStep::WriteFailed ? 0 : 1),
                ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadFile(path), "earlier\r\n");
}

TEST(RealTimeLog, OnlyARegularFileOrADeviceTakesTheLog) {
    TTempDir dir;
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // With a reader a FIFO would take the bytes; without one the opening
    // would wait for one.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    TRealTimeLog log;
    ASSERT_EQ(log.AfterQuery(kView, 1, true, fifo), TLogStep::OpenFailed);
    close(reader);
    EXPECT_EQ(log.AfterQuery(kView, 1, true, fifo), TLogStep::OpenFailed);
    EXPECT_EQ(log.AfterQuery(kView, 1, true, "/dev/null"), TLogStep::Written);
}

TEST(RealTimeLog, RootFollowsItsOwnLinksToItsOwnFilesOnly) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    TTempDir dir;
    const std::string mine = dir.File("mine.log"), theirs = dir.File("theirs.log");
    WriteFile(mine, "");
    WriteFile(theirs, "");
    ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
    MakeLink(mine, dir.File("planted"), 65534);
    MakeLink(theirs, dir.File("to-theirs"), 0);
    MakeLink(dir.File("none.log"), dir.File("dangling"), 0);
    MakeLink(mine, dir.File("to-mine"), 0);
    const std::pair<const char*, TLogStep> rows[] = {{"planted", TLogStep::LinkRefused},
                                                     {"to-theirs", TLogStep::LinkRefused},
                                                     {"dangling", TLogStep::OpenFailed},
                                                     {"to-mine", TLogStep::Written}};
    for (const auto& [name, step] : rows) {
        TRealTimeLog log;
        EXPECT_EQ(log.AfterQuery({"x"}, 1, true, dir.File(name)), step) << name;
    }
    EXPECT_EQ(ReadFile(mine), "x\r\n");
    EXPECT_EQ(ReadFile(theirs), "");
    EXPECT_FALSE(Exists(dir.File("none.log")));
}

TEST(RealTimeLog, TimeStampInTheShortDateFormat) {
    const QDateTime at(QDate(2024, 3, 5), QTime(9, 7, 5));
    EXPECT_EQ(TimeStampLine(at, QLocale(QLocale::Russian)),
              "****** Дата и время считывания: 05.03.2024   09:07:05");
}

}  // namespace
