#include "tools/sim_exchange/scenario.h"

#include <cctype>
#include <sstream>
#include <stdexcept>

#include "tools/sim_exchange/sim_exchange.h"

namespace sim {

namespace {

// Decimal, or hexadecimal after 0x; throws when not a number up to max.
unsigned long ParseNumber(const std::string& key, const std::string& value, unsigned long max) {
    std::string digits = value;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
        base = 16;
    }
    if (digits.empty()) throw std::runtime_error(key + "= needs a number");
    for (char c : digits)
        if (!(base == 16 ? std::isxdigit(static_cast<unsigned char>(c))
                         : std::isdigit(static_cast<unsigned char>(c))))
            throw std::runtime_error(key + "=" + value + " is not a number");
    if (digits.size() > 12) throw std::runtime_error(key + "=" + value + " is too large");
    unsigned long v = std::stoul(digits, nullptr, base);
    if (v > max) throw std::runtime_error(key + "=" + value + " is above " + std::to_string(max));
    return v;
}

// Adds one line's faults to those of the lines before it. A hide-link group
// stands on one line, once a file, so its parts cannot drift apart.
void MergeFaults(const TScenarioFaults& line, TScenarioFaults& all) {
    const bool hide = line.HideLinkAt >= 0;
    if (!hide && (line.HideLinkFor > 0 || !line.HideLinkTo.empty()))
        throw std::runtime_error("hide-link-for= and hide-link-to= go with hide-link-at=");
    if (hide && all.HideLinkAt >= 0) throw std::runtime_error("a second hide-link-at=");
    all.LoseReply.insert(all.LoseReply.end(), line.LoseReply.begin(), line.LoseReply.end());
    all.FlipReply.insert(all.FlipReply.end(), line.FlipReply.begin(), line.FlipReply.end());
    if (hide) {
        all.HideLinkAt = line.HideLinkAt;
        all.HideLinkFor = line.HideLinkFor;
        all.HideLinkTo = line.HideLinkTo;
    }
}

std::string StripComment(const std::string& line) {
    for (size_t i = 0; i < line.size(); ++i)
        if (line[i] == '#' && (i == 0 || std::isspace(static_cast<unsigned char>(line[i - 1]))))
            return line.substr(0, i);
    return line;
}

// Reads one fault directive into faults; false when key is none.
bool ParseDirective(const std::string& key, const std::string& value, TScenarioFaults& faults) {
    if (key == "lose-reply" || key == "flip-reply") {
        const int nth = static_cast<int>(ParseNumber(key, value, 1000000));
        if (nth < 1) throw std::runtime_error(key + "= counts replies from 1");
        (key == "lose-reply" ? faults.LoseReply : faults.FlipReply).push_back(nth);
        return true;
    }
    try {
        if (key == "hide-link-at")
            faults.HideLinkAt = ParseSeconds(key + "=", value);
        else if (key == "hide-link-for")
            faults.HideLinkFor = ParseSeconds(key + "=", value);
        else if (key != "hide-link-to")
            return false;
    } catch (const std::invalid_argument& e) {
        throw std::runtime_error(e.what());
    }
    if (key == "hide-link-to") {
        if (value.empty()) throw std::runtime_error(key + "= needs a path");
        faults.HideLinkTo = value;
    }
    return true;
}

// Adds what the line says to out: its record (repeat= times) or its faults.
void ParseLine(const std::string& line, uint16_t defaultDays, TScenario& out) {
    TScenarioRecord rec;
    TSimCall call;
    call.Days = defaultDays;
    bool callFields = false, rejected = false, hex = false, recordWords = false;
    unsigned long repeat = 1;
    TScenarioFaults faults;
    int directives = 0;

    std::istringstream in(line);
    std::string tok;
    while (in >> tok) {
        if (tok == "rejected") {
            rejected = recordWords = true;
            continue;
        }
        size_t eq = tok.find('=');
        if (eq == std::string::npos) throw std::runtime_error("unknown word '" + tok + "'");
        std::string key = tok.substr(0, eq), value = tok.substr(eq + 1);
        if (ParseDirective(key, value, faults)) {
            ++directives;
            continue;
        }
        recordWords = true;
        if (key == "hex") {
            std::string rest;
            std::getline(in, rest);
            try {
                rec.Payload = ParseHexBytes(value + " " + rest);
            } catch (const std::invalid_argument& e) {
                throw std::runtime_error(std::string("hex=: ") + e.what());
            }
            if (rec.Payload.empty() || rec.Payload.size() > 255)
                throw std::runtime_error("hex= needs 1 to 255 bytes");
            hex = true;
            break;
        }
        if (key == "unit") {
            rec.Unit = static_cast<int>(ParseNumber(key, value, 255));
            continue;
        }
        if (key == "repeat") {
            repeat = ParseNumber(key, value, 1000);
            if (repeat == 0) throw std::runtime_error("repeat= is at least 1");
            continue;
        }
        callFields = true;
        if (key == "days")
            call.Days = static_cast<uint16_t>(ParseNumber(key, value, 0xFFFF));
        else if (key == "ticks")
            call.Ticks = static_cast<uint16_t>(ParseNumber(key, value, 0xFFFF));
        else if (key == "dur")
            call.DurationTicks = static_cast<uint16_t>(ParseNumber(key, value, 0xFFFF));
        else if (key == "hw")
            call.HwLine = static_cast<uint16_t>(ParseNumber(key, value, 0xFFFF));
        else if (key == "trunk")
            call.TrunkCode = static_cast<uint8_t>(ParseNumber(key, value, 0xFF));
        else if (key == "prg")
            call.PrgDigits = value;
        else if (key == "dial")
            call.DialDigits = value;
        else
            throw std::runtime_error("unknown field '" + key + "'");
    }
    if (directives > 0) {
        if (recordWords) throw std::runtime_error("a line holds a record or faults, not both");
        MergeFaults(faults, out.Faults);
        return;
    }
    if (rejected + hex + callFields > 1)
        throw std::runtime_error("a line is a call, 'rejected' or 'hex=', not a mixture");
    if (rejected) {
        rec.Payload = RejectedRecord();
    } else if (!hex) {
        try {
            rec.Payload = EncodeRecord(call);
        } catch (const std::invalid_argument& e) {
            throw std::runtime_error(e.what());
        }
    }
    out.Records.insert(out.Records.end(), repeat, rec);
}

}  // namespace

