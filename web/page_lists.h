// "Линии" (/lines) and "СЛ" (/trunks): the subscriber-line and trunk lists
// of the chosen offices and period, as tallyphon-report --db makes them
// from the database's sums, and the same lists as CSV (/lines.csv,
// /trunks.csv), byte for byte the program's --csv-lines and --csv-trunks.
#pragma once

#include "web/page.h"

TPageAnswer LinesPage(pqxx::connection_base& db, const TPageRequest& request);
TPageAnswer TrunksPage(pqxx::connection_base& db, const TPageRequest& request);
TPageAnswer LinesCsv(pqxx::connection_base& db, const TPageRequest& request);
TPageAnswer TrunksCsv(pqxx::connection_base& db, const TPageRequest& request);
