// "Офисы" (/): per office, its exchange, its last call and when it last
// shipped, and its calls today.
#pragma once

#include "web/page.h"

TPageAnswer OfficesPage(pqxx::connection_base& db, const TPageRequest& request);
