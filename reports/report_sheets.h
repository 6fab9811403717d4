// The report grids as CSV files for a spreadsheet: UTF-8 with a byte-order
// mark, ';' between fields (what spreadsheets of a Russian locale expect),
// fields quoted by RFC 4180, CR LF after every record. The header row is the
// grid's header row and every other row holds the texts the grid shows, in
// its order, but a date always as dd.MM.yyyy: the bytes never depend on the
// locale. The empty row of a query that selected nothing is no call and is
// left out.
#pragma once

#include <string>
#include <string_view>

#include "reports/report_export.h"
#include "reports/report_grids.h"

// Appends text to record as one field: as it is, or between quotes with its
// quotes doubled when it holds ';', '"', CR or LF.
void AppendCsvField(std::string& record, std::string_view text);

// The bytes WriteCallsCsv writes, made in memory in two steps for a caller
// that sends them in pieces: the byte-order mark and grid's header record,
// then the records of grid's calls (the empty row of a query that selected
// nothing left out), appended to out.
std::string CallsCsvHead(const TCallGrid& grid);
void AppendCallsCsvRows(const TCallGrid& grid, std::string& out);

// Write a grid to path through WriteFileReplacing; results as there.
TFileResult WriteCallsCsv(const TCallGrid& grid, const std::string& path,
                          const TWriteControl& control = {});
TFileResult WriteALCsv(const TALGrid& grid, const std::string& path,
                       const TWriteControl& control = {});
TFileResult WriteSLCsv(const TSLGrid& grid, const std::string& path,
                       const TWriteControl& control = {});

// The bytes WriteALCsv and WriteSLCsv write, held in memory for a caller
// that sends them elsewhere (a download from the web server).
std::string ALCsvText(const TALGrid& grid);
std::string SLCsvText(const TSLGrid& grid);
