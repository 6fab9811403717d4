#include "reports/report_session.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <utility>

#include "base/fd.h"
#include "billing/bill_print.h"
#include "billing/rating.h"
#include "calllog/report_datetime.h"
#include "reports/report_sheets.h"
#include "reports/report_workbook.h"

namespace {

// "dd.MM.yyyy" of a day number.
std::string DayText(int32_t day) {
    const TDateTimeParts p = DecodeRepDateTime(static_cast<double>(day));
    return FixedDateText(p.Year, p.Month, p.Day);
}

// Outgoing calls and their costs per line and per trunk, of the calls of
// lines in period, by the rates the calls are marked with.
void SumCosts(const TReportModel& model, const TTariffs& tariffs, const TPeriod& period,
              TBilling& billing) {
    const TStrList_rep<TExtStr_rep>& lines = model.LineList();
    for (size_t i = 0; i < lines.Count(); ++i) {
        const TExtStr_rep& line = lines[i];
        if (line.ExtNumber.view().empty() || !period.Holds(line.StartTime)) continue;
        const int64_t cost = RatingOf(tariffs, line).Cost;
        const std::string& site = model.SiteOf(i);
        for (TCostSum* sum : {&billing.ByLine[ListKey(site, line.HwLine)],
                              &billing.ByTrunk[ListKey(site, line.Trunk)]}) {
            ++sum->Calls;
            sum->Cost += cost;
        }
    }
    billing.Rated = true;
}

}  // namespace

TBillTitle BillTitleOf(const TPeriod& period, std::string exchangeName, int32_t madeOn) {
    TBillTitle title;
    const bool from = period.FromDay != TPeriod().FromDay;
    const bool to = period.ToDay != TPeriod().ToDay;
    if (from && to)
        title.Period = DayText(period.FromDay) + " – " + DayText(period.ToDay);
    else if (from)
        title.Period = "с " + DayText(period.FromDay);
    else if (to)
        title.Period = "по " + DayText(period.ToDay);
    else
        title.Period = "весь файл";
    title.ExchangeName = std::move(exchangeName);
    title.MadeOn = DayText(madeOn);
    return title;
}

TReportSession::TReportSession(TDateText dateText)
    : lists_(std::make_shared<TReportModel>()),
      periodLists_(lists_),
      callGrid_(std::move(dateText)) {}

void TReportSession::CreateLists() {
    lists_ = std::make_shared<TReportModel>();
    listsBuilt_ = TLists::Build;
    ratedBy_.reset();
    periodLists_ = lists_;
    query_.reset();
    if (billing_) {
        // Sums belong to the lines they were made of.
        auto billing = std::make_shared<TBilling>(*billing_);
        billing->ByLine.clear();
        billing->ByTrunk.clear();
        billing_ = std::move(billing);
    }
}

void TReportSession::SetTariffs(std::shared_ptr<const TTariffs> tariffs) {
    TBillingSetup setup = setup_;
    setup.Tariffs = std::move(tariffs);
    Apply(Prepare(setup));
}

void TReportSession::SetDirectory(std::shared_ptr<const TDirectory> directory) {
    TBillingSetup setup = setup_;
    setup.Directory = std::move(directory);
    Apply(Prepare(setup));
}

void TReportSession::SetPeriod(const TPeriod& period) {
    TBillingSetup setup = setup_;
    setup.Period = period;
    Apply(Prepare(setup));
}

TReportView TReportSession::Prepare(const TBillingSetup& setup) const {
    TReportView view;
    view.Setup = setup;
    const TStrList_rep<TExtStr_rep>& lines = lists_->LineList();
    const TPeriod& period = setup.Period;
    if (setup.Tariffs || setup.Directory) {
        auto billing = std::make_shared<TBilling>();
        billing->Tariffs = setup.Tariffs;
        billing->Directory = setup.Directory;
        // The calls' rates are read, never written, here: the window may be
        // drawing them meanwhile. With new tariffs Apply rates and sums.
        if (setup.Tariffs && setup.RateCalls && ratedBy_ == setup.Tariffs)
            SumCosts(*lists_, *setup.Tariffs, period, *billing);
        view.Billing = std::move(billing);
    }
    if (period.Whole() || listsBuilt_ != TLists::Build) {
        view.Lists = lists_;
    } else {
        view.Lists = std::make_shared<TReportModel>();
        view.Lists->BuildListsOf(*lists_,
                                 [&](size_t i) { return period.Holds(lines[i].StartTime); });
    }
    SelectRows(period, view);
    return view;
}

void TReportSession::Apply(TReportView&& view) {
    setup_ = std::move(view.Setup);
    // Each call is rated once per load and tariff table, on this thread,
    // which alone reads the rates while no view is being made; the grids,
    // their sums and the bill all take that rating.
    if (view.Billing && setup_.Tariffs) {
        if (ratedBy_ != setup_.Tariffs) {
            RateCalls(*setup_.Tariffs, lists_->Calls());
            ratedBy_ = setup_.Tariffs;
        }
        if (setup_.RateCalls && !view.Billing->Rated)
            SumCosts(*lists_, *setup_.Tariffs, setup_.Period, *view.Billing);
    }
    billing_ = std::move(view.Billing);
    periodLists_ = std::move(view.Lists);
    if (view.AllRows)
        callGrid_.ShowAll(lists_, billing_);
    else
        callGrid_.ShowSelection(lists_, std::move(view.Rows), view.Blank, billing_);
    alGrid_.Show(periodLists_, billing_);
    slGrid_.Show(periodLists_, billing_);
}

