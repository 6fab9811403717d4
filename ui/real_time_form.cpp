#include "ui/real_time_form.h"

#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include "acquisition/port_messages.h"
#include "config/config_files.h"
#include "ui/real_time_advanced_form.h"

namespace {

QString FileNameText(const std::string& name) {
    return QFile::decodeName(QByteArray::fromStdString(name));
}

}  // namespace

TRealTimeForm::TRealTimeForm(QWidget* parent)
    : QDialog(parent),
      MainMenu1(new QMenuBar(this)),
      N1(new QMenu("&Файл", this)),
      N2(new QAction("Выбрать файл для сохранения данных", this)),
      ListBox1(new QListWidget),
      RealTimeTimer(new QTimer(this)),
      WriteFileFlagCheckBox(new QCheckBox("Записывать в файл: ")),
      Label1(new QLabel("Частота записи в файл (1 раз в N секунд)   ")),
      StaticText1(new QLabel("10")),
      StaleLabel(new QLabel),
      UpDown1(new QSpinBox),
      SpeedButton1(new QPushButton("Подробности")) {
    setObjectName("RealTimeForm");
    setWindowTitle("Отслеживание соединений в режиме реального времени");
    MainMenu1->setObjectName("MainMenu1");
    N1->setObjectName("N1");
    N2->setObjectName("N2");
    N1->addAction(N2);
    MainMenu1->addMenu(N1);
    connect(N2, &QAction::triggered, this, &TRealTimeForm::N2Click);

    ListBox1->setObjectName("ListBox1");
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(12);
    ListBox1->setFont(mono);

    RealTimeTimer->setObjectName("RealTimeTimer");
    RealTimeTimer->setInterval(1000);
    connect(RealTimeTimer, &QTimer::timeout, this, &TRealTimeForm::RealTimeTimerTimer);

    WriteFileFlagCheckBox->setObjectName("WriteFileFlagCheckBox");
    connect(WriteFileFlagCheckBox, &QCheckBox::clicked, this,
            &TRealTimeForm::WriteFileFlagCheckBoxClick);
    Label1->setObjectName("Label1");
    StaticText1->setObjectName("StaticText1");
    StaticText1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StaticText1->setFixedWidth(36);
    StaticText1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    StaleLabel->setObjectName("StaleLabel");
    StaleLabel->setStyleSheet("color: #B00000");
    StaleLabel->hide();
    // The up-down arrows alone: the number stands in StaticText1.
    UpDown1->setObjectName("UpDown1");
    UpDown1->setRange(1, 300);
    UpDown1->setValue(10);
    UpDown1->setWrapping(true);
    UpDown1->setFixedWidth(18);
    if (auto* number = UpDown1->findChild<QLineEdit*>()) number->setVisible(false);
    connect(UpDown1, &QSpinBox::valueChanged, this,
            [this](int n) { StaticText1->setText(QString::number(n)); });
    // Shown, unlike in the program's first versions: it is the only way to
    // the grid window.
    SpeedButton1->setObjectName("SpeedButton1");
    SpeedButton1->setAutoDefault(false);
    connect(SpeedButton1, &QPushButton::clicked, this, &TRealTimeForm::SpeedButton1Click);

    openDialog1_.DefaultSuffix = "log";
    openDialog1_.FileName = "real_time.log";
    openDialog1_.Caption = "Выбрать файл для сохранения данных";

    auto* period = new QHBoxLayout;
    period->addWidget(Label1);
    period->addWidget(StaticText1);
    period->addWidget(UpDown1);
    period->addStretch(1);
    period->addWidget(SpeedButton1);
    auto* rows = new QVBoxLayout(this);
    rows->setMenuBar(MainMenu1);
    rows->addWidget(ListBox1, 1);
    rows->addWidget(StaleLabel);
    rows->addWidget(WriteFileFlagCheckBox);
    rows->addLayout(period);
    resize(640, 420);
}

TRealTimeForm::~TRealTimeForm() {
    RealTimeTimer->stop();
    runner_.CancelAndWait();
}

int TRealTimeForm::WritePeriod() const {
    return StaticText1->text().toInt();
}

void TRealTimeForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Restored from an icon, the window is not opened anew.
    if (!event->spontaneous()) FormShow();
}

void TRealTimeForm::done(int result) {
    QDialog::done(result);
    FormClose();
}

void TRealTimeForm::ShowFileName() {
    const std::string name = link_ ? link_->Settings.RealTimeFileName : std::string();
    WriteFileFlagCheckBox->setEnabled(!name.empty());
    WriteFileFlagCheckBox->setText("Записывать в файл: " + FileNameText(name));
}

