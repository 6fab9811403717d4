// The report window on the offscreen platform, and the command-line report
// program beside it: both must write the same bytes for the same commands.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QBarCategoryAxis>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QFrame>
#include <QGraphicsTextItem>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include "tests/common/recorder.h"
#include "tests/common/test_support.h"
#include "tests/reports/report_sample.h"
#include "tests/ui/ui_test_support.h"
#include "ui/about_form.h"
#include "ui/bill_form.h"
#include "ui/charts_form.h"
#include "ui/main_form_rep.h"
#include "ui/period_bar.h"
#include "ui/qt_message_sink.h"
#include "ui/run_aside.h"

using namespace testing_support;

namespace {

struct TRun {
    int Status = -1;
    std::string Out, Err;
};

TRun RunReportProgram(const QStringList& args, bool withoutLocale = false) {
    QProcess p;
    if (withoutLocale) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& name : env.keys())
            if (name == "LANG" || name == "LANGUAGE" || name.startsWith("LC_")) env.remove(name);
        p.setProcessEnvironment(env);
    }
    p.start(TALLYPHON_REPORT_PROGRAM, args);
    TRun run;
    if (!p.waitForFinished(30000)) return run;
    run.Status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.Out = p.readAllStandardOutput().toStdString();
    run.Err = p.readAllStandardError().toStdString();
    return run;
}

QString Cell(QTableView* grid, int row, int column) {
    return grid->model()->index(row, column).data().toString();
}

struct ReportWindow : testing::Test {
    TRecorder recorder;
    TTempDir dir;
    std::string sample = dir.File("calls.txt");
    TMainForm_rep form;

    void SetUp() override {
        WriteFile(sample, ReportSampleFile());
        form.SetDialogsDir(dir.Path());
        form.show();
    }
    // The window's widgets and actions go by their object names.
    template <class T>
    T* Get(const char* name) {
        return ui_test::Child<T>(form, name);
    }
    QAction* Action(const char* name) { return Get<QAction>(name); }
    QTableView* Grid(const char* name) { return Get<QTableView>(name); }
    void Choose(const char* action, const std::string& path) {
        recorder.QueueFileAnswer(path);
        Action(action)->trigger();
    }
};

TEST_F(ReportWindow, ControlsCarryTheirNamesAndCaptionsInMenuOrder) {
    const std::vector<std::pair<QMenu*, std::vector<std::pair<const char*, const char*>>>> menus = {
        {Get<QMenu>("File"),
         {{"Load", "&Загрузить"},
          {"LoadFromDbMenuItem", "Загрузить из &базы…"},
          {"ChartsMenuItem", "&Графики"},
          {"TariffsMenuItem", "&Тарифы…"},
          {"DirectoryMenuItem", "&Справочник абонентов…"},
          {"BillMenuItem", "С&чёт"},
          {"CloseMenuItem", "За&крыть"}}},
        {Get<QMenu>("HelpMenu"), {{"AboutMenuItem", "&О программе."}}},
        {Get<QMenu>("PopupMenu1"),
         {{"N1", "Выборка по абоненту"},
          {"N2", "Сохранить в файле"},
          {"N14", "Сохранить как таблицу…"}}},
        {Get<QMenu>("PopupMenu2"),
         {{"N3", "Сортировка по апп. номеру"},
          {"N4", "Сортировка по программному номеру"},
          {"N6", "Сортировка по исходящему трафику"},
          {"N5", "Сортировка по вх. трафику"},
          {"N7", "Сортировка по общему трафику"},
          {"N12", "Сохранить в файле"},
          {"N15", "Сохранить как таблицу…"}}},
        {Get<QMenu>("PopupMenu3"),
         {{"N8", "Сортировка по номеру СЛ"},
          {"N10", "Сортировка по исх. трафику "},
          {"N9", "Сортировка по вх. трафику"},
          {"N11", "Сортировка по общему трафику"},
          {"N13", "Сохранить в файл"},
          {"N16", "Сохранить как таблицу…"}}}};
    for (const auto& [menu, items] : menus) {
        const QList<QAction*> actions = menu->actions();
        ASSERT_EQ(actions.size(), static_cast<int>(items.size()))
            << menu->objectName().toStdString();
        for (size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(actions[i]->objectName(), items[i].first);
            EXPECT_EQ(actions[i]->text(), QString::fromUtf8(items[i].second));
        }
    }
    form.show();
    Action("CloseMenuItem")->trigger();
    EXPECT_FALSE(form.isVisible());
    const std::pair<const char*, const char*> widgets[] = {
        {"FileGroupBox", "Кол-во строк: "},
        {"ALGroupBox", "АЛ"},
        {"SLGroupBox", "СЛ"},
        {"Button4", "Выполнять"},
        {"Button5", "Отмена"},
        {"RadioButton1", "Программный номер"},
        {"RadioButton2", "Аппаратный номер"},
        {"Label1", "Первые цифры номера:"},
        {"LoadButton", "Загрузить список строк в Грид"}};
    for (const auto& [name, caption] : widgets) {
        QWidget* w = form.findChild<QWidget*>(name);
        ASSERT_NE(w, nullptr) << name;
        QString text = w->property("title").toString();
        if (text.isEmpty()) text = w->property("text").toString();
        EXPECT_EQ(text, QString::fromUtf8(caption)) << name;
    }
    EXPECT_EQ(Grid("StringGrid1")->model()->headerData(6, Qt::Horizontal).toString(),
              "Внешний номер");
    EXPECT_EQ(Grid("SLGrid")->model()->headerData(0, Qt::Horizontal).toString(), "Апп. СЛ");
    EXPECT_EQ(Grid("StringGrid1")->verticalHeader()->defaultSectionSize(), 18);
    EXPECT_FALSE(Get<QFrame>("ALQueryPanel")->isVisible());
    EXPECT_FALSE(Get<QPushButton>("LoadButton")->isVisible());
    // Three equal group boxes; the call grid's last column takes what is left.
    EXPECT_EQ(Get<QGroupBox>("ALGroupBox")->height(), Get<QFrame>("Panel1")->height() / 3 - 1);
    int used = 0;
    for (int c = 0; c < 6; ++c)
        used += Grid("StringGrid1")->columnWidth(c);
    EXPECT_EQ(Grid("StringGrid1")->columnWidth(6), Grid("StringGrid1")->width() - used - 30);

    Action("AboutMenuItem")->trigger();
    auto* about = form.findChild<TAboutForm*>();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->isVisible());
    EXPECT_FALSE(about->isModal());
    EXPECT_EQ(about->pos(), form.pos() + QPoint(20, 20));
}

