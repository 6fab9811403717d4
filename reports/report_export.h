// Fixed-column export lines of the three report grids and the file writer.
// Lines are UTF-8 in memory; positions count characters, not bytes.
#pragma once

#include <array>
#include <string>
#include <vector>

// Header lines of the call-grid, subscriber-line and trunk exports.
extern const char* const kCallExportHeader;
extern const char* const kALExportHeader;
extern const char* const kSLExportHeader;

// Puts t into line before its character at 1-based position p, shifting the
// rest to the right; appends t when the line has fewer than p - 1 characters.
void InsertAt(std::string& line, const std::string& t, size_t p);

// Export line of a call-grid row: date, time, duration, hardware number,
// programmed number, trunk, dialled number.
std::string CallExportLine(const std::array<std::string, 7>& cells);

// Export line of a subscriber-line grid row: hardware number, programmed
// number, outgoing, incoming and total traffic.
std::string ALExportLine(const std::array<std::string, 5>& cells);

// Export line of a trunk grid row: trunk, outgoing, incoming and total traffic.
std::string SLExportLine(const std::array<std::string, 4>& cells);

// Writes the lines (UTF-8) to path in Windows-1251, each ended by CR LF,
// creating the file or cutting it to zero length. Returns 0 when every line
// was written and the file closed; -2 when the file can be neither created
// nor opened; -3 when writing or closing it failed; -1 on any other failure.
// On every result but 0 the system error number goes to *err.
int WriteLinesToFile(const std::vector<std::string>& ListBox2, const std::string& path, int* err);
