#include "ui/main_form_rep.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <exception>

#include <QAction>
#include <QApplication>
#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "base/free_memory.h"
#include "base/message_seam.h"
#include "billing/directory.h"
#include "billing/tariffs.h"
#include "calllog/calllog_loader.h"
#include "db/db_config.h"
#include "db/db_report.h"
#include "reports/report_charts.h"
#include "reports/report_export.h"
#include "reports/report_locale.h"
#include "ui/about_form.h"
#include "ui/bill_form.h"
#include "ui/charts_form.h"
#include "ui/db_load_form.h"
#include "ui/named_widget.h"
#include "ui/period_bar.h"
#include "ui/report_grid_model.h"
#include "ui/run_aside.h"

namespace {

constexpr int kRowHeight = 18;
// Right of the last column: the frame and a vertical scroll bar.
constexpr int kScrollBarRoom = 30;
constexpr int kProgressSteps = 1000;

// The progress dialog of a load or a save: shown only when the work takes
// longer than half a second; while it is up it keeps the window drawn and
// offers to cancel.
void SetUpProgress(QProgressDialog& progress, const char* name) {
    progress.setObjectName(name);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    progress.setAutoReset(false);
    progress.setValue(0);
}

// The dialog's step for done of total (the last step only when finished).
int ProgressStep(uint64_t done, uint64_t total) {
    return total ? static_cast<int>(
                       std::min<uint64_t>(done * kProgressSteps / total, kProgressSteps - 1))
                 : 0;
}
constexpr const char* kSaveAsSheet = "Сохранить как таблицу…";
constexpr const char* kXlsxFilter = "Таблица XLSX (*.xlsx)";
constexpr const char* kCsvFilter = "Таблица CSV (*.csv)";

template <size_t N>
QStringList Headers(const std::array<const char*, N>& texts) {
    QStringList list;
    for (const char* t : texts)
        list.append(QString::fromUtf8(t));
    return list;
}

template <size_t N>
std::vector<std::string> Texts(std::array<std::string, N>&& cells) {
    return {std::make_move_iterator(cells.begin()), std::make_move_iterator(cells.end())};
}

QTableView* MakeGrid(QWidget* parent, const char* name, TReportGridModel* model,
                     std::initializer_list<int> widths) {
    auto* grid = new QTableView(parent);
    grid->setObjectName(name);
    grid->setModel(model);
    grid->verticalHeader()->hide();
    grid->verticalHeader()->setMinimumSectionSize(1);
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->verticalHeader()->setDefaultSectionSize(kRowHeight);
    grid->horizontalHeader()->setFixedHeight(kRowHeight + 2);
    grid->horizontalHeader()->setHighlightSections(false);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setWordWrap(false);
    grid->setContextMenuPolicy(Qt::CustomContextMenu);
    int column = 0;
    for (int w : widths)
        grid->setColumnWidth(column++, w);
    return grid;
}

QAction* Item(QMenu* menu, const char* name, const char* caption) {
    QAction* action = menu->addAction(QString::fromUtf8(caption));
    action->setObjectName(name);
    return action;
}

QFont ControlFont() {
    QFont font("DejaVu Sans");
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    // Set, not inherited: the grids sit in group boxes with bold captions.
    font.setBold(false);
    return font;
}

QFont CaptionFont() {
    QFont font = ControlFont();
    font.setPointSize(10);
    font.setBold(true);
    return font;
}

QGroupBox* MakeGroup(QWidget* parent, const char* name, const char* caption) {
    auto* box = NamedWidget<QGroupBox>(parent, name, caption);
    box->setFont(CaptionFont());
    return box;
}

QPushButton* HiddenButton(QWidget* parent, const char* name, const char* caption) {
    auto* button = NamedWidget<QPushButton>(parent, name, caption);
    button->hide();
    return button;
}

// Columns as wide as their header and the widest text of the rows in view;
// with fillLast the last one takes what is left of the grid. Only the rows
// in view: a grid may hold a million calls.
void FitColumns(QTableView* grid, bool fillLast) {
    const QAbstractItemModel* model = grid->model();
    const QHeaderView* header = grid->horizontalHeader();
    const int columns = model->columnCount();
    const int first = std::max(grid->rowAt(0), 0);
    const int last = std::min(model->rowCount(), first + grid->height() / kRowHeight + 1);
    int used = 0;
    for (int c = 0; c < columns; ++c) {
        int width = header->sectionSizeHint(c);
        for (int r = first; r < last; ++r)
            // The grid line takes a pixel of the cell.
            width = std::max(width, grid->sizeHintForIndex(model->index(r, c)).width() + 1);
        if (fillLast && c == columns - 1)
            width = std::max(width, grid->width() - used - kScrollBarRoom);
        grid->setColumnWidth(c, width);
        used += width;
    }
}

// Keeps the user's hands off a window while its grids are being written
// out: before the progress dialog shows (and makes itself modal) a sort or
// a query would change them under the writer, and closing would end them.
class TInputBlock : public QObject {
  public:
    explicit TInputBlock(QWidget* window) : window_(window) { qApp->installEventFilter(this); }
    ~TInputBlock() override { qApp->removeEventFilter(this); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::ShortcutOverride:
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::Wheel:
            case QEvent::ContextMenu:
            case QEvent::Close: {
                const auto* widget = qobject_cast<QWidget*>(watched);
                if (!widget || widget->window() != window_) return false;
                event->ignore();
                return true;
            }
            default:
                return false;
        }
    }

