// The record left unacknowledged by the exchange: what the state file
// keeps, that damage means nothing is skipped, and that a kill at any
// moment of a reading neither loses nor doubles a call.
#include "acquisition/unacknowledged_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/make_shared.hpp>

#include "acquisition/call_log.h"
#include "tests/acquisition/call_log_lines.h"
#include "tests/common/sim_line.h"
#include "tests/common/test_clock.h"
#include "tests/common/test_support.h"
#include "tools/sim_exchange/sim_exchange.h"

using namespace testing_support;

namespace {

TEST(UnacknowledgedFile, KeepsEachUnitsRecordWithItsLineAndGoesWhenEmpty) {
    TTempDir dir;
    const std::string path = dir.File("Tallyphon.state");
    TUnacknowledgedFile file(path);
    const std::map<int, TUnacknowledged> records = {{0, {{0x01, 0xA0}, 120, "ab\r\n"}},
                                                    {2, {{0x0F, 0xFF}, 0, "c\r\n"}}};
    EXPECT_TRUE(file.Save(records).IsOpen());
    EXPECT_EQ(ReadFile(path),
              "TALLYPHON-UNACKNOWLEDGED 2\n0 01a0 120 61620d0a\n2 0fff 0 630d0a\nEND\n");
    EXPECT_EQ(TUnacknowledgedFile(path).Load(), records);
    EXPECT_FALSE(file.Save({}).IsOpen());
    EXPECT_FALSE(Exists(path));
    EXPECT_FALSE(Exists(path + ".tmp"));
    file.RemoveRetired();
    EXPECT_FALSE(Exists(path + ".old"));
}

TEST(UnacknowledgedFile, AnythingDamagedOrMissingMeansNothingToSkip) {
    TTempDir dir;
    const std::string path = dir.File("Tallyphon.state");
    TUnacknowledgedFile file(path);
    EXPECT_TRUE(file.Load().empty());
    const std::string head = "TALLYPHON-UNACKNOWLEDGED 2\n";
    const std::vector<std::string> damaged = {
        head + "0 01a0 0 61\n",                       // cut before its end
        "TALLYPHON-UNACKNOWLEDGED 1\n0 01a0\nEND\n",  // the former format
        head + "0 01a 0 61\nEND\n",                   // half a byte
        head + "0 01A0 0 61\nEND\n",                  // not as written
        head + "0 01a0 0 61\n0 02b0 0 61\nEND\n",     // one unit twice
        head + "16 01a0 0 61\nEND\n",                 // no such unit
        head + "0 01a0 07 61\nEND\n",                 // a leading zero
        head + "0 01a0 0\nEND\n",                     // no line
        head + "0 01a0 0 61 62\nEND\n",               // a field too many
        head + "0 01a0 0 61\nEND\nmore\n",            // trailing text
        head + "0 " + std::string(512, 'a') + " 0 61\nEND\n"};
    for (const std::string& text : damaged) {
        SCOPED_TRACE(text);
        WriteFile(path, text);
        EXPECT_TRUE(file.Load().empty());
    }
}

TEST(UnacknowledgedFile, NeverWritesThroughALinkNorWaitsOnAFifo) {
    TTempDir dir;
    const std::string path = dir.File("Tallyphon.state");
    const std::string outside = dir.File("outside");
    WriteFile(outside, "keep");
    ASSERT_EQ(symlink(outside.c_str(), (path + ".tmp").c_str()), 0);
    ASSERT_EQ(symlink(outside.c_str(), path.c_str()), 0);
    TUnacknowledgedFile file(path);
    EXPECT_TRUE(file.Load().empty());
    EXPECT_TRUE(file.Save({{0, {{0x01}, 0, "a"}}}).IsOpen());
    EXPECT_EQ(ReadFile(outside), "keep");
    struct stat st;
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));

    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    EXPECT_TRUE(file.Load().empty());  // returns at once
}

// A kill of the program: thrown at a chosen step and caught by the test,
// which then starts the program afresh from what is on the disk.
struct TKilled {};

// Counts the steps of a reading from a record's arrival to the request
// that lets the exchange drop it (each byte-line operation and each step of
// writing its line), kills at step killAt and notes the order of the steps
// that matter: record requests, arrival, state, line, on the disk. While a
// next-record request is on its way no step counts: an identical call
// offered after a kill there cannot be told from the record acknowledged,
// whatever the program keeps.
class TSteps {
  public:
    explicit TSteps(long killAt) : killAt_(killAt) {}
    void Tick(const char* what) {
        const std::string step = what ? what : "";
        if (!step.empty()) order += (order.empty() ? "" : " ") + step;
        if (step == "R") counting_ = true;
        if (counting_) ++count_;
        if (step == "03" && firstNext == 0) firstNext = count_;
        if (counting_ && count_ == killAt_) throw TKilled();
        if (step == "03") counting_ = false;
    }
    long Count() const { return count_; }
    std::string order;
    // The step of the first next-record request.
    long firstNext = 0;

  private:
    long killAt_;
    long count_ = 0;
    bool counting_ = false;
};

class TKillLine : public IByteLine {
  public:
    TKillLine(IByteLine& inner, TSteps& steps) : inner_(inner), steps_(steps) {}
    int ReadWithin(int timeoutMs) override {
        steps_.Tick(nullptr);
        return inner_.ReadWithin(timeoutMs);
    }
    void WriteByte(uint8_t b) override {
        steps_.Tick(b == 0x02 ? "02" : b == 0x03 ? "03" : nullptr);
        inner_.WriteByte(b);
    }
    void PurgeInput() override {
        steps_.Tick(nullptr);
        inner_.PurgeInput();
    }
    void Flush() override {
        steps_.Tick(nullptr);
        inner_.Flush();
    }

