// The pages of tallyphon-web, one line each.
#include "web/page.h"
#include "web/page_calls.h"
#include "web/page_offices.h"

const std::vector<TRoute>& Routes() {
    static const std::vector<TRoute> routes = {
        {"/", false, false, OfficesPage},
        {"/calls", false, false, CallsPage},
        {"/calls.csv", false, false, CallsCsvPage},
    };
    return routes;
}
