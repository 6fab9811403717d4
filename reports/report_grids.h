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
#include <unordered_map>
#include <vector>

#include "reports/report_model.h"

// Header rows of the call, subscriber-line and trunk grids.
extern const std::array<const char*, 7> kCallGridHeaders;
extern const std::array<const char*, 5> kALGridHeaders;
extern const std::array<const char*, 4> kSLGridHeaders;

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
    void ShowAll(std::shared_ptr<const TReportModel> report);
    // The records of report a query selected, in order; one empty row when
    // there are none.
    void ShowSelection(std::shared_ptr<const TReportModel> report,
                       std::vector<const TExtStr_rep*> rows);

    // Rows below the header row.
    size_t RowCount() const { return all_ ? report_->LineList().Count() : rows_.size() + blank_; }
    // The seven texts of a row: date, time "hh:mm:ss", duration "hh:mm:ss",
    // hardware number, programmed number, trunk, dialled number. A row past
    // the last (a view a step behind) has empty texts.
    std::array<std::string, 7> Cells(size_t row) const;
    // Export line i: the header for 0, else row i - 1.
    std::string ExportLine(size_t i) const;
    // The call a row shows; nullptr for the empty row of an empty selection.
    const TExtStr_rep* Record(size_t row) const;

  private:
    const std::string& DateOf(int64_t day) const;

    TDateText dateText_;
    std::shared_ptr<const TReportModel> report_;
    std::vector<const TExtStr_rep*> rows_;
    bool all_ = false;
    bool blank_ = false;
    // Date texts by day number: a file spans few days, and formatting a
    // date by the locale costs more than the rest of the row.
    mutable std::unordered_map<int64_t, std::string> dates_;
};

// The subscriber-line grid: ALList in the order it had when shown.
class TALGrid {
  public:
    void Show(std::shared_ptr<const TReportModel> report);
    size_t RowCount() const { return rows_.size(); }
    // Hardware number, programmed number, outgoing, incoming, total traffic.
    std::array<std::string, 5> Cells(size_t row) const;
    std::string ExportLine(size_t i) const;
    const TAL_rep& Entry(size_t row) const { return *rows_[row]; }

  private:
    std::shared_ptr<const TReportModel> report_;
    std::vector<const TAL_rep*> rows_;
};

// The trunk grid: SLList in the order it had when shown.
class TSLGrid {
  public:
    void Show(std::shared_ptr<const TReportModel> report);
    size_t RowCount() const { return rows_.size(); }
    // Trunk, outgoing, incoming, total traffic.
    std::array<std::string, 4> Cells(size_t row) const;
    std::string ExportLine(size_t i) const;
    const TSL_rep& Entry(size_t row) const { return *rows_[row]; }

  private:
    std::shared_ptr<const TReportModel> report_;
    std::vector<const TSL_rep*> rows_;
};
