#include "calllog/call_line.h"

#include "base/cp1251.h"
#include "link/exchange_model.h"

const char* const kColumnLine = "       Начало         Продолжит   Абонент      СЛ     Номер";

namespace {

// Decimal text of v with a leading "0" when it is one character long.
std::string Two(int v) {
    std::string s = std::to_string(v);
    return s.size() == 1 ? "0" + s : s;
}

std::string PadLeft(const std::string& s, size_t width) {
    return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

std::string PadRight(const std::string& s, size_t width) {
    return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

// A duration part with its separator, "0" put in front when shorter than
// width.
std::string DurPart(int v, const std::string& sep, size_t width) {
    std::string s = std::to_string(v) + sep;
    return s.size() < width ? "0" + s : s;
}

std::string StandardLine(const TRecord& r, const std::string& model) {
    const bool badDate = r.YearFlag == -1 || r.MonthFlag == -1 || r.DayFlag == -1;
    const bool badStart = r.StartHourFlag == -1 || r.StartMinFlag == -1 || r.StartSecFlag == -1;
    const bool badDur = r.DurHourFlag == -1 || r.DurMinFlag == -1 || r.DurSecFlag == -1;
    const std::string s = badDate ? "*" : "-";
    const std::string t = badStart ? "*" : ":";
    const std::string u = badDur ? "*" : ":";

    std::string line;
    line.reserve(96);
    line += Two(r.Day) + s + Two(r.Month) + s + std::to_string(r.Year);
    line += " ";
    line += Two(r.StartHour) + t + Two(r.StartMin) + t + Two(r.StartSec);
    line += "   ";
    line += DurPart(r.DurHour, u, 3) + DurPart(r.DurMin, u, 3) + DurPart(r.DurSec, "", 2);
    line += "   ";
    line += std::to_string(r.HwLine);
    if (r.PrgNumber == "-1")
        line += "(    )   ";
    else
        line += "(" + PadLeft(r.PrgNumber, 4) + ")   ";
    std::string trunk = ModelRules(model).PadsOneDigitTrunk ? TwoDigitTrunk(r.Trunk) : r.Trunk;
    for (int added = 0; added < 4 && trunk.size() < 5; ++added)
        trunk = " " + trunk;
    line += trunk + "     ";
    line += PadRight(r.DialNumber, 21);
    return line;
}

std::string AltLine(const TRecord& r, const std::string& serial) {
    const long long seconds = r.DurHour * 3600LL + r.DurMin * 60LL + r.DurSec;
    std::string line;
    line += (r.PrgNumber == "-1" ? std::string() : r.PrgNumber) + ";";
    line += std::to_string(r.HwLine) + ";";
    line += r.Trunk + ";";
    line += std::string(r.DialNumber.empty() ? "1" : "0") + ";";
    line += Two(r.Day) + "/" + Two(r.Month) + "/" + std::to_string(r.Year) + ";";
    line += Two(r.StartHour) + ":" + Two(r.StartMin) + ":" + Two(r.StartSec) + ";";
    line += std::to_string(seconds) + ";";
    line += r.DialNumber + ";";
    line += serial;
    return line;
}

}  // namespace

std::string CallLogBytes(const std::string& line) {
    return Utf8ToCp1251(line) + "\r\n";
}

std::string TitleText(const TDateTimeParts& c) {
    return "       Данные на  " + Two(c.Day) + "-" + Two(c.Month) + "-" + std::to_string(c.Year) +
           " " + Two(c.Hour) + ":" + Two(c.Minute) + ":" + Two(c.Second) + " ";
}

TCallLogTitle BuildTitle(const TDateTimeParts& clock) {
    return {TitleText(clock), kColumnLine};
}

size_t TitleBlockLength(std::string_view bytes) {
    static const std::string head = Utf8ToCp1251("       Данные на  ");
    static const std::string columns = CallLogBytes(kColumnLine);
    std::string_view rest = bytes;
    // A line end put first when the file had to be opened a second time.
    if (rest.substr(0, 2) == "\r\n") rest.remove_prefix(2);
    if (rest.substr(0, head.size()) != head) return 0;
    rest.remove_prefix(head.size());
    const size_t end = rest.find("\r\n");
    if (end == std::string_view::npos || end == 0 ||
        rest.substr(0, end).find_first_not_of("0123456789-: ") != std::string_view::npos)
        return 0;
    rest.remove_prefix(end + 2);
    if (rest.substr(0, columns.size()) != columns) return 0;
    rest.remove_prefix(columns.size());
    return bytes.size() - rest.size();
}

std::string FormatCallLine(const TRecord& record, bool altFormat, const std::string& modelName,
                           const std::string& serialNumber) {
    return altFormat ? AltLine(record, serialNumber) : StandardLine(record, modelName);
}
