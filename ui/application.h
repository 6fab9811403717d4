// The program's application object: an exception that escapes an event
// handler is shown by one general error display instead of ending the
// program.
#pragma once

#include <memory>
#include <string>

#include <QApplication>
#include <QLocale>

class QTranslator;

class TApplication : public QApplication {
  public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;
    bool notify(QObject* receiver, QEvent* event) override;

    // Shows what one of the program's two top-level handlers caught (this
    // notify and main's): the text of a std::exception, empty for any other
    // thrown value, through the message seam under the application title.
    static void ShowException(const std::string& text);

    // Whether a person can answer a message box: false without a display
    // (the offscreen or minimal platform, or neither X nor Wayland).
    static bool HasDisplay();

    // Leaves every event loop running, the loops of open message boxes and
    // dialogs too, and any that would start from now on: the program ends
    // even while a box waits for an answer nobody gives.
    static void EndEveryEventLoop();

    // Installs Qt's own translations (standard buttons, file dialogs) for
    // locale from Qt's translations directory; the program's own texts are
    // Russian already and stay as written. False when Qt has none for that
    // language (Qt's texts then stay English).
    bool LoadQtTranslations(const QLocale& locale);

    // Routes Qt's own messages: the chatter of the platform plugins and of
    // the runtime-directory lookup, which tells an administrator nothing, is
    // dropped; every other warning goes to standard error as one line with
    // its priority, so a service's journal keeps the problems only. Call
    // before the application object is made.
    static void FilterQtMessages();

  private:
    std::unique_ptr<QTranslator> qtTranslator_;
};
