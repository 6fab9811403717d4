// The monitor's view as text and its log file: the time-stamp line, the
// write counter that decides when the view is appended to the file, and
// the file itself, kept open between writes.
#pragma once

#include <string>
#include <vector>

#include <QDateTime>
#include <QLocale>

#include "base/fd.h"

// "****** Дата и время считывания: " + date + three blanks + time (UTF-8),
// the date in locale's short date format, the time as hh:mm:ss.
std::string TimeStampLine(const QDateTime& at, const QLocale& locale = QLocale());

// What one successful query did to the log.
enum class TLogStep {
    Counted,      // not yet time to decide
    Written,      // the view was appended
    Closed,       // writing is off: the open file was closed
    Idle,         // writing is off and no file was open
    OpenFailed,   // the file could not be opened or created, or is neither a
                  // regular file nor a device
    WriteFailed,  // the file took not all the bytes; it is cut back to its
                  // length before the write and closed
    LinkRefused,  // the name is a symbolic link OpenThroughLinks refuses
};

class TRealTimeLog {
  public:
    // The counter starts again at 1 (window shown, check box clicked).
    void Restart() { counter_ = 1; }
    int Counter() const { return counter_; }
    bool IsOpen() const { return file_.IsOpen(); }
    // The name of the file open (empty when none).
    const std::string& OpenName() const { return openName_; }

    // After a successful query showing lines (UTF-8): when the counter has
    // reached period, decides. With writing on the lines are appended to
    // fileName in Windows-1251, each ended by CR LF (the file is opened or
    // created first when none is open or the open one was removed, never
    // truncated); with writing off an open file is closed. The counter then
    // starts again at 1; before it has reached period it counts on. A
    // period lowered below the counter decides at once.
    TLogStep AfterQuery(const std::vector<std::string>& lines, int period, bool writing,
                        const std::string& fileName);
    // Closes the file now, if one is open.
    void Close();

  private:
    int counter_ = 1;
    TFd file_;
    std::string openName_;
};

// What the operator is told when the log cannot be written (UTF-8).
std::string LogOpenFailedText(const std::string& fileName);
std::string LogWriteFailedText(const std::string& fileName);
std::string LogLinkRefusedText(const std::string& fileName);
// What the monitor shows while the exchange does not answer: since the
// last answer (hh:mm:ss), or since the first query that got none.
std::string NoAnswerText(const QDateTime& since);
