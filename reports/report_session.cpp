#include "reports/report_session.h"

#include <utility>

TReportSession::TReportSession(TDateText dateText)
    : lists_(std::make_shared<TReportModel>()), callGrid_(std::move(dateText)) {}

void TReportSession::CreateLists() {
    lists_ = std::make_shared<TReportModel>();
}

int TReportSession::Load(const std::string& path, int* err, const TLoadProgress& progress) {
    // Loaded beside the current lists, which stay whole until it succeeds.
    auto loaded = std::make_shared<TReportModel>();
    const int rc = loaded->LoadFile(path, err, progress);
    if (rc != 1) return rc;
    loaded->BuildLists();
    lists_ = std::move(loaded);
    loadedPath_ = path;
    caption_ = lists_->LineCountCaption();
    callGrid_.ShowAll(lists_);
    alGrid_.Show(lists_);
    slGrid_.Show(lists_);
    return 1;
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

int TReportSession::ExportCalls(const std::string& path, int* err, TWriteControl control) const {
    control.Keep = loadedPath_;
    return WriteLinesToFile(
        callGrid_.RowCount() + 1, [this](size_t i) { return callGrid_.ExportLine(i); }, path, err,
        control);
}

int TReportSession::ExportAL(const std::string& path, int* err, TWriteControl control) const {
    control.Keep = loadedPath_;
    return WriteLinesToFile(
        alGrid_.RowCount() + 1, [this](size_t i) { return alGrid_.ExportLine(i); }, path, err,
        control);
}

int TReportSession::ExportSL(const std::string& path, int* err, TWriteControl control) const {
    control.Keep = loadedPath_;
    return WriteLinesToFile(
        slGrid_.RowCount() + 1, [this](size_t i) { return slGrid_.ExportLine(i); }, path, err,
        control);
}
