#include "ui/main_form.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDateTime>
#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QThread>
#include <QTimeEdit>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "base/cp1251.h"
#include "ui/about_form.h"
#include "ui/fixed_height_delegate.h"
#include "ui/main_form_rep.h"
#include "ui/options_form.h"
#include "ui/real_time_form.h"

namespace {

// The exchange's texts are Windows-1251 bytes.
QString FromWin1251(const std::string& bytes) {
    return QString::fromStdString(Cp1251ToUtf8(bytes));
}

QLabel* AddPanel(QStatusBar* bar, const QString& name, int width, bool last) {
    auto* label = new QLabel;
    label->setObjectName(name);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    // The last panel reaches to the bar's right end.
    if (last) {
        label->setMinimumWidth(width);
        bar->addWidget(label, 1);
    } else {
        label->setFixedWidth(width);
        bar->addWidget(label);
    }
    return label;
}

// A panel of StatusBar1 of a set width. When the bar is too narrow for all
// its panels, the others yield down to the width of their text (never more
// than the set width), and the last one, which takes the rest of the bar,
// never gets narrower than its own text: every count stays readable.
class TStatusPanel : public QLabel {
  public:
    TStatusPanel(int width, bool last) : width_(width), last_(last) {
        if (!last) setMaximumWidth(width);
    }
    QSize sizeHint() const override { return {width_, QLabel::sizeHint().height()}; }
    QSize minimumSizeHint() const override {
        const QSize text = QLabel::minimumSizeHint();
        const int width = last_ ? std::max(text.width(), width_) : std::min(text.width(), width_);
        return {width, text.height()};
    }

  private:
    int width_;
    bool last_;
};

QLabel* AddStatusPanel(QStatusBar* bar, const QString& name, int width, bool last) {
    auto* label = new TStatusPanel(width, last);
    label->setObjectName(name);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar->addWidget(label, last ? 1 : 0);
    return label;
}

}  // namespace

TMainForm::TMainForm(TStartMode mode, TLinkFactory makeLink, QWidget* parent)
    : QMainWindow(parent),
      FileMenu(new QMenu("&Файл", this)),
      SelectFileFromData_MenuItem(new QAction("&Выбрать файл для сохранения данных", this)),
      Report_MenuItem(new QAction("&Составление выборки данных", this)),
      ExitMenuItem(new QAction("В&ыйти из программы", this)),
      ATSMenu(new QMenu("&АТС", this)),
      LoadFromATSMenuItem(new QAction("&Считать все данные из АТС", this)),
      ReadUninterruptMenuItem(new QAction("Считывать данные &непрерывно.", this)),
      RealTime_MenuItem(new QAction("&Отслеживание соединений в режиме реального времени", this)),
      ClearListMenuItem(new QAction("О&чистить список", this)),
      OptionsMenu(new QMenu("&Настройки", this)),
      OptionsMenuItem(new QAction("&Настройки программы", this)),
      HelpMenu(new QMenu("&Помощь", this)),
      AboutMenuItem(new QAction("&О программе", this)),
      ToolBar1(new QToolBar(this)),
      ReadDataToolButton(new QToolButton),
      StopMenuItem(new QAction("Ос&тановить считывание", this)),
      StopToolButton(new QToolButton),
      ReloadToolButton(new QToolButton),
      DatePicker(new QDateEdit),
      TimePicker(new QTimeEdit),
      UnInterruptPanel(new QLabel),
      ListBox1(new QListWidget),
      CGauge1(new QProgressBar),
      TarifFileNameStatusBar(new QStatusBar),
      RealTimeFileNameStatusBar(new QStatusBar),
      StatusBar1(new QStatusBar),
      UnInterruptTimer(new QTimer(this)),
      PickerTimer(new QTimer(this)),
      startMode_(mode),
      makeLink_(makeLink ? std::move(makeLink) : TLinkFactory([] { return CreateLowLevel(); })) {
    setObjectName("MainForm");
    BuildMenus();
    BuildToolBar();
    BuildCentre();

    UnInterruptTimer->setObjectName("UnInterruptTimer");
    UnInterruptTimer->setInterval(2000);
    connect(UnInterruptTimer, &QTimer::timeout, this, &TMainForm::UnInterruptTimerTimer);
    PickerTimer->setObjectName("PickerTimer");
    PickerTimer->setInterval(1000);
    connect(PickerTimer, &QTimer::timeout, this, &TMainForm::PickerTimerTimer);
    ShowComputerClock();
    PickerTimer->start();

    // Client area 794 x 490 below the menu bar, centred on the screen.
    resize(794, 490 + menuBar()->sizeHint().height());
    if (QScreen* screen = QApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }

    FormCreate();
    show();
    FormShow();
}

