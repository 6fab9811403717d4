// The main window: owns the exchange-link context, starts up (settings,
// port, identification, start-up action), shows the exchange's data, the
// lines read, the buffer fill and the exchange's clock, and opens the other
// windows.
#pragma once

#include <array>
#include <atomic>
#include <string>

#include <boost/shared_ptr.hpp>

#include <QMainWindow>

#include "call_log.h"
#include "low_level.h"
#include "message_seam.h"
#include "read_ats_thread.h"
#include "reading_form.h"

class QAction;
class QDateEdit;
class QLabel;
class QListWidget;
class QMenu;
class QProgressBar;
class QStatusBar;
class QThread;
class QTimeEdit;
class QTimer;
class QToolBar;
class QToolButton;
class TAboutForm;
class TMainForm_rep;
class TOptionsForm;
class TRealTimeForm;

class TMainForm : public QMainWindow, public IReadingForm {
    Q_OBJECT
  public:
    // Largest number of lines ListBox1 holds; one more empties it.
    static constexpr int kMaxListLines = 20000;

    // Builds the window, shows it and runs the start-up sequence (FormShow)
    // before returning. The start-up directory is the current directory.
    explicit TMainForm(QWidget* parent = nullptr);
    // Waits for a reading thread still running, serving its hand-overs.
    ~TMainForm() override;

    // The windows opened from the menus; created after this one.
    void SetOptionsForm(TOptionsForm* form) { optionsForm_ = form; }
    void SetAboutForm(TAboutForm* form) { aboutForm_ = form; }
    void SetReportForm(TMainForm_rep* form) { reportForm_ = form; }
    void SetRealTimeForm(TRealTimeForm* form) { realTimeForm_ = form; }

    // --- for the reading workflows; all on the user-interface thread ------
    // Opens the port under name and identifies the exchange: 1 identified,
    // -1 the port could not be opened (also when it was open already), -2 no
    // exchange answered (also when the device failed while identifying).
    // Shows the result in the status bar, gauge and pickers.
    int OpenPort(const std::string& name) override;
    // Status panels, file-name panels and gauge from the link context,
    // without asking the exchange; the pickers from the last identification
    // (refreshClock 1: only when the link test passes). Empties
    // UnInterruptPanel unless continuous reading runs.
    void ShowExchangeInfo(int refreshClock) override;
    // No exchange: panels 0 to 4 to dashes, gauge 0 of 100, pickers to the
    // computer's clock.
    void ShowNoExchange() override;
    // Disables the nine commands that use the port or the call-log file and
    // enables Stop; UnlockControls the reverse.
    void LockControls() override;
    void UnlockControls() override;
    void SetUnInterruptPanel(const std::string& text) override;
    void EnableStop() override;
    // Shows ReadDataToolButton as not pressed.
    void ReleaseReadButton() override;
    // The program closes 2 seconds later.
    void StartUnInterruptTimer() override;
    // Adds a line (UTF-8) at the end of ListBox1.
    void AddListLine(const std::string& line) override;
    // One call line written: gauge down by one, the line added and selected
    // (the list emptied when it passes kMaxListLines), panels 4 and 5 from
    // the link context's counters.
    void ShowCallLine(const std::string& line) override;
    // Set at start-up for the start-up action "read all, then close".
    bool AutoExit() const override { return autoExit_; }
    void SetAutoExit(bool on) { autoExit_ = on; }
    // The exchange-link context, created by FormShow.
    boost::shared_ptr<TLowLevel> Link() const { return link; }
    // The window itself carries out the reading thread's hand-overs.
    QObject* FormObject() override { return this; }
    // The reading thread of the last reading (empty before the first).
    boost::shared_ptr<ReadATSThread> Reader() const { return reader; }
    // The call-log writer with the lines that wait for the file.
    boost::shared_ptr<TCallLog> CallLog() const { return callLog; }
    // Panel index (0 to 5) of StatusBar1.
    QLabel* StatusBar1Panel(int index) const { return statusBar1Panels_.at(index); }
    QLabel* TarifFileNamePanel(int index) const { return tarifPanels_.at(index); }
    QLabel* RealTimeFileNamePanel(int index) const { return realTimePanels_.at(index); }
    // The call-log file dialog's request as it stands.
    const seam::TFileRequest& OpenDialog1() const { return openDialog1_; }