TEST_F(ReportWindow, LoadFillsTheGridsAndReopeningKeepsTheirTexts) {
    Choose("Load", dir.Path());  // a directory: the window stays as it was
    ASSERT_EQ(recorder.Messages().size(), 1u);
    EXPECT_EQ(recorder.Messages()[0].Text,
              "Не удалось открыть файл \"" + dir.Path() + "\": " + std::strerror(EISDIR));
    EXPECT_EQ(Grid("StringGrid1")->model()->rowCount(), 0);

    Choose("Load", sample);
    EXPECT_EQ(Get<QGroupBox>("FileGroupBox")->title(), "Кол-во строк: 11");
    EXPECT_EQ(Grid("StringGrid1")->model()->rowCount(), 9);
    EXPECT_EQ(Cell(Grid("StringGrid1"), 1, 1), "23:59:50");
    EXPECT_EQ(Cell(Grid("StringGrid1"), 1, 6), "8123");
    EXPECT_EQ(Cell(Grid("ALGrid"), 0, 4), "144:01:29");
    EXPECT_EQ(recorder.FileRequests().back().Directory, dir.Path());

    form.done(0);
    form.show();
    EXPECT_EQ(Grid("StringGrid1")->model()->rowCount(), 9);
    EXPECT_EQ(Grid("ALGrid")->model()->rowCount(), 2);
    Action("N7")->trigger();  // the lists are new and empty until the next load
    EXPECT_EQ(Grid("ALGrid")->model()->rowCount(), 0);
    EXPECT_EQ(Grid("SLGrid")->model()->rowCount(), 3);
    form.Button4Click();
    EXPECT_EQ(Grid("StringGrid1")->model()->rowCount(), 1);
    EXPECT_EQ(Cell(Grid("StringGrid1"), 0, 0), "");
}

TEST_F(ReportWindow, QueryFieldsTakeOnlyWhatTheyShouldAndEnterRunsTheQuery) {
    Choose("Load", sample);
    Action("N1")->trigger();
    EXPECT_TRUE(Get<QFrame>("ALQueryPanel")->isVisible());
    QTest::keyClicks(Get<QLineEdit>("FilterEdit"), "8a -0");
    EXPECT_EQ(Get<QLineEdit>("FilterEdit")->text(), "80");
    QTest::keyClick(Get<QLineEdit>("FilterEdit"), Qt::Key_Backspace);
    QTest::keyClick(Get<QLineEdit>("FilterEdit"), Qt::Key_Return);
    EXPECT_FALSE(Get<QFrame>("ALQueryPanel")->isVisible());
    ASSERT_EQ(Grid("StringGrid1")->model()->rowCount(), 4);  // 8123, 8, 800, 800
    EXPECT_EQ(Cell(Grid("StringGrid1"), 0, 6), "8123");

    Action("N1")->trigger();
    Get<QRadioButton>("RadioButton2")->setChecked(true);
    QTest::keyClicks(Get<QLineEdit>("MaskEdit1"), "7x");
    EXPECT_EQ(Get<QLineEdit>("MaskEdit1")->text(), "7");
    QTest::keyClick(Get<QLineEdit>("MaskEdit1"), Qt::Key_Enter);
    ASSERT_EQ(Grid("StringGrid1")->model()->rowCount(), 1);  // line 7, prefix 8
    EXPECT_EQ(Cell(Grid("StringGrid1"), 0, 4), "17");

    // The charts show the calls of the grid and follow the next query.
    Action("ChartsMenuItem")->trigger();
    auto* charts = form.findChild<TChartsForm*>();
    ASSERT_NE(charts, nullptr);
    const auto lineKeys = [charts] {
        const auto axes = charts->findChild<QChartView*>("LinesChart")->chart()->axes(Qt::Vertical);
        return axes.isEmpty() ? QStringList()
                              : static_cast<QBarCategoryAxis*>(axes[0])->categories();
    };
    EXPECT_EQ(lineKeys(), QStringList({"7"}));
    Action("N1")->trigger();
    Get<QLineEdit>("MaskEdit1")->clear();
    Get<QLineEdit>("FilterEdit")->clear();
    Get<QPushButton>("Button4")->click();
    EXPECT_EQ(lineKeys(), QStringList({"7", "105"}));
    EXPECT_EQ(Get<QGroupBox>("FileGroupBox")->title(), "Кол-во строк: 11");
    EXPECT_EQ(Grid("ALGrid")->model()->rowCount(), 2);
}

