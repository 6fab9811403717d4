// Rating calls by a tariff table. Looking a call's rate up is the costly
// part, so it is done once per call and table (RateCalls): the call keeps
// its rate's index (TExtStr_rep::Rate), and the grids, their sums and the
// bill take the rating from there (RatingOf).
#pragma once

#include <cstdint>

#include "billing/tariffs.h"
#include "calllog/call_record.h"

// How one call is rated: its rate (nullptr: incoming, or "Без тарифа"),
// billed seconds and cost in kopecks. Only outgoing calls (a dialled
// number) are rated; weekday and time of day come from the call's start.
struct TCallRating {
    const TRate* Rate = nullptr;
    int64_t Billed = 0;
    int64_t Cost = 0;
};

// Looks the rate of call up in tariffs.
TCallRating RateCall(const TTariffs& tariffs, const TExtStr_rep& call);

// Marks every call of calls with the index of its rate in tariffs (-1:
// none), for RatingOf.
void RateCalls(const TTariffs& tariffs, TStrList_rep<TExtStr_rep>& calls);

// The rating of a call that RateCalls marked by tariffs, without a look-up.
TCallRating RatingOf(const TTariffs& tariffs, const TExtStr_rep& call);