TMainForm::~TMainForm() {
    // The reading thread may still hand updates to this window: it is waited
    // for while the widgets are all there.
    controller_.reset();
}

void TMainForm::BuildMenus() {
    menuBar()->setObjectName("MainMenu1");
    FileMenu->setObjectName("FileMenu");
    ATSMenu->setObjectName("ATSMenu");
    OptionsMenu->setObjectName("OptionsMenu");
    HelpMenu->setObjectName("HelpMenu");
    const std::pair<QAction*, const char*> names[] = {
        {SelectFileFromData_MenuItem, "SelectFileFromData_MenuItem"},
        {Report_MenuItem, "Report_MenuItem"},
        {ExitMenuItem, "ExitMenuItem"},
        {LoadFromATSMenuItem, "LoadFromATSMenuItem"},
        {ReadUninterruptMenuItem, "ReadUninterruptMenuItem"},
        {RealTime_MenuItem, "RealTime_MenuItem"},
        {ClearListMenuItem, "ClearListMenuItem"},
        {OptionsMenuItem, "OptionsMenuItem"},
        {AboutMenuItem, "AboutMenuItem"},
        {StopMenuItem, "StopMenuItem"},
    };
    for (const auto& [action, name] : names)
        action->setObjectName(name);
    // Shown beside the items; they work while the window has the focus.
    const std::pair<QAction*, QKeySequence> keys[] = {
        {LoadFromATSMenuItem, QKeySequence(Qt::Key_F5)},
        {ReadUninterruptMenuItem, QKeySequence(Qt::CTRL | Qt::Key_R)},
        {StopMenuItem, QKeySequence(Qt::Key_Escape)},
        {SelectFileFromData_MenuItem, QKeySequence(Qt::CTRL | Qt::Key_O)},
        {Report_MenuItem, QKeySequence(Qt::CTRL | Qt::Key_L)},
        {RealTime_MenuItem, QKeySequence(Qt::CTRL | Qt::Key_M)},
        {AboutMenuItem, QKeySequence(Qt::Key_F1)},
        {ExitMenuItem, QKeySequence(Qt::CTRL | Qt::Key_Q)},
    };
    for (const auto& [action, key] : keys)
        action->setShortcut(key);

    FileMenu->addAction(SelectFileFromData_MenuItem);
    FileMenu->addAction(Report_MenuItem);
    FileMenu->addAction(ExitMenuItem);
    ATSMenu->addAction(LoadFromATSMenuItem);
    ATSMenu->addAction(ReadUninterruptMenuItem);
    ATSMenu->addAction(StopMenuItem);
    ATSMenu->addAction(RealTime_MenuItem);
    ATSMenu->addAction(ClearListMenuItem);
    OptionsMenu->addAction(OptionsMenuItem);
    HelpMenu->addAction(AboutMenuItem);
    menuBar()->addMenu(FileMenu);
    menuBar()->addMenu(ATSMenu);
    menuBar()->addMenu(OptionsMenu);
    menuBar()->addMenu(HelpMenu);

    // The default item of its menu.
    QFont bold = LoadFromATSMenuItem->font();
    bold.setBold(true);
    LoadFromATSMenuItem->setFont(bold);
    LoadFromATSMenuItem->setToolTip("Считать все данные из АТС");
    LoadFromATSMenuItem->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));

    connect(SelectFileFromData_MenuItem, &QAction::triggered, this,
            &TMainForm::SelectFileFromData_MenuItemClick);
    connect(Report_MenuItem, &QAction::triggered, this, &TMainForm::Report_MenuItemClick);
    connect(ExitMenuItem, &QAction::triggered, this, &TMainForm::ExitMenuItemClick);
    connect(LoadFromATSMenuItem, &QAction::triggered, this, &TMainForm::LoadFromATSMenuItemClick);
    connect(ReadUninterruptMenuItem, &QAction::triggered, this,
            &TMainForm::ReadUninterruptMenuItemClick);
    connect(RealTime_MenuItem, &QAction::triggered, this, &TMainForm::RealTime_MenuItemClick);
    connect(ClearListMenuItem, &QAction::triggered, this, &TMainForm::ClearListMenuItemClick);
    connect(OptionsMenuItem, &QAction::triggered, this, &TMainForm::OptionsMenuItemClick);
    connect(AboutMenuItem, &QAction::triggered, this, &TMainForm::AboutMenuItemClick);
}

