// The call-log line as the program writes it: the title block a reading
// run starts with, a call's line in either layout, and the bytes they take
// in the file. The reports read the same lines back (calllog_loader.h), so
// the two sides of the format stay together here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/calendar.h"
#include "link/record.h"

// Second title line: the column heads.
extern const char* const kColumnLine;

// The two title lines of one reading run (UTF-8).
struct TCallLogTitle {
    std::string TitleLine;
    std::string ColumnLine;
};

// "       Данные на  DD-MM-YYYY hh:mm:ss " for the exchange clock (UTF-8).
std::string TitleText(const TDateTimeParts& clock);
// The title of a reading run from the exchange's clock.
TCallLogTitle BuildTitle(const TDateTimeParts& clock);

// The length of the title block (Windows-1251, CR LF ends, possibly after
// an empty line) that bytes begin with; 0 when they begin with anything
// else.
size_t TitleBlockLength(std::string_view bytes);

// The call line of record (UTF-8, no line end): the fixed-column standard
// layout, or with altFormat the nine semicolon-separated fields.
std::string FormatCallLine(const TRecord& record, bool altFormat, const std::string& modelName,
                           const std::string& serialNumber);

// The bytes of a line (UTF-8) in the file: Windows-1251, ended by CR LF.
std::string CallLogBytes(const std::string& line);
