#include "reports/report_grids.h"

#include <cmath>
#include <utility>

#include "reports/report_datetime.h"
#include "reports/report_export.h"

const std::array<const char*, 7> kCallGridHeaders = {
    "Дата", "Время", "Длительность", "Апп. АЛ", "Прг. АЛ", "Номер СЛ", "Внешний номер"};
const std::array<const char*, 5> kALGridHeaders = {"Апп. АЛ", "Прг. АЛ", "Исх. трафик",
                                                   "Вх. трафик", "Общий трафик"};
const std::array<const char*, 4> kSLGridHeaders = {"Апп. СЛ", "Исх. трафик", "Вх. трафик",
                                                   "Общий трафик"};

namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr size_t kDateCacheLimit = 100000;

}  // namespace

// Rounded the way DecodeRepDateTime rounds.
void SplitDayAndSeconds(double value, int64_t& day, int64_t& seconds) {
    if (!std::isfinite(value) || std::fabs(value) > 1e7) value = 0;
    const double whole = std::trunc(value);
    day = static_cast<int64_t>(whole);
    seconds = std::llround(std::fabs(value - whole) * kSecondsPerDay);
    if (seconds >= kSecondsPerDay) {
        seconds -= kSecondsPerDay;
        ++day;
    }
}

namespace {

// "hh:mm:ss" of seconds of the day.
std::string ClockText(int64_t seconds) {
    const auto two = [](char* at, int64_t v) {
        at[0] = static_cast<char>('0' + v / 10);
        at[1] = static_cast<char>('0' + v % 10);
    };
    std::string s(8, ':');
    two(&s[0], seconds / 3600);
    two(&s[3], seconds / 60 % 60);
    two(&s[6], seconds % 60);
    return s;
}

}  // namespace

TCallGrid::TCallGrid(TDateText dateText) : dateText_(std::move(dateText)) {}

void TCallGrid::ShowAll(std::shared_ptr<const TReportModel> report) {
    report_ = std::move(report);
    rows_.clear();
    rows_.shrink_to_fit();
    all_ = true;
    blank_ = false;
}

void TCallGrid::ShowSelection(std::shared_ptr<const TReportModel> report,
                              std::vector<const TExtStr_rep*> rows) {
    report_ = std::move(report);
    rows_ = std::move(rows);
    all_ = false;
    blank_ = rows_.empty();
}

const TExtStr_rep* TCallGrid::Record(size_t row) const {
    if (all_) return row < report_->LineList().Count() ? &report_->LineList()[row] : nullptr;
    return row < rows_.size() ? rows_[row] : nullptr;
}

const std::string& TCallGrid::DateOf(int64_t day) const {
    const auto it = dates_.find(day);
    if (it != dates_.end()) return it->second;
    if (dates_.size() >= kDateCacheLimit) dates_.clear();
    const TRepDateParts p = DecodeRepDateTime(static_cast<double>(day));
    return dates_.emplace(day, dateText_(p.Year, p.Month, p.Day)).first->second;
}

std::array<std::string, 7> TCallGrid::Cells(size_t row) const {
    const TExtStr_rep* rec = Record(row);
    if (!rec) return {};
    int64_t day = 0, seconds = 0, durDay = 0, durSeconds = 0;
    SplitDayAndSeconds(rec->StartTime, day, seconds);
    SplitDayAndSeconds(rec->Duration(), durDay, durSeconds);
    return {DateOf(day),        ClockText(seconds), ClockText(durSeconds), rec->HwLine.str(),
            rec->PrgLine.str(), rec->Trunk.str(),   rec->ExtNumber.str()};
}

std::string TCallGrid::ExportLine(size_t i) const {
    return i == 0 ? kCallExportHeader : CallExportLine(Cells(i - 1));
}

void TALGrid::Show(std::shared_ptr<const TReportModel> report) {
    report_ = std::move(report);
    const auto& items = report_->ALList().Items();
    rows_.assign(items.begin(), items.end());
}

std::array<std::string, 5> TALGrid::Cells(size_t row) const {
    if (row >= rows_.size()) return {};
    const TAL_rep& e = *rows_[row];
    return {e.HwLine, e.PrgLine, TrafficText(e.OutHour, e.OutMin(), e.OutSec()),
            TrafficText(e.InHour, e.InMin(), e.InSec()), TrafficText(e.TotalSec)};
}

std::string TALGrid::ExportLine(size_t i) const {
    return i == 0 ? kALExportHeader : ALExportLine(Cells(i - 1));
}

void TSLGrid::Show(std::shared_ptr<const TReportModel> report) {
    report_ = std::move(report);
    const auto& items = report_->SLList().Items();
    rows_.assign(items.begin(), items.end());
}

std::array<std::string, 4> TSLGrid::Cells(size_t row) const {
    if (row >= rows_.size()) return {};
    const TSL_rep& e = *rows_[row];
    return {e.Trunk, TrafficText(e.OutHour, e.OutMin(), e.OutSec()),
            TrafficText(e.InHour, e.InMin(), e.InSec()), TrafficText(e.TotalSec)};
}

std::string TSLGrid::ExportLine(size_t i) const {
    return i == 0 ? kSLExportHeader : SLExportLine(Cells(i - 1));
}
