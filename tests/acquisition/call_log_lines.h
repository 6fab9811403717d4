// Reading a call-log file back in tests, and the lines the program's own
// writer makes of a set of record payloads (for runs too long to write out
// by hand).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/cp1251.h"
#include "calllog/call_line.h"
#include "link/low_level.h"
#include "tests/common/test_support.h"

namespace testing_support {

// Lines of a Windows-1251 file as UTF-8, without their CR LF.
inline std::vector<std::string> CallLogLines(const std::string& path) {
    const std::string bytes = ReadFile(path);
    std::vector<std::string> lines;
    size_t from = 0;
    while (from < bytes.size()) {
        size_t end = bytes.find('\n', from);
        if (end == std::string::npos) end = bytes.size();
        std::string l = bytes.substr(from, end - from);
        if (!l.empty() && l.back() == '\r') l.pop_back();
        lines.push_back(Cp1251ToUtf8(l));
        from = end + 1;
    }
    return lines;
}

// The call lines the payloads give, decoded and written the way ll does
// (rejected records give none).
inline std::vector<std::string> ExpectedCallLines(
    const TLowLevel& ll, const std::vector<std::vector<uint8_t>>& payloads) {
    std::vector<std::string> lines;
    for (const auto& p : payloads) {
        if (p.size() >= 2 && p[0] == 0x0F && p[1] == 0xFF) continue;
        const TIdentification& x = ll.Identification();
        lines.push_back(FormatCallLine(DecodeRecord(x, p.data(), int(p.size())),
                                       ll.Settings.AltFormat, x.ModelName, x.SerialNumber));
    }
    return lines;
}

}  // namespace testing_support
