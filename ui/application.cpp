#include "ui/application.h"

#include <string>

#include <QLibraryInfo>
#include <QTranslator>

#include "base/message_seam.h"

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
    } catch (...) {
        ShowException(std::current_exception());
        return false;
    }
}

void TApplication::ShowException(std::exception_ptr error) {
    std::string text;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        text = e.what();
    } catch (...) {
        // Any other thrown value: an exception without a message.
    }
    seam::ShowMessage(text, applicationName().toStdString());
}

bool TApplication::HasDisplay() {
    const QString platform = QGuiApplication::platformName();
    if (platform == "offscreen" || platform == "minimal") return false;
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

void TApplication::EndEveryEventLoop() {
    // exit() ends every loop of the thread, nested ones included, and makes
    // later ones return at once; quit() would ask the windows first.
    QCoreApplication::exit(0);
}