void TReportSession::SelectRows(const TPeriod& period, TReportView& view) const {
    const TStrList_rep<TExtStr_rep>& lines = lists_->LineList();
    std::string wanted;
    std::string_view prefix;
    bool byProgrammed = true;
    bool queried = false;
    if (query_) {
        wanted = query_->Number;
        wanted.erase(std::remove(wanted.begin(), wanted.end(), ' '), wanted.end());
        prefix = query_->Prefix;
        byProgrammed = query_->ByProgrammed;
        // Nothing to compare: every line, without an index for each.
        queried = !wanted.empty() || !prefix.empty() || lines.Count() == 0;
    }
    view.AllRows = !queried && period.Whole();
    view.Blank = queried;
    view.Rows.clear();
    if (view.AllRows) return;
    for (size_t i = 0; i < lines.Count(); ++i) {
        const TExtStr_rep& line = lines[i];
        if (!period.Holds(line.StartTime)) continue;
        if (!wanted.empty() && (byProgrammed ? line.PrgLine : line.HwLine) != wanted) continue;
        if (!prefix.empty() && line.ExtNumber.view().substr(0, prefix.size()) != prefix) continue;
        view.Rows.push_back(static_cast<uint32_t>(i));
    }
}

TBill TReportSession::Bill() const {
    if (!setup_.Tariffs) return {};
    static const TDirectory kNoDirectory;
    return MakeBill(lists_->LineList(), *setup_.Tariffs,
                    setup_.Directory ? *setup_.Directory : kNoDirectory, setup_.Period,
                    lists_->Sites());
}

TFileResult TReportSession::Load(const std::string& path, const TLoadProgress& progress,
                                 TLists lists) {
    // Loaded beside the current lists, which stay whole until it succeeds.
    auto loaded = std::make_shared<TReportModel>();
    const TFileResult result = loaded->LoadFile(path, progress);
    if (!result.Ok()) return result;
    Adopt(std::move(loaded), lists);
    loadedPath_ = path;
    return result;
}

void TReportSession::Adopt(std::shared_ptr<TReportModel> loaded, TLists lists) {
    if (lists == TLists::Build) loaded->BuildLists();
    listsBuilt_ = lists;
    lists_ = std::move(loaded);
    loadedPath_.clear();
    caption_ = lists_->LineCountCaption();
    query_.reset();
    billing_.reset();  // summed over the lines before
    ratedBy_.reset();
    Apply(Prepare(setup_));
}

void TReportSession::SortAL(TALSortKey key) {
    periodLists_->SortALList(key);
    alGrid_.Show(periodLists_, billing_);
}

void TReportSession::SortSL(TSLSortKey key) {
    periodLists_->SortSLList(key);
    slGrid_.Show(periodLists_, billing_);
}

void TReportSession::Query(std::string_view number, std::string_view prefix, bool byProgrammed) {
    query_ = TQuery{std::string(number), std::string(prefix), byProgrammed};
    TReportView view;
    SelectRows(setup_.Period, view);
    if (view.AllRows)
        callGrid_.ShowAll(lists_, billing_);
    else
        callGrid_.ShowSelection(lists_, std::move(view.Rows), view.Blank, billing_);
}

TFileResult TReportSession::Export(TExportKind kind, const std::string& path,
                                   const TExportOptions& options) const {
    // Said before the question about replacing a file that is not replaced.
    if (const TFileResult refused = ExportRefusal(path, loadedPath_); !refused.Ok()) return refused;
    struct stat st {};
    if (options.ConfirmReplace && ::stat(path.c_str(), &st) == 0 && !options.ConfirmReplace())
        return {TFileStatus::Declined, 0};
    // The writer looks again when it runs: the file may have changed while
    // the question was open.
    TWriteControl control;
    control.Keep = loadedPath_;
    control.Progress = options.Progress;
    control.Stage = options.Stage;
    const auto lines = [&](const auto& grid) {
        return WriteLinesToFile(
            grid.RowCount() + 1, [&grid](size_t i) { return grid.ExportLine(i); }, path, control);
    };
    const auto write = [&]() -> TFileResult {
        switch (kind) {
            case TExportKind::Calls:
                return lines(callGrid_);
            case TExportKind::Lines:
                return lines(alGrid_);
            case TExportKind::Trunks:
                return lines(slGrid_);
            case TExportKind::CallsCsv:
                return WriteCallsCsv(callGrid_, path, control);
            case TExportKind::LinesCsv:
                return WriteALCsv(alGrid_, path, control);
            case TExportKind::TrunksCsv:
                return WriteSLCsv(slGrid_, path, control);
            case TExportKind::Workbook:
                return WriteWorkbook(callGrid_, alGrid_, slGrid_, path, kSheetRowLimit, control);
            case TExportKind::BillCsv:
                if (!setup_.Tariffs) return {TFileStatus::Failed, EINVAL};
                return WriteFileReplacing(
                    path,
                    [this](int fd, const std::string&) -> TFileResult {
                        const std::string text = BillCsv(Bill());
                        if (!WriteAll(fd, text.data(), text.size()))
                            return {TFileStatus::CannotWrite, errno};
                        return {};
                    },
                    control);
            case TExportKind::BillPdf:
                if (!setup_.Tariffs) return {TFileStatus::Failed, EINVAL};
                return WriteBillPdf(Bill(), options.BillTitle, path, control);
        }
        return {TFileStatus::Failed, EINVAL};
    };
    return options.Run ? options.Run(write) : write();
}