TEST_F(ReportWindow, ColumnsFitTheirTextsAndNumbersAreFlushRight) {
    form.resize(564, 570);
    Choose("Load", sample);
    Action("N1")->trigger();
    QTest::keyClicks(Get<QLineEdit>("FilterEdit"), "8");
    Get<QPushButton>("Button4")->click();
    for (QTableView* grid : {Grid("StringGrid1"), Grid("ALGrid"), Grid("SLGrid")})
        for (int c = 0; c < grid->model()->columnCount(); ++c) {
            EXPECT_GE(grid->columnWidth(c), grid->horizontalHeader()->sectionSizeHint(c));
            const QAbstractItemView* view = grid;  // Qt's own measure of the texts
            EXPECT_GE(grid->columnWidth(c), view->sizeHintForColumn(c))
                << grid->objectName().toStdString() << " " << c;
        }
    const std::tuple<QTableView*, int, bool> rows[] = {
        {Grid("StringGrid1"), 0, false}, {Grid("StringGrid1"), 2, true},
        {Grid("StringGrid1"), 5, true},  {Grid("StringGrid1"), 6, false},
        {Grid("ALGrid"), 4, true},       {Grid("SLGrid"), 0, true}};
    for (const auto& [grid, column, right] : rows) {
        const int align = grid->model()->index(0, column).data(Qt::TextAlignmentRole).toInt();
        EXPECT_EQ((align & Qt::AlignRight) != 0, right) << column;
    }
}

TEST_F(ReportWindow, EscapeClosesOnlyTheQueryPanelAndClosingTakesTheCharts) {
    Choose("Load", sample);
    Action("ChartsMenuItem")->trigger();
    auto* charts = form.findChild<TChartsForm*>();
    ASSERT_NE(charts, nullptr);
    Action("N1")->trigger();
    QTest::keyClick(Get<QLineEdit>("MaskEdit1"), Qt::Key_Escape);
    EXPECT_FALSE(Get<QFrame>("ALQueryPanel")->isVisible());
    QTest::keyClick(Grid("StringGrid1"), Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(charts->isVisible());
    EXPECT_EQ(Grid("StringGrid1")->model()->rowCount(), 9);
    form.close();
    EXPECT_FALSE(charts->isVisible());
}

TEST_F(ReportWindow, ExportsAreTheProgramsBytesAndAskBeforeReplacing) {
    Choose("Load", sample);
    Action("N7")->trigger();
    Action("N8")->trigger();
    Action("N1")->trigger();
    QTest::keyClicks(Get<QLineEdit>("FilterEdit"), "8");
    Get<QPushButton>("Button4")->click();
    Choose("N2", dir.File("w-calls.txt"));
    Choose("N12", dir.File("w-lines.txt"));
    Choose("N13", dir.File("w-trunks.txt"));
    const TRun run = RunReportProgram({QString::fromStdString(sample), "--sort-lines", "total",
                                       "--sort-trunks", "trunk", "--prefix", "8", "--calls",
                                       QString::fromStdString(dir.File("p-calls.txt")), "--lines",
                                       QString::fromStdString(dir.File("p-lines.txt")), "--trunks",
                                       QString::fromStdString(dir.File("p-trunks.txt"))});
    ASSERT_EQ(run.Status, 0) << run.Err;
    for (const char* name : {"calls.txt", "lines.txt", "trunks.txt"}) {
        const std::string written = ReadFile(dir.File(std::string("w-") + name));
        EXPECT_EQ(written, ReadFile(dir.File(std::string("p-") + name))) << name;
        EXPECT_FALSE(written.empty()) << name;
    }
    EXPECT_EQ(ReadFile(dir.File("w-lines.txt")).substr(65, 5), "\r\n7  ");
    EXPECT_TRUE(recorder.Messages().empty());

    // The question, answered Cancel and then OK; a failed export keeps the file.
    const std::string old = dir.File("w-trunks.txt");
    WriteFile(old, "earlier");
    recorder.QueueMessageAnswer(seam::kAnswerCancel);
    Choose("N13", old);
    EXPECT_EQ(ReadFile(old), "earlier");
    Choose("N13", old);
    EXPECT_EQ(ReadFile(old), ReadFile(dir.File("p-trunks.txt")));
    Choose("N12", dir.Path());
    const std::vector<TShownMessage> expected = {
        {"Такой файл уже существует. Перезапишем?", "Предупреждение!"},
        {"Такой файл уже существует. Перезапишем?", "Предупреждение!"},
        {"Такой файл уже существует. Перезапишем?", "Предупреждение!"},
        {"Ошибка", "Не создать или не открыть файл. errno = 21"}};
    EXPECT_EQ(recorder.Messages(), expected);
}

TEST_F(ReportWindow, SpreadsheetsAreTheProgramsAndTheSuffixChoosesTheKind) {
    Choose("Load", sample);
    Action("N7")->trigger();
    Action("N8")->trigger();
    Action("N1")->trigger();
    QTest::keyClicks(Get<QLineEdit>("FilterEdit"), "8");
    Get<QPushButton>("Button4")->click();
    Choose("N14", dir.File("w-calls.csv"));
    Choose("N15", dir.File("w-lines.Csv"));
    Choose("N16", dir.File("w-trunks.csv"));
    Choose("N15", dir.File("w-book.xlsx"));  // any grid's item: the whole workbook
    Choose("N14", dir.File("w-book"));
    EXPECT_EQ(recorder.FileRequests().back().DefaultSuffix, "xlsx");
    EXPECT_TRUE(recorder.Messages().empty());
    const auto file = [this](const char* name) { return QString::fromStdString(dir.File(name)); };
    const TRun run = RunReportProgram(
        {QString::fromStdString(sample), "--sort-lines", "total", "--sort-trunks", "trunk",
         "--prefix", "8", "--csv-calls", file("p-calls.csv"), "--csv-lines", file("p-lines.Csv"),
         "--csv-trunks", file("p-trunks.csv"), "--xlsx", file("p-book.xlsx")});
    ASSERT_EQ(run.Status, 0) << run.Err;
    for (const char* name : {"calls.csv", "lines.Csv", "trunks.csv"}) {
        const std::string written = ReadFile(dir.File(std::string("w-") + name));
        EXPECT_EQ(written, ReadFile(dir.File(std::string("p-") + name))) << name;
        EXPECT_EQ(written.substr(0, 3), "\xEF\xBB\xBF") << name;
    }
    EXPECT_NE(ReadFile(dir.File("w-calls.csv")).find(";23:59:50;23:59:59;105;201;3;8123\r\n"),
              std::string::npos);
    // The workbook's creation time differs; its sheets may not.
    for (const char* sheet : {"sheet1.xml", "sheet2.xml", "sheet3.xml"}) {
        const std::string member = std::string("xl/worksheets/") + sheet;
        const std::string written = ZipMember(dir.File("w-book.xlsx"), member);
        EXPECT_FALSE(written.empty()) << sheet;
        EXPECT_EQ(written, ZipMember(dir.File("p-book.xlsx"), member)) << sheet;
        EXPECT_EQ(written, ZipMember(dir.File("w-book"), member)) << sheet;
    }

    // The same question as the text exports, and a failed write keeps the file.
    const std::string old = dir.File("w-lines.Csv");
    WriteFile(old, "earlier");
    recorder.QueueMessageAnswer(seam::kAnswerCancel);
    Choose("N15", old);
    EXPECT_EQ(ReadFile(old), "earlier");
    Choose("N16", dir.File("none/book.xlsx"));
    const std::vector<TShownMessage> expected = {
        {"Такой файл уже существует. Перезапишем?", "Предупреждение!"},
        {"Ошибка", "Не создать или не открыть файл. errno = 2"}};
    EXPECT_EQ(recorder.Messages(), expected);
}

TEST(ChartsWindow, DaysAreLabelledSparselyAndNumbersFollowTheLocale) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    TChartFigures f;
    for (int i = 0; i < 80; ++i) {
        const QDate d = QDate(2007, 3, 1).addDays(i);
        f.ByDay.push_back({d.year(), d.month(), d.day(), {i, 0, 72000 * i, 0}});
    }
    f.CallsOutsideDays = 1234;
    TChartsForm charts;
    charts.ShowFigures(f);
    charts.show();
    const auto labels =
        static_cast<QCategoryAxis*>(
            charts.findChild<QChartView*>("DayChart")->chart()->axes(Qt::Horizontal).constFirst())
            ->categoriesLabels();
    EXPECT_EQ(labels.size(), 12);
    EXPECT_EQ(labels.mid(0, 2), QStringList({"01.03", "08.03"}));
    EXPECT_EQ(charts.findChild<QLabel*>("DayNote")->text(),
              "Звонков вне показанного периода: 1\u00A0234");
    // Up to 1,580 hours of traffic: thousands on the axis, in Russian with a
    // space between the groups (plain text turns the no-break one into one).
    const auto grouped = [&charts] {
        for (QGraphicsItem* item : charts.findChild<QChartView*>("DayChart")->scene()->items())
            if (auto* text = dynamic_cast<QGraphicsTextItem*>(item))
                if (text->toPlainText().contains(QRegularExpression("^1\\s[05]00$"))) return true;
        return false;
    };
    EXPECT_TRUE(QTest::qWaitFor(grouped, 5000));
    QLocale::setDefault(before);
}

