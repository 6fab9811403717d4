// Fixed-column export lines of the three report grids and the file writer.
// Lines are UTF-8 in memory; positions count characters, not bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/file_result.h"
#include "base/output_file.h"

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

// Line i (UTF-8) of an export of count lines; line 0 is the header.
using TExportLineAt = std::function<std::string(size_t i)>;

// Writes count lines in Windows-1251, each ended by CR LF, to path through
// WriteFileReplacing; results as there.
TFileResult WriteLinesToFile(size_t count, const TExportLineAt& lineAt, const std::string& path,
                             const TWriteControl& control = {});

// The same for lines held in a list.
TFileResult WriteLinesToFile(const std::vector<std::string>& ListBox2, const std::string& path);