void TMainForm::BuildToolBar() {
    ToolBar1->setObjectName("ToolBar1");
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(16, 16));
    addToolBar(Qt::TopToolBarArea, ToolBar1);

    // Takes the menu item's caption, hint and image, and runs its command.
    ReadDataToolButton->setObjectName("ReadDataToolButton");
    ReadDataToolButton->setDefaultAction(LoadFromATSMenuItem);
    // The stop item and the stop button are one command, enabled together.
    StopMenuItem->setToolTip("Остановить  считывание");
    StopMenuItem->setIcon(style()->standardIcon(QStyle::SP_BrowserStop));
    StopMenuItem->setEnabled(false);
    StopToolButton->setObjectName("StopToolButton");
    StopToolButton->setDefaultAction(StopMenuItem);
    ReloadToolButton->setObjectName("ReloadToolButton");
    ReloadToolButton->setToolTip("Обновить");
    ReloadToolButton->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    for (QToolButton* b : {ReadDataToolButton, StopToolButton, ReloadToolButton}) {
        b->setAutoRaise(true);
        b->setToolButtonStyle(Qt::ToolButtonIconOnly);
        b->setFixedSize(24, 24);
        ToolBar1->addWidget(b);
    }
    connect(StopMenuItem, &QAction::triggered, this, &TMainForm::StopToolButtonClick);
    connect(ReloadToolButton, &QToolButton::clicked, this, &TMainForm::ReloadToolButtonClick);

    DatePicker->setObjectName("DatePicker");
    DatePicker->setDisplayFormat(QLocale().dateFormat(QLocale::ShortFormat));
    DatePicker->setEnabled(false);
    TimePicker->setObjectName("TimePicker");
    TimePicker->setDisplayFormat("HH:mm:ss");
    TimePicker->setEnabled(false);
    ToolBar1->addWidget(DatePicker);
    ToolBar1->addWidget(TimePicker);

    UnInterruptPanel->setObjectName("UnInterruptPanel");
    UnInterruptPanel->setFixedWidth(410);
    UnInterruptPanel->setFrameStyle(QFrame::NoFrame);
    UnInterruptPanel->setContentsMargins(8, 0, 0, 0);
    ToolBar1->addWidget(UnInterruptPanel);
}

void TMainForm::BuildCentre() {
    ListBox1->setObjectName("ListBox1");
    ListBox1->setUniformItemSizes(true);
    ListBox1->setItemDelegate(new TFixedHeightDelegate(14, ListBox1));
    // Call lines are laid out in columns.
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(11);
    ListBox1->setFont(mono);

    CGauge1->setObjectName("CGauge1");
    CGauge1->setOrientation(Qt::Vertical);
    CGauge1->setTextVisible(false);
    CGauge1->setStyleSheet(
        "QProgressBar { background-color: black; border: 1px solid gray; }"
        "QProgressBar::chunk { background-color: lime; }");
    SetGauge(100, 0);
    auto* gaugePanel = new QWidget;
    gaugePanel->setObjectName("GaugePanel");
    gaugePanel->setFixedWidth(39);
    auto* gaugeLayout = new QVBoxLayout(gaugePanel);
    gaugeLayout->setContentsMargins(4, 4, 4, 4);
    gaugeLayout->addWidget(CGauge1);

    TarifFileNameStatusBar->setObjectName("TarifFileNameStatusBar");
    RealTimeFileNameStatusBar->setObjectName("RealTimeFileNameStatusBar");
    StatusBar1->setObjectName("StatusBar1");
    TarifFileNameStatusBar->setSizeGripEnabled(false);
    RealTimeFileNameStatusBar->setSizeGripEnabled(false);
    tarifPanels_[0] = AddPanel(TarifFileNameStatusBar, "TarifFileNameStatusBar_Panel0", 150, false);
    tarifPanels_[1] = AddPanel(TarifFileNameStatusBar, "TarifFileNameStatusBar_Panel1", 50, true);
    tarifPanels_[0]->setText("Файл учета звонков: ");
    realTimePanels_[0] =
        AddPanel(RealTimeFileNameStatusBar, "RealTimeFileNameStatusBar_Panel0", 380, false);
    realTimePanels_[1] =
        AddPanel(RealTimeFileNameStatusBar, "RealTimeFileNameStatusBar_Panel1", 50, true);
    realTimePanels_[0]->setText("Файл отслеживания соединений в режиме реального времени :");
    // A fixed text is never cut, whatever the font.
    for (QLabel* fixed : {tarifPanels_[0], realTimePanels_[0]})
        fixed->setFixedWidth(std::max(fixed->minimumWidth(), fixed->sizeHint().width()));
    const int widths[] = {110, 100, 130, 160, 125, 50};
    for (int i = 0; i < 6; ++i)
        statusBar1Panels_[i] =
            AddStatusPanel(StatusBar1, QString("StatusBar1_Panel%1").arg(i), widths[i], i == 5);

    auto* centre = new QWidget;
    centre->setObjectName("CentrePanel");
    auto* rows = new QVBoxLayout(centre);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    auto* middle = new QHBoxLayout;
    middle->setSpacing(0);
    middle->addWidget(ListBox1, 1);
    middle->addWidget(gaugePanel);
    rows->addLayout(middle, 1);
    rows->addWidget(TarifFileNameStatusBar);
    rows->addWidget(RealTimeFileNameStatusBar);
    rows->addWidget(StatusBar1);
    setCentralWidget(centre);
}

