// The program's application object and its signal handling: escaped
// exceptions reach one general error display, SIGINT/SIGTERM end cleanly.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <signal.h>

#include <chrono>
#include <stdexcept>

#include <QApplication>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "link/comm_error.h"
#include "tests/common/recorder.h"
#include "tests/ui/ui_test_support.h"
#include "ui/application.h"
#include "ui/options_form.h"
#include "ui/qt_message_sink.h"
#include "ui/quit_on_signals.h"

using namespace testing_support;
using namespace ui_test;

namespace {

// Serves events until done() holds or 5 s have passed.
bool ServeUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

TEST(Application, AnExceptionFromAHandlerIsShownAndTheProgramGoesOn) {
    struct Row {
        std::function<void()> thrower;
        std::string text;
    };
    const std::vector<Row> rows = {
        {[] { throw std::runtime_error("сбой"); }, "сбой"},
        {[] { throw 42; }, ""},
        // The reason in the system's language, whatever it is.
        {[] { throw ECommError(11, EIO); },
         std::string("Ошибка СОМ-порта 11: ") + std::strerror(EIO)},
    };
    for (const Row& row : rows) {
        TRecorder recorder;
        QTimer::singleShot(0, qApp, row.thrower);
        ASSERT_TRUE(ServeUntil([&] { return !recorder.Messages().empty(); }));
        const std::vector<TShownMessage> expected = {{row.text, "Tallyphon 2.28"}};
        EXPECT_EQ(recorder.Messages(), expected);
    }
}

TEST(Application, TerminationSignalsRunTheQuitActionOnTheEventLoop) {
    for (int sig : {SIGTERM, SIGINT}) {
        struct sigaction before = {};
        sigaction(sig, nullptr, &before);
        {
            int quits = 0;
            TQuitOnSignals quit([&quits] { ++quits; });
            EXPECT_FALSE(quit.Signalled());
            ASSERT_EQ(raise(sig), 0);
            // The handler itself does nothing but note it.
            EXPECT_TRUE(quit.Signalled());
            EXPECT_EQ(quits, 0);
            EXPECT_TRUE(ServeUntil([&] { return quits == 1; }));
        }
        struct sigaction after = {};
        sigaction(sig, nullptr, &after);
        EXPECT_EQ(after.sa_handler, before.sa_handler) << sig;
    }
}

TEST(Application, ATerminationSignalEndsAMessageBoxNobodyAnswers) {
    TQuitOnSignals quit(TApplication::EndEveryEventLoop);
    TQtMessageSink sink;
    bool boxShown = false;
    QTimer::singleShot(100, [&] {
        boxShown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr;
        raise(SIGTERM);
    });
    // Blocks in the box until the signal ends its loop; a hang fails the
    // test by its time-out.
    sink.Message("Неверная информация в буфере тарификации", "Ошибка", seam::TButtons::Ok);
    EXPECT_TRUE(boxShown);
    EXPECT_TRUE(quit.Signalled());
    // Let the next tests' loops run again.
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

TEST(Application, QtsOwnTextsFollowTheLocaleWhileTheProgramsStayAsWritten) {
    auto* app = static_cast<TApplication*>(qApp);
    auto standard = [](QDialogButtonBox::StandardButton which) {
        QDialogButtonBox box(which);
        return box.button(which)->text().remove('&').toStdString();
    };
    ASSERT_TRUE(app->LoadQtTranslations(QLocale(QLocale::Russian, QLocale::Russia)));
    const std::pair<QDialogButtonBox::StandardButton, const char*> rows[] = {
        {QDialogButtonBox::Open, "Открыть"},
        {QDialogButtonBox::Cancel, "Отмена"},
        {QDialogButtonBox::Save, "Сохранить"},
    };
    for (const auto& [which, text] : rows)
        EXPECT_EQ(standard(which), text);
    TOptionsForm options;
    EXPECT_EQ(Child<QPushButton>(options, "Button2")->text().toStdString(), "OK");
    EXPECT_EQ(Child<QPushButton>(options, "Button1")->text().toStdString(), "Cancel");
    // A language Qt has no texts for leaves them English.
    EXPECT_FALSE(app->LoadQtTranslations(QLocale::c()));
    EXPECT_EQ(standard(QDialogButtonBox::Cancel), "Cancel");
}

}  // namespace
