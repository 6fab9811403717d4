#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include "calllog/calllog_loader.h"
#include "reports/report_charts.h"

namespace {

// A call-log line: "dd-mm-yyyy hh:mm:ss   hh:mm:ss   hw( prg)  trunk  dialled".
std::string Call(const char* start, const char* duration, const char* hw, const char* trunk,
                 const char* dialled) {
    char line[128];
    std::snprintf(line, sizeof line, "%s   %s   %s( 2%s)%8s     %s", start, duration, hw, hw, trunk,
                  dialled);
    std::string s(line);
    s.resize(std::max<size_t>(s.size(), 60), ' ');
    return s + "\r\n";
}

TChartFigures FiguresOf(const std::string& text) {
    const TCallLogContent content = ReadCallLogText(text);
    return ChartFigures(content.LineList.Count(), [&](size_t i) { return &content.LineList[i]; });
}

TEST(ChartFigures, TrafficIsSpreadOverTheHoursAndDaysItLasts) {
    const TChartFigures f = FiguresOf(Call("05-03-2007 23:59:50", "00:00:20", "105", "3", "8123") +
                                      Call("07-03-2007 10:30:00", "01:00:00", "106", "4", "") +
                                      Call("07-03-2007 10:59:59", "00:00:01", "106", "4", "5"));
    EXPECT_EQ(f.Calls, 3);
    EXPECT_EQ(f.ByHour[23], (TTrafficBin{1, 0, 10, 0}));
    EXPECT_EQ(f.ByHour[0], (TTrafficBin{0, 0, 10, 0}));
    EXPECT_EQ(f.ByHour[10], (TTrafficBin{1, 1, 1, 1800}));
    EXPECT_EQ(f.ByHour[11], (TTrafficBin{0, 0, 0, 1800}));
    ASSERT_EQ(f.ByDay.size(), 3u);  // the quiet 6 March too
    EXPECT_EQ(f.ByDay[0].Day, 5);
    EXPECT_EQ(f.ByDay[0].Traffic, (TTrafficBin{1, 0, 10, 0}));
    EXPECT_EQ(f.ByDay[1].Traffic, (TTrafficBin{0, 0, 10, 0}));
    EXPECT_EQ(f.ByDay[2].Traffic, (TTrafficBin{1, 1, 1, 3600}));
    ASSERT_EQ(f.TopLines.size(), 2u);
    EXPECT_EQ(f.TopLines[0].Key, "106");
    EXPECT_EQ(f.TopLines[0].Traffic, (TTrafficBin{1, 1, 1, 3600}));
    EXPECT_EQ(f.TopTrunks[1].Key, "3");
}

TEST(ChartFigures, TopTenBreaksTiesByNumberAndAnEmptySelectionIsEmpty) {
    std::string text;
    // Lines 1 to 12; 5 and 10 tie for tenth place with a minute each.
    for (int hw = 1; hw <= 12; ++hw) {
        const int minutes = hw == 5 || hw == 10 ? 1 : hw < 10 ? 20 - hw : 0;
        char dur[16];
        std::snprintf(dur, sizeof dur, "00:%02d:00", minutes);
        text += Call("05-03-2007 09:00:00", dur, std::to_string(hw).c_str(), "1", "5");
    }
    const TChartFigures f = FiguresOf(text);
    ASSERT_EQ(f.TopLines.size(), 10u);
    EXPECT_EQ(f.TopLines[0].Key, "1");
    EXPECT_EQ(f.TopLines[7].Key, "9");
    EXPECT_EQ(f.TopLines[8].Key, "5");
    EXPECT_EQ(f.TopLines[9].Key, "10");
    ASSERT_EQ(f.TopTrunks.size(), 1u);

    const TChartFigures none = ChartFigures(0, [](size_t) { return nullptr; });
    EXPECT_EQ(none.Calls, 0);
    EXPECT_EQ(none.ByHour[9], TTrafficBin{});
    EXPECT_TRUE(none.ByDay.empty() && none.TopLines.empty() && none.TopTrunks.empty());
}

TEST(ChartFigures, DaysGroupByWeekPastThreeMonthsAndByMonthPastTwoYears) {
    struct Row {
        std::string first, last;
        TDayStep step;
        size_t bars;
        int firstBar[3], lastBar[3];
    };
    const Row rows[] = {
        {"01-03-2007", "09-04-2007", TDayStep::Day, 40, {2007, 3, 1}, {2007, 4, 9}},
        {"01-03-2007", "31-05-2007", TDayStep::Day, 92, {2007, 3, 1}, {2007, 5, 31}},
        {"01-03-2007", "08-06-2007", TDayStep::Week, 15, {2007, 2, 26}, {2007, 6, 4}},
        {"15-01-2005", "20-12-2007", TDayStep::Month, 36, {2005, 1, 1}, {2007, 12, 1}},
    };
    for (const Row& r : rows) {
        const TChartFigures f =
            FiguresOf(Call((r.first + " 10:00:00").c_str(), "00:01:00", "105", "3", "5") +
                      Call((r.last + " 10:00:00").c_str(), "00:02:00", "105", "3", ""));
        EXPECT_EQ(f.DayStep, r.step) << r.last;
        ASSERT_EQ(f.ByDay.size(), r.bars) << r.last;
        const TDayBin& a = f.ByDay.front();
        const TDayBin& b = f.ByDay.back();
        EXPECT_EQ((std::array<int, 3>{a.Year, a.Month, a.Day}),
                  (std::array<int, 3>{r.firstBar[0], r.firstBar[1], r.firstBar[2]}));
        EXPECT_EQ((std::array<int, 3>{b.Year, b.Month, b.Day}),
                  (std::array<int, 3>{r.lastBar[0], r.lastBar[1], r.lastBar[2]}));
        EXPECT_EQ(a.Traffic, (TTrafficBin{1, 0, 60, 0})) << r.last;
        EXPECT_EQ(b.Traffic, (TTrafficBin{0, 1, 0, 120})) << r.last;
        EXPECT_EQ(f.CallsOutsideDays, 0);
    }
}

TEST(ChartFigures, DaysBeyondThePercentilesOfTheStartsAreLeftOutAndCounted) {
    std::string text;
    for (int i = 0; i < 150; ++i) {
        const std::string start = "0" + std::to_string(5 + i / 30) + "-03-2007 09:00:00";
        text += Call(start.c_str(), "00:01:00", "105", "3", "5");
    }
    text += Call("01-01-1990 12:00:00", "00:01:00", "105", "3", "5") +
            Call("01-01-2030 12:00:00", "00:01:00", "105", "3", "5");
    const TChartFigures f = FiguresOf(text);
    EXPECT_EQ(f.Calls, 152);
    EXPECT_EQ(f.CallsOutsideDays, 2);
    EXPECT_EQ(f.DayStep, TDayStep::Day);
    ASSERT_EQ(f.ByDay.size(), 5u);
    EXPECT_EQ(f.ByDay[0].Day, 5);
    EXPECT_EQ(f.ByDay[4].Traffic, (TTrafficBin{30, 0, 1800, 0}));
    EXPECT_EQ(f.ByHour[12], (TTrafficBin{2, 0, 120, 0}));  // still counted by the hour
}

}  // namespace
