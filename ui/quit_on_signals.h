// Ends the program cleanly on SIGINT and SIGTERM: the signal handler only
// writes a byte to a pipe; the event loop reads it and runs the quit action
// (normally closing the main window).
#pragma once

#include <functional>

class QSocketNotifier;

class TQuitOnSignals {
  public:
    // Installs the handlers for SIGINT and SIGTERM; quit runs on the thread
    // of the event loop, once per signal.
    explicit TQuitOnSignals(std::function<void()> quit);
    // Restores the handlers that were there before.
    ~TQuitOnSignals();
    TQuitOnSignals(const TQuitOnSignals&) = delete;
    TQuitOnSignals& operator=(const TQuitOnSignals&) = delete;

    // Whether a signal has arrived (also before the event loop ran).
    bool Signalled() const;

  private:
    std::function<void()> quit_;
    QSocketNotifier* notifier_ = nullptr;
};
