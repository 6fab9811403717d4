#include "ui/application.h"

#include <cstdio>
#include <exception>
#include <string>

#include <QLibraryInfo>
#include <QTranslator>

#include "base/message_seam.h"

namespace {

bool IsQtChatter(QtMsgType type, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg) return false;
    // Windows of an offscreen platform cannot be sized by hints nor raised;
    // a service has no runtime directory of its own unless its unit makes
    // one, and Qt makes do without it.
    static const char* const chatter[] = {
        "This plugin does not support propagateSizeHints()",
        "This plugin does not support raise()",
        "QStandardPaths: XDG_RUNTIME_DIR not set",
        "QStandardPaths: wrong permissions on runtime directory",
        "QStandardPaths: runtime directory",
    };
    for (const char* c : chatter)
        if (text.startsWith(QLatin1String(c))) return true;
    return false;
}

void WriteQtMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (IsQtChatter(type, text)) return;
    // The priorities of sd-daemon: a journal files each line by it.
    const char* priority = "<6>";
    switch (type) {
        case QtDebugMsg:
            priority = "<7>";
            break;
        case QtInfoMsg:
            break;
        case QtWarningMsg:
            priority = "<4>";
            break;
        case QtCriticalMsg:
        case QtFatalMsg:
            priority = "<3>";
            break;
    }
    QString line = text;
    line.replace('\n', ' ');
    std::fprintf(stderr, "%s%s\n", priority, line.toLocal8Bit().constData());
}

}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

TApplication::~TApplication() = default;

bool TApplication::LoadQtTranslations(const QLocale& locale) {
    if (qtTranslator_) {
        removeTranslator(qtTranslator_.get());
        qtTranslator_.reset();
    }
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(locale, "qtbase", "_",
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    installTranslator(translator.get());
    qtTranslator_ = std::move(translator);
    return true;
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowException(e.what());
    } catch (...) {
        ShowException({});
    }
    return false;
}

void TApplication::ShowException(const std::string& text) {
    seam::ShowMessage(text, applicationName().toStdString());
}

bool TApplication::HasDisplay() {
    const QString platform = QGuiApplication::platformName();
    if (platform == "offscreen" || platform == "minimal") return false;
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

void TApplication::FilterQtMessages() {
    qInstallMessageHandler(WriteQtMessage);
}

void TApplication::EndEveryEventLoop() {
    // exit() ends every loop of the thread, nested ones included, and makes
    // later ones return at once; quit() would ask the windows first.
    QCoreApplication::exit(0);
}