    // --- controls ---------------------------------------------------------
    QMenu* const FileMenu;
    QAction* const SelectFileFromData_MenuItem;
    QAction* const Report_MenuItem;
    QAction* const ExitMenuItem;
    QMenu* const ATSMenu;
    QAction* const LoadFromATSMenuItem;
    QAction* const ReadUninterruptMenuItem;
    QAction* const RealTime_MenuItem;
    QAction* const ClearListMenuItem;
    QMenu* const OptionsMenu;
    QAction* const OptionsMenuItem;
    QMenu* const HelpMenu;
    QAction* const AboutMenuItem;
    QToolBar* const ToolBar1;
    QToolButton* const ReadDataToolButton;
    QToolButton* const StopToolButton;
    QToolButton* const ReloadToolButton;
    QDateEdit* const DatePicker;
    QTimeEdit* const TimePicker;
    QLabel* const UnInterruptPanel;
    QListWidget* const ListBox1;
    QProgressBar* const CGauge1;
    QStatusBar* const TarifFileNameStatusBar;
    QStatusBar* const RealTimeFileNameStatusBar;
    QStatusBar* const StatusBar1;
    QTimer* const UnInterruptTimer;
    QTimer* const PickerTimer;

  signals:
    // The window was closed: the program ends.
    void Closed();

  public slots:
    // Read the whole billing buffer once, on a reading thread.
    void LoadFromATSMenuItemClick();
    // Read the billing buffer pass after pass until Stop.
    void ReadUninterruptMenuItemClick();
    // Chooses the call-log file.
    void SelectFileFromData_MenuItemClick();
    // Opens the report window modally.
    void Report_MenuItemClick();
    void ExitMenuItemClick();
    // Opens the real-time monitor, for the models that report line states.
    void RealTime_MenuItemClick();
    // Empties ListBox1; the call-log file stays as it is.
    void ClearListMenuItemClick();
    // Opens the settings dialog modally.
    void OptionsMenuItemClick();
    // Shows the About window beside this one.
    void AboutMenuItemClick();
    // Reopens the port and identifies the exchange again.
    void ReloadToolButtonClick();
    // Asks a running reading to stop and unlocks the window at once.
    void StopToolButtonClick();
    // Closes the window (the program ends).
    void UnInterruptTimerTimer();
    // Advances TimePicker by one second; the date stays.
    void PickerTimerTimer();
    // Start-up sequence; runs once, from the constructor.
    void FormShow();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    // Window caption := application title.
    void FormCreate();
    // Sets the stop flag and asks a reading thread to end; does not wait.
    void FormClose();
    void BuildMenus();
    void BuildToolBar();
    void BuildCentre();
    void ShowIdentification();
    void SetPickersFromExchange();
    void SetPickersToComputerClock();
    void SetGauge(int maximum, int position);
    void ReleaseReader();

    boost::shared_ptr<TLowLevel> link;
    boost::shared_ptr<ReadATSThread> reader;
    boost::shared_ptr<TCallLog> callLog;
    std::atomic<bool> autoExit_{false};
    bool formShown_ = false;
    seam::TFileRequest openDialog1_;
    std::array<QLabel*, 6> statusBar1Panels_{};
    std::array<QLabel*, 2> tarifPanels_{};
    std::array<QLabel*, 2> realTimePanels_{};
    TOptionsForm* optionsForm_ = nullptr;
    TAboutForm* aboutForm_ = nullptr;
    TMainForm_rep* reportForm_ = nullptr;
    TRealTimeForm* realTimeForm_ = nullptr;
};