  private:
    QWidget* const window_;
};

// A grid model whose columns follow its grid: zone, cost and name columns
// come and go with the tariffs and the directory.
class TColumnsModel final : public TReportGridModel {
  public:
    using THeaders = std::function<std::vector<std::string>()>;
    TColumnsModel(THeaders headers, TRowCount rowCount, TRowTexts rowTexts, QObject* parent)
        : TReportGridModel({}, std::move(rowCount), std::move(rowTexts), parent),
          headers_(std::move(headers)) {}

    int columnCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(headers_().size());
    }
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override {
        const std::vector<std::string> texts = headers_();
        if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
            static_cast<size_t>(section) >= texts.size())
            return QAbstractTableModel::headerData(section, orientation, role);
        return QString::fromStdString(texts[static_cast<size_t>(section)]);
    }

  private:
    THeaders headers_;
};

}  // namespace

struct TMainForm_rep::TWorkProgress {
    std::atomic<bool> Cancelled{false};
    std::atomic<uint64_t> Done{0}, Total{0};

    // The work's progress callback: done of total; false once cancelled.
    bool Tell(uint64_t done, uint64_t total) {
        Done = done;
        Total = total;
        return !Cancelled;
    }
};

TMainForm_rep::TMainForm_rep(QWidget* parent)
    : QDialog(parent),
      session_(SystemShortDate()),
      callModel_(new TColumnsModel([this] { return session_.CallGrid().Headers(); },
                                   [this] { return session_.CallGrid().RowCount(); },
                                   [this](size_t row) { return session_.CallGrid().Row(row); },
                                   this)),
      alModel_(new TColumnsModel([this] { return session_.ALGrid().Headers(); },
                                 [this] { return session_.ALGrid().RowCount(); },
                                 [this](size_t row) { return session_.ALGrid().Row(row); }, this)),
      slModel_(new TColumnsModel([this] { return session_.SLGrid().Headers(); },
                                 [this] { return session_.SLGrid().RowCount(); },
                                 [this](size_t row) { return session_.SLGrid().Row(row); }, this)),
      MainMenu1(new QMenuBar(this)),
      File(MainMenu1->addMenu("&Файл")),
      Load(File->addAction("&Загрузить")),
      LoadFromDbMenuItem(Item(File, "LoadFromDbMenuItem", "Загрузить из &базы…")),
      ChartsMenuItem(File->addAction("&Графики")),
      HelpMenu(MainMenu1->addMenu("&Помощь")),
      AboutMenuItem(HelpMenu->addAction("&О программе.")),
      Panel1(new QFrame(this)),
      FileGroupBox(MakeGroup(Panel1, "FileGroupBox", "Кол-во строк: ")),
      StringGrid1(MakeGrid(FileGroupBox, "StringGrid1", callModel_, {64, 64, 78, 64, 64, 64, 115})),
      ALGroupBox(MakeGroup(Panel1, "ALGroupBox", "АЛ")),
      ALGrid(MakeGrid(ALGroupBox, "ALGrid", alModel_, {76, 75, 83, 85, 89})),
      SLGroupBox(MakeGroup(Panel1, "SLGroupBox", "СЛ")),
      SLGrid(MakeGrid(SLGroupBox, "SLGrid", slModel_, {75, 75, 75, 93})),
      StatusBar1(new QStatusBar(this)),
      Label2(new QLabel(this)),
      Button2(HiddenButton(this, "Button2", "Создание списков уникальных АЛ и СЛ")),
      LoadButton(HiddenButton(this, "LoadButton", "Загрузить список строк в Грид")),
      Button1(HiddenButton(this, "Button1", "Вывод в АЛГрид")),
      Button3(HiddenButton(this, "Button3", "Вывод в СЛГрид")),
      PopupMenu1(new QMenu(this)),
      N1(Item(PopupMenu1, "N1", "Выборка по абоненту")),
      N2(Item(PopupMenu1, "N2", "Сохранить в файле")),
      N14(Item(PopupMenu1, "N14", kSaveAsSheet)),
      PopupMenu2(new QMenu(this)),
      N3(Item(PopupMenu2, "N3", "Сортировка по апп. номеру")),
      N4(Item(PopupMenu2, "N4", "Сортировка по программному номеру")),
      N6(Item(PopupMenu2, "N6", "Сортировка по исходящему трафику")),
      N5(Item(PopupMenu2, "N5", "Сортировка по вх. трафику")),
      N7(Item(PopupMenu2, "N7", "Сортировка по общему трафику")),
      N12(Item(PopupMenu2, "N12", "Сохранить в файле")),
      N15(Item(PopupMenu2, "N15", kSaveAsSheet)),
      PopupMenu3(new QMenu(this)),
      N8(Item(PopupMenu3, "N8", "Сортировка по номеру СЛ")),
      N10(Item(PopupMenu3, "N10", "Сортировка по исх. трафику ")),
      N9(Item(PopupMenu3, "N9", "Сортировка по вх. трафику")),
      N11(Item(PopupMenu3, "N11", "Сортировка по общему трафику")),
      N13(Item(PopupMenu3, "N13", "Сохранить в файл")),
      N16(Item(PopupMenu3, "N16", kSaveAsSheet)),
      ALQueryPanel(new QFrame(this)),
      MaskEdit1(new QLineEdit(ALQueryPanel)),
      RadioButton1(new QRadioButton("Программный номер", ALQueryPanel)),
      RadioButton2(new QRadioButton("Аппаратный номер", ALQueryPanel)),
      Label1(new QLabel("Первые цифры номера:", ALQueryPanel)),
      FilterEdit(new QLineEdit(ALQueryPanel)),
      Button4(new QPushButton("Выполнять", ALQueryPanel)),
      Button5(new QPushButton("Отмена", ALQueryPanel)),
      TariffsMenuItem(Item(File, "TariffsMenuItem", "&Тарифы…")),
      DirectoryMenuItem(Item(File, "DirectoryMenuItem", "&Справочник абонентов…")),
      BillMenuItem(Item(File, "BillMenuItem", "С&чёт")),
      CloseMenuItem(Item(File, "CloseMenuItem", "За&крыть")),
      PeriodBar(new TPeriodBar(this)) {
    setObjectName("MainForm_rep");
    setFont(ControlFont());
    resize(564, 570);

    for (QTableView* grid : {StringGrid1, ALGrid, SLGrid}) {
        grid->setFont(ControlFont());
        connect(grid->model(), &QAbstractItemModel::modelReset, grid,
                [this, grid] { FitColumns(grid, grid == StringGrid1); });
    }
    callModel_->SetRightAligned({2, 3, 4, 5});
    alModel_->SetRightAligned({0, 1, 2, 3, 4});
    slModel_->SetRightAligned({0, 1, 2, 3});

    MainMenu1->setObjectName("MainMenu1");
    File->setObjectName("File");
    Load->setObjectName("Load");
    ChartsMenuItem->setObjectName("ChartsMenuItem");
    HelpMenu->setObjectName("HelpMenu");
    AboutMenuItem->setObjectName("AboutMenuItem");
    Panel1->setObjectName("Panel1");
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setSizeGripEnabled(false);
    Label2->setObjectName("Label2");
    Label2->hide();
    PopupMenu1->setObjectName("PopupMenu1");
    PopupMenu2->setObjectName("PopupMenu2");
    PopupMenu3->setObjectName("PopupMenu3");

    ALQueryPanel->setObjectName("ALQueryPanel");
    ALQueryPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    ALQueryPanel->setLineWidth(3);
    ALQueryPanel->setAutoFillBackground(true);
    ALQueryPanel->setGeometry(258, 96, 191, 185);
    MaskEdit1->setObjectName("MaskEdit1");
    MaskEdit1->setInputMask("0000;_");
    MaskEdit1->setMaxLength(4);
    MaskEdit1->setText("    ");
    RadioButton1->setObjectName("RadioButton1");
    RadioButton1->setChecked(true);
    RadioButton2->setObjectName("RadioButton2");
    Label1->setObjectName("Label1");
    Label1->setToolTip(
        "Будут выведены только те гор. номера, которые начинаются с указанных цифр.");
    FilterEdit->setObjectName("FilterEdit");
    // Pasted text is held to digits as typed keys are.
    FilterEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]*"), FilterEdit));
    QFont bold = ControlFont();
    bold.setBold(true);
    for (QPushButton* b : {Button4, Button5})
        b->setFont(bold);
    Button4->setObjectName("Button4");
    Button5->setObjectName("Button5");
    auto* queryRows = new QVBoxLayout(ALQueryPanel);
    queryRows->setContentsMargins(10, 8, 10, 8);
    for (QWidget* w : std::initializer_list<QWidget*>{MaskEdit1, RadioButton1, RadioButton2, Label1,
                                                      FilterEdit, Button4, Button5})
        queryRows->addWidget(w);
    ALQueryPanel->hide();
    BillMenuItem->setEnabled(false);
    MaskEdit1->installEventFilter(this);
    FilterEdit->installEventFilter(this);

    connect(Load, &QAction::triggered, this, &TMainForm_rep::LoadClick);
    connect(LoadFromDbMenuItem, &QAction::triggered, this, &TMainForm_rep::LoadFromDbMenuItemClick);
    connect(AboutMenuItem, &QAction::triggered, this, &TMainForm_rep::AboutMenuItemClick);
    connect(ChartsMenuItem, &QAction::triggered, this, &TMainForm_rep::ChartsMenuItemClick);
    connect(Button2, &QPushButton::clicked, this, &TMainForm_rep::Button2Click);
    connect(LoadButton, &QPushButton::clicked, this, &TMainForm_rep::LoadButtonClick);
    connect(Button1, &QPushButton::clicked, this, &TMainForm_rep::Button1Click);
    connect(Button3, &QPushButton::clicked, this, &TMainForm_rep::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TMainForm_rep::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &TMainForm_rep::Button5Click);
    connect(TariffsMenuItem, &QAction::triggered, this, &TMainForm_rep::TariffsMenuItemClick);
    connect(DirectoryMenuItem, &QAction::triggered, this, &TMainForm_rep::DirectoryMenuItemClick);
    connect(BillMenuItem, &QAction::triggered, this, &TMainForm_rep::BillMenuItemClick);
    CloseMenuItem->setShortcut(QKeySequence::Close);
    connect(CloseMenuItem, &QAction::triggered, this, &QWidget::close);
    connect(PeriodBar, &TPeriodBar::PeriodChosen, this, &TMainForm_rep::PeriodChanged);
    const std::pair<QAction*, void (TMainForm_rep::*)()> items[] = {
        {N1, &TMainForm_rep::N1Click},   {N2, &TMainForm_rep::N2Click},
        {N12, &TMainForm_rep::N12Click}, {N13, &TMainForm_rep::N13Click},
        {N14, &TMainForm_rep::N14Click}, {N15, &TMainForm_rep::N15Click},
        {N16, &TMainForm_rep::N16Click}};
    for (const auto& [action, handler] : items)
        connect(action, &QAction::triggered, this, handler);
    const std::pair<QAction*, TALSortKey> lineSorts[] = {{N3, TALSortKey::HwLine},
                                                         {N4, TALSortKey::PrgLine},
                                                         {N6, TALSortKey::OutTraffic},
                                                         {N5, TALSortKey::InTraffic},
                                                         {N7, TALSortKey::TotalTraffic}};
    for (const auto& [action, key] : lineSorts)
        connect(action, &QAction::triggered, this, [this, key = key] { SortLines(key); });
    const std::pair<QAction*, TSLSortKey> trunkSorts[] = {{N8, TSLSortKey::Trunk},
                                                          {N10, TSLSortKey::OutTraffic},
                                                          {N9, TSLSortKey::InTraffic},
                                                          {N11, TSLSortKey::TotalTraffic}};
    for (const auto& [action, key] : trunkSorts)
        connect(action, &QAction::triggered, this, [this, key = key] { SortTrunks(key); });
    const std::pair<QTableView*, QMenu*> popups[] = {
        {StringGrid1, PopupMenu1}, {ALGrid, PopupMenu2}, {SLGrid, PopupMenu3}};
    for (const auto& [grid, menu] : popups)
        connect(grid, &QWidget::customContextMenuRequested, this,
                [grid = grid, menu = menu](const QPoint& at) {
                    menu->popup(grid->viewport()->mapToGlobal(at));
                });

    FormCreate();
}

