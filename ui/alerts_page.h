// The settings dialog's page "Тревоги": the alert rules file
// "TallyphonAlerts.cfg" of the start-up directory as plain text, with a
// short help of what its lines may say. The rules are checked by a
// validator the program hands in; without one the text is saved as it is.
#pragma once

#include <functional>
#include <string>

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// The rules file's name in the start-up directory.
constexpr const char* kAlertsFileName = "TallyphonAlerts.cfg";

class TAlertsPage : public QWidget {
    Q_OBJECT
  public:
    // Checks the rules text (UTF-8): the message why it is refused
    // (Russian, UTF-8), empty when it is good.
    using TValidator = std::function<std::string(const std::string& text)>;

    explicit TAlertsPage(QWidget* parent = nullptr);

    void SetValidator(TValidator validator) { validator_ = std::move(validator); }
    // The directory whose rules file the page edits.
    void SetStartDir(const std::string& dir) { startDir_ = dir; }
    std::string FilePath() const;

    // Shows the file's lines (none when it is missing), read as UTF-8;
    // a file that cannot be read, or is no UTF-8, is told on the page, and
    // the editor is read-only then, so that saving cannot replace what was
    // not seen as it is.
    void Load();
    // Whether the text differs from what was loaded or saved last.
    bool Modified() const;
    // Checks the text with the validator and writes it, as UTF-8, to a new
    // file beside the rules file, renamed over it (a symbolic link standing
    // there is replaced, never written through). True when saved; false,
    // the file as it was and the reason on the page, when the validator
    // refused or writing failed.
    bool Save();

  private:
    QLabel* const AlertsHelpLabel;
    QPlainTextEdit* const AlertsEdit;
    QLabel* const AlertsErrorLabel;
    QPushButton* const AlertsSaveButton;

    void ShowError(const std::string& text);

    TValidator validator_;
    QString kept_;
    std::string startDir_ = ".";
};
