// The three report grids as one spreadsheet workbook (XLSX) with the sheets
// "Звонки", "АЛ" and "СЛ": the rows each grid shows, in its order, under the
// grid's header row, which is bold and stays in view when scrolling. Dates
// and times of day are date cells ("dd.mm.yyyy", "hh:mm:ss"), durations and
// traffic duration cells ("[h]:mm:ss", 123 hours show as 123:00:45), and
// numbers that name something (lines, trunks, dialled numbers) are text, so
// leading zeros stay. Columns are as wide as their longest text.
#pragma once

#include <cstddef>
#include <string>

#include "reports/report_export.h"
#include "reports/report_grids.h"

// Rows a sheet takes below its header row; calls past them go on in sheets
// "Звонки (2)", "Звонки (3)" and so on.
constexpr size_t kSheetRowLimit = 1048575;

// Writes the workbook to path through WriteFileReplacing; results as there.
// Its bytes are the same under every locale of the process or the thread.
// rowsPerSheet is for tests of the continuation sheets.
TFileResult WriteWorkbook(const TCallGrid& calls, const TALGrid& lines, const TSLGrid& trunks,
                          const std::string& path, size_t rowsPerSheet = kSheetRowLimit,
                          const TWriteControl& control = {});