TMainForm_rep::~TMainForm_rep() {
    // The grid models read session_, which is gone by the time QDialog's
    // destructor hides and deletes the child widgets: the views would ask
    // the models for their rows on hiding. End the children while it lives.
    hide();
    while (!children().isEmpty())
        delete children().constFirst();
}

void TMainForm_rep::FormCreate() {
    setWindowTitle(QApplication::applicationName());
}

void TMainForm_rep::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TMainForm_rep::FormShow() {
    session_.CreateLists();
    // The tables chosen before, unless they are loaded already.
    settings_ = ReadReportSettings(SettingsPath());
    if (!settings_.Tariffs.empty() && !session_.Setup().Tariffs) LoadTariffs(settings_.Tariffs);
    if (!settings_.Subscribers.empty() && !session_.Setup().Directory)
        LoadDirectory(settings_.Subscribers);
    // The header rows are the models' own; the screen decides the size.
    const QScreen* screen = this->screen();
    if (screen && screen->geometry().width() < 1024) setGeometry(screen->availableGeometry());
    move(30, 20);
    FormCanResize();
}

void TMainForm_rep::done(int result) {
    if (charts_) charts_->close();
    if (bill_) bill_->close();
    FormClose();
    QDialog::done(result);
}

void TMainForm_rep::FormClose() {
    ALQueryPanel->hide();
    session_.DiscardLists();
}

