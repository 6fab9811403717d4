// The program's application object: an exception that escapes an event
// handler is shown by one general error display instead of ending the
// program.
#pragma once

#include <exception>

#include <QApplication>

class TApplication : public QApplication {
  public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // Shows the exception held by error through the message seam, under the
    // application title.
    static void ShowException(std::exception_ptr error);

    // Whether a person can answer a message box: false without a display
    // (the offscreen or minimal platform, or neither X nor Wayland).
    static bool HasDisplay();

    // Leaves every event loop running, the loops of open message boxes and
    // dialogs too, and any that would start from now on: the program ends
    // even while a box waits for an answer nobody gives.
    static void EndEveryEventLoop();
};
