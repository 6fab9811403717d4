// "Тарифы" (/tariffs, the administrator's): per office the tariff file and
// subscriber directory its bills are made by, and the form that uploads
// them. An upload is read by the parsers of the desktop program and
// tallyphon-report, and stored only when every file of it is good.
#pragma once

#include "web/page.h"

TPageAnswer TariffsPage(pqxx::connection_base& db, const TPageRequest& request);
// The form's POST: fields site, tariffs and directory (files; either may
// be left out).
TPageAnswer TariffsUpload(pqxx::connection_base& db, const TPageRequest& request);