void TMainForm_rep::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    FormCanResize();
}

void TMainForm_rep::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    FormCanResize();
}

void TMainForm_rep::FormCanResize() {
    const int menuHeight = MainMenu1->sizeHint().height();
    const int statusHeight = StatusBar1->sizeHint().height();
    const int barHeight = PeriodBar->sizeHint().height();
    MainMenu1->setGeometry(0, 0, width(), menuHeight);
    PeriodBar->setGeometry(0, menuHeight, width(), barHeight);
    StatusBar1->setGeometry(0, height() - statusHeight, width(), statusHeight);
    const int top = menuHeight + barHeight;
    Panel1->setGeometry(0, top, width(), std::max(height() - top - statusHeight, 0));

    const int boxHeight = Panel1->height() / 3 - 1;
    int boxTop = 0;
    for (QGroupBox* box : {FileGroupBox, ALGroupBox, SLGroupBox}) {
        box->setGeometry(0, boxTop, Panel1->width(), std::max(boxHeight, 0));
        boxTop += boxHeight;
    }
    StringGrid1->setGeometry(FileGroupBox->contentsRect());
    ALGrid->setGeometry(ALGroupBox->contentsRect());
    SLGrid->setGeometry(SLGroupBox->contentsRect());

    // The dialled numbers take the rest: right-aligned totals would stand
    // far from the rest of their row.
    for (QTableView* grid : {StringGrid1, ALGrid, SLGrid})
        FitColumns(grid, grid == StringGrid1);
}

