// The main window: shows the exchange's data, the lines read, the buffer
// fill and the exchange's clock, and opens the other windows. The program's
// flow (start-up, readings, port and settings) is its controller's; the
// window hands it its commands and shows what it is told.
#pragma once

#include <array>
#include <memory>
#include <string>

#include <boost/shared_ptr.hpp>

#include <QMainWindow>

#include "acquisition/program_controller.h"
#include "acquisition/reading_form.h"

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
    // before returning. The start-up directory is the current directory,
    // where "TallyphonOut.cfg" is read as the link context is made. mode
    // says whether anybody can answer (see TStartMode).
    // makeLink makes the link context there (by default over the serial
    // port with real time).
    explicit TMainForm(QWidget* parent = nullptr) : TMainForm(TStartMode::Window, {}, parent) {}
    explicit TMainForm(TStartMode mode, TLinkFactory makeLink = {}, QWidget* parent = nullptr);
    // Waits for a reading thread still running, serving its hand-overs.
    ~TMainForm() override;

    // The windows opened from the menus; created after this one.
    void SetOptionsForm(TOptionsForm* form) { optionsForm_ = form; }
    void SetAboutForm(TAboutForm* form) { aboutForm_ = form; }
    void SetReportForm(TMainForm_rep* form) { reportForm_ = form; }
    void SetRealTimeForm(TRealTimeForm* form) { realTimeForm_ = form; }
    // After a first start's notice, with the windows set: the settings
    // dialog, then the choice of the call-log file. Nothing on a later
    // start or when nobody can answer.
    void FirstStartSettings();

    // --- what the controller shows; all on the user-interface thread ------
    void ShowExchange(const TExchangeView& view) override;
    void ShowExchangeClock(const TDateTimeParts& clock) override;
    void ShowComputerClock() override;
    void ShowNoExchange() override;
    // Disables the seven commands and the two tool buttons that use the port
    // or the call-log file and enables Stop; UnlockControls the reverse.
    void LockControls() override;
    void UnlockControls() override;
    void SetUnInterruptPanel(const std::string& text) override;
    void EnableStop() override;
    void ShowReadAllEnd(int calls) override;
    // Shows ReadDataToolButton as not pressed.
    void ReleaseReadButton() override;
    void StartUnInterruptTimer() override;
    void CloseForm() override { close(); }
    // Adds a line (UTF-8) at the end of ListBox1; empties ListBox1.
    void AddListLine(const std::string& line) override;
    void ClearList() override;
    // The list is emptied when it passes kMaxListLines.
    void ShowCallLine(const std::string& line, int recordsInBuffer, int rejectedRecords) override;
    // The window itself carries out the reading thread's hand-overs.
    QObject* FormObject() override { return this; }

    // The program's flow behind this window.
    TProgramController& Controller() const { return *controller_; }
    boost::shared_ptr<TLowLevel> Link() const { return controller_->Link(); }
    boost::shared_ptr<ReadATSThread> Reader() const { return controller_->Reader(); }
    boost::shared_ptr<TCallLog> CallLog() const { return controller_->CallLog(); }
    bool AutoExit() const { return controller_->AutoExit(); }
    void SetAutoExit(bool on) { controller_->SetAutoExit(on); }
    const seam::TFileRequest& OpenDialog1() const { return controller_->OpenDialog1(); }
    // Panel index (0 to 5) of StatusBar1.
    QLabel* StatusBar1Panel(int index) const { return statusBar1Panels_.at(index); }
    QLabel* TarifFileNamePanel(int index) const { return tarifPanels_.at(index); }
    QLabel* RealTimeFileNamePanel(int index) const { return realTimePanels_.at(index); }

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
    // The controls; each is found by its object name, the member's name.
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
    QAction* const StopMenuItem;
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

    // Window caption := application title.
    void FormCreate();
    // Sets the stop flag and asks a reading thread to end; does not wait.
    void FormClose();
    void BuildMenus();
    void BuildToolBar();
    void BuildCentre();
    void SetGauge(int maximum, int position);

    std::unique_ptr<TProgramController> controller_;
    TStartMode startMode_;
    TLinkFactory makeLink_;
    std::array<QLabel*, 6> statusBar1Panels_{};
    std::array<QLabel*, 2> tarifPanels_{};
    std::array<QLabel*, 2> realTimePanels_{};
    TOptionsForm* optionsForm_ = nullptr;
    TAboutForm* aboutForm_ = nullptr;
    TMainForm_rep* reportForm_ = nullptr;
    TRealTimeForm* realTimeForm_ = nullptr;
};
