// The pages of tallyphon-web, one line each.
#include "web/page.h"
#include "web/page_lists.h"
#include "web/page_offices.h"

const std::vector<TRoute>& Routes() {
    // A line a page, with its download.
    // clang-format off
    static const std::vector<TRoute> routes = {
        {"/", false, false, OfficesPage},
        {"/lines", false, false, LinesPage},   {"/lines.csv", false, false, LinesCsv},
        {"/trunks", false, false, TrunksPage}, {"/trunks.csv", false, false, TrunksCsv},
    };
    // clang-format on
    return routes;
}