void TMainForm_rep::LoadClick() {
    seam::TFileRequest request;
    request.Directory = dialogsDir_;
    std::string chosen;
    const bool confirmed = seam::FileDialog(request, chosen);
    OpenDialog1Close();
    if (!confirmed) return;
    chosenFile_ = chosen;
    LoadButtonClick();
}

void TMainForm_rep::OpenDialog1Close() {
    StringGrid1->viewport()->update();
}

void TMainForm_rep::LoadButtonClick() {
    if (chosenFile_.empty()) return;
    QProgressDialog progress(
        "Загрузка файла " + QFile::decodeName(QByteArray::fromStdString(chosenFile_)), "Отмена", 0,
        kProgressSteps, this);
    SetUpProgress(progress, "LoadProgress");
    const TFileResult loaded =
        session_.Load(chosenFile_, [&progress](uint64_t done, uint64_t total) {
            progress.setValue(ProgressStep(done, total));
            return !progress.wasCanceled();
        });
    progress.reset();
    switch (loaded.Status) {
        case TFileStatus::Done:
            break;
        case TFileStatus::Cancelled:
            return;
        default:
            seam::ShowMessage(LoadFailureText(loaded, chosenFile_),
                              QApplication::applicationName().toStdString());
            return;
    }
    ShowLoaded();
}

void TMainForm_rep::ShowLoaded() {
    FileGroupBox->setTitle(QString::fromStdString(session_.Caption()));
    RefreshGrids();
    RefreshCharts();
}

void TMainForm_rep::LoadFromDbMenuItemClick() {
    std::string connInfo = lastDbConnInfo_;
    if (connInfo.empty()) {
        const TDbConfigLoad config = LoadDbConfig(dialogsDir_);
        if (config.Ok()) connInfo = config.Config.ConnInfo;
    }
    TDbLoadForm form(connInfo, this);
    if (form.exec() != QDialog::Accepted) return;
    const TDbReportSource choice = form.Choice();
    lastDbConnInfo_ = choice.ConnInfo;
    LoadFromDb(choice);
}

