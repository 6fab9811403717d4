// The in-memory line to the simulated exchange: how far each read moves the
// test clock, and an exchange that goes away and comes back.
#include "tests/common/sim_line.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "link/comm_error.h"

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

class SimLine : public ::testing::Test {
  protected:
    void Serve(sim::TExchangeConfig cfg = {}) {
        ex = std::make_unique<sim::TSimExchange>(cfg);
        ASSERT_TRUE(ex->StartInMemory(clock.Now()));
        line = std::make_unique<TSimLine>(*ex, clock);
    }
    void Write(std::initializer_list<uint8_t> bytes) {
        for (uint8_t b : bytes)
            line->WriteByte(b);
    }
    std::chrono::nanoseconds Elapsed() { return clock.Now() - TTestClock::kStart; }

    TTestClock clock;
    std::unique_ptr<sim::TSimExchange> ex;
    std::unique_ptr<TSimLine> line;
};

TEST_F(SimLine, AReadTakesUntilTheByteIsThereOrTheWholeTimeOut) {
    Serve();  // status replies 15 ms after the request
    EXPECT_EQ(line->ReadWithin(40), -1);
    EXPECT_EQ(Elapsed(), 40ms);
    Write({0x40, 0x03});
    EXPECT_EQ(line->ReadWithin(10), -1);
    EXPECT_EQ(Elapsed(), 50ms);
    EXPECT_EQ(line->ReadWithin(100), 6);  // the reply's length byte
    EXPECT_EQ(Elapsed(), 55ms);
    EXPECT_GE(line->ReadWithin(0), 0);  // the rest came with it
    EXPECT_EQ(Elapsed(), 55ms);
}

TEST_F(SimLine, PacedAnEchoTakesOneByteTimeEachWay) {
    sim::TExchangeConfig cfg;
    cfg.Paced = true;
    Serve(cfg);
    Write({0x00});
    EXPECT_EQ(line->ReadWithin(1000), 0x00);
    EXPECT_EQ(Elapsed(), 2 * sim::kByteTime);
}

TEST_F(SimLine, APurgeDropsWhatHasArrivedOnly) {
    Serve();
    Write({0x00, 0x40, 0x03});
    line->PurgeInput();  // the echo, not the status reply still to come
    EXPECT_EQ(line->ReadWithin(100), 6);
    EXPECT_EQ(Elapsed(), 15ms);
}

// The code of the ECommError f raises, 0 when none.
int ErrorCode(const std::function<void()>& f) {
    try {
        f();
    } catch (const ECommError& e) {
        return e.Code;
    }
    return 0;
}

class GoneExchange : public SimLine, public ::testing::WithParamInterface<bool> {};

TEST_P(GoneExchange, FailsReadsAndWritesUntilItIsBackAndTheLineReopened) {
    sim::TExchangeConfig cfg;
    cfg.Paced = GetParam();  // paced, it goes during the read
    cfg.Units[0].Records = {{0x0F, 0xFF}};
    Serve(cfg);
    ex->ArmRecordFault(sim::TReplyFault::Vanish, 1, 100ms);
    Write({0x02});
    EXPECT_EQ(ErrorCode([&] { line->ReadWithin(50); }), kErrRead);
    EXPECT_EQ(ErrorCode([&] { line->WriteByte(0x00); }), kErrWrite);
    clock.Sleep(99ms);
    EXPECT_EQ(ErrorCode([&] { line->ReadWithin(0); }), kErrRead);
    clock.Sleep(2ms);
    // Back, but a line that lost its device stays dead until reopened.
    EXPECT_EQ(ErrorCode([&] { line->WriteByte(0x00); }), kErrWrite);
    line->Reopen();
    Write({0x00});
    EXPECT_EQ(line->ReadWithin(10), 0x00);
}

INSTANTIATE_TEST_SUITE_P(Pacing, GoneExchange, ::testing::Bool());

}  // namespace