void TRealTimeForm::FormShow() {
    RealTimeTimer->start();
    busy_.Clear();
    ShowFileName();
    log_.Restart();
}

void TRealTimeForm::FormClose() {
    RealTimeTimer->stop();
    // The window is gone already; the port is free again once this returns.
    runner_.CancelAndWait();
    busy_.Clear();
    // The grid belongs to the monitor: without it its marks go stale.
    if (advancedForm_) {
        advancedForm_->hide();
        advancedForm_->MarkConnections({});
    }
}

void TRealTimeForm::RealTimeTimerTimer() {
    if (!link_) return;
    // A query still running (a slow or silent line) makes this tick pass.
    static_cast<void>(
        runner_.Start(link_, [this](const TLineStateOutcome& o) { ApplyLineState(o); }));
}

void TRealTimeForm::ApplyLineState(const TLineStateOutcome& outcome) {
    bool answered = false;
    switch (outcome.Result) {
        case TLineStateResult::NoLink:
            break;
        case TLineStateResult::Queried:
            answered = outcome.Answered;
            break;
    }
    const QDateTime now = QDateTime::currentDateTime();
    if (!answered) {
        // The table still holds the last answer: shown or logged under a
        // new time stamp it would pass for the connections of now.
        if (StaleLabel->isHidden()) {
            StaleLabel->setText(
                QString::fromStdString(NoAnswerText(lastAnswer_.isValid() ? lastAnswer_ : now)));
            StaleLabel->show();
        }
        return;
    }
    lastAnswer_ = now;
    StaleLabel->hide();
    std::vector<std::string> lines;
    lines.push_back(TimeStampLine(now));
    lines.insert(lines.end(), outcome.Entries.begin(), outcome.Entries.end());
    connections_ = outcome.Connections;
    busy_.Update(connections_);
    ListBox1->clear();
    ListBox1->addItem(QString::fromStdString(lines.front()));
    for (const TConnection& c : connections_)
        ListBox1->addItem(QString::fromStdString(BusyConnectionText(c, busy_)));
    if (advancedForm_) advancedForm_->MarkConnections(connections_, &busy_);

    const bool writing = WriteFileFlagCheckBox->isChecked() && WriteFileFlagCheckBox->isEnabled();
    const std::string name = link_ ? link_->Settings.RealTimeFileName : std::string();
    switch (log_.AfterQuery(lines, WritePeriod(), writing, name)) {
        case TLogStep::Counted:
        case TLogStep::Written:
        case TLogStep::Closed:
        case TLogStep::Idle:
            break;
        case TLogStep::OpenFailed:
            StopWriting(LogOpenFailedText(name));
            break;
        case TLogStep::WriteFailed:
            StopWriting(LogWriteFailedText(name));
            break;
        case TLogStep::LinkRefused:
            StopWriting(LogLinkRefusedText(name));
            break;
    }
}

void TRealTimeForm::StopWriting(const std::string& text) {
    // Off before the box: the ticks that come while it is open write nothing.
    WriteFileFlagCheckBox->setChecked(false);
    log_.Close();
    seam::ShowMessage(text, "Ошибка");
}

void TRealTimeForm::WriteFileFlagCheckBoxClick() {
    log_.Restart();
}

void TRealTimeForm::N2Click() {
    if (!link_) return;
    TSettings& s = link_->Settings;
    seam::TFileRequest request = openDialog1_;
    if (!s.RealTimeFileName.empty()) {
        request.Directory = s.StartDir;
        request.FileName = s.RealTimeFileName;
    }
    std::string chosen;
    if (!seam::FileDialog(request, chosen)) return;
    // A name that could not be read back from the settings file is refused.
    if (!StorablePath(chosen)) {
        seam::ShowMessage(kUnstorablePathText, kErrorCaption);
        return;
    }
    static_cast<void>(WriteOutConfig(s, s.TarifFileName, chosen));
    if (chosen != s.RealTimeFileName) ListBox1->clear();
    // The next write opens the new name.
    if (log_.IsOpen() && log_.OpenName() != chosen) log_.Close();
    s.RealTimeFileName = chosen;
    ShowFileName();
    if (showExchangeInfo_) showExchangeInfo_();
}

void TRealTimeForm::SpeedButton1Click() {
    if (!advancedForm_) return;
    advancedForm_->SetLink(link_);
    advancedForm_->SetModelName(modelName_);
    if (advancedForm_->isVisible()) {
        advancedForm_->hide();
        return;
    }
    advancedForm_->PlaceBeside(*this);
    advancedForm_->show();
    advancedForm_->MarkConnections(connections_, &busy_);
}
