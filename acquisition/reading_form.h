// What the program's flow needs from the main window: it only shows what it
// is told. Every call is made on the user-interface thread: the reading
// thread hands its calls over and waits for them.
#pragma once

#include <string>

#include "link/low_level.h"

class QObject;

// What the status display shows of the exchange and the settings.
struct TExchangeView {
    TIdentification Exchange;
    int RecordsInBuffer = 0;
    std::string TarifFileName;
    std::string RealTimeFileName;
};

class IReadingForm {
  public:
    virtual ~IReadingForm() = default;
    // The object whose thread carries out the hand-overs (the window).
    virtual QObject* FormObject() = 0;
    // Status panels, file-name panels and gauge.
    virtual void ShowExchange(const TExchangeView& view) = 0;
    // Date and time pickers from the exchange's clock.
    virtual void ShowExchangeClock(const TDateTimeParts& clock) = 0;
    // Date and time pickers from the computer's clock.
    virtual void ShowComputerClock() = 0;
    // Status panels to dashes, gauge to 0 of 100, pickers to the computer's
    // clock: no exchange.
    virtual void ShowNoExchange() = 0;
    virtual void LockControls() = 0;
    virtual void UnlockControls() = 0;
    virtual void SetUnInterruptPanel(const std::string& text) = 0;
    virtual void EnableStop() = 0;
    virtual void ReleaseReadButton() = 0;
    // The program closes 2 seconds later.
    virtual void StartUnInterruptTimer() = 0;
    // Closes the window at once (the program ends).
    virtual void CloseForm() = 0;
    // Adds a line at the end of the list; empties the list.
    virtual void AddListLine(const std::string& line) = 0;
    virtual void ClearList() = 0;
    // One call line was written: gauge down by one, the line added and
    // selected (the list emptied past its limit), the buffer and rejected
    // counters as they stood when it was written.
    virtual void ShowCallLine(const std::string& line, int recordsInBuffer,
                              int rejectedRecords) = 0;
    // A read-all has ended having written calls call lines.
    virtual void ShowReadAllEnd(int calls) { static_cast<void>(calls); }
};