TEST(ReportProgram, BadArgumentsAndFailedExportsEndWithOneLine) {
    TTempDir dir;
    const std::string sample = dir.File("calls.txt");
    WriteFile(sample, ReportSampleFile());
    const QString file = QString::fromStdString(sample);
    const std::string none = dir.File("none.txt"), link = dir.File("link.txt");
    ASSERT_EQ(symlink(sample.c_str(), link.c_str()), 0);
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    struct Row {
        QStringList args;
        int status;
        std::string message;
    };
    const Row rows[] = {
        {{}, 2, "не указан журнал звонков"},
        {{file, "--bogus"}, 2, "неизвестный параметр --bogus"},
        {{file, "--number", "12345"}, 2, "--number принимает от одной до четырёх цифр"},
        {{file, "--prefix", "8a"}, 2, "--prefix принимает только цифры"},
        {{file, "--sort-lines", "speed"}, 2, "--sort-lines принимает"},
        {{file, "--calls"}, 2, "--calls требует значения"},
        {{QString::fromStdString(none)}, 2, "Не удалось открыть файл \"" + none + "\": "},
        {{file, "--calls", file},
         2,
         "Файл \"" + sample + "\" — загруженный журнал звонков. Сохраните в другой файл."},
        {{file, "--csv-trunks", QString::fromStdString(link)},
         2,
         "Файл \"" + link + "\" — загруженный журнал звонков."},
        {{file, "--xlsx", QString::fromStdString(dir.File("fifo"))}, 1, "канал или сокет"},
        {{file, "--lines", QString::fromStdString(dir.Path())},
         1,
         "Не создать или не открыть файл. errno = 21"},
        {{file, "--xlsx", QString::fromStdString(dir.File("none/b.xlsx"))},
         1,
         "Не создать или не открыть файл. errno = 2"},
        {{file, "--csv-trunks", "a.csv", "--csv-trunks", "b.csv"}, 2, "--csv-trunks указан дважды"},
    };
    for (const Row& r : rows) {
        const TRun run = RunReportProgram(r.args);
        EXPECT_EQ(run.Status, r.status) << r.message;
        EXPECT_NE(run.Err.find(r.message), std::string::npos) << run.Err;
        EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
    }
    EXPECT_EQ(ReadFile(sample), ReportSampleFile());
    const TRun listed = RunReportProgram({file, "--number", "17"});
    EXPECT_EQ(listed.Status, 0);
    EXPECT_EQ(listed.Out.substr(0, listed.Out.find("\nАЛ")),
              "Звонков: 2\nСтрок в файле (от 30 знаков): 11, из них не звонки: 2\n");
}

