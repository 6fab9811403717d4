// Reading the billing buffer from the simulated exchange in memory: every
// record once, in order, across units, stops and faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <sstream>

#include "link/low_level.h"
#include "tests/common/result_printers.h"
#include "tests/common/sim_line.h"
#include "tests/common/test_clock.h"
#include "tools/sim_exchange/sim_exchange.h"

using namespace testing_support;

namespace {

// The fields of a record as one comparable text.
std::string Fingerprint(const TRecord& r) {
    std::ostringstream s;
    s << r.Year << "-" << r.Month << "-" << r.Day << " " << r.StartHour << ":" << r.StartMin << ":"
      << r.StartSec << " " << r.DurHour << ":" << r.DurMin << ":" << r.DurSec << " " << r.HwLine
      << " " << r.PrgNumber << " " << r.Trunk << " " << r.DialNumber;
    return s.str();
}

bool IsRejected(const std::vector<uint8_t>& p) {
    return p.size() >= 2 && p[0] == 0x0F && p[1] == 0xFF;
}

class Buffer : public ::testing::Test {
  protected:
    void Start(const sim::TExchangeConfig& config) {
        ex.Config() = config;
        ASSERT_TRUE(ex.StartInMemory(TTestClock::kStart));
        ASSERT_EQ(ll.IdentifyExchange(), TIdentifyResult::Identified);
    }
    // Starts an exchange of the default model holding a generated day.
    std::vector<std::vector<uint8_t>> StartDay(int calls, uint32_t seed = 1) {
        sim::TDayOptions day;
        day.Calls = calls;
        day.Seed = seed;
        auto payloads = sim::GenerateOfficeDay(day);
        sim::TExchangeConfig c;
        c.Units[0].Records.assign(payloads.begin(), payloads.end());
        Start(c);
        return payloads;
    }
    // Reads once, collecting fingerprints; returns ReadBuffer's result.
    TReadResult Read() {
        return ll.ReadBuffer([this](TRecord r) { got.push_back(Fingerprint(r)); });
    }
    // What reading the payloads should deliver, in order.
    std::vector<std::string> Expected(const std::vector<std::vector<uint8_t>>& payloads) const {
        std::vector<std::string> e;
        for (const auto& p : payloads)
            if (!IsRejected(p))
                e.push_back(
                    Fingerprint(DecodeRecord(ll.Identification(), p.data(), int(p.size()))));
        return e;
    }

    sim::TSimExchange ex;
    TTestClock clock;
    TSimLine line{ex, clock};
    TLowLevel ll{line, clock};
    std::vector<std::string> got;
};

TEST_F(Buffer, AnEmptyBufferNeverCallsTheCallback) {
    Start({});
    EXPECT_EQ(Read(), TReadResult::Drained);
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(ll.Reading.RejectedRecords, 0);
}

TEST_F(Buffer, KnownCallsArriveDecoded) {
    sim::TExchangeConfig c;
    c.TickByte = 2;
    sim::TSimCall out;
    out.Days = 9925;  // 2007-03-05
    out.Ticks = 25263;
    out.DurationTicks = 47;
    out.HwLine = 121;
    out.PrgDigits = "23";
    out.TrunkCode = 3;
    out.DialDigits = "5551234";
    sim::TSimCall in = out;
    in.DialDigits.clear();
    in.HwLine = 7;
    in.PrgDigits = "";
    c.Units[0].Records = {sim::EncodeRecord(out), sim::EncodeRecord(in)};
    Start(c);
    EXPECT_EQ(Read(), TReadResult::Drained);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], "2007-3-5 14:2:6 0:1:34 121 123 204 5551234");
    EXPECT_EQ(got[1], "2007-3-5 14:2:6 0:1:34 7 -1 204 ");
    EXPECT_EQ(ex.RecordCount(0), 0u);
}

TEST_F(Buffer, AGeneratedDayIsDeliveredOnceInOrderWithRejectsCounted) {
    sim::TDayOptions day;
    day.Calls = 300;
    day.Seed = 7;
    day.RejectedEvery = 17;
    day.ShortEvery = 23;
    const auto payloads = sim::GenerateOfficeDay(day);
    sim::TExchangeConfig c;
    c.Units[0].Capacity = 1000;
    c.Units[0].Records.assign(payloads.begin(), payloads.end());
    Start(c);
    EXPECT_EQ(ll.Reading.RecordsInBuffer, 300);
    int rejected = 0;
    for (const auto& p : payloads)
        rejected += IsRejected(p);
    ASSERT_GT(rejected, 0);

    EXPECT_EQ(Read(), TReadResult::Drained);
    EXPECT_EQ(got, Expected(payloads));
    EXPECT_EQ(ll.Reading.RejectedRecords, rejected);
    EXPECT_EQ(ex.RecordCount(0), 0u);
}

