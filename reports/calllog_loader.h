// Reading call-log files (standard layout) into report records.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "types_rep.h"

// Reads one call-log line by the line rule into rec. Returns false when the
// line is rejected (too short, starts with a blank, a field that is not a
// number, an impossible date or time, no ")" after the programmed number);
// rec is then unspecified. Never looks outside line.
bool ParseCallLogLine(std::string_view line, TExtStr_rep& rec);

// What one load produced: the number of lines of 30 characters or more and
// the records of the lines that passed the line rule, in file order.
struct TCallLogContent {
    size_t LineCount = 0;
    TStrList_rep<TExtStr_rep> LineList;
};

// Splits text into lines (ended by CR LF, LF or CR) and reads them.
TCallLogContent ReadCallLogText(std::string_view text);

// Reads a call-log file in large blocks. Returns 1 on success; -2 when the
// file cannot be opened or is not a regular file, -1 when reading it fails; on failure the system
// error number goes to *err (when given) and content is left untouched.
int ReadCallLogFile(const std::string& path, TCallLogContent& content, int* err = nullptr);