TEST(ReportProgram, WithoutALocaleDatesAreWrittenAsInTheRussianOne) {
    TTempDir dir;
    WriteFile(dir.File("calls.txt"), ReportSampleFile());
    const TRun run = RunReportProgram({QString::fromStdString(dir.File("calls.txt")), "--calls",
                                       QString::fromStdString(dir.File("out.txt"))},
                                      true);
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(ReadFile(dir.File("out.txt")).find("\r\n05.03.2007  14:02:07  00:01:35"),
              std::string::npos);
    EXPECT_NE(RunReportProgram({"--help"}).Out.find("как дд.ММ.гггг (05.03.2007)"),
              std::string::npos);
}

TEST_F(ReportWindow, ExportsNeverReplaceTheLoadedCallLog) {
    Choose("Load", sample);
    const std::string link = dir.File("link.csv");
    ASSERT_EQ(symlink(sample.c_str(), link.c_str()), 0);
    Choose("N2", sample);
    Choose("N14", link);
    const std::string refused = "\" — загруженный журнал звонков. Сохраните в другой файл.";
    const std::vector<TShownMessage> expected = {{"Файл \"" + sample + refused, "Ошибка"},
                                                 {"Файл \"" + link + refused, "Ошибка"}};
    EXPECT_EQ(recorder.Messages(), expected);
    EXPECT_EQ(ReadFile(sample), ReportSampleFile());
}

TEST_F(ReportWindow, TheChosenFilterDecidesTheKindAndTheSuffix) {
    Choose("Load", sample);
    recorder.QueueFileChoice(dir.File("filtertest"), "Таблица CSV (*.csv)");
    Action("N16")->trigger();
    recorder.QueueFileChoice(dir.File("booktest"), "Таблица XLSX (*.xlsx)");
    Action("N16")->trigger();
    EXPECT_EQ(ReadFile(dir.File("filtertest.csv")).substr(0, 15), "\xEF\xBB\xBFАпп. СЛ");
    EXPECT_FALSE(ZipMember(dir.File("booktest.xlsx"), "xl/worksheets/sheet3.xml").empty());
    EXPECT_FALSE(Exists(dir.File("filtertest")));
    EXPECT_FALSE(Exists(dir.File("booktest")));
    EXPECT_TRUE(recorder.Messages().empty());
}

TEST_F(ReportWindow, ASaveRunsBehindAProgressDialogAndCancelKeepsTheFile) {
    Choose("Load", sample);
    const std::string book = dir.File("book.xlsx");
    WriteFile(book, "earlier");
    bool seen = false;
    // Runs once the save has started and while it runs: the window's own
    // thread is free, and its dialog offers Cancel.
    QTimer::singleShot(0, &form, [&] {
        auto* progress = form.findChild<QProgressDialog*>("SaveProgress");
        seen = progress != nullptr;
        QTest::keyClick(Grid("StringGrid1"), Qt::Key_Escape);  // not while the grids are written
        if (progress) progress->cancel();
    });
    Choose("N14", book);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(ReadFile(book), "earlier");
    const auto entries = std::filesystem::directory_iterator(dir.Path());
    EXPECT_EQ(std::distance(begin(entries), end(entries)), 2);  // with calls.txt
    EXPECT_EQ(form.findChild<QProgressDialog*>("SaveProgress"), nullptr);
}

// Run under the Russian locale (LC_ALL), the tests must get it: a missing
// one would let them pass in the C locale unseen.
TEST(ReportLocale, TheLocaleAskedForIsThere) {
    const char* asked = std::getenv("LC_ALL");
    if (!asked || std::string(asked).rfind("ru_RU", 0) != 0) GTEST_SKIP() << "not run in ru_RU";
    EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), asked);
}

TEST(ReportSaveDialog, ABareNameTakesTheSuffixOfTheTypeChosen) {
    TTempDir dir;
    seam::TFileRequest request;
    request.Save = true;
    request.Directory = dir.Path();
    request.DefaultSuffix = "xlsx";
    request.Filter = "Таблица XLSX (*.xlsx);;Таблица CSV (*.csv)";
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&answer] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        answer.stop();
        QTest::keyClick(dialog->findChild<QComboBox*>("fileTypeCombo"), Qt::Key_Down);
        dialog->findChild<QLineEdit*>("fileNameEdit")->setText("filtertest");
        static_cast<QDialog*>(dialog)->accept();
    });
    answer.start(10);
    TQtMessageSink sink;
    seam::TFileChoice choice;
    ASSERT_TRUE(sink.ChooseFile(request, choice));
    EXPECT_EQ(choice.Path, dir.File("filtertest.csv"));
    EXPECT_EQ(choice.Filter, "Таблица CSV (*.csv)");
}

}  // namespace

namespace {

// Calls to numbers beginning with 8 are long distance, the rest local with
// a connection fee and five free seconds.
const char* const kTariffs =
    "Префикс;Зона;Цена;Соединение;Первый;Шаг;Бесплатно\r\n"
    "8;Межгород;5,50;;60;60;\r\n"
    "*;Город;1,00;0,10;60;60;5\r\n";
const char* const kSubscribers = "17;\"Петров; П.\";Бухгалтерия\n";

}  // namespace

