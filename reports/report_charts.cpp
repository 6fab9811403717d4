#include "reports/report_charts.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <unordered_map>
#include <utility>

#include "calllog/report_datetime.h"
#include "reports/report_grids.h"
#include "reports/report_sort.h"

namespace {

constexpr int64_t kDay = 86400;
constexpr size_t kTop = 10;

void AddCall(TTrafficBin& bin, bool out) {
    ++(out ? bin.OutCalls : bin.InCalls);
}

void AddSeconds(TTrafficBin& bin, bool out, int64_t seconds) {
    (out ? bin.OutSec : bin.InSec) += seconds;
}

std::vector<TRankedTraffic> TopTen(std::unordered_map<std::string, TTrafficBin>&& all) {
    std::vector<TRankedTraffic> ranked;
    ranked.reserve(all.size());
    for (auto& [key, traffic] : all)
        ranked.push_back({key, traffic});
    const auto before = [](const TRankedTraffic& a, const TRankedTraffic& b) {
        const int64_t ta = a.Traffic.OutSec + a.Traffic.InSec;
        const int64_t tb = b.Traffic.OutSec + b.Traffic.InSec;
        if (ta != tb) return ta > tb;
        if (NumberTextLess(a.Key, b.Key, false)) return true;
        if (NumberTextLess(b.Key, a.Key, false)) return false;
        return a.Key < b.Key;
    };
    const size_t keep = std::min(kTop, ranked.size());
    std::partial_sort(ranked.begin(), ranked.begin() + static_cast<std::ptrdiff_t>(keep),
                      ranked.end(), before);
    ranked.resize(keep);
    return ranked;
}

// The first and last start day the by-day chart shows: the 1st and 99th
// percentiles (nearest rank) of the starts, counted per day, at most
// kMaxChartDays apart. A count per day, not a day per call, is all a
// million calls hold here while the charts are made.
std::pair<int64_t, int64_t> ShownDays(const std::map<int64_t, size_t>& startsPerDay, size_t n) {
    const size_t cut = n / 100;
    const size_t loRank = cut, hiRank = n - 1 - cut;
    int64_t first = 0, last = 0;
    size_t seen = 0;
    for (const auto& [day, count] : startsPerDay) {
        if (seen <= loRank && loRank < seen + count) first = day;
        if (seen <= hiRank && hiRank < seen + count) {
            last = day;
            break;
        }
        seen += count;
    }
    return {std::max(first, last - int64_t{kMaxChartDays} + 1), last};
}

// Day 2 was Monday, 1 January 1900.
int64_t WeekStart(int64_t day) {
    return day - ((day - 2) % 7 + 7) % 7;
}

TDayStep StepOf(int64_t days) {
    if (days > kWeeklyUpToDays) return TDayStep::Month;
    return days > kDailyUpToDays ? TDayStep::Week : TDayStep::Day;
}

// One bar a day, week or month from the first day to the last, quiet ones too.
std::vector<TDayBin> Bars(const std::map<int64_t, TTrafficBin>& days, TDayStep step) {
    // A bar's key: its first day, or year * 12 + month - 1 for a month.
    const auto keyOf = [step](int64_t day) {
        if (step == TDayStep::Week) return WeekStart(day);
        if (step == TDayStep::Day) return day;
        const TDateTimeParts p = DecodeRepDateTime(static_cast<double>(day));
        return int64_t{p.Year} * 12 + p.Month - 1;
    };
    std::map<int64_t, TTrafficBin> bars;
    for (const auto& [day, traffic] : days) {
        TTrafficBin& bar = bars[keyOf(day)];
        bar.OutCalls += traffic.OutCalls;
        bar.InCalls += traffic.InCalls;
        bar.OutSec += traffic.OutSec;
        bar.InSec += traffic.InSec;
    }
    std::vector<TDayBin> out;
    const int64_t by = step == TDayStep::Week ? 7 : 1;
    for (int64_t key = bars.begin()->first; key <= bars.rbegin()->first; key += by) {
        const auto it = bars.find(key);
        const TTrafficBin traffic = it == bars.end() ? TTrafficBin{} : it->second;
        if (step == TDayStep::Month) {
            out.push_back({static_cast<int>(key / 12), static_cast<int>(key % 12) + 1, 1, traffic});
        } else {
            const TDateTimeParts p = DecodeRepDateTime(static_cast<double>(key));
            out.push_back({p.Year, p.Month, p.Day, traffic});
        }
    }
    return out;
}

}  // namespace

TChartFigures ChartFigures(size_t count,
                           const std::function<const TExtStr_rep*(size_t)>& recordAt) {
    TChartFigures f;
    std::map<int64_t, size_t> startsPerDay;
    size_t starts = 0;
    for (size_t i = 0; i < count; ++i) {
        if (const TExtStr_rep* rec = recordAt(i)) {
            int64_t day = 0, second = 0;
            SplitDayAndSeconds(rec->StartTime, day, second);
            ++startsPerDay[day];
            ++starts;
        }
    }
    const auto [firstDay, lastDay] =
        starts == 0 ? std::pair<int64_t, int64_t>{} : ShownDays(startsPerDay, starts);
    std::map<int64_t, TTrafficBin> days;
    std::unordered_map<std::string, TTrafficBin> lines, trunks;
    for (size_t i = 0; i < count; ++i) {
        const TExtStr_rep* rec = recordAt(i);
        if (!rec) continue;
        ++f.Calls;
        const bool out = !rec->ExtNumber.empty();
        int64_t day = 0, second = 0;
        SplitDayAndSeconds(rec->StartTime, day, second);
        const bool shown = day >= firstDay && day <= lastDay;
        f.CallsOutsideDays += !shown;
        AddCall(f.ByHour[static_cast<size_t>(second / 3600)], out);
        if (shown) AddCall(days[day], out);
        const int64_t duration = std::max<int64_t>(rec->DurTotalSec, 0);
        // The traffic, hour by hour from the start.
        for (int64_t left = duration; left > 0;) {
            const int64_t inHour = std::min(left, 3600 - second % 3600);
            AddSeconds(f.ByHour[static_cast<size_t>(second / 3600)], out, inHour);
            if (shown) AddSeconds(days[day], out, inHour);
            left -= inHour;
            second += inHour;
            if (second == kDay) {
                second = 0;
                ++day;
            }
        }
        for (TTrafficBin* bin : {&lines[rec->HwLine.str()], &trunks[rec->Trunk.str()]}) {
            AddCall(*bin, out);
            AddSeconds(*bin, out, duration);
        }
    }
    if (!days.empty()) {
        f.DayStep = StepOf(days.rbegin()->first - days.begin()->first + 1);
        f.ByDay = Bars(days, f.DayStep);
    }
    f.TopLines = TopTen(std::move(lines));
    f.TopTrunks = TopTen(std::move(trunks));
    return f;
}
