// Identification of every model against the simulated exchange, in memory.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "link/low_level.h"
#include "tests/common/result_printers.h"
#include "tests/common/sim_line.h"
#include "tests/common/test_clock.h"
#include "tools/sim_exchange/sim_exchange.h"

using namespace testing_support;

namespace {

class Identify : public ::testing::Test {
  protected:
    void Start(const sim::TExchangeConfig& config) {
        ex.Config() = config;
        ASSERT_TRUE(ex.StartInMemory(TTestClock::kStart));
    }
    sim::TSimExchange ex;
    TTestClock clock;
    TSimLine line{ex, clock};
    TLowLevel ll{line, clock};
};

struct TModelRow {
    uint8_t type;
    std::string reported;
    std::string model;
    int units;
    bool multi;
    int selects;  // select-unit commands sent
};

void PrintTo(const TModelRow& r, std::ostream* os) {
    *os << int(r.type) << " " << r.reported;
}

class Models : public Identify, public ::testing::WithParamInterface<TModelRow> {};

TEST_P(Models, NameUnitsAndBufferStatusOfEveryUnit) {
    const TModelRow& row = GetParam();
    sim::TExchangeConfig c;
    c.TypeCode = row.type;
    c.Name = row.reported;
    c.Units.assign(3, sim::TUnit{});
    for (int u = 0; u < 3; ++u) {
        c.Units[u].Capacity = static_cast<uint16_t>(100 * (u + 1));
        for (int i = 0; i <= u + 4; ++i)
            c.Units[u].Records.push_back({0x01, 0x02});
    }
    Start(c);
    ASSERT_EQ(ll.IdentifyExchange(), TIdentifyResult::Identified);
    EXPECT_EQ(ll.Identification().ModelName, row.model);
    EXPECT_EQ(ll.Identification().UnitCount, row.units);
    EXPECT_EQ(ll.Identification().MultiUnit, row.multi);
    EXPECT_EQ(ex.SelectCount(), row.selects);
    // Units 0.. hold 5, 6, 7 records in 100, 200, 300 places.
    int capacity = 0, held = 0;
    for (int u = 0; u < row.units; ++u) {
        capacity += 100 * (u + 1);
        held += u + 5;
    }
    EXPECT_EQ(ll.Identification().BufferCapacity, capacity);
    EXPECT_EQ(ll.Identification().RecordsInBuffer, held);
    EXPECT_EQ(ll.Reading.RecordsInBuffer, held);
}

INSTANTIATE_TEST_SUITE_P(Table, Models,
                         ::testing::Values(TModelRow{3, "X", "C", 1, false, 1},
                                           TModelRow{4, "OFFICE", "QTV610", 1, false, 0},
                                           TModelRow{5, "OFFICE", "QS800", 1, false, 1},
                                           TModelRow{6, "OFFICE", "QTV930-1", 1, false, 0},
                                           TModelRow{7, "OFFICE", "QS16", 1, false, 0},
                                           TModelRow{8, "OFFICE", "QS20", 1, false, 0},
                                           TModelRow{9, "OFFICE", "QS31", 1, false, 0},
                                           TModelRow{10, "OFFICE", "QS53", 1, false, 0},
                                           // Reported names: cut to three, or five, or seven bytes.
                                           TModelRow{2, "30B800X", "30B", 3, true, 3},
                                           TModelRow{2, "2-B", "2-B", 2, true, 2},
                                           TModelRow{2, "3A", "3A", 3, true, 3},
                                           TModelRow{2, "QS3100ABC", "QS310", 1, false, 1},
                                           TModelRow{2, "VERANTA-9", "VERANTA", 1, false, 1}));

TEST_F(Identify, VersionSerialTickAndClock) {
    sim::TExchangeConfig c;
    c.Key = 0x33;
    c.VersionMain = 3;
    c.VersionNibbles = 0x15;
    c.Serial = 60001;
    c.TickByte = 2;
    c.Days = 9862;
    c.Ticks = 25263;
    c.Name = "Office";
    Start(c);
    ASSERT_EQ(ll.IdentifyExchange(), TIdentifyResult::Identified);
    EXPECT_EQ(ll.Identification().Key, 0x33);
    EXPECT_EQ(ll.Identification().SoftwareVersion, "31,5");
    EXPECT_EQ(ll.Identification().SerialNumber, "60001");
    EXPECT_EQ(ll.Identification().TickLength, 2);
    EXPECT_EQ(ll.Identification().ExchangeName, "Office");
    const TDateTimeParts t = ll.Identification().ExchangeClock;
    EXPECT_EQ(t.Year, 2007);
    EXPECT_EQ(t.Month, 1);
    EXPECT_EQ(t.Day, 1);
    EXPECT_EQ(t.Hour, 14);
    EXPECT_EQ(t.Minute, 2);
    EXPECT_EQ(t.Second, 6);
}

TEST_F(Identify, ZeroTickByteMeansSixSecondsAndDayZeroIs1980) {
    sim::TExchangeConfig c;
    c.TickByte = 0;
    c.Days = 0;
    c.Ticks = 0;
    c.Name = "ABCDEFGHIJKLMNOPQRSTU";  // longer than the 17 kept
    Start(c);
    ASSERT_EQ(ll.IdentifyExchange(), TIdentifyResult::Identified);
    EXPECT_EQ(ll.Identification().TickLength, 6);
    EXPECT_EQ(ll.Identification().ExchangeClock.Year, 1980);
    EXPECT_EQ(ll.Identification().ExchangeClock.Month, 1);
    EXPECT_EQ(ll.Identification().ExchangeClock.Day, 1);
    EXPECT_EQ(ll.Identification().ExchangeClock.Hour, 0);
    EXPECT_EQ(ll.Identification().ExchangeName, "ABCDEFGHIJKLMNOPQ");
}

class UnknownType : public Identify, public ::testing::WithParamInterface<int> {};

TEST_P(UnknownType, FailsWithMinusThree) {
    sim::TExchangeConfig c;
    c.TypeCode = static_cast<uint8_t>(GetParam());
    Start(c);
    EXPECT_EQ(ll.IdentifyExchange(), TIdentifyResult::UnknownType);
}

INSTANTIATE_TEST_SUITE_P(Codes, UnknownType, ::testing::Values(0, 1, 11, 255));

TEST_F(Identify, ASilentLineFailsAtTheFirstLinkTest) {
    Start({});
    ex.SetSilent(true);
    EXPECT_EQ(ll.IdentifyExchange(), TIdentifyResult::NoEcho);
}

TEST_F(Identify, NoIdentificationReplyIsMinusTwo) {
    Start({});
    ex.SetIdentifySilent(true);
    EXPECT_EQ(ll.IdentifyExchange(), TIdentifyResult::NoReply);
}

TEST_F(Identify, BufferStatusIsAskedAtMostFourTimes) {
    Start({});
    ex.SetStatusChecksumErrors(3);
    EXPECT_EQ(ll.IdentifyExchange(), TIdentifyResult::Identified);
    ex.SetStatusChecksumErrors(4);
    EXPECT_EQ(ll.IdentifyExchange(), TIdentifyResult::StatusFailed);
}

TEST_F(Identify, MoreRecordsThanPlacesIsCountedAndAccepted) {
    sim::TExchangeConfig c;
    c.Units[0].AutoCounters = false;
    c.Units[0].Capacity = 10;
    c.Units[0].Counter1 = 1020;
    c.Units[0].Counter2 = 1000;
    Start(c);
    EXPECT_EQ(ll.IdentifyExchange(), TIdentifyResult::Identified);
    EXPECT_EQ(ll.Reading.RecordsInBuffer, 20);
    EXPECT_EQ(ll.Identification().InconsistentBufferReports, 1);
}

TEST_F(Identify, ARefusedUnitEndsTheIdentification) {
    sim::TExchangeConfig c;
    c.TypeCode = 2;
    c.Name = "2-B";
    c.Units.assign(2, sim::TUnit{});
    c.Units[1].RefuseSelect = true;
    Start(c);
    EXPECT_EQ(ll.IdentifyExchange(), TIdentifyResult::UnitRefused);
}

TEST_F(Identify, AVanishedExchangeFailsTheLinkTest) {
    Start({});
    ex.Vanish();
    EXPECT_EQ(ll.IdentifyExchange(), TIdentifyResult::NoEcho);
}

}  // namespace