TEST_F(ReportWindow, ThePeriodBarLimitsEveryGrid) {
    Choose("Load", sample);
    const auto rows = [&] {
        return std::vector<int>{Grid("StringGrid1")->model()->rowCount(),
                                Grid("ALGrid")->model()->rowCount(),
                                Grid("SLGrid")->model()->rowCount()};
    };
    EXPECT_EQ(rows(), (std::vector<int>{9, 2, 3}));
    Get<QDateEdit>("FromDate")->setDate(QDate(2007, 3, 5));
    Get<QDateEdit>("ToDate")->setDate(QDate(2007, 3, 5));
    EXPECT_EQ(rows(), (std::vector<int>{9, 2, 3}));  // both ends still open
    Get<QCheckBox>("ToCheck")->setChecked(true);
    EXPECT_EQ(rows(), (std::vector<int>{2, 1, 1}));
    EXPECT_EQ(Cell(Grid("StringGrid1"), 1, 6), "8123");
    EXPECT_EQ(Cell(Grid("ALGrid"), 0, 4), "24:01:34");  // only the 5th's calls
    Get<QCheckBox>("FromCheck")->setChecked(true);
    EXPECT_FALSE(Get<QLabel>("PeriodMark")->isVisible());
    Get<QDateEdit>("FromDate")->setDate(QDate(2007, 3, 6));
    EXPECT_EQ(rows(), (std::vector<int>{2, 1, 1}));  // from after to: the period before stays
    EXPECT_TRUE(Get<QLabel>("PeriodMark")->isVisible());
    Get<QDateEdit>("ToDate")->setDate(QDate(2007, 3, 6));
    EXPECT_EQ(rows(), (std::vector<int>{7, 2, 3}));
    EXPECT_FALSE(Get<QLabel>("PeriodMark")->isVisible());
    EXPECT_EQ(Cell(Grid("SLGrid"), 0, 0), "3");
    Get<QPushButton>("WholeFileButton")->click();
    EXPECT_FALSE(Get<QDateEdit>("FromDate")->isEnabled());
    EXPECT_EQ(rows(), (std::vector<int>{9, 2, 3}));
    Get<QPushButton>("ThisMonthButton")->click();  // 2007 is long gone
    EXPECT_EQ(rows(), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(Get<QDateEdit>("FromDate")->date().day(), 1);
}

TEST_F(ReportWindow, EachTrafficSortItemOrdersItsGridByItsColumn) {
    // Three lines and three trunks whose orders by number, by outgoing, by
    // incoming and by total traffic all differ.
    const std::string title =
        ReportSampleFile().substr(0, ReportSampleFile().find("05-03-2007 14"));
    const std::string file = dir.File("sorts.txt");
    WriteFile(file,
              title +
                  "06-03-2007 10:00:00   01:00:00   200( 301)       5     800            \r\n"
                  "06-03-2007 11:00:00   10:00:00   7( 17)          3     8123           \r\n"
                  "06-03-2007 12:00:00   00:00:05   7( 17)          3                    \r\n"
                  "06-03-2007 13:00:00   00:01:00   105( 201)       9     78             \r\n"
                  "06-03-2007 14:00:00   05:00:00   105( 201)       9                    \r\n");
    Choose("Load", file);
    struct Row {
        const char* action;
        const char* grid;
        int column;
    };
    for (const Row& r :
         {Row{"N6", "ALGrid", 2}, Row{"N5", "ALGrid", 3}, Row{"N7", "ALGrid", 4},
          Row{"N10", "SLGrid", 1}, Row{"N9", "SLGrid", 2}, Row{"N11", "SLGrid", 3}}) {
        Action(r.action)->trigger();
        std::vector<int> seconds;
        for (int row = 0; row < Grid(r.grid)->model()->rowCount(); ++row) {
            const QStringList parts = Cell(Grid(r.grid), row, r.column).split(':');
            seconds.push_back(parts[0].toInt() * 3600 + parts[1].toInt() * 60 + parts[2].toInt());
        }
        EXPECT_EQ(seconds.size(), 3u) << r.action;
        EXPECT_TRUE(std::is_sorted(seconds.begin(), seconds.end())) << r.action;
    }
}

TEST(WriteAside, AWriterThatRaisesFailsWithTheSystemsReason) {
    EXPECT_EQ(WriteAside([]() -> TFileResult {
                  throw std::system_error(ENOSPC, std::generic_category());
              }),
              (TFileResult{TFileStatus::Failed, ENOSPC}));
    EXPECT_EQ(WriteAside([]() -> TFileResult { throw std::bad_alloc(); }),
              (TFileResult{TFileStatus::Failed, ENOMEM}));
    EXPECT_EQ(WriteAside([] {
                  return TFileResult{TFileStatus::CannotWrite, EIO};
              }),
              (TFileResult{TFileStatus::CannotWrite, EIO}));
}

TEST(PeriodBar, TellsEachValidPeriodOnceAndAnInvertedOneNever) {
    TPeriodBar bar;
    std::vector<std::pair<int32_t, int32_t>> told;
    QObject::connect(&bar, &TPeriodBar::PeriodChosen,
                     [&](const TPeriod& p) { told.emplace_back(p.FromDay, p.ToDay); });
    bar.findChild<QPushButton*>("LastMonthButton")->click();
    const QDate first = QDate::currentDate().addMonths(-1);
    const QDate start(first.year(), first.month(), 1);
    const std::pair<int32_t, int32_t> lastMonth{DayNumberOf(start),
                                                DayNumberOf(start.addMonths(1).addDays(-1))};
    ASSERT_EQ(told, (std::vector<std::pair<int32_t, int32_t>>{lastMonth}));
    bar.findChild<QDateEdit*>("FromDate")->setDate(start.addMonths(2));
    EXPECT_EQ(told.size(), 1u);
    EXPECT_EQ(bar.Period().FromDay, DayNumberOf(start.addMonths(2)));
    EXPECT_EQ(DayNumberOf(QDate(1900, 1, 1)), 2);  // as the call log counts
}

TEST_F(ReportWindow, TariffsAndSubscribersAddColumnsAndAreRemembered) {
    WriteFile(dir.File("tariffs.csv"), kTariffs);
    WriteFile(dir.File("subscribers.csv"), kSubscribers);
    Choose("Load", sample);
    Choose("TariffsMenuItem", dir.File("tariffs.csv"));
    Choose("DirectoryMenuItem", dir.File("subscribers.csv"));
    ASSERT_TRUE(recorder.Messages().empty());
    const auto headers = [&](const char* grid) {
        QStringList texts;
        for (int c = 0; c < Grid(grid)->model()->columnCount(); ++c)
            texts << Grid(grid)->model()->headerData(c, Qt::Horizontal).toString();
        return texts.join('|').toStdString();
    };
    EXPECT_EQ(headers("StringGrid1"),
              "Дата|Время|Длительность|Апп. АЛ|Прг. АЛ|Имя|Отдел|Номер СЛ|Внешний номер|Зона|"
              "Стоимость");
    EXPECT_EQ(headers("ALGrid"),
              "Апп. АЛ|Прг. АЛ|Имя|Отдел|Исх. трафик|Вх. трафик|Общий трафик|Звонков|Стоимость");
    EXPECT_EQ(headers("SLGrid"), "Апп. СЛ|Исх. трафик|Вх. трафик|Общий трафик|Звонков|Стоимость");
    // 95 s: two minutes of 1,00 and the fee; 30 s long distance: one minute.
    EXPECT_EQ(Cell(Grid("StringGrid1"), 0, 9), "Город");
    EXPECT_EQ(Cell(Grid("StringGrid1"), 0, 10), "2,10");
    EXPECT_EQ(Cell(Grid("StringGrid1"), 2, 9), "");  // incoming
    EXPECT_EQ(Cell(Grid("StringGrid1"), 7, 5), "Петров; П.");
    EXPECT_EQ(Cell(Grid("StringGrid1"), 7, 10), "5,50");
    EXPECT_EQ(Cell(Grid("ALGrid"), 1, 3), "Бухгалтерия");
    EXPECT_EQ(Cell(Grid("ALGrid"), 1, 7), "2");
    EXPECT_EQ(Cell(Grid("ALGrid"), 1, 8), "6,60");
    EXPECT_EQ(ReadFile(dir.File("TallyphonReports.cfg")),
              "tariffs=" + dir.File("tariffs.csv") +
                  "\nsubscribers=" + dir.File("subscribers.csv") + "\n");

    TMainForm_rep again;
    again.SetDialogsDir(dir.Path());
    again.show();
    EXPECT_TRUE(recorder.Messages().empty());
    EXPECT_EQ(ui_test::Child<QTableView>(again, "StringGrid1")->model()->columnCount(), 11);
}

TEST_F(ReportWindow, TheBillWindowShowsTheBillOfThePeriod) {
    WriteFile(dir.File("tariffs.csv"), kTariffs);
    Choose("Load", sample);
    EXPECT_FALSE(Action("BillMenuItem")->isEnabled());
    Choose("TariffsMenuItem", dir.File("tariffs.csv"));
    Get<QCheckBox>("FromCheck")->setChecked(true);
    Get<QDateEdit>("FromDate")->setDate(QDate(2007, 3, 6));
    form.SetExchangeName("ОФИС");
    Action("BillMenuItem")->trigger();
    auto* bill = form.findChild<TBillForm*>();
    ASSERT_NE(bill, nullptr);
    EXPECT_TRUE(bill->isVisible());
    const QString title = ui_test::Child<QLabel>(*bill, "TitleLabel")->text();
    EXPECT_TRUE(title.contains("с 06.03.2007")) << title.toStdString();
    EXPECT_TRUE(title.contains("ОФИС")) << title.toStdString();
}

TEST_F(ReportWindow, ARefusedTariffFileKeepsTheTablesBefore) {
    WriteFile(dir.File("tariffs.csv"), kTariffs);
    WriteFile(dir.File("bad.csv"), "8;Межгород;5,50\n9;Город;1.x\n");
    Choose("Load", sample);
    Choose("TariffsMenuItem", dir.File("tariffs.csv"));
    Choose("TariffsMenuItem", dir.File("bad.csv"));
    ASSERT_EQ(recorder.Messages().size(), 1u);
    EXPECT_NE(recorder.Messages()[0].Text.find("Строка 2"), std::string::npos)
        << recorder.Messages()[0].Text;
    EXPECT_EQ(Cell(Grid("StringGrid1"), 0, 8), "2,10");
    EXPECT_EQ(ReadFile(dir.File("TallyphonReports.cfg")),
              "tariffs=" + dir.File("tariffs.csv") + "\nsubscribers=\n");
}

namespace {

std::string PdfText(const std::string& path) {
    QProcess p;
    p.start("pdftotext", {QString::fromStdString(path), "-"});
    p.waitForFinished(30000);
    return p.readAllStandardOutput().toStdString();
}

std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST_F(ReportWindow, TheBillCsvOfAPeriodIsTheHandWrittenOne) {
    WriteFile(dir.File("tariffs.csv"), kTariffs);
    WriteFile(dir.File("subscribers.csv"), kSubscribers);
    const std::string bill = dir.File("bill.csv");
    const TRun run = RunReportProgram(
        {QString::fromStdString(sample), "--tariffs",
         QString::fromStdString(dir.File("tariffs.csv")), "--subscribers",
         QString::fromStdString(dir.File("subscribers.csv")), "--from", "2007-03-06", "--to",
         "2007-03-06", "--bill-csv", QString::fromStdString(bill), "--bill-pdf",
         QString::fromStdString(bill + ".pdf"), "--exchange", "ОФИС"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "");  // nothing for cron to mail
    EXPECT_NE(PdfText(bill + ".pdf").find("Станция: ОФИС\n"), std::string::npos);
    EXPECT_EQ(ReadFile(bill),
              "\xEF\xBB\xBF"
              "Абонент;Имя;Отдел;Зона;Звонков;Длительность, с;Тарифицировано, с;Стоимость\r\n"
              "17;\"Петров; П.\";Бухгалтерия;Межгород;1;30;60;5,50\r\n"
              "17;\"Петров; П.\";Бухгалтерия;Город;1;10;60;1,10\r\n"
              "17;\"Петров; П.\";Бухгалтерия;Итого;2;40;120;6,60\r\n"
              "201;;;Межгород;2;172798;172800;15840,00\r\n"
              "201;;;Город;2;172798;172800;2880,20\r\n"
              "201;;;Итого;4;345596;345600;18720,20\r\n"
              "Итого;;;;6;345636;345720;18726,80\r\n");
}

TEST_F(ReportWindow, BadBillArgumentsEndWithStatusTwoTouchingNothing) {
    WriteFile(dir.File("tariffs.csv"), kTariffs);
    WriteFile(dir.File("bad.csv"), "8;Межгород;abc\n");
    WriteFile(dir.File("names.csv"), "17;Петров;Бухгалтерия\n17;Иванов;\n");
    const std::string out = dir.File("out.csv");
    WriteFile(out, "old");
    const QString log = QString::fromStdString(sample), file = QString::fromStdString(out);
    const QString tariffs = QString::fromStdString(dir.File("tariffs.csv"));
    const QString bad = QString::fromStdString(dir.File("bad.csv"));
    const QString names = QString::fromStdString(dir.File("names.csv"));
    const std::vector<QStringList> cases = {
        {log, "--bill-csv", file},
        {log, "--bill-pdf", file},
        {log, "--tariffs", bad, "--bill-csv", file},
        {log, "--tariffs", tariffs, "--subscribers", names, "--csv-calls", file},
        {log, "--from", "2007-02-30", "--calls", file},
        {log, "--to", "07.03.2007", "--bill-csv", file, "--tariffs", tariffs},
        {log, "--from", "2007-03-07", "--to", "2007-03-06", "--bill-csv", file, "--tariffs",
         tariffs}};
    for (const QStringList& args : cases) {
        const TRun run = RunReportProgram(args);
        EXPECT_EQ(run.Status, 2) << args.join(' ').toStdString();
        EXPECT_FALSE(run.Err.empty());
        EXPECT_EQ(ReadFile(out), "old");
    }
}

namespace {

// No output replaces an input or another output of the same run, whatever
// name it goes by; the program refuses before it writes anything, the
// windows before they ask about replacing a file.
TEST_F(ReportWindow, NoOutputReplacesAnInputOrAnotherOutput) {
    const std::string tariffs = dir.File("tariffs.csv"), names = dir.File("names.csv");
    WriteFile(tariffs, kTariffs);
    WriteFile(names, kSubscribers);
    ASSERT_EQ(symlink(names.c_str(), dir.File("link").c_str()), 0);
    const auto q = [](const std::string& s) { return QString::fromStdString(s); };
    const QString log = q(sample), fresh = q(dir.File("new.csv"));
    const QString same = q(dir.Path() + "/./new.csv");
    const std::pair<QStringList, std::string> rows[] = {
        {{log, "--tariffs", q(tariffs), "--bill-csv", q(tariffs)},
         "Файл \"" + tariffs + "\" — файл тарифов. Сохраните в другой файл."},
        {{log, "--subscribers", q(names), "--xlsx", q(dir.File("link"))},
         "\" — справочник абонентов."},
        {{log, "--tariffs", q(tariffs), "--bill-csv", fresh, "--bill-pdf", same},
         "указан и в --bill-csv, и в --bill-pdf"},
        {{log, "--calls", fresh, "--csv-calls", fresh}, "указан и в --calls, и в --csv-calls"}};
    const std::vector<std::string> before = Listing(dir.Path());
    for (const auto& [args, message] : rows) {
        const TRun run = RunReportProgram(args);
        EXPECT_EQ(run.Status, 2) << message;
        EXPECT_NE(run.Err.find(message), std::string::npos) << run.Err;
    }
    EXPECT_EQ(Listing(dir.Path()), before);
    EXPECT_EQ(ReadFile(tariffs), kTariffs);
    EXPECT_EQ(ReadFile(names), kSubscribers);
}

TEST_F(ReportWindow, NoSaveReplacesAFileTheReportIsMadeOf) {
    const std::string tariffs = dir.File("tariffs.csv");
    WriteFile(tariffs, kTariffs);
    Choose("Load", sample);
    Choose("TariffsMenuItem", tariffs);
    Choose("N2", tariffs);
    Action("BillMenuItem")->trigger();
    auto* bill = form.findChild<TBillForm*>();
    ASSERT_NE(bill, nullptr);
    recorder.QueueFileAnswer(sample);
    ui_test::Child<QPushButton>(*bill, "SavePdfButton")->click();
    const std::vector<TShownMessage> expected = {
        {"Файл \"" + tariffs + "\" — файл тарифов. Сохраните в другой файл.", "Ошибка"},
        {"Файл \"" + sample + "\" — загруженный журнал звонков. Сохраните в другой файл.",
         "Ошибка"}};
    EXPECT_EQ(recorder.Messages(), expected);
    EXPECT_EQ(ReadFile(tariffs), kTariffs);
    EXPECT_EQ(ReadFile(sample), ReportSampleFile());
}

// One output that cannot be written leaves every other as it was: each is
// written beside its target, and all are put in place only at the end.
TEST_F(ReportWindow, ARunReplacesAllItsOutputsOrNone) {
    WriteFile(dir.File("tariffs.csv"), kTariffs);
    WriteFile(dir.File("bill.csv"), "old");
    const std::vector<std::string> before = Listing(dir.Path());
    const TRun run = RunReportProgram({QString::fromStdString(sample), "--tariffs",
                                       QString::fromStdString(dir.File("tariffs.csv")), "--calls",
                                       QString::fromStdString(dir.File("calls.out")), "--bill-csv",
                                       QString::fromStdString(dir.File("bill.csv")), "--bill-pdf",
                                       QString::fromStdString(dir.File("none/bill.pdf"))});
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("none/bill.pdf\": Не создать или не открыть файл"), std::string::npos)
        << run.Err;
    EXPECT_EQ(ReadFile(dir.File("bill.csv")), "old");
    EXPECT_EQ(Listing(dir.Path()), before);
}

}  // namespace
