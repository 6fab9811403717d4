// Tallyphon: call accounting for VERANTA office exchanges.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <QMetaObject>

#include <QTimer>

#include "acquisition/port_messages.h"
#include "alerts/alert_rules.h"
#include "alerts/alerter.h"
#include "alerts/condition_watch.h"
#include "alerts/db_sink.h"
#include "alerts/desktop_sink.h"
#include "app/command_line.h"
#include "base/message_seam.h"
#include "db/db_config.h"
#include "db/shipper.h"
#include "link/comm_port.h"
#include "link/trace_line.h"
#include "ui/about_form.h"
#include "ui/application.h"
#include "ui/main_form.h"
#include "ui/main_form_rep.h"
#include "ui/options_form.h"
#include "ui/qt_message_sink.h"
#include "ui/quit_on_signals.h"
#include "ui/real_time_advanced_form.h"
#include "ui/real_time_form.h"

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

// Runs the program until its main window closes; the exit status: that of
// an exit asked for, else 2 when a headless start lacks its settings, else
// 1 when a start-up that nobody watches (headless, or "read all, then
// close") could not do its work or its read-all left calls unwritten,
// else 0.
int Run(TApplication& app, TStartMode mode, const TDbConfig& db, const TLinkFactory& makeLink) {
    TMainForm* mainForm = nullptr;
    TQuitOnSignals quitOnSignals([&mainForm] {
        if (mainForm) mainForm->close();
        TApplication::EndEveryEventLoop();
    });
    seam::SetExitHook(RequestExit);

    // The main window runs its start-up sequence while it is created, before
    // the other windows exist.
    TMainForm form(mode, makeLink);
    mainForm = &form;
    TOptionsForm options;
    TAboutForm about;
    TMainForm_rep report;
    TRealTimeForm realTime;
    // A window of the monitor's own, so the modal monitor leaves it usable.
    TRealTimeAdvancedForm realTimeAdvanced(&realTime);
    realTime.SetAdvancedForm(&realTimeAdvanced);
    form.SetOptionsForm(&options);
    form.SetAboutForm(&about);
    form.SetReportForm(&report);
    form.SetRealTimeForm(&realTime);
    form.FirstStartSettings();

    // Every call written is shipped to the database as well, on a thread of
    // its own; at start, whatever the file holds past what the database has.
    // The hook shares the shipper, so that it is never left pointing at
    // one gone, whichever goes first on the way out.
    const auto link = form.Link();
    std::shared_ptr<TShipper> shipper;
    if (db.Enabled()) {
        shipper = std::make_shared<TShipper>(db);
        seam::Journal(seam::TPriority::Info, "Звонки площадки «" + db.Site +
                                                 "» отправляются в базу данных " +
                                                 ConnInfoForDisplay(db.ConnInfo));
    }

    // Alerts: the rules of TallyphonAlerts.cfg in the start-up directory
    // over every call written, and the conditions the reading, the monitor
    // and the shipper tell of. A refused file is told of by the alerter.
    TAlerterOptions alerterOptions;
    alerterOptions.Site = db.Site;
    auto alerter = std::make_shared<TAlerter>(kAlertRulesFileName, ".", alerterOptions);
    const bool alerting = !alerter->Rules().Rules.empty();
    TDesktopSink desktop;
    std::unique_ptr<TDbSink> dbSink;
    auto watch = std::make_shared<TConditionWatch>(*alerter);
    // Calls written since the shipper stalled, for the rule on a database
    // falling behind.
    auto sinceStall = std::make_shared<std::atomic<uint64_t>>(0);
    QTimer shipping;
    if (alerting) {
        alerter->SetSink("desktop", &desktop);
        if (db.Enabled()) {
            dbSink = std::make_unique<TDbSink>(db);
            alerter->SetSink("db", dbSink.get());
        }
        form.Controller().SetReadingHooks(watch->ReadingHooks());
        realTime.BusyTracker().SetAfterPoll(
            [watch](const std::vector<TBusyConnection>& busy) { watch->Polled(busy); });
        if (shipper) {
            QObject::connect(&shipping, &QTimer::timeout, [watch, shipper, sinceStall] {
                const bool stalled = shipper->Stalled();
                if (!stalled) *sinceStall = 0;
                watch->Shipping(stalled, *sinceStall, std::chrono::steady_clock::now());
            });
            shipping.start(10000);
        }
    }
    // The settings dialog checks the rules as the alerter reads them.
    options.SetAlertsValidator([](const std::string& text) {
        TAlertRules rules;
        const TAlertRulesResult r = ParseAlertRules(text, kAlertRulesFileName, rules);
        return r.Ok() ? std::string() : r.Message;
    });
    if (shipper || alerting)
        form.CallLog()->SetFileHook(
            [shipper, alerter, alerting, sinceStall](const TWrittenFile& file) {
                if (shipper) {
                    shipper->Notify({file.Path, file.ModelName, file.SerialNumber});
                    if (shipper->Stalled()) *sinceStall += file.Lines;
                }
                if (alerting) alerter->Notify(file.Path);
            });
    // Started once the hook is there: a line written in between would wait
    // for the next one.
    if (shipper)
        shipper->Start({link->Settings.TarifFileName, link->Identification().ModelName,
                        link->Identification().SerialNumber});
    if (alerting) alerter->Start(link->Settings.TarifFileName);
    QObject::connect(&form, &TMainForm::Closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    const bool startFailed = StartUpFailed(form.Controller().StartUpResult());
    // A headless program with nothing to read ends at once, so that a
    // service manager can try again.
    const bool idle = mode == TStartMode::Headless && startFailed;
    int rc = 0;
    if (!g_exitRequested && !quitOnSignals.Signalled() && form.isVisible() && !idle) {
        // Whatever an event handler raises ends in TApplication::notify.
        rc = app.exec();
    }
    const bool unwatched = mode == TStartMode::Headless || form.Controller().AutoExit();
    if (g_exitRequested)
        rc = g_exitStatus;
    else if (rc == 0 && startFailed && unwatched)
        // Settings that only a person can mend stop a service's restarts.
        rc = form.Controller().StartUpResult() == TStartUpResult::Unconfigured ? 2 : 1;
    else if (rc == 0 && unwatched && form.Controller().ReadAllHeld())
        rc = 1;
    form.close();
    mainForm = nullptr;
    form.CallLog()->SetFileHook(nullptr);
    shipping.stop();
    form.Controller().SetReadingHooks({});
    realTime.BusyTracker().SetAfterPoll(nullptr);
    // The last lines go too, unless the database is out of reach.
    if (shipper) shipper->Stop(TShipper::TDrain::LastLines);
    alerter->Stop();
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    const TCommandLine cl = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (cl.Action) {
        case TCommandAction::Run:
            break;
        case TCommandAction::Help:
            std::fputs(UsageText().c_str(), stdout);
            return 0;
        case TCommandAction::Version:
            std::puts("tallyphon 2.28");
            return 0;
        case TCommandAction::BadOption:
            // No window yet: the default sink writes it to standard error.
            {
                std::string text = cl.Error;
                if (text.back() != '.') text += '.';
                seam::ShowMessage(text + " Справка: tallyphon --help", kErrorCaption);
                return 2;
            }
    }
    if (NeedsOffscreenPlatform(cl.Headless, std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"),
                               std::getenv("QT_QPA_PLATFORM")))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);

    TApplication::FilterQtMessages();
    // Every argument was the program's own: Qt gets none of them.
    int qtArgc = 1;
    TApplication app(qtArgc, argv);
    QApplication::setApplicationName("Tallyphon 2.28");
    // Qt's standard buttons and file dialogs in the user's language.
    app.LoadQtTranslations(QLocale::system());
    // The program ends when its main window closes, whatever else is open.
    QApplication::setQuitOnLastWindowClosed(false);
    TQtMessageSink sink;
    seam::SetMessageSink(&sink);
    // Without a display nobody can answer a box.
    if (cl.Headless || !TApplication::HasDisplay()) seam::SetUnattended(true);
    int rc = 1;
    // A trace file is named as the user sees it, before the program moves to
    // its start-up directory.
    std::FILE* trace = nullptr;
    if (!cl.TraceLink.empty()) {
        std::string why;
        trace = OpenTraceFile(cl.TraceLink, why);
        if (!trace) {
            seam::ShowMessage(why, kErrorCaption);
            seam::SetMessageSink(nullptr);
            return 2;
        }
    }
    // The start-up directory is the current directory when the link context
    // is made: a bad one is refused before any file is touched.
    std::string dir = cl.Dir;
    std::string dirMade;
    if (dir.empty()) {
        const char* home = std::getenv("HOME");
        dir = UserStartDir(cl.Headless, SameDirectory(".", home),
                           access("Tallyphon.cfg", F_OK) == 0, home, std::getenv("XDG_DATA_HOME"));
        if (!dir.empty()) dirMade = MakeUserStartDir(dir);
    }
    const TStartDirCheck dirCheck = dir.empty() ? TStartDirCheck::Usable : CheckStartDir(dir);
    if (!dirMade.empty()) {
        seam::ShowMessage(dirMade, kErrorCaption);
        rc = 2;
    } else if (dirCheck != TStartDirCheck::Usable) {
        seam::ShowMessage(StartDirErrorText(dirCheck, dir), kErrorCaption);
        rc = 2;
    } else if (!dir.empty() && chdir(dir.c_str()) != 0) {
        seam::ShowMessage("Каталог запуска недоступен: " + dir + " (" + std::strerror(errno) + ")",
                          kErrorCaption);
        rc = 2;
    } else {
        try {
            // Calls go to a database as the command line says, else as
            // TallyphonDb.cfg does; a file that cannot be used is told of,
            // and the calls are read into the call-log file all the same.
            TDbConfig db{cl.DbConnInfo, cl.DbSite};
            if (ConnInfoHasPassword(db.ConnInfo))
                seam::Journal(seam::TPriority::Warning, kPasswordSeen);
            if (!db.Enabled()) {
                TDbConfigLoad loaded = LoadDbConfig("");
                if (!loaded.Ok()) seam::ShowMessage(loaded.Error, kErrorCaption);
                if (!loaded.Warning.empty())
                    seam::Journal(seam::TPriority::Warning, loaded.Warning);
                db = loaded.Config;
            }
            TLinkFactory makeLink = [] { return CreateLowLevel(); };
            if (trace)
                makeLink = [&trace] {
                    // The program's one link: the trace goes to it.
                    if (!trace) return CreateLowLevel();
                    std::shared_ptr<IClock> clock(&TSteadyClock::Instance(), [](IClock*) {});
                    auto line = std::make_shared<TTraceLine>(std::make_shared<TCommPort>(),
                                                             std::exchange(trace, nullptr), clock);
                    return CreateLowLevel(std::move(line), clock);
                };
            rc = Run(app, cl.Headless ? TStartMode::Headless : TStartMode::Window, db, makeLink);
        } catch (const std::exception& e) {
            TApplication::ShowException(e.what());
        } catch (...) {
            TApplication::ShowException({});
        }
    }
    if (trace) std::fclose(trace);
    seam::SetExitHook(nullptr);
    seam::SetMessageSink(nullptr);
    return rc;
}
