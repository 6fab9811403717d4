// The page "Графики": calls by hour of day and by day, and what they cost
// by zone, for the chosen offices and period. Every chart is a table of
// the page first; /charts.js draws the tables with Chart.js when the
// browser runs scripts.
#pragma once

#include <string>

#include "web/page.h"

TPageAnswer ChartsPage(pqxx::connection_base& db, const TPageRequest& request);

// The script served as /charts.js: a chart above each table of class
// "chart", from the table's own cells; nothing when Chart.js is missing.
const std::string& ChartsScript();