void TMainForm_rep::LoadFromDb(const TDbReportSource& source) {
    QProgressDialog progress("Загрузка звонков из базы данных", "Отмена", 0, kProgressSteps, this);
    SetUpProgress(progress, "LoadProgress");
    TWorkProgress state;
    auto loaded = std::make_shared<TReportModel>();
    TDbReportResult result;
    RunBehind(progress, state, [&](const std::function<void()>& heedCancel) {
        RunAside(
            [&] {
                result = LoadDbCalls(source, TPeriod(), *loaded,
                                     [&state](uint64_t d, uint64_t t) { return state.Tell(d, t); });
            },
            heedCancel);
    });
    if (result.Status == TDbReportResult::TStatus::Cancelled) return;
    if (!result.Ok()) {
        seam::ShowMessage("Не удалось загрузить звонки из базы данных: " + result.Error,
                          QApplication::applicationName().toStdString());
        return;
    }
    session_.Adopt(std::move(loaded));
    ShowLoaded();
}

void TMainForm_rep::Button2Click() {
    Button1Click();
    Button3Click();
}

void TMainForm_rep::Button1Click() {
    alModel_->Refresh();
}

void TMainForm_rep::Button3Click() {
    slModel_->Refresh();
}

void TMainForm_rep::AboutMenuItemClick() {
    if (!about_) about_ = new TAboutForm(this);
    about_->move(pos() + QPoint(20, 20));
    about_->show();
    about_->raise();
    about_->activateWindow();
}

void TMainForm_rep::ChartsMenuItemClick() {
    if (!charts_) charts_ = new TChartsForm(this);
    charts_->show();
    RefreshCharts();
    charts_->raise();
    charts_->activateWindow();
}

void TMainForm_rep::RefreshCharts() {
    if (!charts_ || !charts_->isVisible()) return;
    const TCallGrid& grid = session_.CallGrid();
    charts_->ShowFigures(
        ChartFigures(grid.RowCount(), [&grid](size_t row) { return grid.Record(row); }));
}

void TMainForm_rep::SortLines(TALSortKey key) {
    session_.SortAL(key);
    Button1Click();
}

void TMainForm_rep::SortTrunks(TSLSortKey key) {
    session_.SortSL(key);
    Button3Click();
}

void TMainForm_rep::N1Click() {
    ALQueryPanel->raise();
    ALQueryPanel->show();
    MaskEdit1->setFocus();
    // Typing replaces the number, wherever the cursor was left.
    MaskEdit1->selectAll();
}

void TMainForm_rep::Button4Click() {
    session_.Query(MaskEdit1->text().toStdString(), FilterEdit->text().toStdString(),
                   RadioButton1->isChecked());
    callModel_->Refresh();
    ALQueryPanel->hide();
    RefreshCharts();
}

void TMainForm_rep::Button5Click() {
    ALQueryPanel->hide();
}

bool TMainForm_rep::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (watched == MaskEdit1) return MaskEdit1KeyPress(key);
        if (watched == FilterEdit) return FilterEditKeyPress(key);
    }
    return QDialog::eventFilter(watched, event);
}

void TMainForm_rep::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Escape) {
        QDialog::keyPressEvent(event);
        return;
    }
    if (ALQueryPanel->isVisible()) Button5Click();
    event->accept();
}

bool TMainForm_rep::MaskEdit1KeyPress(QKeyEvent* key) {
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
    Button4Click();
    return true;
}

bool TMainForm_rep::FilterEditKeyPress(QKeyEvent* key) {
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        Button4Click();
        return true;
    }
    const QString text = key->text();
    // Keys without a character (arrows, Delete, Home) edit as usual.
    if (text.isEmpty()) return false;
    const QChar c = text.front();
    if (c.unicode() == 8 || (c >= '0' && c <= '9' && text.size() == 1)) return false;
    return true;
}

void TMainForm_rep::N2Click() {
    Export(TExportKind::Calls);
}

void TMainForm_rep::N12Click() {
    Export(TExportKind::Lines);
}

void TMainForm_rep::N13Click() {
    Export(TExportKind::Trunks);
}

void TMainForm_rep::N14Click() {
    ExportSheet(TExportKind::CallsCsv);
}

void TMainForm_rep::N15Click() {
    ExportSheet(TExportKind::LinesCsv);
}

void TMainForm_rep::N16Click() {
    ExportSheet(TExportKind::TrunksCsv);
}

