// One report as the report window and the command-line report program work
// it: the lists of the loaded file, the three grids that show them, loading,
// sorting, the subscriber query and the exports. Both callers go through
// this class, so they write the same bytes for the same file and commands.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "billing/bill.h"
#include "calllog/calllog_loader.h"
#include "reports/report_export.h"
#include "reports/report_grids.h"
#include "reports/report_model.h"

// What an export writes: the fixed-column text of a grid (Windows-1251,
// CR LF), a grid as CSV, or the three grids as one XLSX workbook.
// BillCsv and BillPdf write the bill of the period (tariffs needed).
enum class TExportKind {
    Calls,
    Lines,
    Trunks,
    CallsCsv,
    LinesCsv,
    TrunksCsv,
    Workbook,
    BillCsv,
    BillPdf
};

// The tables and the period every report of a session is made with.
struct TBillingSetup {
    std::shared_ptr<const TTariffs> Tariffs;      // null: no costs
    std::shared_ptr<const TDirectory> Directory;  // null: no names
    TPeriod Period;
    // Whether the costs are summed per line and trunk for the grids; a
    // caller that wants the bill alone spares the sums. The calls are
    // rated whenever there are tariffs, once, for the grids and the bill.
    bool RateCalls = true;
};

// What a setup makes of the loaded file: the rating of every call, the
// lists of the period and the rows of the call grid. Made apart from the
// session, so that a window can make it on another thread while its grids
// still show the old one, then put in place at once.
struct TReportView {
    TBillingSetup Setup;
    std::shared_ptr<TBilling> Billing;
    std::shared_ptr<TReportModel> Lists;  // ALList and SLList of the period
    std::vector<uint32_t> Rows;           // the call grid's, unless AllRows
    bool AllRows = true;
    bool Blank = false;
};

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
    // The heading of a printed bill (BillPdf).
    TBillTitle BillTitle;
    // Where the new file waits to be put in place together with the other
    // outputs of a run (see TWriteControl); null: at once.
    TStagedFiles* Stage = nullptr;
};

// The heading of the bill of period made on day madeOn (a day number as
// TPeriod counts them): "01.11.2026 – 30.11.2026", "с 01.11.2026",
// "по 30.11.2026" or "весь файл".
TBillTitle BillTitleOf(const TPeriod& period, std::string exchangeName, int32_t madeOn);

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
    // ReadCallLogFile; on any but Done nothing changes. Without lists the
    // subscriber-line and trunk lists stay empty, in every period too: for
    // a caller that asks for the calls or the bill only. Given (Adopt
    // only): the model comes with its lists, summed elsewhere over the
    // period it was loaded for, and without calls.
    enum class TLists { Build, Skip, Given };
    TFileResult Load(const std::string& path, const TLoadProgress& progress = nullptr,
                     TLists lists = TLists::Build);
    // Puts a report read elsewhere (the database's) in place of the
    // current one, as Load does with a file's; LoadedPath becomes empty.
    void Adopt(std::shared_ptr<TReportModel> loaded, TLists lists = TLists::Build);

    // Sorts one list ascending and rewrites its grid only.
    void SortAL(TALSortKey key);
    void SortSL(TSLSortKey key);

    // Fills the call grid with the lines the subscriber query selects from
    // all loaded lines of the period (see SelectLines); one empty row when
    // none is. The query stays until the next load, across periods.
    void Query(std::string_view number, std::string_view prefix, bool byProgrammed);

    // Tariffs, directory and period: each limits or adds to every grid,
    // export and chart from now on, the lists rebuilt from the calls of
    // the period and their costs summed per line and trunk.
    void SetTariffs(std::shared_ptr<const TTariffs> tariffs);
    void SetDirectory(std::shared_ptr<const TDirectory> directory);
    void SetPeriod(const TPeriod& period);
    const TBillingSetup& Setup() const { return setup_; }
    // The same in two steps: Prepare only reads the session (another thread
    // may run it while this one draws the grids); Apply shows the view.
    TReportView Prepare(const TBillingSetup& setup) const;
    void Apply(TReportView&& view);

    // The bill of the period; empty without tariffs.
    TBill Bill() const;

    // Writes what the grids show (each with its header row) to path, in
    // the kind asked for. Every export goes through here: a FIFO or a
    // socket is refused (NotAFile) and so is the loaded file (IsKept),
    // before options.ConfirmReplace is asked about an existing file; then
    // the writer runs through options.Run. Other results as
    // WriteFileReplacing.
    TFileResult Export(TExportKind kind, const std::string& path,
                       const TExportOptions& options = {}) const;

    // The file of the last good load as it was named; empty before one
    // and for a report from the database.
    const std::string& LoadedPath() const { return loadedPath_; }

    // The caption of the call grid's frame (TReportModel::LineCountCaption).
    const std::string& Caption() const { return caption_; }
    const TCallGrid& CallGrid() const { return callGrid_; }
    const TALGrid& ALGrid() const { return alGrid_; }
    const TSLGrid& SLGrid() const { return slGrid_; }
    // The lists now held (empty after CreateLists until the next load).
    const TReportModel& Lists() const { return *lists_; }

  private:
    struct TQuery {
        std::string Number, Prefix;
        bool ByProgrammed = true;
    };
    // The call grid's rows of a query and a period.
    void SelectRows(const TPeriod& period, TReportView& view) const;

    std::shared_ptr<TReportModel> lists_;
    TLists listsBuilt_ = TLists::Build;
    TBillingSetup setup_;
    std::shared_ptr<const TBilling> billing_;
    std::shared_ptr<TReportModel> periodLists_;
    std::optional<TQuery> query_;
    // The tariffs the loaded calls' Rate indexes were set by; null when
    // they were set by none.
    std::shared_ptr<const TTariffs> ratedBy_;
    std::string loadedPath_;
    std::string caption_ = "Кол-во строк: ";
    TCallGrid callGrid_;
    TALGrid alGrid_;
    TSLGrid slGrid_;
};