namespace {

// A window copies the identification while the reading thread makes it
// anew: it sees a whole one each time (the sanitizers' build catches a copy
// of a half-made one).
TEST_F(Identify, ACopyTakenWhileIdentifyingIsWhole) {
    sim::TExchangeConfig c;
    c.TypeCode = 4;
    c.Units.assign(3, sim::TUnit{});
    Start(c);
    ASSERT_EQ(ll.IdentifyExchange(), TIdentifyResult::Identified);
    const size_t units = ll.Identification().UnitBuffers.size();
    ASSERT_GT(units, 0u);
    std::atomic<bool> done{false};
    std::thread identifying([&] {
        for (int i = 0; i < 200; ++i)
            EXPECT_EQ(ll.IdentifyExchange(), TIdentifyResult::Identified);
        done = true;
    });
    do {
        const TIdentification x = ll.Identification();
        EXPECT_EQ(x.ModelName, ll.Identification().ModelName);
        // Made whole: the totals are the units' own.
        EXPECT_EQ(x.UnitBuffers.size(), units);
        int capacity = 0;
        for (const TUnitBuffer& unit : x.UnitBuffers)
            capacity += unit.Capacity;
        EXPECT_EQ(x.BufferCapacity, capacity);
    } while (!done);
    identifying.join();
    EXPECT_EQ(ll.Identification().UnitBuffers.size(), units);
}

}  // namespace
