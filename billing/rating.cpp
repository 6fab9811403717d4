#include "billing/rating.h"

#include <vector>

#include "billing/rep_start.h"

namespace {

TCallRating RatingBy(const TRate* rate, const TExtStr_rep& call) {
    TCallRating r;
    r.Rate = rate;
    if (rate) {
        r.Billed = BilledSeconds(*rate, call.DurTotalSec);
        r.Cost = CostKopecks(*rate, r.Billed);
    }
    return r;
}

}  // namespace

TCallRating RateCall(const TTariffs& tariffs, const TExtStr_rep& call) {
    if (call.ExtNumber.empty()) return {};
    const TRepStart start = SplitRepStart(call.StartTime);
    return RatingBy(tariffs.RateFor(call.ExtNumber.view(), start.Weekday, start.SecondOfDay), call);
}

void RateCalls(const TTariffs& tariffs, TStrList_rep<TExtStr_rep>& calls) {
    const TRate* first = tariffs.Rates().data();
    for (size_t i = 0; i < calls.Count(); ++i) {
        TExtStr_rep& call = calls[i];
        const TRate* rate = RateCall(tariffs, call).Rate;
        call.Rate = rate ? static_cast<int32_t>(rate - first) : -1;
    }
}

TCallRating RatingOf(const TTariffs& tariffs, const TExtStr_rep& call) {
    const std::vector<TRate>& rates = tariffs.Rates();
    if (call.ExtNumber.empty() || call.Rate < 0 || static_cast<size_t>(call.Rate) >= rates.size())
        return {};
    return RatingBy(&rates[static_cast<size_t>(call.Rate)], call);
}
