// Runs the window tests inside the program's own application object, on the
// offscreen platform so that no display is needed.
#include <gtest/gtest.h>

#include <cstdio>

#include "ui/application.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    QApplication::setApplicationName("Tallyphon 2.28");
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    // A test registered with CTest by its name and since renamed would
    // otherwise pass without running.
    if (!GTEST_FLAG_GET(list_tests) &&
        ::testing::UnitTest::GetInstance()->test_to_run_count() == 0) {
        std::fprintf(stderr, "No test matches the filter.\n");
        return 1;
    }
    return status;
}
