#include "reports/report_grids.h"

#include <cmath>
#include <utility>

#include "billing/bill.h"
#include "billing/rating.h"
#include "calllog/report_datetime.h"
#include "reports/report_export.h"

const char* const kSiteHeader = "Площадка";
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

namespace {

constexpr const char* kNameHeader = "Имя";
constexpr const char* kDepartmentHeader = "Отдел";
constexpr const char* kCallsHeader = "Звонков";
constexpr const char* kCostHeader = "Стоимость";
constexpr const char* kZoneHeader = "Зона";
constexpr size_t kNoRow = static_cast<size_t>(-1);

// Header or row texts with the name columns after column named (the
// subscriber's) when the directory is loaded.
template <size_t N>
std::vector<std::string> WithName(const TBilling* billing, std::array<std::string, N>&& cells,
                                  size_t named, std::string_view prgLine, std::string_view hwLine) {
    std::vector<std::string> row;
    row.reserve(N + 4);
    for (size_t c = 0; c < N; ++c) {
        row.push_back(std::move(cells[c]));
        if (c == named && billing && billing->Named()) billing->AppendName(row, prgLine, hwLine);
    }
    return row;
}

template <size_t N>
std::vector<std::string> HeaderRow(bool sited, const TBilling* billing,
                                   const std::array<const char*, N>& texts, size_t named,
                                   const char* first, const char* second) {
    std::array<std::string, N> cells;
    for (size_t c = 0; c < N; ++c)
        cells[c] = texts[c];
    std::vector<std::string> row = WithName(billing, std::move(cells), named, {}, {});
    if (sited) row.insert(row.begin(), kSiteHeader);
    if (named < N && billing && billing->Named()) {
        const size_t at = (sited ? 1 : 0) + named;
        row[at + 1] = kNameHeader;
        row[at + 2] = kDepartmentHeader;
    }
    if (billing && billing->Priced()) {
        row.emplace_back(first);
        row.emplace_back(second);
    }
    return row;
}

}  // namespace

void TBilling::AppendName(std::vector<std::string>& row, std::string_view prgLine,
                          std::string_view hwLine) const {
    const TSubscriberEntry* entry =
        Directory ? Directory->Find(BilledSubscriber(prgLine, hwLine)) : nullptr;
    row.push_back(entry ? entry->Name : std::string());
    row.push_back(entry ? entry->Department : std::string());
}

void TBilling::AppendSum(std::vector<std::string>& row, const TCostSum* sum) {
    row.push_back(std::to_string(sum ? sum->Calls : 0));
    row.push_back(KopecksText(sum ? sum->Cost : 0));
}

TCallGrid::TCallGrid(TDateText dateText) : dateText_(std::move(dateText)) {}

void TCallGrid::ShowAll(std::shared_ptr<const TReportModel> report,
                        std::shared_ptr<const TBilling> billing) {
    report_ = std::move(report);
    billing_ = std::move(billing);
    rows_.clear();
    rows_.shrink_to_fit();
    all_ = true;
    blank_ = false;
}

void TCallGrid::ShowSelection(std::shared_ptr<const TReportModel> report,
                              std::vector<uint32_t> rows, bool blank,
                              std::shared_ptr<const TBilling> billing) {
    report_ = std::move(report);
    billing_ = std::move(billing);
    rows_ = std::move(rows);
    all_ = false;
    blank_ = blank && rows_.empty();
}

size_t TCallGrid::IndexOf(size_t row) const {
    if (all_) return row < report_->LineList().Count() ? row : kNoRow;
    return row < rows_.size() ? rows_[row] : kNoRow;
}

const std::string& TCallGrid::SiteOf(size_t row) const {
    static const std::string kNone;
    const size_t index = IndexOf(row);
    return index == kNoRow || !report_ ? kNone : report_->SiteOf(index);
}

const TExtStr_rep* TCallGrid::Record(size_t row) const {
    const size_t index = IndexOf(row);
    return index == kNoRow ? nullptr : &report_->LineList()[index];
}

