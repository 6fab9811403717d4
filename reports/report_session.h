// One report as the report window and the command-line report program work
// it: the lists of the loaded file, the three grids that show them, loading,
// sorting, the subscriber query and the exports. Both callers go through
// this class, so they write the same bytes for the same file and commands.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "reports/calllog_loader.h"
#include "reports/report_export.h"
#include "reports/report_grids.h"
#include "reports/report_model.h"

class TReportSession {
  public:
    explicit TReportSession(TDateText dateText);

    // New, empty lists (the window being shown). The grids keep their texts.
    void CreateLists();
    // Lets go of the lists (the window being closed); the grids keep their
    // texts, and the records they show, until they are next written.
    void DiscardLists() { CreateLists(); }

    // Loads a call-log file and rebuilds everything from it: the caption,
    // the call grid, both lists and their grids. Returns 1; on -2 (cannot
    // be opened, not a regular file), -1 (cannot be read, *err holds the
    // system error number) and kLoadCancelled nothing changes.
    int Load(const std::string& path, int* err = nullptr, const TLoadProgress& progress = nullptr);

    // Sorts one list ascending and rewrites its grid only.
    void SortAL(TALSortKey key);
    void SortSL(TSLSortKey key);

    // Fills the call grid with the lines the subscriber query selects from
    // all loaded lines (see SelectLines); one empty row when none is.
    void Query(std::string_view number, std::string_view prefix, bool byProgrammed);

    // Writes what a grid shows (header line first) to path; results and
    // *err as WriteLinesToFile. The loaded file is never written over,
    // whatever control.Keep says.
    int ExportCalls(const std::string& path, int* err, TWriteControl control) const;
    int ExportAL(const std::string& path, int* err, TWriteControl control) const;
    int ExportSL(const std::string& path, int* err, TWriteControl control) const;
    int ExportCalls(const std::string& path, int* err) const { return ExportCalls(path, err, {}); }
    int ExportAL(const std::string& path, int* err) const { return ExportAL(path, err, {}); }
    int ExportSL(const std::string& path, int* err) const { return ExportSL(path, err, {}); }

    // The file of the last good load as it was named; empty before one.
    const std::string& LoadedPath() const { return loadedPath_; }

    // The caption of the call grid's frame: "Кол-во строк: " and the count.
    const std::string& Caption() const { return caption_; }
    const TCallGrid& CallGrid() const { return callGrid_; }
    const TALGrid& ALGrid() const { return alGrid_; }
    const TSLGrid& SLGrid() const { return slGrid_; }
    // The lists now held (empty after CreateLists until the next load).
    const TReportModel& Lists() const { return *lists_; }

  private:
    std::shared_ptr<TReportModel> lists_;
    std::string loadedPath_;
    std::string caption_ = "Кол-во строк: ";
    TCallGrid callGrid_;
    TALGrid alGrid_;
    TSLGrid slGrid_;
};