void TMainForm_rep::ExportSheet(TExportKind csv) {
    seam::TFileRequest request;
    request.Caption = "Сохранить как таблицу";
    request.DefaultSuffix = "xlsx";
    request.Filter = std::string(kXlsxFilter) + ";;" + kCsvFilter;
    ExportChosen(
        [csv](std::string& path, const std::string& filter) {
            const QString name = QFile::decodeName(QByteArray::fromStdString(path));
            if (filter.empty())
                return name.endsWith(".csv", Qt::CaseInsensitive) ? csv : TExportKind::Workbook;
            const bool isCsv = filter == kCsvFilter;
            if (QFileInfo(name).suffix().isEmpty()) path += isCsv ? ".csv" : ".xlsx";
            return isCsv ? csv : TExportKind::Workbook;
        },
        std::move(request));
}

void TMainForm_rep::Export(TExportKind kind) {
    ExportChosen([kind](std::string&, const std::string&) { return kind; }, {});
}

void TMainForm_rep::ExportChosen(const TPick& pick, seam::TFileRequest request) {
    request.Save = true;
    request.Directory = dialogsDir_;
    seam::TFileChoice choice;
    if (!seam::ChooseFile(request, choice)) return;
    std::string path = choice.Path;
    const TExportKind kind = pick(path, choice.Filter);
    if (const std::string clash = InputClash(path, Inputs()); !clash.empty()) {
        seam::ShowMessage(clash, "Ошибка");
        return;
    }
    TWorkProgress state;
    TExportOptions options;
    options.ConfirmReplace = [] {
        return seam::ShowMessage("Такой файл уже существует. Перезапишем?", "Предупреждение!",
                                 seam::TButtons::OkCancel) == seam::kAnswerOk;
    };
    options.Progress = [&state](uint64_t done, uint64_t total) { return state.Tell(done, total); };
    options.Run = [&](const std::function<TFileResult()>& write) {
        return RunWrite(write, path, state);
    };
    const TFileResult result = session_.Export(kind, path, options);
    switch (result.Status) {
        case TFileStatus::Done:
        case TFileStatus::Cancelled:
        case TFileStatus::Declined:
            return;
        case TFileStatus::NotAFile:
        case TFileStatus::IsKept:
        case TFileStatus::ForeignLink:
            seam::ShowMessage(ExportRefusalText(result.Status, path), "Ошибка");
            return;
        case TFileStatus::CannotOpen:
        case TFileStatus::CannotRead:
        case TFileStatus::CannotWrite:
        case TFileStatus::Failed:
            seam::ShowMessage("Ошибка", ExportFailureText(result));
            return;
    }
}

TFileResult TMainForm_rep::RunWrite(const std::function<TFileResult()>& write,
                                    const std::string& path, TWorkProgress& state) {
    QProgressDialog progress(
        "Сохранение файла " + QFile::decodeName(QByteArray::fromStdString(path)), "Отмена", 0,
        kProgressSteps, this);
    SetUpProgress(progress, "SaveProgress");
    progress.setAutoClose(false);
    TFileResult result;
    RunBehind(progress, state, [&](const std::function<void()>& heedCancel) {
        result = WriteAside(write, heedCancel);
    });
    // The writer's buffers, freed in its own thread's heap.
    ReturnFreedMemory();
    return result;
}

void TMainForm_rep::RunBehind(QProgressDialog& progress, TWorkProgress& state,
                              const TRunAside& run) {
    connect(&progress, &QProgressDialog::canceled, &progress, [&state] { state.Cancelled = true; });
    // Run on every tick and just before the work starts: a Cancel pressed
    // before the work looks at the flag is heeded too.
    const auto heedCancel = [&] {
        if (progress.wasCanceled()) state.Cancelled = true;
    };
    QTimer tick;
    connect(&tick, &QTimer::timeout, &progress, [&] {
        heedCancel();
        progress.setValue(ProgressStep(state.Done, state.Total));
    });
    tick.start(50);
    {
        const TInputBlock block(this);
        run(heedCancel);
    }
    tick.stop();
    progress.reset();
}

void TMainForm_rep::RefreshGrids() {
    const TBilling* billing = session_.CallGrid().Billing();
    const bool named = billing && billing->Named();
    const bool priced = billing && billing->Priced();
    const int shift = named ? 2 : 0;
    std::vector<int> calls = {2, 3, 4, 5 + shift};
    std::vector<int> lines = {0, 1, 2 + shift, 3 + shift, 4 + shift};
    std::vector<int> trunks = {0, 1, 2, 3};
    if (priced) {
        calls.push_back(8 + shift);
        lines.insert(lines.end(), {5 + shift, 6 + shift});
        trunks.insert(trunks.end(), {4, 5});
    }
    // A report of several offices has their names first.
    if (session_.CallGrid().Sited())
        for (std::vector<int>* columns : {&calls, &lines, &trunks})
            for (int& column : *columns)
                ++column;
    callModel_->SetRightAligned(std::move(calls));
    alModel_->SetRightAligned(std::move(lines));
    slModel_->SetRightAligned(std::move(trunks));
    callModel_->Refresh();
    Button2Click();
    BillMenuItem->setEnabled(priced);
}

