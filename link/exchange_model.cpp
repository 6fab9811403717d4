#include "link/exchange_model.h"

#include <cstring>

#include "base/little_endian.h"
#include "link/protocol.h"

namespace {

bool StartsWith(const std::string& s, const char* prefix) {
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

}  // namespace

bool SupportsLineStateQuery(const std::string& modelName) {
    // QTV610 and QTV930-1 report their line states.
    return modelName.find("610") != std::string::npos || modelName.find("930") != std::string::npos;
}

bool SelectsUnitForReading(const TIdentification& exchange) {
    return exchange.MultiUnit || exchange.ModelName.find("800") != std::string::npos;
}

bool LookUpModel(uint8_t typeCode, std::string& model, int& units, bool& selectBeforeStatus) {
    static const struct {
        const char* name;
        bool select;
    } kModels[] = {
        {"C", true},          // 3
        {"QTV610", false},    // 4
        {"QS800", true},      // 5
        {"QTV930-1", false},  // 6
        {"QS16", false},      // 7
        {"QS20", false},      // 8
        {"QS31", false},      // 9
        {"QS53", false},      // 10
    };
    if (typeCode < 3 || typeCode > 10) return false;
    model = kModels[typeCode - 3].name;
    units = 1;
    selectBeforeStatus = kModels[typeCode - 3].select;
    return true;
}

std::string TrunkText(const TIdentification& exchange, uint8_t b) {
    const std::string& m = exchange.ModelName;
    if (StartsWith(m, "QTV")) return std::to_string(TrunkNumber(TTrunkFamily::QTV, b - 1));
    if (StartsWith(m, "QS16") || StartsWith(m, "QS20"))
        return std::to_string(TrunkNumber(TTrunkFamily::QS16, b - 1));
    if (StartsWith(m, "QS800") || m == "B" || exchange.MultiUnit) {
        std::string n = std::to_string(TrunkNumber(TTrunkFamily::QS800, b));
        if (n.size() == 1) n = "0" + n;
        return "(" + std::to_string(b / 64 + 2) + ")" + n;
    }
    if (m == "QS53" || m == "QS31") return std::to_string(TrunkNumber(TTrunkFamily::Pollo, b));
    return std::string();
}

TRecord DecodeRecord(const TIdentification& exchange, const uint8_t* payload, int len) {
    // Bytes a short record does not carry read as zero.
    uint8_t b[protocol::kRecordBufferSize];
    std::memset(b, 0, sizeof b);
    const int n =
        len < protocol::kRecordBufferSize ? (len > 0 ? len : 0) : protocol::kRecordBufferSize;
    std::memcpy(b, payload, static_cast<size_t>(n));

    const uint64_t tick = static_cast<uint64_t>(exchange.TickLength);
    TRecord r;
    const TDateTimeParts start =
        SecondsToDateTime(static_cast<uint64_t>(ReadLe16(b)) * 86400 + ReadLe16(b + 2) * tick);
    r.Year = start.Year;
    r.Month = start.Month;
    r.Day = start.Day;
    r.StartHour = start.Hour;
    r.StartMin = start.Minute;
    r.StartSec = start.Second;
    const TDateTimeParts dur = SecondsToDateTime(ReadLe16(b + 4) * tick);
    r.DurHour = dur.Hour;
    r.DurMin = dur.Minute;
    r.DurSec = dur.Second;
    r = ValidateRecord(std::move(r));

    r.HwLine = ReadLe16(b + 6);
    r.PrgNumber = (b[8] == 0 && b[9] == 0) ? std::string("-1") : "1" + DecodeDigits(b + 8, 2, true);
    r.Trunk = TrunkText(exchange, b[10]);
    if (n >= 12) r.DialNumber = DecodeDigits(b + 11, n - 11, false);
    return r;
}