void TMainForm::FormCreate() {
    setWindowTitle(QApplication::applicationName());
}

void TMainForm::FormShow() {
    if (controller_) return;
    controller_ = std::make_unique<TProgramController>(*this, makeLink_(), startMode_);
    controller_->StartUp();
}

void TMainForm::ShowExchange(const TExchangeView& view) {
    const TIdentification& x = view.Exchange;
    statusBar1Panels_[0]->setText("АТС: " + FromWin1251(x.ExchangeName));
    if (reportForm_)
        reportForm_->SetExchangeName(FromWin1251(x.ExchangeName).trimmed().toStdString());
    statusBar1Panels_[1]->setText("ПО вер. " + QString::fromStdString(x.SoftwareVersion));
    statusBar1Panels_[2]->setText("Зав. номер : " + QString::fromStdString(x.SerialNumber));
    statusBar1Panels_[3]->setText(QString("Емкость буфера : %1").arg(x.BufferCapacity));
    statusBar1Panels_[4]->setText(QString("В буфере : %1").arg(view.RecordsInBuffer));
    tarifPanels_[1]->setText(QFile::decodeName(QByteArray::fromStdString(view.TarifFileName)));
    realTimePanels_[1]->setText(
        QFile::decodeName(QByteArray::fromStdString(view.RealTimeFileName)));
    SetGauge(x.BufferCapacity, view.RecordsInBuffer);
    update();
    StatusBar1->update();
}

void TMainForm::ShowNoExchange() {
    statusBar1Panels_[0]->setText("АТС: -");
    statusBar1Panels_[1]->setText("ПО вер. -");
    statusBar1Panels_[2]->setText("Зав. номер : -");
    statusBar1Panels_[3]->setText("Емкость буфера : -");
    statusBar1Panels_[4]->setText("В буфере : -");
    SetGauge(100, 0);
    ShowComputerClock();
}

void TMainForm::SetGauge(int maximum, int position) {
    // A range of 0 would turn the gauge into a busy indicator, and a value
    // outside the range would be ignored.
    const int top = std::max(maximum, 1);
    CGauge1->setRange(0, top);
    CGauge1->setValue(std::clamp(position, 0, top));
}

void TMainForm::ShowExchangeClock(const TDateTimeParts& c) {
    DatePicker->setDate(QDate(c.Year, c.Month, c.Day));
    TimePicker->setTime(QTime(c.Hour, c.Minute, c.Second, 500));
}

void TMainForm::ShowComputerClock() {
    const QDateTime now = QDateTime::currentDateTime();
    DatePicker->setDate(now.date());
    TimePicker->setTime(now.time());
}

void TMainForm::LockControls() {
    for (QAction* a :
         {SelectFileFromData_MenuItem, Report_MenuItem, LoadFromATSMenuItem,
          ReadUninterruptMenuItem, RealTime_MenuItem, ClearListMenuItem, OptionsMenuItem})
        a->setEnabled(false);
    ReloadToolButton->setEnabled(false);
    ReadDataToolButton->setEnabled(false);
    StopMenuItem->setEnabled(true);
}