const std::string& TCallGrid::DateOf(int64_t day) const {
    const auto it = dates_.find(day);
    if (it != dates_.end()) return it->second;
    if (dates_.size() >= kDateCacheLimit) dates_.clear();
    const TDateTimeParts p = DecodeRepDateTime(static_cast<double>(day));
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

std::vector<std::string> TCallGrid::Headers() const {
    return HeaderRow(Sited(), billing_.get(), kCallGridHeaders, 4, kZoneHeader, kCostHeader);
}

std::vector<std::string> TCallGrid::Row(size_t row) const {
    return RowOf(row, Cells(row));
}

std::vector<std::string> TCallGrid::FixedRow(size_t row) const {
    std::array<std::string, 7> cells = Cells(row);
    if (const TExtStr_rep* rec = Record(row)) {
        int64_t day = 0, seconds = 0;
        SplitDayAndSeconds(rec->StartTime, day, seconds);
        const TDateTimeParts p = DecodeRepDateTime(static_cast<double>(day));
        cells[0] = FixedDateText(p.Year, p.Month, p.Day);
    }
    return RowOf(row, std::move(cells));
}

std::vector<std::string> TCallGrid::RowOf(size_t row, std::array<std::string, 7> cells) const {
    const TExtStr_rep* rec = Record(row);
    std::vector<std::string> texts = WithName(billing_.get(), std::move(cells), 4,
                                              rec ? rec->PrgLine.view() : std::string_view(),
                                              rec ? rec->HwLine.view() : std::string_view());
    if (Sited()) texts.insert(texts.begin(), SiteOf(row));
    if (!billing_ || !billing_->Priced()) return texts;
    if (!rec || rec->ExtNumber.view().empty()) {  // incoming: not rated
        texts.resize(texts.size() + 2);
        return texts;
    }
    const TCallRating rating = RatingOf(*billing_->Tariffs, *rec);
    texts.emplace_back(rating.Rate ? rating.Rate->Zone : kNoTariffZone);
    texts.push_back(rating.Rate ? KopecksText(rating.Cost) : std::string());
    return texts;
}

void TALGrid::Show(std::shared_ptr<const TReportModel> report,
                   std::shared_ptr<const TBilling> billing) {
    ShowList(std::move(report), std::move(billing), &TReportModel::ALList);
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

void TSLGrid::Show(std::shared_ptr<const TReportModel> report,
                   std::shared_ptr<const TBilling> billing) {
    ShowList(std::move(report), std::move(billing), &TReportModel::SLList);
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

namespace {

const TCostSum* SumOf(const std::unordered_map<std::string, TCostSum>& sums,
                      const std::string& key) {
    const auto it = sums.find(key);
    return it == sums.end() ? nullptr : &it->second;
}

}  // namespace

std::vector<std::string> TALGrid::Headers() const {
    return HeaderRow(Sited(), billing_.get(), kALGridHeaders, 1, kCallsHeader, kCostHeader);
}

std::vector<std::string> TALGrid::Row(size_t row) const {
    if (row >= rows_.size()) return std::vector<std::string>(Headers().size());
    const TAL_rep& e = *rows_[row];
    std::vector<std::string> texts = WithName(billing_.get(), Cells(row), 1, e.PrgLine, e.HwLine);
    if (Sited()) texts.insert(texts.begin(), e.Site);
    if (billing_ && billing_->Priced())
        TBilling::AppendSum(texts, SumOf(billing_->ByLine, ListKey(e.Site, e.HwLine)));
    return texts;
}

std::vector<std::string> TSLGrid::Headers() const {
    return HeaderRow(Sited(), billing_.get(), kSLGridHeaders, kSLGridHeaders.size(), kCallsHeader,
                     kCostHeader);
}

std::vector<std::string> TSLGrid::Row(size_t row) const {
    if (row >= rows_.size()) return std::vector<std::string>(Headers().size());
    const TSL_rep& e = *rows_[row];
    auto cells = Cells(row);
    std::vector<std::string> texts(std::make_move_iterator(cells.begin()),
                                   std::make_move_iterator(cells.end()));
    if (Sited()) texts.insert(texts.begin(), e.Site);
    if (billing_ && billing_->Priced())
        TBilling::AppendSum(texts, SumOf(billing_->ByTrunk, ListKey(e.Site, e.Trunk)));
    return texts;
}