std::string TMainForm_rep::SettingsPath() const {
    return (dialogsDir_.empty() ? std::string(".") : dialogsDir_) + "/" + kReportSettingsFile;
}

std::vector<TNamedFile> TMainForm_rep::Inputs() const {
    std::vector<TNamedFile> inputs = {{session_.LoadedPath(), "загруженный журнал звонков"}};
    if (session_.Setup().Tariffs) inputs.push_back({settings_.Tariffs, "файл тарифов"});
    if (session_.Setup().Directory)
        inputs.push_back({settings_.Subscribers, "справочник абонентов"});
    return inputs;
}

bool TMainForm_rep::LoadTariffs(const std::string& path) {
    auto tariffs = std::make_shared<TTariffs>();
    if (const TBillingResult loaded = tariffs->Load(path); !loaded.Ok()) {
        seam::ShowMessage("Файл тарифов \"" + path + "\" не принят.\n" + loaded.Message,
                          QApplication::applicationName().toStdString());
        return false;
    }
    TBillingSetup setup = session_.Setup();
    setup.Tariffs = std::move(tariffs);
    ApplySetup(setup);
    return true;
}

bool TMainForm_rep::LoadDirectory(const std::string& path) {
    auto directory = std::make_shared<TDirectory>();
    if (const TBillingResult loaded = directory->Load(path); !loaded.Ok()) {
        seam::ShowMessage("Справочник абонентов \"" + path + "\" не принят.\n" + loaded.Message,
                          QApplication::applicationName().toStdString());
        return false;
    }
    TBillingSetup setup = session_.Setup();
    setup.Directory = std::move(directory);
    ApplySetup(setup);
    return true;
}

void TMainForm_rep::ApplySetup(const TBillingSetup& setup) {
    // Rating a million calls takes a while: the grids keep showing the
    // last view, unchanged, while the next is made beside it.
    TReportView view;
    bool failed = false;
    {
        const TInputBlock block(this);
        RunAside([&] {
            try {
                view = session_.Prepare(setup);
            } catch (const std::exception&) {  // no memory: the grids stay as they are
                failed = true;
            }
        });
    }
    if (failed) {
        seam::ShowMessage("Ошибка", ExportFailureText({TFileStatus::Failed, ENOMEM}));
        return;
    }
    session_.Apply(std::move(view));
    // The tables' parsing and the worker's sums leave megabytes freed.
    ReturnFreedMemory();
    RefreshGrids();
    RefreshCharts();
}

void TMainForm_rep::TariffsMenuItemClick() {
    ChooseTable("Тарифы", settings_.Tariffs, &TMainForm_rep::LoadTariffs);
}

void TMainForm_rep::DirectoryMenuItemClick() {
    ChooseTable("Справочник абонентов", settings_.Subscribers, &TMainForm_rep::LoadDirectory);
}

void TMainForm_rep::ChooseTable(const char* caption, std::string& remembered,
                                bool (TMainForm_rep::*load)(const std::string&)) {
    seam::TFileRequest request;
    request.Caption = caption;
    request.Directory = dialogsDir_;
    request.FileName = remembered;
    request.Filter = "Таблица CSV (*.csv);;Все файлы (*)";
    std::string chosen;
    if (!seam::FileDialog(request, chosen) || !(this->*load)(chosen)) return;
    remembered = chosen;
    // The choice holds for this run whether or not it could be kept.
    static_cast<void>(WriteReportSettings(SettingsPath(), settings_));
}

void TMainForm_rep::BillMenuItemClick() {
    if (!session_.Setup().Tariffs) return;
    if (!bill_) bill_ = new TBillForm(this);
    const int32_t today = DayNumberOf(QDate::currentDate());
    bill_->SetBill(session_.Bill(), BillTitleOf(session_.Setup().Period, exchangeName_, today),
                   Inputs());
    bill_->show();
    bill_->raise();
    bill_->activateWindow();
}

void TMainForm_rep::PeriodChanged(const TPeriod& period) {
    const TPeriod& now = session_.Setup().Period;
    if (period.FromDay == now.FromDay && period.ToDay == now.ToDay) return;
    TBillingSetup setup = session_.Setup();
    setup.Period = period;
    ApplySetup(setup);
}
