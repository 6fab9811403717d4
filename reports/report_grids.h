// What the report window's three grids show, and the export lines made from
// it. A grid holds its rows as pointers into the lists of one report and
// keeps that report alive, so it goes on showing its texts after the window
// has let go of the lists. Texts are made when a row is drawn or exported,
// so a grid of a million calls costs one pointer a row.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "billing/directory.h"
#include "billing/tariffs.h"
#include "reports/report_model.h"

// The header of the first column of every grid of a report that covers
// several offices: the office's name.
extern const char* const kSiteHeader;  // "Площадка"

// Header rows of the call, subscriber-line and trunk grids.
extern const std::array<const char*, 7> kCallGridHeaders;
extern const std::array<const char*, 5> kALGridHeaders;
extern const std::array<const char*, 4> kSLGridHeaders;

// Outgoing calls and their cost in kopecks, of a subscriber line or trunk.
struct TCostSum {
    int64_t Calls = 0;
    int64_t Cost = 0;
};

// What the grids show besides the call log once tariffs or a subscriber
// directory are loaded. Without either, the grids show what they always
// showed, column for column. Each call holds the index of its rate
// (TExtStr_rep::Rate), set once per load or tariff change; its billed
// seconds and cost are worked out from the rate when its row is drawn or
// written, so that the window keeps no cost for each call.
struct TBilling {
    std::shared_ptr<const TTariffs> Tariffs;      // null: no zones nor costs
    std::shared_ptr<const TDirectory> Directory;  // null: no names
    // Whether the sums below are made. The calls' Rate indexes are those
    // of Tariffs whenever the grids show them.
    bool Rated = false;
    // Of the calls shown in the lists, by hardware number and by trunk.
    std::unordered_map<std::string, TCostSum> ByLine;
    std::unordered_map<std::string, TCostSum> ByTrunk;

    bool Priced() const { return Tariffs != nullptr; }
    bool Named() const { return Directory != nullptr; }
    // "Имя" and "Отдел" of the subscriber a call of these lines is billed to.
    void AppendName(std::vector<std::string>& row, std::string_view prgLine,
                    std::string_view hwLine) const;
    static void AppendSum(std::vector<std::string>& row, const TCostSum* sum);
};

// Whole days and seconds of the day of a date-time value, rounded to the
// nearest second as the grids round it; a value that is no number or lies
// past any calendar counts as 0.
void SplitDayAndSeconds(double value, int64_t& day, int64_t& seconds);

// The text of a date in the short date format of the user's settings.
using TDateText = std::function<std::string(int year, int month, int day)>;

// The call grid: the records of a report's LineList, or those a query chose.
class TCallGrid {
  public:
    explicit TCallGrid(TDateText dateText);

    // Every record of report's LineList, in file order.
    void ShowAll(std::shared_ptr<const TReportModel> report,
                 std::shared_ptr<const TBilling> billing = nullptr);
    // The records of report at the indexes into its LineList a query or a
    // period selected, in order; with blank, one empty row when there are
    // none.
    void ShowSelection(std::shared_ptr<const TReportModel> report, std::vector<uint32_t> rows,
                       bool blank = true, std::shared_ptr<const TBilling> billing = nullptr);

    // Rows below the header row.
    size_t RowCount() const { return all_ ? report_->LineList().Count() : rows_.size() + blank_; }
    // The header row the grid and its spreadsheets show: the seven of the
    // fixed-column file, "Имя" and "Отдел" after "Прг. АЛ" with a
    // directory, "Зона" and "Стоимость" last with tariffs; "Площадка"
    // first when Sited. The fixed-column lines never have it.
    std::vector<std::string> Headers() const;
    // The texts of a row under those headers.
    std::vector<std::string> Row(size_t row) const;
    // The same with the date as FixedDateText writes it, for files other
    // programs read.
    std::vector<std::string> FixedRow(size_t row) const;
    const TBilling* Billing() const { return billing_.get(); }
    // The seven texts of a row: date, time "hh:mm:ss", duration "hh:mm:ss",
    // hardware number, programmed number, trunk, dialled number. A row past
    // the last (a view a step behind) has empty texts.
    std::array<std::string, 7> Cells(size_t row) const;
    // Export line i: the header for 0, else row i - 1.
    std::string ExportLine(size_t i) const;
    // The call a row shows; nullptr for the empty row of an empty selection.
    const TExtStr_rep* Record(size_t row) const;
    // Whether the report covers several offices: the rows begin with the
    // office's name.
    bool Sited() const { return report_ && report_->MultiSite(); }
    // The office of a row's call; empty when not Sited or for no call.
    const std::string& SiteOf(size_t row) const;

  private:
    const std::string& DateOf(int64_t day) const;
    // Row's texts around the seven cells given.
    std::vector<std::string> RowOf(size_t row, std::array<std::string, 7> cells) const;
    // The index into LineList of a row's call; -1 for none.
    size_t IndexOf(size_t row) const;

    TDateText dateText_;
    std::shared_ptr<const TReportModel> report_;
    std::shared_ptr<const TBilling> billing_;
    std::vector<uint32_t> rows_;
    bool all_ = false;
    bool blank_ = false;
    // Date texts by day number: a file spans few days, and formatting a
    // date by the locale costs more than the rest of the row.
    mutable std::unordered_map<int64_t, std::string> dates_;
};

// What the two list grids share: one list of a report in the order it had
// when shown, with the billing it is shown with.
template <typename TEntry>
class TListGrid {
  public:
    size_t RowCount() const { return rows_.size(); }
    const TBilling* Billing() const { return billing_.get(); }
    const TEntry& Entry(size_t row) const { return *rows_[row]; }
    // As the call grid's: Headers and Row begin with the entry's office.
    bool Sited() const { return report_ && report_->MultiSite(); }

  protected:
    template <typename TList>
    void ShowList(std::shared_ptr<const TReportModel> report,
                  std::shared_ptr<const TBilling> billing,
                  const TList& (TReportModel::*list)() const) {
        report_ = std::move(report);
        billing_ = std::move(billing);
        const auto& items = ((*report_).*list)().Items();
        rows_.assign(items.begin(), items.end());
    }

    std::shared_ptr<const TReportModel> report_;
    std::shared_ptr<const TBilling> billing_;
    std::vector<const TEntry*> rows_;
};

// The subscriber-line grid: ALList in the order it had when shown.
class TALGrid : public TListGrid<TAL_rep> {
  public:
    void Show(std::shared_ptr<const TReportModel> report,
              std::shared_ptr<const TBilling> billing = nullptr);
    // Hardware number, programmed number, outgoing, incoming, total traffic.
    std::array<std::string, 5> Cells(size_t row) const;
    // As the call grid's: "Имя" and "Отдел" after "Прг. АЛ" with a
    // directory, "Звонков" and "Стоимость" last with tariffs.
    std::vector<std::string> Headers() const;
    std::vector<std::string> Row(size_t row) const;
    std::string ExportLine(size_t i) const;
};

// The trunk grid: SLList in the order it had when shown.
class TSLGrid : public TListGrid<TSL_rep> {
  public:
    void Show(std::shared_ptr<const TReportModel> report,
              std::shared_ptr<const TBilling> billing = nullptr);
    // Trunk, outgoing, incoming, total traffic.
    std::array<std::string, 4> Cells(size_t row) const;
    // "Звонков" and "Стоимость" last with tariffs.
    std::vector<std::string> Headers() const;
    std::vector<std::string> Row(size_t row) const;
    std::string ExportLine(size_t i) const;
};
