// The line-state query: the reply's groups, the model's numbering, and when
// the connection table is kept, against the simulated exchange in memory.
#include <gtest/gtest.h>

#include "link/line_state.h"
#include "link/low_level.h"
#include "tests/common/sim_line.h"
#include "tests/common/test_clock.h"
#include "tools/sim_exchange/sim_exchange.h"

using namespace testing_support;

namespace {

std::vector<std::string> Texts(const std::vector<TConnection>& connections) {
    std::vector<std::string> texts;
    for (const TConnection& c : connections)
        texts.push_back(ConnectionText(c));
    return texts;
}

struct TReplyRow {
    const char* name;
    const char* model;
    std::vector<uint8_t> payload;
    std::vector<std::string> expected;
};

void PrintTo(const TReplyRow& r, std::ostream* os) {
    *os << r.name;
}

class Reply : public ::testing::TestWithParam<TReplyRow> {};

TEST_P(Reply, GroupsBecomeEntries) {
    const TReplyRow& row = GetParam();
    EXPECT_EQ(
        Texts(ParseLineState(row.model, row.payload.data(), static_cast<int>(row.payload.size()))),
        row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Payloads, Reply,
    ::testing::Values(
        TReplyRow{"SingleZero", "QTV610", {0x00}, {""}}, TReplyRow{"LengthZero", "QTV610", {}, {}},
        TReplyRow{"TwoGroups",
                  "QTV610",
                  {0x02, 0x44, 0x05, 0x00, 0x46, 0x02, 0x01, 0x01, 0x47, 0x00, 0x03, 0x00},
                  {"АЛ205(0)   СЛ204(1)   ", "ГГС200(3)   "}},
        TReplyRow{"NoTerminatingZero", "QTV930-1", {0x01, 0x45, 0x0A, 0x02}, {"Дф210(2)   "}},
        TReplyRow{"GroupCutShort",
                  "QTV610",
                  {0x01, 0x44, 0x01, 0x02, 0x02, 0x44, 0x03, 0x00, 0x46},
                  {"АЛ201(2)   "}},
        TReplyRow{"UnknownKind", "QTV610", {0x01, 0x99, 0x07, 0xFF, 0x00}, {"???207(255)   "}},
        TReplyRow{"NumberWithoutMapping", "QS20", {0x01, 0x46, 0x03, 0x00, 0x00}, {"СЛ-1(0)   "}},
        TReplyRow{"ModelWithoutNumbering", "QS31", {0x01, 0x44, 0x03, 0x00}, {"АЛ-1(0)   "}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReplyBounds, SixtyConnectionsAtMost) {
    std::vector<uint8_t> payload;
    for (int i = 0; i < 70; ++i)
        payload.insert(payload.end(), {0x01, 0x44, static_cast<uint8_t>(i), 0x00});
    const std::vector<TConnection> c =
        ParseLineState("QTV610", payload.data(), static_cast<int>(payload.size()));
    ASSERT_EQ(c.size(), 60u);
    EXPECT_EQ(ConnectionText(c.back()), "АЛ259(0)   ");
}

struct TNumberingRow {
    const char* model;
    uint8_t a;
    int line;
    int trunk;
};

void PrintTo(const TNumberingRow& r, std::ostream* os) {
    *os << r.model << " " << int(r.a);
}

class Numbering : public ::testing::TestWithParam<TNumberingRow> {};

TEST_P(Numbering, ByModelName) {
    const TNumberingRow& row = GetParam();
    EXPECT_EQ(SubscriberLineNumber(row.model, row.a), row.line);
    EXPECT_EQ(TrunkNumberOf(row.model, row.a), row.trunk);
}

INSTANTIATE_TEST_SUITE_P(
    Models, Numbering,
    ::testing::Values(TNumberingRow{"QTV610", 5, 205, 210}, TNumberingRow{"QTV930-1", 0, 200, 200},
                      TNumberingRow{"QS16", 13, 215, 262}, TNumberingRow{"QS20", 13, 215, -1},
                      TNumberingRow{"3B", 13, 14, -1}, TNumberingRow{"QS800", 70, 71, 6},
                      TNumberingRow{"QS800", 25, 26, -1}, TNumberingRow{"QS800", 64, 65, -1},
                      TNumberingRow{"QS31", 3, -1, -1}, TNumberingRow{"C", 3, -1, -1}));

class Query : public ::testing::Test {
  protected:
    void Start(std::vector<uint8_t> lineState) {
        ex.Config().LineState = std::move(lineState);
        ASSERT_TRUE(ex.StartInMemory(TTestClock::kStart));
        ASSERT_EQ(ll.IdentifyExchange(), TIdentifyResult::Identified);
    }
    sim::TSimExchange ex;
    TTestClock clock;
    TSimLine line{ex, clock};
    TLowLevel ll{line, clock};
};

const std::vector<uint8_t> kTwoGroups = {0x02, 0x44, 0x05, 0x00, 0x46, 0x02,
                                         0x01, 0x01, 0x47, 0x00, 0x03, 0x00};
const std::vector<std::string> kTwoTexts = {"АЛ205(0)   СЛ204(1)   ", "ГГС200(3)   "};

TEST_F(Query, TheTableIsReplacedOnlyWhenAReplyCame) {
    Start(kTwoGroups);
    ex.ClearReceived();
    ASSERT_EQ(ll.QueryLineState(), TLineStateResult::Queried);
    EXPECT_EQ(ll.ConnectionTable(), kTwoTexts);
    EXPECT_TRUE(ll.LineStateAnswered());
    // The request after the echo tests; the key is 5A, so FF travels as A5.
    const std::vector<uint8_t> sent = ex.Received();
    EXPECT_EQ(std::vector<uint8_t>(sent.end() - 5, sent.end()),
              (std::vector<uint8_t>{0xF0, 0x01, 0x01, 0xA5, 0xA5}));

    ex.Config().LineState = {0x01, 0x44, 0x07, 0x00, 0x00};
    for (sim::TLineStateFault f :
         {sim::TLineStateFault::NoReply, sim::TLineStateFault::BadChecksum}) {
        ex.Config().LineStateFault = f;
        EXPECT_EQ(ll.QueryLineState(), TLineStateResult::Queried);
        EXPECT_EQ(ll.ConnectionTable(), kTwoTexts);
        EXPECT_FALSE(ll.LineStateAnswered());
    }
    ex.SetSilent(true);
    EXPECT_EQ(ll.QueryLineState(), TLineStateResult::NoLink);
    EXPECT_EQ(ll.ConnectionTable(), kTwoTexts);
    EXPECT_FALSE(ll.LineStateAnswered());

    ex.SetSilent(false);
    ex.Config().LineStateFault = sim::TLineStateFault::None;
    ex.Config().LineState = {};
    EXPECT_EQ(ll.QueryLineState(), TLineStateResult::Queried);
    EXPECT_EQ(ll.ConnectionCount(), 0);
    EXPECT_TRUE(ll.LineStateAnswered());
}

}  // namespace
