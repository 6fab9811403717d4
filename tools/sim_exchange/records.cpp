// Call records as the exchange packs them, and a generator of plausible days.
#include <algorithm>
#include <cstdio>
#include <random>
#include <stdexcept>

#include "base/little_endian.h"
#include "tools/sim_exchange/sim_exchange.h"

namespace sim {

namespace {

// Nibble of a programmed-number digit: 0 travels as A so that 0 stays filler.
uint8_t PrgNibble(char c) {
    if (c == '0') return 0xA;
    if (c >= '1' && c <= '9') return static_cast<uint8_t>(c - '0');
    throw std::invalid_argument(std::string("programmed number: not a digit: '") + c + "'");
}

uint8_t DialNibble(char c) {
    switch (c) {
        case '0':
            return 0xA;
        case '*':
            return 0xB;
        case '#':
            return 0xC;
        case 'P':
            return 0xD;
        case 'A':
            return 0xE;
        case 'T':
            return 0xF;
        default:
            break;
    }
    if (c >= '1' && c <= '9') return static_cast<uint8_t>(c - '0');
    throw std::invalid_argument(std::string("dialled number: not one of 0-9 * # P A T: '") + c +
                                "'");
}

// Deterministic on every standard library: plain modulo over mt19937, whose
// sequence the standard fixes (the distributions it leaves open).
class TPicker {
  public:
    explicit TPicker(uint32_t seed) : rng_(seed) {}
    int Pick(int lo, int hi) {
        return lo + static_cast<int>(rng_() % static_cast<uint32_t>(hi - lo + 1));
    }
    std::string Digits(int count) {
        std::string s;
        for (int i = 0; i < count; ++i)
            s += static_cast<char>('0' + Pick(0, 9));
        return s;
    }