TEST_F(Buffer, EveryUnitOfAMultiUnitExchangeIsRead) {
    sim::TExchangeConfig c;
    c.TypeCode = 2;
    c.Name = "30B800";
    c.Units.assign(3, sim::TUnit{});
    std::vector<std::vector<uint8_t>> all;
    for (int u = 0; u < 3; ++u) {
        if (u == 1) continue;  // an empty unit in the middle
        sim::TDayOptions day;
        day.Calls = 20;
        day.Seed = 100 + u;
        day.TypeCode = 5;
        const auto p = sim::GenerateOfficeDay(day);
        c.Units[u].Records.assign(p.begin(), p.end());
        all.insert(all.end(), p.begin(), p.end());
    }
    Start(c);
    const int selectsBefore = ex.SelectCount();
    EXPECT_EQ(Read(), TReadResult::Drained);
    EXPECT_EQ(got, Expected(all));
    EXPECT_EQ(ex.SelectCount() - selectsBefore, 3);
    for (int u = 0; u < 3; ++u)
        EXPECT_EQ(ex.RecordCount(u), 0u);
}

TEST_F(Buffer, AUnitRefusedWhileReadingEndsTheReadingAndSaysSo) {
    sim::TExchangeConfig c;
    c.TypeCode = 2;
    c.Name = "2-B";
    c.Units.assign(2, sim::TUnit{});
    c.Units[0].Records = {sim::RejectedRecord()};
    c.Units[1].RefuseSelect = true;
    ex.Config() = c;
    ASSERT_TRUE(ex.StartInMemory(TTestClock::kStart));
    // Identified while the unit still answered.
    TIdentification known;
    known.Key = c.Key;
    known.ModelName = "2-B";
    known.MultiUnit = true;
    known.UnitCount = 2;
    ll.AdoptIdentification(known);
    EXPECT_EQ(Read(), TReadResult::UnitRefused);
    EXPECT_EQ(ll.Reading.RejectedRecords, 1);
    EXPECT_EQ(ex.RecordCount(0), 0u);
}

TEST_F(Buffer, AQs800SelectsItsUnitBeforeReading) {
    sim::TExchangeConfig c;
    c.TypeCode = 5;
    sim::TDayOptions day;
    day.Calls = 5;
    day.TypeCode = 5;
    const auto p = sim::GenerateOfficeDay(day);
    c.Units[0].Records.assign(p.begin(), p.end());
    Start(c);
    const int selectsBefore = ex.SelectCount();
    EXPECT_EQ(Read(), TReadResult::Drained);
    EXPECT_EQ(ex.SelectCount() - selectsBefore, 1);
    EXPECT_EQ(got, Expected(p));
}

TEST_F(Buffer, StopEndsAfterTheCurrentRecordAndTheRestStaysInTheExchange) {
    const auto payloads = StartDay(30);
    const TReadResult r = ll.ReadBuffer([this](TRecord rec) {
        got.push_back(Fingerprint(rec));
        if (got.size() == 10) ll.Reading.StopFlag = true;
    });
    EXPECT_EQ(r, TReadResult::Stopped);
    EXPECT_EQ(got.size(), 10u);
    // The tenth record was taken but not yet acknowledged.
    EXPECT_EQ(ex.RecordCount(0), 21u);

    // The next reading goes on where this one stopped, without repeating.
    ll.Reading.StopFlag = false;
    EXPECT_EQ(Read(), TReadResult::Drained);
    EXPECT_EQ(got, Expected(payloads));
}

TEST_F(Buffer, IdenticalNeighbouringRecordsAreAllRead) {
    sim::TDayOptions day;
    day.Calls = 40;
    day.TwinsEvery = 3;
    day.RejectedEvery = 7;
    day.ShortEvery = 5;
    const auto payloads = sim::GenerateOfficeDay(day);
    sim::TExchangeConfig c;
    c.Units[0].Capacity = 1000;
    c.Units[0].Records.assign(payloads.begin(), payloads.end());
    Start(c);
    EXPECT_EQ(Read(), TReadResult::Drained);
    EXPECT_EQ(got, Expected(payloads));
    EXPECT_EQ(ll.Reading.RejectedRecords,
              std::count_if(payloads.begin(), payloads.end(), IsRejected));
    EXPECT_EQ(ex.RecordCount(0), 0u);
}

TEST_F(Buffer, ALaterCallIdenticalToTheLastOneIsReadToo) {
    const auto payloads = StartDay(3);
    EXPECT_EQ(Read(), TReadResult::Drained);
    // The same line, number, start and duration again, after the exchange
    // acknowledged the first one with its end-of-buffer reply.
    ex.AddRecord(0, payloads.back());
    EXPECT_EQ(Read(), TReadResult::Drained);
    auto expected = Expected(payloads);
    expected.push_back(expected.back());
    EXPECT_EQ(got, expected);
    EXPECT_EQ(ex.RecordCount(0), 0u);
}

