// The pages of tallyphon-web, one line each.
#include "web/page.h"
#include "web/page_alerts.h"
#include "web/page_bill.h"
#include "web/page_calls.h"
#include "web/page_charts.h"
#include "web/page_lists.h"
#include "web/page_offices.h"
#include "web/page_tariffs.h"

const std::vector<TRoute>& Routes() {
    // A line a page, with its download.
    // clang-format off
    static const std::vector<TRoute> routes = {
        {"/",         false, false, OfficesPage},
        {"/calls",    false, false, CallsPage},  {"/calls.csv",  false, false, CallsCsvPage},
        {"/lines",    false, false, LinesPage},  {"/lines.csv",  false, false, LinesCsv},
        {"/trunks",   false, false, TrunksPage}, {"/trunks.csv", false, false, TrunksCsv},
        {"/bill",     false, false, BillPage},   {"/bill.csv",   false, false, BillCsvPage},
                                                 {"/bill.pdf",   false, false, BillPdfPage},
        {"/charts",   false, false, ChartsPage},
        {"/alerts",   false, false, AlertsPage},
        {"/tariffs",  false, true,  TariffsPage},
        {"/tariffs",  true,  true,  TariffsUpload},
    };
    // clang-format on
    return routes;
}
