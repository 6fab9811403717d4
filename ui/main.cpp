// Tallyphon: call accounting for VERANTA office exchanges.
#include <atomic>

#include <QMetaObject>

#include "about_form.h"
#include "application.h"
#include "main_form.h"
#include "main_form_rep.h"
#include "message_seam.h"
#include "options_form.h"
#include "qt_message_sink.h"
#include "quit_on_signals.h"
#include "real_time_advanced_form.h"
#include "real_time_form.h"

namespace {

std::atomic<bool> g_exitRequested{false};
std::atomic<int> g_exitStatus{0};

// The program is asked to end (e.g. the exchange refused a unit while being
// identified): every event loop ends, also one that has not started yet.
void RequestExit(int status) {
    g_exitStatus = status;
    g_exitRequested = true;
    QMetaObject::invokeMethod(
        qApp, [status] { QCoreApplication::exit(status); }, Qt::QueuedConnection);
}

int Run(TApplication& app) {
    TMainForm* mainForm = nullptr;
    TQuitOnSignals quitOnSignals([&mainForm] {
        if (mainForm) mainForm->close();
        TApplication::EndEveryEventLoop();
    });
    seam::SetExitHook(RequestExit);

    // The main window runs its start-up sequence while it is created, before
    // the other windows exist.
    TMainForm form;
    mainForm = &form;
    TOptionsForm options;
    TAboutForm about;
    // The report window is a frame so far.
    TMainForm_rep report;
    TRealTimeForm realTime;
    // A window of the monitor's own, so the modal monitor leaves it usable.
    TRealTimeAdvancedForm realTimeAdvanced(&realTime);
    realTime.SetAdvancedForm(&realTimeAdvanced);
    form.SetOptionsForm(&options);
    form.SetAboutForm(&about);
    form.SetReportForm(&report);
    form.SetRealTimeForm(&realTime);
    QObject::connect(&form, &TMainForm::Closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    int rc = 0;
    if (!g_exitRequested && !quitOnSignals.Signalled() && form.isVisible()) {
        try {
            rc = app.exec();
        } catch (...) {
            TApplication::ShowException(std::current_exception());
        }
    }
    if (g_exitRequested) rc = g_exitStatus;
    form.close();
    mainForm = nullptr;
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    QApplication::setApplicationName("Tallyphon 2.28");
    // The program ends when its main window closes, whatever else is open.
    QApplication::setQuitOnLastWindowClosed(false);
    TQtMessageSink sink;
    seam::SetMessageSink(&sink);
    // Without a display nobody can answer a box.
    if (!TApplication::HasDisplay()) seam::SetUnattended(true);
    int rc = 1;
    try {
        rc = Run(app);
    } catch (...) {
        TApplication::ShowException(std::current_exception());
    }
    seam::SetExitHook(nullptr);
    seam::SetMessageSink(nullptr);
    return rc;
}