TEST_F(Buffer, CallsArrivingDuringTheReadAreReadToo) {
    sim::TDayOptions day;
    day.Calls = 40;
    const auto payloads = sim::GenerateOfficeDay(day);
    sim::TExchangeConfig c;
    c.Units[0].Records.assign(payloads.begin(), payloads.begin() + 30);
    Start(c);
    std::vector<std::pair<std::chrono::milliseconds, std::vector<uint8_t>>> later;
    for (size_t i = 30; i < payloads.size(); ++i)
        later.push_back({std::chrono::milliseconds(0), payloads[i]});
    ex.ScheduleArrivals(0, later);
    EXPECT_EQ(Read(), TReadResult::Drained);
    EXPECT_EQ(got, Expected(payloads));
}

// Faults on the line lose no call, repeat none and garble none: a reply that
// broke off, never came or came garbled starts the pass again from the first
// record; a device that went ends the reading, and the next one delivers what
// is left, once. Every call of the day is told apart by its fields.
struct TFaultRow {
    sim::TReplyFault fault;
    int nth;  // record reply (02 or 03) that suffers it; the first is an 02
    const char* name;
};

void PrintTo(const TFaultRow& r, std::ostream* os) {
    *os << r.name;
}

class LineFault : public Buffer, public ::testing::WithParamInterface<TFaultRow> {};

TEST_P(LineFault, LosesRepeatsAndGarblesNothing) {
    const auto payloads = StartDay(25, 3);
    const auto expected = Expected(payloads);
    const bool vanish = GetParam().fault == sim::TReplyFault::Vanish;
    ex.ArmRecordFault(GetParam().fault, GetParam().nth,
                      vanish ? std::chrono::milliseconds(200) : std::chrono::milliseconds(0));
    if (vanish) {
        EXPECT_EQ(Read(), TReadResult::Failed);
        clock.Advance(std::chrono::milliseconds(200));  // the device is back
        line.Reopen();
    }
    EXPECT_EQ(Read(), TReadResult::Drained);
    std::multiset<std::string> wanted(expected.begin(), expected.end());
    size_t duplicated = 0, malformed = 0;
    for (const std::string& call : got) {
        const auto it = wanted.find(call);
        if (it != wanted.end())
            wanted.erase(it);
        else if (std::count(expected.begin(), expected.end(), call) > 0)
            ++duplicated;
        else
            ++malformed;
    }
    std::printf("fault=%s expected=%zu written=%zu lost=%zu duplicated=%zu malformed=%zu\n",
                GetParam().name, expected.size(), got.size(), wanted.size(), duplicated, malformed);
    EXPECT_EQ(wanted.size(), 0u);
    EXPECT_EQ(duplicated, 0u);
    EXPECT_EQ(malformed, 0u);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(ex.RecordCount(0), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, LineFault,
    ::testing::Values(TFaultRow{sim::TReplyFault::SilenceAfterLength, 6, "SilenceAfterLength"},
                      TFaultRow{sim::TReplyFault::CutShort, 9, "CutShort"},
                      TFaultRow{sim::TReplyFault::Vanish, 12, "Vanish"},
                      TFaultRow{sim::TReplyFault::Lost, 7, "NextRecordReplyLost"},
                      TFaultRow{sim::TReplyFault::Lost, 1, "FirstRecordReplyLost"},
                      TFaultRow{sim::TReplyFault::FlippedByte, 10, "NextRecordReplyFlipped"},
                      TFaultRow{sim::TReplyFault::FlippedByte, 1, "FirstRecordReplyFlipped"},
                      TFaultRow{sim::TReplyFault::BadChecksum, 4, "NextRecordBadChecksum"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Buffer, AFirstRecordWithABadChecksumIsAskedForAgain) {
    const auto payloads = StartDay(8);
    ex.ArmRecordFault(sim::TReplyFault::BadChecksum, 1);
    EXPECT_EQ(Read(), TReadResult::Drained);
    EXPECT_EQ(got, Expected(payloads));
}

TEST_F(Buffer, AFirstRecordThatNeverChecksOutEndsTheReadWithNothingLost) {
    const auto payloads = StartDay(8);
    ex.SetFirstRecordBadChecksum(true);
    EXPECT_EQ(Read(), TReadResult::Failed);
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(ex.RecordCount(0), payloads.size());
}

TEST_F(Buffer, ALineThatFallsSilentLosesAndRepeatsNothing) {
    const auto payloads = StartDay(15);
    const TReadResult r = ll.ReadBuffer([this](TRecord rec) {
        got.push_back(Fingerprint(rec));
        if (got.size() == 5) ex.SetSilent(true);
    });
    EXPECT_EQ(r, TReadResult::Failed);
    EXPECT_EQ(got.size(), 5u);
    ex.SetSilent(false);
    EXPECT_EQ(Read(), TReadResult::Drained);
    EXPECT_EQ(got, Expected(payloads));
}

TEST_F(Buffer, ADeadLinkReadsNothing) {
    Start({});
    ex.SetSilent(true);
    EXPECT_EQ(Read(), TReadResult::NoLink);
}

}  // namespace
