// Tallyphon: call accounting for VERANTA office exchanges.
#include <QApplication>

#include "message_seam.h"
#include "qt_message_sink.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tallyphon 2.28");
    TQtMessageSink sink;
    seam::SetMessageSink(&sink);
    seam::SetExitHook([](int status) { std::exit(status); });
    // The main window is not built yet: the program starts and ends at once.
    const int rc = 0;
    seam::SetMessageSink(nullptr);
    return rc;
}
