#include "scenario.h"

#include <cctype>
#include <sstream>
#include <stdexcept>

#include "sim_exchange.h"

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

std::string StripComment(const std::string& line) {
    for (size_t i = 0; i < line.size(); ++i)
        if (line[i] == '#' && (i == 0 || std::isspace(static_cast<unsigned char>(line[i - 1]))))
            return line.substr(0, i);
    return line;
}

TScenarioRecord ParseLine(const std::string& line, uint16_t defaultDays) {
    TScenarioRecord rec;
    TSimCall call;
    call.Days = defaultDays;
    bool callFields = false, rejected = false, hex = false;

    std::istringstream in(line);
    std::string tok;
    while (in >> tok) {
        if (tok == "rejected") {
            rejected = true;
            continue;
        }
        size_t eq = tok.find('=');
        if (eq == std::string::npos) throw std::runtime_error("unknown word '" + tok + "'");
        std::string key = tok.substr(0, eq), value = tok.substr(eq + 1);
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
    return rec;
}

}  // namespace

std::vector<TScenarioRecord> ParseScenario(const std::string& text, uint16_t defaultDays) {
    std::vector<TScenarioRecord> out;
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string body = StripComment(line);
        if (body.find_first_not_of(" \t") == std::string::npos) continue;
        try {
            out.push_back(ParseLine(body, defaultDays));
            out.back().Line = number;
        } catch (const std::runtime_error& e) {
            throw std::runtime_error("line " + std::to_string(number) + ": " + e.what());
        }
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

}  // namespace sim
