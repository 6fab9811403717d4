// "Звонки" (/calls) and its download (/calls.csv): the calls of the chosen
// offices and period, filtered by subscriber, dialled prefix, duration and,
// for an office with tariffs, zone and cost; sorted by a column and paged by
// key, so that any page costs the same however many calls an office holds.
#pragma once

#include "web/page.h"

// The page; bad filters, a bad "Дальше" link or another's office give a
// message and no rows (status 200). Throws what libpqxx throws but for bad
// values given to the server.
TPageAnswer CallsPage(pqxx::connection_base& db, const TPageRequest& request);

// The calls of the page's choice and filters as the CSV tallyphon-report
// --csv-calls writes, byte for byte, for the same offices, period, --number
// and --prefix (with the office's stored tariffs as --tariffs); zone, cost
// and duration only leave rows out. Bad arguments: 400.
TPageAnswer CallsCsvPage(pqxx::connection_base& db, const TPageRequest& request);
