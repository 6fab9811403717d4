// The user's regional settings as the report grids use them.
#pragma once

#include "reports/report_grids.h"

// Dates in the short date format of the system's locale (QLocale::system());
// dd.MM.yyyy when that is the C locale or none is set.
TDateText SystemShortDate();
