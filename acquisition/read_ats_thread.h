// The reading thread: runs the billing-buffer reading once (read-all) or
// pass after pass (continuous reading) and hands every window update to the
// user-interface thread, waiting until it is done.
#pragma once

#include <optional>

#include <QThread>
#include <atomic>
#include <boost/shared_ptr.hpp>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "acquisition/call_log.h"
#include "acquisition/reading_form.h"
#include "acquisition/reading_hooks.h"
#include "link/low_level.h"

class ReadATSThread : public QThread {
  public:
    // Pause before a lost port is opened again, and between tries to write
    // waiting call lines, during continuous reading (milliseconds).
    static constexpr int kRetryPauseMs = 1000;
    // Least time between two batches of lines shown (milliseconds).
    static constexpr int kShowEveryMs = 100;
    // A silence of the exchange this long is worth a line in the log.
    static constexpr int kSilenceMinutes = 5;

    // autoExit tells, when the reading has ended, whether the program is
    // to close itself.
    ReadATSThread(IReadingForm* form, boost::shared_ptr<TLowLevel> link,
                  boost::shared_ptr<TCallLog> log, std::function<bool()> autoExit);
    ~ReadATSThread() override;

    // A newer reader has taken this one's place: from now on its updates
    // no longer touch the window, which belongs to the newer run.
    void Detach();
    // Set before start: the reading reads the buffer once, and tells the
    // number of calls written at its end.
    void SetReadAll() { readAll_ = true; }
    // Set before start: whom the reading tells of a silence and of the
    // buffer read when the port was opened again.
    void SetHooks(std::shared_ptr<TReadingHookSlot> hooks) { hooks_ = std::move(hooks); }
    // Whether a read-all, once ended, left call lines waiting for the file
    // (the rest of the calls stay in the exchange).
    bool HeldAtEnd() const { return heldAtEnd_; }

    // Carries f out on the form's thread and waits for it (and for any
    // update handed over before it). Nothing is done once detached.
    void Hand(const std::function<void()>& f);
    // Hands a written call line, with the counters as they stood, to the
    // form's thread and returns at once: the window never holds up the next
    // request. Lines keep their order, also against Hand. They are shown
    // in batches, at most kShowEveryMs apart, so that a fast line does not
    // have the window drawn once per call, which would take the processor
    // from the reading.
    void ShowLine(const std::string& line, int recordsInBuffer, int rejectedRecords);

  protected:
    // The reading loop (the thread's Execute).
    void run() override;

  private:
    bool Stopping() const;
    bool Continuous() const;
    // Sleeps up to ms, ending early on a stop.
    void PauseUnlessStopped(int ms);
    // Closes the port and opens and identifies it again; true when it works.
    // A port that will not open is told to the log once per outage.
    bool Reopen();
    // Lines waiting for the call-log file: tells the operator once per
    // episode.
    void TellPending(size_t count);
    void ShowWritten(const std::vector<std::string>& lines);
    // Tells a service manager that the reading is alive, and how many calls
    // it has written or since when the exchange is out of reach, at most
    // once a second on the link's clock.
    void NotifyManager();
    // Follows whether the exchange answers: a silence of kSilenceMinutes on
    // the link's clock is told to the log once, and so is its end; the
    // silence hook hears every step.
    void TrackAnswer(bool answered);
    // Tells the operator what a reading's result means for them, if
    // anything.
    void TellReadResult(TReadResult r);
    void OnRecord(TRecord record);

    IReadingForm* form_;
    boost::shared_ptr<TLowLevel> link_;
    boost::shared_ptr<TCallLog> log_;
    std::function<bool()> autoExit_;
    bool told_ = false;
    // Call lines written by this run, and whether it reads the buffer once.
    size_t written_ = 0;
    bool readAll_ = false;
    std::atomic<bool> heldAtEnd_{false};
    // What the service manager was told last, and when.
    bool notified_ = false;
    IClock::TTimePoint notifiedAt_;
    std::string toldStatus_;
    std::string lastCallAt_;
    // Since when the exchange has not answered, and whether the log knows.
    std::optional<IClock::TTimePoint> silentSince_;
    bool silenceTold_ = false;
    // The local time the outage began at, why the port would not open last
    // (empty when it opened), and whether the log was told of it.
    std::string outageAt_;
    std::string openFailure_;
    bool openFailureTold_ = false;
    std::atomic<bool> detached_{false};
    std::shared_ptr<TReadingHookSlot> hooks_ = std::make_shared<TReadingHookSlot>();
    // Lines written and not yet shown, shared with the hand-overs on their
    // way, which may outlive the thread object.
    struct TShownLines;
    std::shared_ptr<TShownLines> shown_;
};

// One more call line is in the file: the buffer count shown goes down by
// one (never below zero); returns the new count.
int CountWrittenLine(TReadingState& state);

// Waits for reader to end while still carrying out the hand-overs it makes.
void WaitForReader(QThread* reader);

// Releases the form's reader: a running one is detached, asked to stop and
// waited for; one never started is discarded.
void ReleaseReader(boost::shared_ptr<ReadATSThread>& reader, TLowLevel& link);

// Text told to the operator when call lines wait for the file (UTF-8).
std::string PendingLinesText(size_t count);