  private:
    IByteLine& inner_;
    TSteps& steps_;
};

class KilledReading : public ::testing::Test {
  protected:
    KilledReading() {
        sim::TDayOptions day;
        day.Calls = 3;
        day.Seed = 11;
        day.TwinsEvery = 2;  // an identical later call must be written too
        payloads = sim::GenerateOfficeDay(day);
    }
    // Reads the whole buffer, killed at step killAt (0: never) of the first
    // life and started again until a life drains the buffer. The
    // titleOnlyLives lives after the first write their title and end before
    // the buffer is read: killed, or stopped. Returns the steps of the first
    // life.
    TSteps Run(TTempDir& dir, long killAt, int titleOnlyLives = 0, bool stopped = false) {
        sim::TSimExchange ex;
        ex.Config().Units[0].Records.assign(payloads.begin(), payloads.end());
        TTestClock clock;
        EXPECT_TRUE(ex.StartInMemory(TTestClock::kStart));
        TSimLine simLine(ex, clock);
        TSteps first(killAt);
        for (int life = 0; life < 3 + titleOnlyLives; ++life) {
            TSteps later(0);
            TSteps& steps = life == 0 ? first : later;
            TKillLine line(simLine, steps);
            auto ll = boost::make_shared<TLowLevel>(line, clock);
            ll->Settings.TarifFileName = dir.File("calls.txt");
            // Written where it is asked for, so that a kill can come at
            // any of its steps.
            auto log = boost::make_shared<TCallLog>(ll, dir.File("Tallyphon.state"), true);
            ll->RestoreUnacknowledged(log->RestoreUnacknowledged());
            ll->SetUnacknowledgedStore(log.get());
            log->SetStepHook([&steps](TCallLogStep s) {
                steps.Tick(s == TCallLogStep::Received      ? "R"
                           : s == TCallLogStep::StateSaved  ? "S"
                           : s == TCallLogStep::LineWritten ? "L"
                                                            : "D");
            });
            try {
                if (ll->IdentifyExchange() != TIdentifyResult::Identified) break;
                identification = ll->Identification();
                steps.order.clear();
                if (life >= 1 && life <= titleOnlyLives) {
                    EXPECT_TRUE(
                        WriteTitle(ll->Settings, BuildTitle(identification.ExchangeClock)).Ok());
                    // A stop seen before the first request; a kill leaves
                    // what is on the disk as it is.
                    ll->Reading.StopFlag = stopped;
                    if (!stopped) throw TKilled();
                }
                if (ll->ReadBuffer([&](TRecord r) { log->OnCallRecord(r); }) ==
                    TReadResult::Drained)
                    break;
            } catch (const TKilled&) {
            }
            ll->SetUnacknowledgedStore(nullptr);
        }
        return first;
    }
    std::vector<std::string> Expected() const {
        TLowLevel ll;
        ll.AdoptIdentification(identification);
        return ExpectedCallLines(ll, payloads);
    }

    std::vector<std::vector<uint8_t>> payloads;
    TIdentification identification;
};

TEST_F(KilledReading, EveryLineIsOnTheDiskBeforeTheRequestThatDropsItsRecord) {
    TTempDir dir;
    const TSteps steps = Run(dir, 0);
    EXPECT_EQ(steps.order, "02 R S L D 03 R S L D 03 R S L D 03 R S L D 03");
    EXPECT_EQ(CallLogLines(dir.File("calls.txt")), Expected());
}

// Killed after a line reached the disk and before the request that lets
// the exchange drop its record, then started twice more, each start writing
// its title and ending before the record is offered again.
class InterruptedTwice : public KilledReading, public ::testing::WithParamInterface<bool> {};

TEST_P(InterruptedTwice, TheTitlesWrittenMeanwhileDoubleNoCall) {
    TTempDir dir;
    const long firstNext = Run(dir, 0).firstNext;
    ASSERT_GT(firstNext, 0);
    TTempDir interrupted;
    Run(interrupted, firstNext, 2, GetParam());
    std::vector<std::string> expected = Expected();
    const std::vector<std::string> lines = CallLogLines(interrupted.File("calls.txt"));
    ASSERT_EQ(lines.size(), expected.size() + 4);
    EXPECT_EQ(lines[1], "       Данные на  01-01-2007 00:00:00 ");
    EXPECT_EQ(lines[2], kColumnLine);
    expected.insert(expected.begin() + 1, {lines[1], lines[2], lines[3], lines[4]});
    EXPECT_EQ(lines, expected);
}

INSTANTIATE_TEST_SUITE_P(KilledOrStopped, InterruptedTwice, ::testing::Bool());

TEST_F(KilledReading, AKillAtAnyStepLosesNoCallAndWritesNoneTwice) {
    // Each kill is a run of its own: in memory, where forcing files to the
    // disk costs nothing, as what a kill leaves is what the kernel holds.
    const std::string memory = InMemory();
    long steps = 0;
    {
        TTempDir dir(memory);
        steps = Run(dir, 0).Count();
    }
    ASSERT_GT(steps, 100);
    for (long killAt = 1; killAt <= steps; ++killAt) {
        SCOPED_TRACE("killed at step " + std::to_string(killAt));
        TTempDir dir(memory);
        Run(dir, killAt);
        ASSERT_EQ(CallLogLines(dir.File("calls.txt")), Expected());
    }
}

}  // namespace
