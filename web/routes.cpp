// The pages of tallyphon-web, one line each.
#include "web/page.h"
#include "web/page_alerts.h"
#include "web/page_bill.h"
#include "web/page_calls.h"
#include "web/page_charts.h"
#include "web/page_offices.h"
#include "web/page_tariffs.h"

const std::vector<TRoute>& Routes() {
    static const std::vector<TRoute> routes = {
        {"/", false, false, OfficesPage},           {"/charts", false, false, ChartsPage},
        {"/bill", false, false, BillPage},          {"/bill.csv", false, false, BillCsvPage},
        {"/bill.pdf", false, false, BillPdfPage},   {"/tariffs", false, true, TariffsPage},
        {"/tariffs", true, true, TariffsUpload},    {"/calls", false, false, CallsPage},
        {"/calls.csv", false, false, CallsCsvPage}, {"/alerts", false, false, AlertsPage},
    };
    return routes;
}
