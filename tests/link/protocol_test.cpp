// The exchange protocol byte for byte, against a scripted far end in memory
// on a test clock: every wait is counted, none is waited out.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "link/low_level.h"
#include "tests/common/result_printers.h"
#include "tests/common/scripted_exchange.h"
#include "tests/common/scripted_line.h"
#include "tests/common/test_clock.h"

using namespace testing_support;

namespace {

constexpr uint8_t kKey = 0x5A;

class Protocol : public ::testing::Test {
  protected:
    void SetUp() override {
        TIdentification known;
        known.Key = kKey;
        ll.AdoptIdentification(known);
    }
    // What the program sent, with the echo test's zero bytes left out.
    std::vector<uint8_t> Commands() const {
        std::vector<uint8_t> r = line.Written();
        r.erase(std::remove(r.begin(), r.end(), 0x00), r.end());
        return r;
    }
    // Milliseconds the protocol has waited so far.
    long long WaitedMs() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(clock.Now() -
                                                                     TTestClock::kStart)
            .count();
    }
    TScriptedExchange exchange;
    TTestClock clock;
    TScriptedLine line{clock, [this](uint8_t b) { return exchange(b); }};
    TLowLevel ll{line, clock};
};

TEST_F(Protocol, CheckLinkNeedsFiveGoodEchoes) {
    EXPECT_EQ(ll.CheckLink(), TLinkCheck::Passed);
    EXPECT_EQ(exchange.Echoes(), 5);
    exchange.Echo(10, 0x55);  // the fifth echo of the second test is wrong
    EXPECT_EQ(ll.CheckLink(), TLinkCheck::Failed);
    EXPECT_EQ(exchange.Echoes(), 10);
}

TEST_F(Protocol, CheckLinkRetrySucceedsAtTheFourthAttempt) {
    exchange.Echo(1, 0x01);
    exchange.Echo(2, -1);  // silence fails like a wrong byte
    exchange.Echo(3, 0x80);
    EXPECT_EQ(ll.CheckLinkRetry(), TLinkCheck::Passed);
    EXPECT_EQ(exchange.Echoes(), 3 + 5);
}

TEST_F(Protocol, CheckLinkRetryGivesUpAfterFourAttempts) {
    for (int n = 1; n <= 4; ++n)
        exchange.Echo(n, 0x33);
    exchange.Echo(5, 0x33);
    EXPECT_EQ(ll.CheckLinkRetry(), TLinkCheck::Failed);
    EXPECT_EQ(exchange.Echoes(), 4);
}

TEST_F(Protocol, ModeTwoSendsTheScrambledBlockAndItsSum) {
    exchange.Reply(0xF0, {Frame({0x02, 0x44, 0x05, 0x00}, kKey)});
    uint8_t reply[255] = {};
    int len = 0;
    const uint8_t block[] = {0xFF};
    ASSERT_EQ(ll.Transact(reply, len, TCommand::LineState, true, block, 1, 0x01),
              TTransactResult::Replied);
    // The complement of the key, once as data and once as the checksum.
    const uint8_t notKey = static_cast<uint8_t>(~kKey);
    EXPECT_EQ(Commands(), (std::vector<uint8_t>{0xF0, 0x01, 0x01, notKey, notKey}));
    ASSERT_EQ(len, 4);
    EXPECT_EQ(std::vector<uint8_t>(reply, reply + 4), (std::vector<uint8_t>{2, 0x44, 5, 0}));
}

TEST_F(Protocol, AByteEqualToTheKeyDescramblesToZero) {
    exchange.Reply(0x02, {Frame({0x00, 0x11, 0x00}, kKey)});
    uint8_t reply[255] = {};
    int len = 0;
    ASSERT_EQ(ll.Transact(reply, len, TCommand::FirstRecord, true), TTransactResult::Replied);
    ASSERT_EQ(len, 3);
    EXPECT_EQ(reply[0], 0x00);
    EXPECT_EQ(reply[1], 0x11);
    EXPECT_EQ(reply[2], 0x00);
}

TEST_F(Protocol, TheChecksumCoversTheBytesAsTheyTravelled) {
    // Summed after descrambling instead: wrong on the line.
    std::vector<uint8_t> f = Frame({0x01, 0x02, 0x03}, kKey);
    f.back() = 0x06;
    exchange.Reply(0x02, {f});
    uint8_t reply[255] = {};
    int len = 0;
    EXPECT_EQ(ll.Transact(reply, len, TCommand::FirstRecord, true), TTransactResult::Failed);
    // Without the test the same reply is taken.
    EXPECT_EQ(ll.Transact(reply, len, TCommand::FirstRecord, false), TTransactResult::Replied);
    EXPECT_EQ(reply[2], 0x03);
}

// A line that keeps repeating a reply: a mismatch is read again without a
// new request, at most three times.
struct TRereadRow {
    int badCopies;
    TTransactResult expected;
};

void PrintTo(const TRereadRow& r, std::ostream* os) {
    *os << r.badCopies << " bad";
}

class Rereads : public Protocol, public ::testing::WithParamInterface<TRereadRow> {};