TScenario ParseScenario(const std::string& text, uint16_t defaultDays) {
    TScenario out;
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string body = StripComment(line);
        if (body.find_first_not_of(" \t") == std::string::npos) continue;
        const size_t before = out.Records.size();
        try {
            ParseLine(body, defaultDays, out);
        } catch (const std::runtime_error& e) {
            throw std::runtime_error("line " + std::to_string(number) + ": " + e.what());
        }
        for (size_t i = before; i < out.Records.size(); ++i)
            out.Records[i].Line = number;
    }
    return out;
}

std::vector<uint8_t> ParseHexBytes(const std::string& text) {
    std::vector<uint8_t> out;
    std::string digits;
    auto take = [&] {
        if (digits.size() % 2 != 0)
            throw std::invalid_argument("odd number of hex digits in '" + digits + "'");
        for (size_t i = 0; i < digits.size(); i += 2)
            out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
        digits.clear();
    };
    for (char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            digits += c;
        } else if (std::isspace(static_cast<unsigned char>(c)) || c == ',') {
            take();
        } else {
            throw std::invalid_argument(std::string("not a hex digit: '") + c + "'");
        }
    }
    take();
    return out;
}

double ParseSeconds(const std::string& what, const std::string& text) {
    const bool wellFormed = !text.empty() && text.find_first_not_of("0123456789.") == text.npos &&
                            text.find('.') == text.rfind('.') && text != ".";
    if (!wellFormed || std::stod(text) > 86400)
        throw std::invalid_argument(what + " '" + text +
                                    "' is not a number of seconds from 0 to 86400");
    return std::stod(text);
}

}  // namespace sim
