// The trace of the device seam, in memory on a test clock.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>

#include "link/low_level.h"
#include "link/trace_line.h"
#include "tests/common/sim_line.h"
#include "tests/common/test_clock.h"
#include "tests/common/test_support.h"
#include "tools/sim_exchange/sim_exchange.h"

using namespace testing_support;

namespace {

TEST(TraceLine, EveryByteEachWayWithItsTimeAndWhatFailed) {
    TTempDir dir;
    sim::TSimExchange ex;
    ASSERT_TRUE(ex.StartInMemory(TTestClock::kStart));
    auto clock = std::make_shared<TTestClock>();
    std::string why;
    std::FILE* out = OpenTraceFile(dir.File("trace.txt"), why);
    ASSERT_NE(out, nullptr) << why;
    {
        auto device = std::make_shared<TSimDevice>(ex, *clock);
        TLowLevel ll(std::make_shared<TTraceLine>(device, out, clock), clock);
        ASSERT_EQ(ll.OpenPort("COM1"), TOpenResult::Opened);
        EXPECT_EQ(ll.CheckLink(), TLinkCheck::Passed);
        ex.SetSilent(true);
        EXPECT_NE(ll.CheckLink(), TLinkCheck::Passed);
        ex.Vanish();
        EXPECT_NE(ll.CheckLink(), TLinkCheck::Passed);
    }
    std::string echoes;
    for (int i = 0; i < 5; ++i)
        echoes += "0.000000 purge\n0.000000 > 00\n0.000000 < 00\n";
    EXPECT_EQ(ReadFile(dir.File("trace.txt")), "0.000000 open COM1\n0.000000 purge\n" + echoes +
                                                   "0.000000 purge\n"
                                                   "0.000000 > 00\n"
                                                   "0.251000 < -- (251 ms)\n"
                                                   "0.502000 < -- (251 ms)\n"
                                                   "0.502000 purge\n"
                                                   "0.502000 write: ошибка 9 (Input/output error)\n"
                                                   "0.502000 close\n");
}

TEST(TraceLine, AFileThatCannotTakeItIsRefusedAtOnce) {
    TTempDir dir;
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    std::string why;
    EXPECT_EQ(OpenTraceFile(dir.File("fifo"), why), nullptr);
    EXPECT_EQ(why, "Файл трассировки \"" + dir.File("fifo") + "\" не является обычным файлом.");
    EXPECT_EQ(OpenTraceFile(dir.File("none/trace.txt"), why), nullptr);
    EXPECT_EQ(why,
              "Файл трассировки \"" + dir.File("none/trace.txt") + "\": No such file or directory");
}

}  // namespace
