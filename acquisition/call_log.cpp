#include "call_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "cp1251.h"
#include "fd.h"

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
    std::string trunk = r.Trunk;
    if ((model == "QS31" || model == "QS53") && trunk.size() == 1) trunk = "0" + trunk;
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

int OpenForAppend(const std::string& path) {
    return open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}

}  // namespace

std::string TitleText(const TDateTimeParts& c) {
    return "       Данные на  " + Two(c.Day) + "-" + Two(c.Month) + "-" + std::to_string(c.Year) +
           " " + Two(c.Hour) + ":" + Two(c.Minute) + ":" + Two(c.Second) + " ";
}

TCallLogTitle BuildTitle(const TDateTimeParts& clock) {
    return {TitleText(clock), kColumnLine};
}

std::string FormatCallLine(const TRecord& record, bool altFormat, const std::string& modelName,
                           const std::string& serialNumber) {
    return altFormat ? AltLine(record, serialNumber) : StandardLine(record, modelName);
}

bool AppendLines(const std::string& path, const std::vector<std::string>& lines,
                 bool breakOnRetry) {
    if (path.empty()) return false;
    std::string bytes;
    for (const std::string& l : lines)
        bytes += Utf8ToCp1251(l) + "\r\n";

    TFd file(OpenForAppend(path));
    if (!file.IsOpen()) {
        // One more try; a line end goes first then, as the file may end in
        // the middle of a line written by someone else.
        file = TFd(OpenForAppend(path));
        if (!file.IsOpen()) return false;
        if (breakOnRetry) bytes = "\r\n" + bytes;
    }
    struct stat st;
    const bool sized = fstat(file.Get(), &st) == 0;
    bool ok = WriteAll(file.Get(), bytes.data(), bytes.size());
    if (!ok && sized) {
        // Take back what part of the text did reach the file.
        if (ftruncate(file.Get(), st.st_size) != 0) {
            // Nothing more can be done; the lines stay waiting.
        }
    }
    return file.Close() && ok;
}

int WriteTitle(const TSettings& settings, const TCallLogTitle& title) {
    try {
        return AppendLines(settings.TarifFileName, {title.TitleLine, title.ColumnLine}, false) ? 1
                                                                                               : -1;
    } catch (...) {
        return -1;
    }
}

int AppendLine(const TSettings& settings, const std::string& text) {
    try {
        return AppendLines(settings.TarifFileName, {text}) ? 1 : -1;
    } catch (...) {
        return -1;
    }
}

TCallLog::TCallLog(boost::shared_ptr<TLowLevel> ll) : ll_(std::move(ll)) {}

std::vector<std::string> TCallLog::OnCallRecord(const TRecord& record) {
    const TIdentification& exchange = ll_->Identification();
    const std::string line =
        FormatCallLine(record, ll_->Settings.AltFormat, exchange.ModelName, exchange.SerialNumber);
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back(line);
    std::vector<std::string> lines(pending_.begin(), pending_.end());
    if (AppendLines(ll_->Settings.TarifFileName, lines)) {
        pending_.clear();
        return lines;
    }
    ll_->Reading.HoldFlag = true;
    return {};
}

std::vector<std::string> TCallLog::WritePending() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> lines(pending_.begin(), pending_.end());
    if (lines.empty() || !AppendLines(ll_->Settings.TarifFileName, lines)) return {};
    pending_.clear();
    return lines;
}

size_t TCallLog::PendingCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_.size();
}
