// "Счёт" (/bill) and its downloads /bill.csv and /bill.pdf: the bill of one
// office and period, made from the database as tallyphon-report makes it,
// by the office's tariffs and directory uploaded on "Тарифы".
#pragma once

#include <string>

#include "billing/bill.h"
#include "billing/period.h"
#include "web/page.h"

// site's bill over period by its stored files, each call rated once.
// False, with why in error (for the page), when the office has no tariffs,
// its stored files cannot be read, or its calls cannot be. Throws what
// libpqxx throws outside the reading of the calls.
bool OfficeBill(pqxx::connection_base& db, const std::string& site, const TPeriod& period,
                TBill& bill, std::string& error);

TPageAnswer BillPage(pqxx::connection_base& db, const TPageRequest& request);
// The bill CSV, the bytes of tallyphon-report --bill-csv.
TPageAnswer BillCsvPage(pqxx::connection_base& db, const TPageRequest& request);
// The printed bill, the pages of tallyphon-report --bill-pdf.
TPageAnswer BillPdfPage(pqxx::connection_base& db, const TPageRequest& request);
