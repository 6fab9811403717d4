// "Тревоги" (/alerts): the alerts the offices wrote to the database, of the
// chosen offices and period, newest first, paged by key.
#pragma once

#include "web/page.h"

// The page; a bad choice or a bad "Дальше" link gives a message and no
// rows (status 200). Throws what libpqxx throws.
TPageAnswer AlertsPage(pqxx::connection_base& db, const TPageRequest& request);
