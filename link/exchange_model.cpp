#include "link/exchange_model.h"

#include <cstring>

#include "base/little_endian.h"
#include "link/protocol.h"

namespace {

bool StartsWith(const std::string& s, const char* prefix) {
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

bool Has(const std::string& s, const char* part) {
    return s.find(part) != std::string::npos;
}

}  // namespace

TModelRules ModelRules(const std::string& m, bool multiUnit) {
    TModelRules r;
    r.AnswersLineState = Has(m, "610") || Has(m, "930");
    r.SelectsUnitForReading = multiUnit || Has(m, "800");
    if (StartsWith(m, "QTV"))
        r.RecordTrunks = TTrunkStyle::QTV;
    else if (StartsWith(m, "QS16") || StartsWith(m, "QS20"))
        r.RecordTrunks = TTrunkStyle::QS16;
    else if (StartsWith(m, "QS800") || m == "B" || multiUnit)
        r.RecordTrunks = TTrunkStyle::QS800;
    else if (m == "QS53" || m == "QS31")
        r.RecordTrunks = TTrunkStyle::Pollo;
    r.PadsOneDigitTrunk = m == "QS31" || m == "QS53";
    if (Has(m, "QTV"))
        r.StateLines = TLineNumbering::QTV;
    else if (Has(m, "QS16") || Has(m, "QS20"))
        r.StateLines = TLineNumbering::QS16;
    else if (Has(m, "B") || Has(m, "QS800"))
        r.StateLines = TLineNumbering::QS800;
    if (Has(m, "QTV"))
        r.StateTrunks = TLineNumbering::QTV;
    else if (Has(m, "QS16"))
        r.StateTrunks = TLineNumbering::QS16;
    else if (Has(m, "QS800"))
        r.StateTrunks = TLineNumbering::QS800;
    if (Has(m, "930")) r.GridColumns = 16;
    return r;
}

bool SupportsLineStateQuery(const std::string& modelName) {
    return ModelRules(modelName).AnswersLineState;
}

bool SelectsUnitForReading(const TIdentification& exchange) {
    return ModelRules(exchange.ModelName, exchange.MultiUnit).SelectsUnitForReading;
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

void LookUpNamedModel(std::string name, TIdentification& x) {
    const size_t zero = name.find('\0');
    if (zero != std::string::npos) name.resize(zero);
    if (name.size() >= 3 && (name[0] == '2' || name[0] == '3') && name[2] == 'B') name.resize(3);
    if (name.compare(0, 3, "QS3") == 0 && name.size() > 5) name.resize(5);
    x.MultiUnit = !name.empty() && (name[0] == '2' || name[0] == '3');
    x.UnitCount = x.MultiUnit ? name[0] - '0' : 1;
    x.ModelName = name;
    x.SelectBeforeStatus = true;
}

std::string TwoDigitTrunk(std::string number) {
    return number.size() == 1 ? "0" + number : number;
}

std::string TrunkText(const TIdentification& exchange, uint8_t b) {
    switch (ModelRules(exchange.ModelName, exchange.MultiUnit).RecordTrunks) {
        case TTrunkStyle::QTV:
            return std::to_string(TrunkNumber(TTrunkFamily::QTV, b - 1));
        case TTrunkStyle::QS16:
            return std::to_string(TrunkNumber(TTrunkFamily::QS16, b - 1));
        case TTrunkStyle::QS800: {
            return "(" + std::to_string(b / 64 + 2) + ")" +
                   TwoDigitTrunk(std::to_string(TrunkNumber(TTrunkFamily::QS800, b)));
        }
        case TTrunkStyle::Pollo:
            return std::to_string(TrunkNumber(TTrunkFamily::Pollo, b));
        case TTrunkStyle::None:
            break;
    }
    return std::string();
}

int SubscriberLineNumber(const std::string& modelName, uint8_t a) {
    switch (ModelRules(modelName).StateLines) {
        case TLineNumbering::QTV:
            return 200 + a;
        case TLineNumbering::QS16:
            return 200 + 10 * (a / 8) + a % 8;
        case TLineNumbering::QS800:
            return a + 1;
        case TLineNumbering::None:
            break;
    }
    return -1;
}

int TrunkNumberOf(const std::string& modelName, uint8_t a) {
    switch (ModelRules(modelName).StateTrunks) {
        case TLineNumbering::QTV:
            return 200 + 2 * a;
        case TLineNumbering::QS16:
            return 200 + 2 * a + 6 * (a / 2);
        case TLineNumbering::QS800: {
            const int t = a % 64;
            return t >= 1 && t <= 24 ? t : -1;
        }
        case TLineNumbering::None:
            break;
    }
    return -1;
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
