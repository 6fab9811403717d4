// The report window: loads a call-log file and shows its calls, its
// subscriber lines and its trunks with their traffic in three grids, sorts
// the two lists, selects the calls of one subscriber and saves each grid as
// a text file, or as a spreadsheet (CSV or an XLSX workbook). The work itself is the report
// session's; the window holds the widgets and shows what the session's grids hold.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QDialog>

#include "base/message_seam.h"
#include "config/report_settings.h"
#include "reports/output_clash.h"
#include "reports/report_session.h"

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QProgressDialog;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QTableView;
class TAboutForm;
class TBillForm;
class TChartsForm;
class TPeriodBar;
class TReportGridModel;
struct TDbReportSource;

class TMainForm_rep : public QDialog {
    Q_OBJECT
    // First, so that the grids' models find them when the grids are made.
    TReportSession session_;
    TReportGridModel* const callModel_;
    TReportGridModel* const alModel_;
    TReportGridModel* const slModel_;

  public:
    explicit TMainForm_rep(QWidget* parent = nullptr);
    ~TMainForm_rep() override;

    // Starting folder of the window's file dialogs (the start-up directory).
    void SetDialogsDir(const std::string& dir) { dialogsDir_ = dir; }
    const std::string& DialogsDir() const { return dialogsDir_; }

    const TReportSession& Session() const { return session_; }
    // The exchange's name for the bill's title; empty when not known.
    void SetExchangeName(const std::string& name) { exchangeName_ = name; }

  private:
    // The widgets, each found by its object name (the member's name).
    QMenuBar* const MainMenu1;
    QMenu* const File;
    QAction* const Load;
    QAction* const LoadFromDbMenuItem;
    QAction* const ChartsMenuItem;
    QMenu* const HelpMenu;
    QAction* const AboutMenuItem;
    QFrame* const Panel1;
    QGroupBox* const FileGroupBox;
    QTableView* const StringGrid1;
    QGroupBox* const ALGroupBox;
    QTableView* const ALGrid;
    QGroupBox* const SLGroupBox;
    QTableView* const SLGrid;
    QStatusBar* const StatusBar1;
    QLabel* const Label2;
    QPushButton* const Button2;
    QPushButton* const LoadButton;
    QPushButton* const Button1;
    QPushButton* const Button3;
    QMenu* const PopupMenu1;
    QAction* const N1;
    QAction* const N2;
    QAction* const N14;
    QMenu* const PopupMenu2;
    QAction* const N3;
    QAction* const N4;
    QAction* const N6;
    QAction* const N5;
    QAction* const N7;
    QAction* const N12;
    QAction* const N15;
    QMenu* const PopupMenu3;
    QAction* const N8;
    QAction* const N10;
    QAction* const N9;
    QAction* const N11;
    QAction* const N13;
    QAction* const N16;
    // The subscriber query.
    QFrame* const ALQueryPanel;
    QLineEdit* const MaskEdit1;
    QRadioButton* const RadioButton1;
    QRadioButton* const RadioButton2;
    QLabel* const Label1;
    QLineEdit* const FilterEdit;
    QPushButton* const Button4;
    QPushButton* const Button5;
    // Costs, names and the period.
    QAction* const TariffsMenuItem;
    QAction* const DirectoryMenuItem;
    QAction* const BillMenuItem;
    // Closes the window; the program goes on.
    QAction* const CloseMenuItem;
    // The grids keep the last valid period while its start lies after
    // its end.
    TPeriodBar* const PeriodBar;

