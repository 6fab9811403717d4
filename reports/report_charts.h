// Figures for the traffic charts: calls and traffic of a set of calls by
// hour of day, by day, and the subscriber lines and trunks with the most
// traffic. A call is counted where it starts; its traffic is spread over
// the hours and days it lasts, so a call across midnight adds to both days.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "reports/types_rep.h"

// Calls and traffic seconds, outgoing and incoming, of one bar.
struct TTrafficBin {
    int64_t OutCalls = 0;
    int64_t InCalls = 0;
    int64_t OutSec = 0;
    int64_t InSec = 0;
    bool operator==(const TTrafficBin& o) const {
        return OutCalls == o.OutCalls && InCalls == o.InCalls && OutSec == o.OutSec &&
               InSec == o.InSec;
    }
};

// What one bar of the by-day chart covers. Bars of single days cannot be
// told apart past three months, nor bars of weeks past two years.
enum class TDayStep { Day, Week, Month };
constexpr int64_t kDailyUpToDays = 92;
constexpr int64_t kWeeklyUpToDays = 731;

// One bar of the by-day chart: its first day (a Monday for a week, the 1st
// for a month) and its traffic.
struct TDayBin {
    int Year = 0, Month = 0, Day = 0;
    TTrafficBin Traffic;
};

// One subscriber line (by hardware number) or trunk of a top-ten chart.
struct TRankedTraffic {
    std::string Key;
    TTrafficBin Traffic;
};

struct TChartFigures {
    int64_t Calls = 0;
    std::array<TTrafficBin, 24> ByHour;
    // Every day, week or month (see DayStep) from the first with traffic to
    // the last, quiet ones too. A stray date (a clock set to 1990) would
    // stretch the axis over years of empty bars, so the bars cover only
    // the days from the 1st to the 99th percentile of the calls' starts;
    // the calls left out are counted in CallsOutsideDays.
    std::vector<TDayBin> ByDay;
    TDayStep DayStep = TDayStep::Day;
    int64_t CallsOutsideDays = 0;
    // At most ten each, most total traffic first; equal traffic in the
    // ascending order of the keys (numbers before other texts).
    std::vector<TRankedTraffic> TopLines;
    std::vector<TRankedTraffic> TopTrunks;
};

// Longest span of days the by-day chart covers; calls that span more
// show their last days.
constexpr size_t kMaxChartDays = 3660;

// Figures of count calls; recordAt(i) gives call i (nullptr is skipped).
TChartFigures ChartFigures(size_t count, const std::function<const TExtStr_rep*(size_t)>& recordAt);
