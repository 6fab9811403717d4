// The real-time monitor: once a second the connections the exchange
// reports, under a time-stamp line, and every N seconds that view appended
// to the real-time log file. The query runs off the user-interface thread;
// its outcome is shown here.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include <QDateTime>
#include <QDialog>

#include "base/message_seam.h"
#include "link/low_level.h"
#include "realtime/busy_tracker.h"
#include "realtime/line_state_runner.h"
#include "realtime/real_time_log.h"

class QAction;
class QCheckBox;
class QLabel;
class QListWidget;
class QMenu;
class QMenuBar;
class QPushButton;
class QSpinBox;
class QTimer;
class TRealTimeAdvancedForm;

class TRealTimeForm : public QDialog {
    Q_OBJECT
  public:
    explicit TRealTimeForm(QWidget* parent = nullptr);
    // Calls off a query still running.
    ~TRealTimeForm() override;

    // The exchange-link context the monitor works on; set before each showing.
    // Before each showing; the model is taken now, while no query runs.
    void SetLink(boost::shared_ptr<TLowLevel> link) {
        link_ = std::move(link);
        modelName_ = link_ ? link_->Identification().ModelName : std::string();
    }
    boost::shared_ptr<TLowLevel> Link() const { return link_; }
    // The grid window that "Подробности" shows and hides (not owned).
    void SetAdvancedForm(TRealTimeAdvancedForm* form) { advancedForm_ = form; }
    // Run after a new log file name was chosen, so the main window shows it.
    void SetShowExchangeInfo(std::function<void()> show) { showExchangeInfo_ = std::move(show); }

    // The write period N, as StaticText1 shows it.
    int WritePeriod() const;
    const TRealTimeLog& Log() const { return log_; }
    const TLineStateRunner& Runner() const { return runner_; }
    // Since when each line and trunk has been busy, by the polls of this
    // showing (cleared when the window opens and closes), on the link's
    // clock. Its after-poll hook is where the live connections are watched.
    TBusyTracker& BusyTracker() { return busy_; }
    const seam::TFileRequest& OpenDialog1() const { return openDialog1_; }

  public slots:
    // Starts the timer and the write counter; the check box is usable only
    // with a log file name.
    void FormShow();
    // Stops the timer and calls off a running query; the log stays open.
    // The grid window is hidden and cleared.
    void FormClose();
    // Starts a query unless one still runs (the tick is then skipped).
    void RealTimeTimerTimer();
    void WriteFileFlagCheckBoxClick();
    // Chooses the real-time log file.
    void N2Click();
    // Shows the grid window beside the monitor, or hides it.
    void SpeedButton1Click();
    // What the timer's handler does with a query's outcome: an answered
    // one is shown, counted and, when due, written; after one that got no
    // answer the view, the counter and the file stay as they are, and
    // StaleLabel says since when the view stands. The view shows how long
    // each line and trunk has been busy; the log keeps the exchange's
    // lines as they were.
    void ApplyLineState(const TLineStateOutcome& outcome);

  protected:
    void showEvent(QShowEvent* event) override;
    // Every way of closing (Escape, the close box) ends here.
    void done(int result) override;

  private:
    // --- controls, each named by its objectName ---------------------------
    QMenuBar* const MainMenu1;
    QMenu* const N1;
    QAction* const N2;
    QListWidget* const ListBox1;
    QTimer* const RealTimeTimer;
    QCheckBox* const WriteFileFlagCheckBox;
    QLabel* const Label1;
    QLabel* const StaticText1;
    // Under the view while the exchange does not answer: since when the
    // view stands. Hidden while the answers come.
    QLabel* const StaleLabel;
    QSpinBox* const UpDown1;
    QPushButton* const SpeedButton1;

    void ShowFileName();
    // Writing could not go on: it is switched off and the operator told.
    void StopWriting(const std::string& text);

    boost::shared_ptr<TLowLevel> link_;
    TRealTimeAdvancedForm* advancedForm_ = nullptr;
    std::string modelName_;
    std::function<void()> showExchangeInfo_;
    seam::TFileRequest openDialog1_;
    TRealTimeLog log_;
    std::vector<TConnection> connections_;
    // When the last answer was shown (invalid before the first).
    QDateTime lastAnswer_;
    TBusyTracker busy_{
        [this] { return link_ ? link_->Clock().Now() : TSteadyClock::Instance().Now(); }};
    TLineStateRunner runner_{this};
};
