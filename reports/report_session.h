// One report as the report window and the command-line report program work
// it: the lists of the loaded file, the three grids that show them, loading,
// sorting, the subscriber query and the exports. Both callers go through
// this class, so they write the same bytes for the same file and commands.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "reports/calllog_loader.h"
#include "reports/report_export.h"
#include "reports/report_grids.h"
#include "reports/report_model.h"

// What an export writes: the fixed-column text of a grid (Windows-1251,
// CR LF), a grid as CSV, or the three grids as one XLSX workbook.
enum class TExportKind { Calls, Lines, Trunks, CallsCsv, LinesCsv, TrunksCsv, Workbook };

// How an export is to go besides what it writes and where.
struct TExportOptions {
    // Asked, on the calling thread, before an existing file is replaced;
    // false keeps it (Declined). Empty: the file is replaced unasked.
    std::function<bool()> ConfirmReplace;
    // Told how far the writing has come, from the thread that writes;
    // returning false cancels it. May be empty.
    TWriteProgress Progress;
    // Runs the writing and gives its result, so that a window can write on
    // another thread while its own stays free. Empty: on the calling thread.
    std::function<TFileResult(const std::function<TFileResult()>& write)> Run;
};

class TReportSession {
  public:
    explicit TReportSession(TDateText dateText);

    // New, empty lists (the window being shown). The grids keep their texts.
    void CreateLists();
    // Lets go of the lists (the window being closed); the grids keep their
    // texts, and the records they show, until they are next written.
    void DiscardLists() { CreateLists(); }

    // Loads a call-log file and rebuilds everything from it: the caption,
    // the call grid, both lists and their grids. Results as
    // ReadCallLogFile; on any but Done nothing changes.
    TFileResult Load(const std::string& path, const TLoadProgress& progress = nullptr);

    // Sorts one list ascending and rewrites its grid only.
    void SortAL(TALSortKey key);
    void SortSL(TSLSortKey key);

    // Fills the call grid with the lines the subscriber query selects from
    // all loaded lines (see SelectLines); one empty row when none is.
    void Query(std::string_view number, std::string_view prefix, bool byProgrammed);

    // Writes what the grids show (each with its header row) to path, in
    // the kind asked for. Every export goes through here: a FIFO or a
    // socket is refused (NotAFile) and so is the loaded file (IsKept),
    // before options.ConfirmReplace is asked about an existing file; then
    // the writer runs through options.Run. Other results as
    // WriteFileReplacing.
    TFileResult Export(TExportKind kind, const std::string& path,
                       const TExportOptions& options = {}) const;

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
