#include "report_charts.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <unordered_map>

#include "report_datetime.h"
#include "report_grids.h"
#include "report_sort.h"

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

}  // namespace

TChartFigures ChartFigures(size_t count,
                           const std::function<const TExtStr_rep*(size_t)>& recordAt) {
    TChartFigures f;
    std::map<int64_t, TTrafficBin> days;
    std::unordered_map<std::string, TTrafficBin> lines, trunks;
    for (size_t i = 0; i < count; ++i) {
        const TExtStr_rep* rec = recordAt(i);
        if (!rec) continue;
        ++f.Calls;
        const bool out = !rec->ExtNumber.empty();
        int64_t day = 0, second = 0;
        SplitDayAndSeconds(rec->StartTime, day, second);
        AddCall(f.ByHour[static_cast<size_t>(second / 3600)], out);
        AddCall(days[day], out);
        const int64_t duration = std::max<int64_t>(rec->DurTotalSec, 0);
        // The traffic, hour by hour from the start.
        for (int64_t left = duration; left > 0;) {
            const int64_t inHour = std::min(left, 3600 - second % 3600);
            AddSeconds(f.ByHour[static_cast<size_t>(second / 3600)], out, inHour);
            AddSeconds(days[day], out, inHour);
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
        const int64_t last = days.rbegin()->first;
        const int64_t first = std::max(days.begin()->first, last - int64_t{kMaxChartDays} + 1);
        for (int64_t d = first; d <= last; ++d) {
            const TRepDateParts p = DecodeRepDateTime(static_cast<double>(d));
            const auto it = days.find(d);
            f.ByDay.push_back(
                {p.Year, p.Month, p.Day, it == days.end() ? TTrafficBin{} : it->second});
        }
    }
    f.TopLines = TopTen(std::move(lines));
    f.TopTrunks = TopTen(std::move(trunks));
    return f;
}
