// Runs the window tests inside the program's own application object, on the
// offscreen platform so that no display is needed.
#include <gtest/gtest.h>

#include "ui/application.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    QApplication::setApplicationName("Tallyphon 2.28");
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
