// The CSV files the administrator keeps in a spreadsheet (tariffs, the
// subscriber directory): split into records of fields, with the line each
// record starts on kept for messages.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/file_result.h"
#include "billing/billing_result.h"

struct TCsvRecord {
    int Line = 0;  // the line the record starts on, from 1
    std::vector<std::string> Fields;
};

// Splits UTF-8 text (a leading BOM skipped) into records: fields separated by
// ";", quoted as RFC 4180 has it ("a;b", "" for a quote, line breaks inside
// quotes), lines ended by CR LF, LF or CR. Blanks around a field are dropped;
// blank lines, and lines of empty fields only, are skipped. Invalid for a
// quote left open, naming the line it opened on.
TBillingResult SplitCsv(std::string_view text, std::vector<TCsvRecord>& records);

// Reads a whole regular file of at most 64 MB into text.
TFileResult ReadSmallFile(const std::string& path, std::string& text);
// The same for a table the administrator keeps (tariffs, directory), as
// UTF-8: a file that is valid UTF-8 (a BOM or not) is taken as it is, one
// with a UTF-16 BOM (FF FE or FE FF) is decoded, anything else is read as
// Windows-1251, what a Russian spreadsheet saves. CannotRead, naming the
// file, when it cannot be read (with errno) or is broken UTF-16.
TBillingResult ReadTableFile(const std::string& path, std::string& text);
// The same for a table's bytes already read (an upload): CannotRead, naming
// name, for broken UTF-16.
TBillingResult DecodeTable(std::string bytes, const std::string& name, std::string& text);

// Whether rec is a header line: its first field, and each field after it
// that is not empty, one of the names allowed at its place, in any case.
// names[k] lists the lower-case names of field k separated by "|".
bool IsHeaderRecord(const TCsvRecord& rec, const char* const* names, size_t count);