TEST_P(Rereads, AreBounded) {
    const std::vector<uint8_t> good = Frame({0x07, 0x08}, kKey);
    std::vector<uint8_t> bad = good;
    bad.back() ^= 0xFF;
    std::vector<uint8_t> stream;
    for (int i = 0; i < GetParam().badCopies; ++i)
        stream.insert(stream.end(), bad.begin() + 1, bad.end());
    stream.insert(stream.begin(), good[0]);
    stream.insert(stream.end(), good.begin() + 1, good.end());
    exchange.Reply(0x02, {stream});
    uint8_t reply[255] = {};
    int len = 0;
    EXPECT_EQ(ll.Transact(reply, len, TCommand::FirstRecord, true), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Checksum, Rereads,
                         ::testing::Values(TRereadRow{0, TTransactResult::Replied},
                                           TRereadRow{3, TTransactResult::Replied},
                                           TRereadRow{4, TTransactResult::Failed}));

TEST_F(Protocol, NoLengthByteIsNoReply) {
    uint8_t reply[255] = {};
    int len = 0;
    EXPECT_EQ(ll.Transact(reply, len, TCommand::NextRecord, false), TTransactResult::Replied);
    EXPECT_EQ(len, -1);
}

TEST_F(Protocol, AReplyCutShortFailsAndReadsAsFF) {
    exchange.Reply(0x03, {{0x05, 0x10 ^ kKey, 0x20 ^ kKey}});
    uint8_t reply[255] = {};
    int len = 0;
    EXPECT_EQ(ll.Transact(reply, len, TCommand::NextRecord, false), TTransactResult::Failed);
    EXPECT_EQ(len, 5);
    EXPECT_EQ(reply[4], 0xFF);
}

TEST_F(Protocol, APortErrorDuringTheTransactionFailsIt) {
    TScriptedLine vanishing(clock, [&](uint8_t b) {
        if (b == 0x02) vanishing.Vanish();  // the device goes with the request
        return exchange(b);
    });
    TLowLevel ll(vanishing, clock);
    uint8_t reply[255] = {};
    int len = 0;
    EXPECT_EQ(ll.Transact(reply, len, TCommand::FirstRecord, true), TTransactResult::Failed);
}

// A device that goes away when it is sent byte `at`.
struct TGoingLine {
    TGoingLine(TTestClock& clock, TScriptedExchange& exchange, uint8_t at)
        : line(clock, [this, &exchange, at](uint8_t b) {
              if (b == at) line.Vanish();
              return exchange(b);
          }) {}
    TScriptedLine line;
};

TEST_F(Protocol, ADeviceGoneMidwayIsAResultNeverAnException) {
    TGoingLine identify(clock, exchange, 0x01), select(clock, exchange, 0x84),
        read(clock, exchange, 0x84);
    EXPECT_EQ(TLowLevel(identify.line, clock).IdentifyExchange(), TIdentifyResult::PortError);
    EXPECT_EQ(TLowLevel(select.line, clock).SelectUnit(1, TLowLevel::TSelectCaller::BufferReading),
              TSelectResult::PortError);
    TLowLevel reading(read.line, clock);
    TIdentification twoUnits;
    twoUnits.MultiUnit = true;
    twoUnits.UnitCount = 2;
    reading.AdoptIdentification(twoUnits);
    EXPECT_EQ(reading.ReadBuffer(nullptr), TReadResult::PortError);
}

TEST_F(Protocol, ADeadLinkFailsTheTransactionAfterTwelveLinkTests) {
    exchange.SetSilent(true);
    uint8_t reply[255] = {};
    int len = 0;
    EXPECT_EQ(ll.Transact(reply, len, TCommand::FirstRecord, true), TTransactResult::NoLink);
    // One echo byte per failing link test, nothing else.
    EXPECT_EQ(line.Written(), std::vector<uint8_t>(12, 0x00));
    // Each echo waits 251 ms and 251 more; three pauses of 300 ms between
    // four tries, two of 300 ms between three rounds.
    EXPECT_EQ(WaitedMs(), 3 * (4 * 502 + 3 * 300) + 2 * 300);
}

TEST_F(Protocol, SelectUnitSendsTheUnitScrambledTwice) {
    exchange.Reply(0x84, {{0x84, 0x00}});
    EXPECT_EQ(ll.SelectUnit(2, TLowLevel::TSelectCaller::BufferReading), TSelectResult::Selected);
    EXPECT_EQ(line.Written(), (std::vector<uint8_t>{0x84, 0x01, 2 ^ kKey, 2 ^ kKey}));
}

TEST_F(Protocol, ARefusedUnitIsReportedToTheCaller) {
    exchange.Reply(0x84, {{0x84, 0x01}});
    EXPECT_EQ(ll.SelectUnit(1, TLowLevel::TSelectCaller::BufferReading), TSelectResult::Refused);
    // No answer at all is a refusal too.
    exchange.Reply(0x84, {{}});
    EXPECT_EQ(ll.SelectUnit(0, TLowLevel::TSelectCaller::Identification), TSelectResult::Refused);
}

}  // namespace
