// Reading a call-log file back in tests, and the lines a set of record
// payloads should leave in it.
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "call_log.h"
#include "cp1251.h"
#include "low_level.h"

namespace testing_support {

// Lines of a Windows-1251 file as UTF-8, without their CR LF.
inline std::vector<std::string> CallLogLines(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string l;
    while (std::getline(file, l)) {
        if (!l.empty() && l.back() == '\r') l.pop_back();
        lines.push_back(Cp1251ToUtf8(l));
    }
    return lines;
}

// The call lines the payloads give, decoded the way ll decodes (rejected
// records give none).
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
