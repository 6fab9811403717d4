// The program's flow, without widgets: start-up, the two reading commands,
// reopening the port, the choice of the call-log file, the settings, the
// monitor's precondition and the end. The main window hands its commands
// here and shows what it is told through IReadingForm.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include <boost/shared_ptr.hpp>

#include "acquisition/call_log.h"
#include "acquisition/port_messages.h"
#include "acquisition/read_ats_thread.h"
#include "acquisition/reading_form.h"
#include "base/message_seam.h"
#include "link/low_level.h"

// Constructs the exchange-link context (StartDir = the current directory)
// and reads "TallyphonOut.cfg" into its settings, as the last step of its
// construction: over the serial port with real time, or over device with
// clock.
boost::shared_ptr<TLowLevel> CreateLowLevel();
boost::shared_ptr<TLowLevel> CreateLowLevel(std::shared_ptr<IByteLine> device,
                                            std::shared_ptr<IClock> clock);
// Makes the program's link context, in the start-up directory.
using TLinkFactory = std::function<boost::shared_ptr<TLowLevel>()>;

// How the program was started: with its window, or headless (no display
// and nobody to answer: every message on standard error, and continuous
// reading when the settings name no start-up action).
enum class TStartMode { Window, Headless };

// What start-up came to.
enum class TStartUpResult {
    Waiting,     // the exchange identified, no reading asked for
    Reading,     // the start-up action started a reading thread
    FirstStart,  // no settings file: the operator must choose the port
    PortFailed,  // the port could not be opened
    NoExchange,  // no exchange answered
    NotStarted,  // the start-up action could not start its reading
    // Headless without usable settings: no port or no call-log file. Trying
    // again cannot mend it, so the program ends for good.
    Unconfigured,
};

// Whether start-up failed to do what it was asked (an unattended program
// then ends with a non-zero status).
bool StartUpFailed(TStartUpResult result);

class TProgramController {
  public:
    // form outlives the controller; link is the program's one context. The
    // records left unacknowledged by an earlier run are read from the
    // start-up directory, and kept there from now on.
    TProgramController(IReadingForm& form, boost::shared_ptr<TLowLevel> link,
                       TStartMode mode = TStartMode::Window);
    // Waits for a reading thread still running, serving its hand-overs.
    ~TProgramController();
    TProgramController(const TProgramController&) = delete;
    TProgramController& operator=(const TProgramController&) = delete;

    // Start-up: reads "Tallyphon.cfg", opens the port, identifies the
    // exchange and carries out the start-up action. On a first start only
    // tells the operator to choose the port. Headless, a failure to open the
    // port or to find the exchange is told whatever the start-up action.
    void StartUp();
    // The outcome of StartUp (Waiting before it ran).
    TStartUpResult StartUpResult() const { return startUpResult_; }

    // Opens the port under name, identifies the exchange and shows the
    // outcome. Messages about it are the caller's (ReportPortOpening).
    TOpenPortResult OpenPort(const std::string& name);
    // Shows the exchange's data and the settings' file names without asking
    // the exchange; the pickers from the last identification, with
    // refreshClock only when the link test passes. Empties the continuous
    // reading panel unless continuous reading runs.
    void ShowExchangeInfo(bool refreshClock);

    // Reads the whole billing buffer once, on a reading thread.
    void LoadFromATS();
    // Reads the billing buffer pass after pass until Stop.
    void ReadUninterrupt();
    // Asks a running reading to stop and unlocks the window at once.
    void Stop();
    // Reopens the port and identifies the exchange again.
    void Reload();
    // Lets the operator choose the call-log file; lines waiting for the file
    // are written to the chosen one first.
    void SelectCallLogFile();
    // The same, proposing this year's file in the start-up directory
    // ("calls-2026.txt") when no call-log file is known yet.
    void OfferCallLogFile();
    // Applies the settings dialog's choices: reopens the port under the
    // chosen name and stores them in "Tallyphon.cfg".
    void ApplySettings(const TOptionsSettings& chosen);
    // The choices the settings dialog starts from.
    TOptionsSettings CurrentOptions() const;
    // Whether the real-time monitor works with the identified model (warns
    // the operator when it does not) and no reading runs: one asked to stop
    // is waited for, one still reading refuses without a word (its command
    // is locked meanwhile).
    bool MayOpenMonitor();
    // The window is closing: a running reading is asked to end.
    void Close();

    // Whom the reading tells of the buffer's fill, a silence of the
    // exchange and a reading held (see TReadingHooks for when, and on which
    // thread). May be set at any time, also while a reading runs (the
    // main window starts up as it is made); the buffer hook hears at once
    // the fill read last.
    void SetReadingHooks(TReadingHooks hooks);

    // Whether the last read-all ended with call lines waiting for the file.
    bool ReadAllHeld() const { return reader_ && reader_->HeldAtEnd(); }

    // Set at start-up for the start-up action "read all, then close".
    bool AutoExit() const { return autoExit_; }
    void SetAutoExit(bool on) { autoExit_ = on; }

    boost::shared_ptr<TLowLevel> Link() const { return link_; }
    // The reading thread of the last reading (empty before the first).
    boost::shared_ptr<ReadATSThread> Reader() const { return reader_; }
    // The call-log writer with the lines that wait for the file.
    boost::shared_ptr<TCallLog> CallLog() const { return callLog_; }
    // The call-log file dialog's request as it stands.
    const seam::TFileRequest& OpenDialog1() const { return openDialog1_; }

  private:
    TExchangeView View() const;
    bool NoCallLog() const;
    ReadATSThread* NewReader();
    // IdentifyAndReport, telling the buffer-read hook of a success.
    TIdentifyResult Identify();
    // Writes the lines still waiting, then the title of the run.
    void WriteTitleBlock();
    // Whether the port and the settings are free: a reading asked to stop
    // is waited for (serving its hand-overs); false while one still reads.
    bool ReaderEnded();

    IReadingForm& form_;
    boost::shared_ptr<TLowLevel> link_;
    boost::shared_ptr<TCallLog> callLog_;
    boost::shared_ptr<ReadATSThread> reader_;
    std::atomic<bool> autoExit_{false};
    bool started_ = false;
    TStartMode mode_;
    TStartUpResult startUpResult_ = TStartUpResult::Waiting;
    // Set when start-up made the messages go to standard error.
    bool madeUnattended_ = false;
    seam::TFileRequest openDialog1_;
    std::shared_ptr<TReadingHookSlot> hooks_ = std::make_shared<TReadingHookSlot>();
};
