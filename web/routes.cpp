// The pages of tallyphon-web, one line each.
#include "web/page.h"
#include "web/page_charts.h"
#include "web/page_offices.h"

const std::vector<TRoute>& Routes() {
    static const std::vector<TRoute> routes = {
        {"/", false, false, OfficesPage},
        {"/charts", false, false, ChartsPage},
    };
    return routes;
}