  public slots:
    void FormCreate();
    void FormShow();
    void FormClose();
    // Recomputes the group-box heights and the column widths.
    void FormCanResize();
    void LoadClick();
    void OpenDialog1Close();
    // Loads the file chosen by LoadClick and fills the three grids.
    void LoadButtonClick();
    // "Загрузить из базы…": the database and its offices asked for (the
    // connection string of the last load, else that of TallyphonDb.cfg in
    // the start-up directory), then their calls loaded in place of the
    // file's; a failure is told and changes nothing.
    void LoadFromDbMenuItemClick();
    // Writes both lists into their grids.
    void Button2Click();
    void Button1Click();
    void Button3Click();
    void AboutMenuItemClick();
    // Opens the traffic charts of the calls the call grid shows.
    void ChartsMenuItemClick();
    void N1Click();
    void N2Click();
    void N12Click();
    void N13Click();
    // "Сохранить как таблицу…" of the call, subscriber-line and trunk grids:
    // the name filter chosen in the dialog decides between that grid as CSV
    // and the workbook of all three grids, and gives a name without a
    // suffix its own; when the dialog tells no filter, a name ending in
    // ".csv" gets the CSV.
    void N14Click();
    void N15Click();
    void N16Click();
    // Runs the subscriber query and hides the panel.
    void Button4Click();
    // Hides the panel; the call grid stays as it was.
    void Button5Click();
    // "Тарифы…" and "Справочник абонентов…": a file dialog, then the file
    // is loaded and remembered; a refused file is told and the tables
    // loaded before stay.
    void TariffsMenuItemClick();
    void DirectoryMenuItemClick();
    // Opens the bill of the period (needs tariffs).
    void BillMenuItemClick();
    // The period bar chose period: every grid and the charts show its calls.
    void PeriodChanged(const TPeriod& period);

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Escape closes the query panel and nothing else: one key must not
    // throw away a file that took minutes to load.
    void keyPressEvent(QKeyEvent* event) override;

  public:
    // Closes the charts too: they would show calls of a closed window.
    void done(int result) override;

  private:
    // Enter runs the query; other keys are left to the mask.
    bool MaskEdit1KeyPress(QKeyEvent* key);
    // Keeps digits, Backspace and Enter (which runs the query).
    bool FilterEditKeyPress(QKeyEvent* key);
    // Picks the kind of export for the file and name filter chosen in the
    // save dialog; may complete the file's name.
    using TPick = std::function<TExportKind(std::string& path, const std::string& filter)>;
    // How far work off the user-interface thread has come, and whether it
    // is to stop.
    struct TWorkProgress;
    // Save dialog, then the session's export (its refusals and overwrite
    // question included), then an error box.
    void Export(TExportKind kind);
    void ExportChosen(const TPick& pick, seam::TFileRequest request);
    // Export as a spreadsheet; csv is the kind of one grid's CSV.
    void ExportSheet(TExportKind csv);
    // Runs write off the user-interface thread behind a progress dialog
    // with Cancel, which state tells the writer; returns its result.
    TFileResult RunWrite(const std::function<TFileResult()>& write, const std::string& path,
                         TWorkProgress& state);
    // Runs work behind progress with the window closed to input: the dialog
    // shows state's count, and its Cancel, pressed before the work starts
    // too, sets state's flag. run gets what to call as the work starts.
    using TRunAside = std::function<void(const std::function<void()>& heedCancel)>;
    void RunBehind(QProgressDialog& progress, TWorkProgress& state, const TRunAside& run);

    // Reads the calls of source off the user-interface thread, behind a
    // progress dialog with Cancel, and shows them.
    void LoadFromDb(const TDbReportSource& source);
    // Shows the calls of a load that just succeeded in every grid.
    void ShowLoaded();

    // Redraws the charts, when open, after the call grid changed.
    void RefreshCharts();
    // Rewrites all three grids, their columns too.
    void RefreshGrids();

    // The list sorted by key, shown in its grid.
    void SortLines(TALSortKey key);
    void SortTrunks(TSLSortKey key);
    // A file dialog for a table starting at remembered, then load; the file
    // is remembered (and kept in the settings) once it is taken.
    void ChooseTable(const char* caption, std::string& remembered,
                     bool (TMainForm_rep::*load)(const std::string&));
    // Loads a tariff or subscriber file; false, with a message, when it
    // is refused.
    bool LoadTariffs(const std::string& path);
    bool LoadDirectory(const std::string& path);
    // Shows the grids made with setup; the making runs on another thread.
    void ApplySetup(const TBillingSetup& setup);
    std::string SettingsPath() const;
    // The files the report is made of, which no save may replace.
    std::vector<TNamedFile> Inputs() const;

    TReportSettings settings_;
    TBillForm* bill_ = nullptr;
    std::string exchangeName_;
    TAboutForm* about_ = nullptr;
    TChartsForm* charts_ = nullptr;
    std::string dialogsDir_;
    std::string chosenFile_;
    std::string lastDbConnInfo_;
};