void TMainForm::UnlockControls() {
    for (QAction* a :
         {SelectFileFromData_MenuItem, Report_MenuItem, LoadFromATSMenuItem,
          ReadUninterruptMenuItem, RealTime_MenuItem, ClearListMenuItem, OptionsMenuItem})
        a->setEnabled(true);
    ReloadToolButton->setEnabled(true);
    ReadDataToolButton->setEnabled(true);
    StopMenuItem->setEnabled(false);
}

void TMainForm::SetUnInterruptPanel(const std::string& text) {
    UnInterruptPanel->setText(QString::fromStdString(text));
}

void TMainForm::EnableStop() {
    StopMenuItem->setEnabled(true);
}

void TMainForm::ShowReadAllEnd(int calls) {
    // The panels come back once the message has been read.
    StatusBar1->showMessage(QString("Считано звонков: %1").arg(calls), 15000);
}

void TMainForm::ReleaseReadButton() {
    ReadDataToolButton->setDown(false);
}

void TMainForm::StartUnInterruptTimer() {
    UnInterruptTimer->start();
}

void TMainForm::AddListLine(const std::string& line) {
    ListBox1->addItem(QString::fromStdString(line));
}

void TMainForm::ClearList() {
    ListBox1->clear();
}

void TMainForm::ShowCallLine(const std::string& line, int recordsInBuffer, int rejectedRecords) {
    CGauge1->setValue(std::max(CGauge1->value() - 1, CGauge1->minimum()));
    ListBox1->addItem(QString::fromStdString(line));
    if (ListBox1->count() > 0) ListBox1->setCurrentRow(ListBox1->count() - 1);
    if (ListBox1->count() > kMaxListLines) ListBox1->clear();
    statusBar1Panels_[4]->setText(QString("В буфере : %1").arg(recordsInBuffer));
    statusBar1Panels_[5]->setText(QString("Отвергнуто записей: %1").arg(rejectedRecords));
}

void TMainForm::LoadFromATSMenuItemClick() {
    controller_->LoadFromATS();
}

void TMainForm::ReadUninterruptMenuItemClick() {
    controller_->ReadUninterrupt();
}

void TMainForm::SelectFileFromData_MenuItemClick() {
    controller_->SelectCallLogFile();
}

void TMainForm::Report_MenuItemClick() {
    if (!reportForm_) return;
    reportForm_->SetDialogsDir(Link()->Settings.StartDir);
    reportForm_->exec();
}

void TMainForm::ExitMenuItemClick() {
    close();
}

void TMainForm::RealTime_MenuItemClick() {
    if (!controller_->MayOpenMonitor() || !realTimeForm_) return;
    realTimeForm_->move(pos() + QPoint(20, 10));
    realTimeForm_->SetLink(Link());
    // A newly chosen log file shows in the status bar.
    realTimeForm_->SetShowExchangeInfo([this] { controller_->ShowExchangeInfo(false); });
    realTimeForm_->exec();
}

void TMainForm::ClearListMenuItemClick() {
    ListBox1->clear();
}

void TMainForm::OptionsMenuItemClick() {
    if (!optionsForm_) return;
    optionsForm_->SetSettings(controller_->CurrentOptions());
    optionsForm_->SetStartDir(Link()->Settings.StartDir);
    optionsForm_->SetApply([this](const TOptionsSettings& chosen) {
        controller_->ApplySettings(chosen);
        StatusBar1->repaint();
        update();
    });
    optionsForm_->move(pos() + QPoint(25, 25));
    optionsForm_->exec();
}

void TMainForm::FirstStartSettings() {
    if (startMode_ != TStartMode::Window || seam::Unattended() || !controller_ ||
        controller_->StartUpResult() != TStartUpResult::FirstStart)
        return;
    OptionsMenuItemClick();
    controller_->OfferCallLogFile();
}

void TMainForm::AboutMenuItemClick() {
    if (!aboutForm_) return;
    aboutForm_->move(pos() + QPoint(20, 20));
    aboutForm_->show();
    aboutForm_->raise();
    aboutForm_->activateWindow();
}

void TMainForm::ReloadToolButtonClick() {
    controller_->Reload();
}

void TMainForm::StopToolButtonClick() {
    controller_->Stop();
}

void TMainForm::UnInterruptTimerTimer() {
    close();
}

void TMainForm::PickerTimerTimer() {
    TimePicker->setTime(TimePicker->time().addSecs(1));
}

void TMainForm::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
    emit Closed();
}

void TMainForm::FormClose() {
    UnInterruptTimer->stop();
    if (controller_) controller_->Close();
}
