#include "reports/report_session.h"

#include <sys/stat.h>

#include <cerrno>
#include <utility>

#include "reports/report_sheets.h"
#include "reports/report_workbook.h"

TReportSession::TReportSession(TDateText dateText)
    : lists_(std::make_shared<TReportModel>()), callGrid_(std::move(dateText)) {}

void TReportSession::CreateLists() {
    lists_ = std::make_shared<TReportModel>();
}

TFileResult TReportSession::Load(const std::string& path, const TLoadProgress& progress) {
    // Loaded beside the current lists, which stay whole until it succeeds.
    auto loaded = std::make_shared<TReportModel>();
    const TFileResult result = loaded->LoadFile(path, progress);
    if (!result.Ok()) return result;
    loaded->BuildLists();
    lists_ = std::move(loaded);
    loadedPath_ = path;
    caption_ = lists_->LineCountCaption();
    callGrid_.ShowAll(lists_);
    alGrid_.Show(lists_);
    slGrid_.Show(lists_);
    return result;
}

void TReportSession::SortAL(TALSortKey key) {
    lists_->SortALList(key);
    alGrid_.Show(lists_);
}

void TReportSession::SortSL(TSLSortKey key) {
    lists_->SortSLList(key);
    slGrid_.Show(lists_);
}

void TReportSession::Query(std::string_view number, std::string_view prefix, bool byProgrammed) {
    // Nothing to compare: every line, without a pointer for each.
    if (number.find_first_not_of(' ') == std::string_view::npos && prefix.empty() &&
        lists_->LineList().Count() > 0) {
        callGrid_.ShowAll(lists_);
        return;
    }
    callGrid_.ShowSelection(lists_, SelectLines(lists_->LineList(), number, prefix, byProgrammed));
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
        }
        return {TFileStatus::Failed, EINVAL};
    };
    return options.Run ? options.Run(write) : write();
}