  private:
    std::mt19937 rng_;
};

// A trunk code that the model's decoding turns into a real trunk.
uint8_t PickTrunk(TPicker& p, uint8_t typeCode, int unit) {
    switch (typeCode) {
        case 2:
        case 5:
            return static_cast<uint8_t>(((unit & 3) << 6) | p.Pick(1, 24));
        case 9:
        case 10: {
            static const uint8_t kPollo[] = {1, 2, 3, 4, 6, 7, 8, 9};
            return kPollo[p.Pick(0, 7)];
        }
        default:
            return static_cast<uint8_t>(p.Pick(1, 8));
    }
}

std::string PickDialled(TPicker& p) {
    int roll = p.Pick(0, 99);
    if (roll < 62) return std::to_string(p.Pick(2, 9)) + p.Digits(6);        // local
    if (roll < 80) return "8" + std::to_string(p.Pick(3, 8)) + p.Digits(9);  // long distance
    if (roll < 92) return "89" + p.Digits(9);                                // mobile
    if (roll < 96) return "0" + std::to_string(p.Pick(1, 4));                // services
    // Supplementary services and a few tone-dialled extras.
    static const char* kCodes[] = {"*21#", "#21#", "*43#", "#43#", "*#06#"};
    return kCodes[p.Pick(0, 4)];
}

int PickDurationSeconds(TPicker& p) {
    int roll = p.Pick(0, 99);
    if (roll < 55) return p.Pick(3, 300);
    if (roll < 85) return p.Pick(301, 1800);
    if (roll < 96) return p.Pick(1801, 3600);
    return p.Pick(3601, 3 * 3600);
}

}  // namespace

std::vector<uint8_t> EncodeRecord(const TSimCall& call) {
    if (call.PrgDigits.size() > 4)
        throw std::invalid_argument("programmed number: more than 4 digits: " + call.PrgDigits);
    if (call.DialDigits.size() + 1 > 2 * (255 - 11))
        throw std::invalid_argument("dialled number: too long for one record");

    std::vector<uint8_t> out;
    PutLe16(out, call.Days);
    PutLe16(out, call.Ticks);
    PutLe16(out, call.DurationTicks);
    PutLe16(out, call.HwLine);

    // The reader swaps bytes 8 and 9 and reads four nibbles, byte 9 first;
    // the digits fill those nibbles from the right.
    uint16_t nibbles = 0;
    for (char c : call.PrgDigits)
        nibbles = static_cast<uint16_t>((nibbles << 4) | PrgNibble(c));
    out.push_back(static_cast<uint8_t>(nibbles & 0xFF));  // byte 8: last two digits
    out.push_back(static_cast<uint8_t>(nibbles >> 8));    // byte 9: first two

    out.push_back(call.TrunkCode);

    // The dialled number starts with a filler nibble and is padded with one
    // to whole bytes: "012*" travels as 0A 12 B0.
    if (!call.DialDigits.empty()) {
        std::vector<uint8_t> nib{0};
        for (char c : call.DialDigits)
            nib.push_back(DialNibble(c));
        if (nib.size() % 2 != 0) nib.push_back(0);
        for (size_t i = 0; i < nib.size(); i += 2)
            out.push_back(static_cast<uint8_t>((nib[i] << 4) | nib[i + 1]));
    }
    return out;
}

std::vector<uint8_t> RejectedRecord() {
    return {0x0F, 0xFF};
}

std::vector<std::vector<uint8_t>> GenerateOfficeDay(const TDayOptions& options) {
    if (options.Calls < 0) throw std::invalid_argument("office day: negative number of calls");
    if (options.TickLength < 0) throw std::invalid_argument("office day: negative tick length");
    if (options.RejectedEvery < 0 || options.ShortEvery < 0 || options.TwinsEvery < 0)
        throw std::invalid_argument("office day: negative record interval");
    const int tick = options.TickLength == 0 ? 6 : options.TickLength;

    TPicker p(options.Seed);
    // The working day runs 08:00 to 18:00; calls are logged in start order.
    std::vector<int> starts(static_cast<size_t>(options.Calls));
    for (int& s : starts)
        s = 8 * 3600 + p.Pick(0, 10 * 3600 - 1);
    std::sort(starts.begin(), starts.end());

    std::vector<std::vector<uint8_t>> records;
    records.reserve(starts.size());
    // A twin copies what was generated and draws nothing, so a day with twins
    // is the same day with the copies slipped in.
    auto twin = [&](int n) {
        if (options.TwinsEvery > 0 && n % options.TwinsEvery == 0) {
            std::vector<uint8_t> copy = records.back();
            records.push_back(std::move(copy));
        }
    };
    for (size_t i = 0; i < starts.size(); ++i) {
        const int n = static_cast<int>(i) + 1;
        TSimCall call;
        call.Days = options.Days;
        call.Ticks = static_cast<uint16_t>(std::min(starts[i] / tick, 0xFFFF));
        call.DurationTicks = static_cast<uint16_t>(std::min(PickDurationSeconds(p) / tick, 0xFFFF));
        call.HwLine = static_cast<uint16_t>(p.Pick(1, 64));
        char prg[8];
        std::snprintf(prg, sizeof prg, "%02d", call.HwLine);
        call.PrgDigits = prg;
        call.TrunkCode = PickTrunk(p, options.TypeCode, options.Unit);
        if (p.Pick(0, 99) < 60) call.DialDigits = PickDialled(p);  // else incoming

        if (options.RejectedEvery > 0 && n % options.RejectedEvery == 0) {
            records.push_back(RejectedRecord());
            twin(n);
            continue;
        }
        std::vector<uint8_t> rec = EncodeRecord(call);
        if (options.ShortEvery > 0 && n % options.ShortEvery == 0) {
            rec.resize(static_cast<size_t>(p.Pick(2, 11)));
            if (rec[0] == 0x0F && rec[1] == 0xFF) rec[0] = 0x0E;  // never a rejected record
        }
        records.push_back(std::move(rec));
        twin(n);
    }
    return records;
}

}  // namespace sim
