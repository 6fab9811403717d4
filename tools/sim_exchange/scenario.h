// Text forms the simulated exchange reads: scenario files of records and
// faults, and hexadecimal byte lists.
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

// Faults asked for by a scenario or by the program's options.
struct TScenarioFaults {
    std::vector<int> LoseReply;  // record replies (from 1) lost after being acted on
    std::vector<int> FlipReply;  // record replies (from 1) sent with a flipped byte
    double HideLinkAt = -1;      // seconds from the start until the link name goes
                                 // (below 0: it never does)
    double HideLinkFor = 0;      // seconds until it comes back (0: not before the end)
    std::string HideLinkTo;      // decoy it points at meanwhile (empty: none)
};

struct TScenario {
    std::vector<TScenarioRecord> Records;
    TScenarioFaults Faults;
};

// Parses a scenario: one record per line, either
//   unit=U days=D ticks=T dur=D hw=H prg=DIGITS trunk=B dial=DIGITS
// (every field optional; days defaults to defaultDays, the rest to zero or
// empty), or "rejected", or "hex=02 26 ..." (the rest of the line), each
// optionally with unit=U and repeat=N (the record stands N times in a row,
// 1..1000; before hex=). A line may instead hold fault directives:
//   lose-reply=N flip-reply=N (any number of each)
//   hide-link-at=SEC [hide-link-for=SEC] [hide-link-to=PATH] (once a file)
// '#' at the start of a line or after a blank starts a comment. Throws
// std::runtime_error "line N: ..." on the first bad line.
TScenario ParseScenario(const std::string& text, uint16_t defaultDays);

// "02 26 ff", "0226FF" or "02,26,ff" to bytes; throws std::invalid_argument
// on anything else, including an odd number of digits.
std::vector<uint8_t> ParseHexBytes(const std::string& text);

// A whole-string decimal number of seconds ("2", "0.25") from 0 to 86400;
// throws std::invalid_argument naming what on anything else.
double ParseSeconds(const std::string& what, const std::string& text);

}  // namespace sim
