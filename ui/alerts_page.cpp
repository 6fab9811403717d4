#include "ui/alerts_page.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringDecoder>
#include <QVBoxLayout>

#include "base/fd.h"

namespace {

// A rules file is a few dozen lines; anything near this is no rules file.
constexpr size_t kMaxAlertsBytes = 1 << 20;

const char* const kHelp =
    "Одно правило в строке: вид, порог и куда сообщать. Виды: cost (стоимость звонка, руб.), "
    "duration (длительность звонка, мин), prefix (набранный префикс), hours (звонок вне рабочих "
    "часов), live (соединение длится дольше, мин), buffer (буфер АТС заполнен, %), silent (АТС "
    "не отвечает, мин), held (считывание приостановлено: файл не записывается), db (база данных "
    "отстаёт). Куда: journal, desktop, mail:АДРЕС, db. Кроме правил: TARIFFS=путь (тарифы для "
    "стоимости), SENDMAIL=путь (программа отправки почты).";

// Reads path whole into text; empty when it is missing. The reason (UTF-8)
// when it cannot be read: no regular file, too long, an error.
std::string ReadRules(const std::string& path, std::string& text) {
    text.clear();
    // A FIFO under the name must not hold the window: opened without
    // waiting, and refused unless it is a regular file.
    TFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.IsOpen()) {
        if (errno == ENOENT) return std::string();
        return "Не удалось прочитать файл \"" + path + "\": " + std::strerror(errno);
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return "Файл \"" + path + "\" не является обычным файлом.";
    if (!ReadAtMost(fd.Get(), kMaxAlertsBytes, text))
        return "Не удалось прочитать файл \"" + path + "\": " + std::strerror(errno);
    if (text.size() > kMaxAlertsBytes) {
        text.clear();
        return "Файл \"" + path + "\" больше 1 МБ: это не файл правил.";
    }
    return std::string();
}

}  // namespace

TAlertsPage::TAlertsPage(QWidget* parent)
    : QWidget(parent),
      AlertsHelpLabel(new QLabel(QString::fromUtf8(kHelp))),
      AlertsEdit(new QPlainTextEdit),
      AlertsErrorLabel(new QLabel),
      AlertsSaveButton(new QPushButton("Сохранить правила")) {
    setObjectName("AlertsPage");
    AlertsHelpLabel->setObjectName("AlertsHelpLabel");
    AlertsEdit->setObjectName("AlertsEdit");
    AlertsErrorLabel->setObjectName("AlertsErrorLabel");
    AlertsSaveButton->setObjectName("AlertsSaveButton");
    AlertsHelpLabel->setWordWrap(true);
    AlertsHelpLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    AlertsEdit->setLineWrapMode(QPlainTextEdit::NoWrap);
    AlertsEdit->setMinimumSize(420, 180);
    AlertsErrorLabel->setWordWrap(true);
    AlertsErrorLabel->setStyleSheet("color: #B00000");
    AlertsErrorLabel->hide();
    AlertsSaveButton->setAutoDefault(false);
    connect(AlertsSaveButton, &QPushButton::clicked, this, [this] { static_cast<void>(Save()); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(AlertsHelpLabel);
    layout->addWidget(AlertsEdit, 1);
    layout->addWidget(AlertsErrorLabel);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(AlertsSaveButton);
    layout->addLayout(buttons);
}

std::string TAlertsPage::FilePath() const {
    return startDir_ + "/" + kAlertsFileName;
}

void TAlertsPage::ShowError(const std::string& text) {
    AlertsErrorLabel->setText(QString::fromStdString(text));
    AlertsErrorLabel->setVisible(!text.empty());
}

void TAlertsPage::Load() {
    std::string text;
    std::string why = ReadRules(FilePath(), text);
    // Bytes that are no UTF-8 would come back from the editor changed: such
    // a file is shown, but not to be saved over.
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString shown = utf8(QByteArray::fromStdString(text));
    if (why.empty() && utf8.hasError())
        why = "Файл \"" + FilePath() + "\" не в кодировке UTF-8; исправьте его в редакторе.";
    AlertsEdit->setPlainText(shown);
    AlertsEdit->setReadOnly(!why.empty());
    AlertsSaveButton->setEnabled(why.empty());
    kept_ = AlertsEdit->toPlainText();
    ShowError(why);
}

bool TAlertsPage::Modified() const {
    return AlertsEdit->toPlainText() != kept_;
}

bool TAlertsPage::Save() {
    if (AlertsEdit->isReadOnly()) return false;
    std::string text = AlertsEdit->toPlainText().toStdString();
    if (!text.empty() && text.back() != '\n') text += '\n';
    if (validator_) {
        const std::string refused = validator_(text);
        if (!refused.empty()) {
            ShowError(refused);
            return false;
        }
    }
    const std::string path = FilePath();
    if (!ReplaceFile(path, text, 0644)) {
        ShowError("Не удалось сохранить файл \"" + path + "\": " + std::strerror(errno));
        return false;
    }
    kept_ = AlertsEdit->toPlainText();
    ShowError(std::string());
    return true;
}
