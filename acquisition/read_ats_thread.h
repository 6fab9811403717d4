// The reading thread: runs the billing-buffer reading once (read-all) or
// pass after pass (continuous reading) and hands every window update to the
// user-interface thread, waiting until it is done.
#pragma once

#include <QThread>
#include <atomic>
#include <boost/shared_ptr.hpp>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "call_log.h"
#include "low_level.h"
#include "reading_form.h"

class ReadATSThread : public QThread {
  public:
    // Pause before a lost port is opened again, and between tries to write
    // waiting call lines, during continuous reading (milliseconds).
    static constexpr int kRetryPauseMs = 1000;

    // autoExit tells, when the reading has ended, whether the program is
    // to close itself.
    ReadATSThread(IReadingForm* form, boost::shared_ptr<TLowLevel> link,
                  boost::shared_ptr<TCallLog> log, std::function<bool()> autoExit);
    ~ReadATSThread() override;

    // A newer reader has taken this one's place: from now on its updates
    // no longer touch the window, which belongs to the newer run.
    void Detach() { detached_ = true; }

    // Carries f out on the form's thread and waits for it (and for any
    // update handed over before it). Nothing is done once detached.
    void Hand(const std::function<void()>& f);
    // Hands a written call line, with the counters as they stood, to the
    // form's thread and returns at once: the window never holds up the next
    // request. Lines keep their order, also against Hand; those that pile
    // up while the window is busy are shown together, by one hand-over.
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
    bool Reopen();
    // Lines waiting for the call-log file: tells the operator once per
    // episode.
    void TellPending(size_t count);
    void ShowWritten(const std::vector<std::string>& lines);
    // Tells the operator what a reading's result means for them, if
    // anything.
    void TellReadResult(TReadResult r);
    void OnRecord(TRecord record);

    IReadingForm* form_;
    boost::shared_ptr<TLowLevel> link_;
    boost::shared_ptr<TCallLog> log_;
    std::function<bool()> autoExit_;
    bool told_ = false;
    std::atomic<bool> detached_{false};
    struct TShownLine {
        std::string Line;
        int RecordsInBuffer;
        int RejectedRecords;
    };
    // Carries out the lines handed over so far (on the form's thread).
    void ShowLines();
    std::mutex shownMutex_;
    std::vector<TShownLine> shown_;
    // Set while a hand-over of shown_ is on its way.
    bool showPosted_ = false;
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
