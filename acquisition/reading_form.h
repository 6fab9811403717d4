// What the reading workflows and the reading thread need from the main
// window. Every call is made on the user-interface thread: the reading
// thread hands its calls over and waits for them.
#pragma once

#include <string>

class QObject;

class IReadingForm {
  public:
    virtual ~IReadingForm() = default;
    // The object whose thread carries out the hand-overs (the window).
    virtual QObject* FormObject() = 0;
    // Opens the port and identifies the exchange: 1, -1 port, -2 exchange.
    virtual int OpenPort(const std::string& name) = 0;
    virtual void ShowExchangeInfo(int refreshClock) = 0;
    // Status panels to dashes, gauge to 0 of 100, pickers to the computer's
    // clock: no exchange.
    virtual void ShowNoExchange() = 0;
    virtual void LockControls() = 0;
    virtual void UnlockControls() = 0;
    virtual void SetUnInterruptPanel(const std::string& text) = 0;
    virtual void EnableStop() = 0;
    virtual void ReleaseReadButton() = 0;
    virtual void StartUnInterruptTimer() = 0;
    virtual bool AutoExit() const = 0;
    // Adds a title line at the end of the list.
    virtual void AddListLine(const std::string& line) = 0;
    // One call line was written: gauge down by one, the line added and
    // selected (the list emptied past its limit), buffer and rejected
    // counters shown from the link context.
    virtual void ShowCallLine(const std::string& line) = 0;
};
