#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <string>
#include <vector>

#include "reports/types_rep.h"

namespace {

TExtStr_rep Call(int h, int m, int s, bool incoming) {
    TExtStr_rep r;
    r.DurTotalSec = h * 3600 + m * 60 + s;
    r.ExtNumber = incoming ? "" : "5551234";
    return r;
}

struct TCarryCase {
    std::vector<std::array<int, 3>> calls;
    int64_t hours;
    uint32_t minutes, seconds;
    int64_t total;
};

void PrintTo(const TCarryCase& c, std::ostream* os) {
    *os << c.calls.size() << " calls -> " << c.total << " s";
}

class CarryTest : public ::testing::TestWithParam<TCarryCase> {};

TEST_P(CarryTest, SumsKeepMinutesAndSecondsBelowSixty) {
    for (bool incoming : {true, false}) {
        TTraffic_rep t;
        for (const auto& c : GetParam().calls)
            t.AddCall(Call(c[0], c[1], c[2], incoming));
        const int64_t h = incoming ? t.InHour : t.OutHour;
        const uint32_t m = incoming ? t.InMin() : t.OutMin();
        const uint32_t s = incoming ? t.InSec() : t.OutSec();
        EXPECT_EQ(h, GetParam().hours);
        EXPECT_EQ(m, GetParam().minutes);
        EXPECT_EQ(s, GetParam().seconds);
        EXPECT_EQ(incoming ? t.InTotalSec : t.OutTotalSec, GetParam().total);
        EXPECT_EQ(incoming ? t.OutTotalSec : t.InTotalSec, 0);
        EXPECT_EQ(t.TotalSec, GetParam().total);
        // The triple and the count describe the same duration.
        EXPECT_EQ(h * 3600 + m * 60 + s, GetParam().total);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CarryTest,
    ::testing::Values(TCarryCase{{{0, 0, 50}, {0, 0, 20}}, 0, 1, 10, 70},
                      TCarryCase{{{0, 59, 30}, {0, 0, 45}}, 1, 0, 15, 3615},
                      TCarryCase{std::vector<std::array<int, 3>>(30, {1, 0, 0}), 30, 0, 0, 108000},
                      TCarryCase{{{23, 59, 59}, {23, 59, 59}, {0, 0, 2}}, 48, 0, 0, 172800},
                      TCarryCase{{}, 0, 0, 0, 0}));

TEST(CarrySetters, LargeValuesCarryThroughEveryUnit) {
    TTraffic_rep t;
    t.SetOutMin(59);
    t.SetOutSec(3725);  // 62 minutes 5 seconds on top of 59 minutes
    EXPECT_EQ(t.OutHour, 2);
    EXPECT_EQ(t.OutMin(), 1u);
    EXPECT_EQ(t.OutSec(), 5u);
    t.SetInMin(125);
    EXPECT_EQ(t.InHour, 2);
    EXPECT_EQ(t.InMin(), 5u);
}

TEST(CarrySetters, SecondCountsDoNotOverflowOnHugeFiles) {
    TTraffic_rep t;
    for (int i = 0; i < 30000; ++i)
        t.AddCall(Call(23, 59, 59, false));
    EXPECT_EQ(t.OutTotalSec, int64_t{30000} * 86399);
    EXPECT_EQ(t.TotalSec, int64_t{30000} * 86399);
    EXPECT_EQ(TrafficText(t.TotalSec), TrafficText(t.OutHour, t.OutMin(), t.OutSec()));
}

TEST(TrafficText, HoursAreNeverCut) {
    const std::pair<std::string, std::string> rows[] = {
        {TrafficText(0, 5, 9), "00:05:09"},      {TrafficText(123, 0, 45), "123:00:45"},
        {TrafficText(100, 0, 0), "100:00:00"},   {TrafficText(3615), "01:00:15"},
        {TrafficText(360000 + 59), "100:00:59"}, {TrafficText(0), "00:00:00"},
    };
    for (const auto& [text, expected] : rows)
        EXPECT_EQ(text, expected);
}

}  // namespace

namespace {

// Records are found by index until a sort, and through the order after it.
TEST(StrList, KeepsAddOrderUntilSortedAndTheSortedOrderAfter) {
    TStrList_rep<TSL_rep> list;
    for (const char* trunk : {"3", "1", "x", "2"})
        list.Add().Trunk = trunk;
    list.DropLast();
    const auto texts = [&list] {
        std::string all;
        for (const TSL_rep* e : list)
            all += e->Trunk;
        return all;
    };
    EXPECT_EQ(texts(), "31x");
    list.Sort([](const TSL_rep& a, const TSL_rep& b) { return a.Trunk < b.Trunk; });
    list.Add().Trunk = "0";
    EXPECT_EQ(texts(), "13x0");
    EXPECT_EQ(list[1].Trunk, "3");
    TStrList_rep<TSL_rep> moved = std::move(list);
    EXPECT_EQ(list.Count(), 0u);  // NOLINT: a moved-from list is empty
    EXPECT_EQ(moved.Items().size(), 4u);
    moved.Clear();
    EXPECT_EQ(moved.begin(), moved.end());
}

}  // namespace
