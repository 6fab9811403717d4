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
};
