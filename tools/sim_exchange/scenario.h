// Text forms the simulated exchange reads: scenario files of records and
// hexadecimal byte lists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct TScenarioRecord {
    int Unit = 0;
    std::vector<uint8_t> Payload;  // descrambled, as EncodeRecord gives it
    int Line = 0;                  // where it stood in the text, from 1
};

// Parses a scenario: one record per line, either
//   unit=U days=D ticks=T dur=D hw=H prg=DIGITS trunk=B dial=DIGITS
// (every field optional; days defaults to defaultDays, the rest to zero or
// empty), or "rejected", or "hex=02 26 ..." (the rest of the line), each
// optionally with unit=U. '#' at the start of a line or after a blank starts
// a comment. Throws std::runtime_error "line N: ..." on the first bad line.
std::vector<TScenarioRecord> ParseScenario(const std::string& text, uint16_t defaultDays);

// "02 26 ff", "0226FF" or "02,26,ff" to bytes; throws std::invalid_argument
// on anything else, including an odd number of digits.
std::vector<uint8_t> ParseHexBytes(const std::string& text);

}  // namespace sim
