// The main window: start-up against the simulated exchange (in memory behind
// the port, on a test clock), its status display, the file choice, locking,
// stopping, reloading and the menus.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <thread>

#include <QAction>
#include <QApplication>
#include <QDateEdit>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QThread>
#include <QTimeEdit>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "acquisition/port_messages.h"
#include "tests/common/recorder.h"
#include "tests/ui/ui_test_support.h"
#include "ui/main_form.h"
#include "ui/options_form.h"
#include "ui/real_time_form.h"

using namespace testing_support;
using namespace ui_test;

namespace {

const TShownMessage kNoExchange{"АТС не обнаружена.", "Уведомление"};
const TShownMessage kPortError{"Ошибка при открытии СОМ-порта.", "Ошибка!"};

std::vector<std::string> PanelTexts(const TMainForm& form) {
    std::vector<std::string> texts;
    for (int i = 0; i < 6; ++i)
        texts.push_back(form.StatusBar1Panel(i)->text().toStdString());
    return texts;
}

const std::vector<std::string> kDashes = {
    "АТС: -", "ПО вер. -", "Зав. номер : -", "Емкость буфера : -", "В буфере : -", ""};

class MainForm : public ::testing::Test {
  protected:
    void TearDown() override {
        form.reset();
        port.reset();
        exchange.reset();
    }
    // An exchange named in Windows-1251 ("ОФИС"), 7 calls in 300 places,
    // its clock at 1 January 2007 14:02:07.
    static sim::TExchangeConfig Office(uint8_t type = 4) {
        sim::TExchangeConfig c;
        c.TypeCode = type;
        c.Name = "\xCE\xD4\xC8\xD1";
        c.Serial = 4660;
        c.Days = 9862;
        c.Ticks = 14 * 3600 + 2 * 60 + 7;
        c.Units[0].Capacity = 300;
        for (int i = 0; i < 7; ++i)
            c.Units[0].Records.push_back({0x01, 0x02});
        return c;
    }
    // The exchange served in memory behind the port COM1.
    void Serve(const sim::TExchangeConfig& config) {
        exchange = StartInMemory(config);
        port = std::make_unique<TSimPort>(*exchange);
    }
    void StartIdentified(uint8_t type = 4) {
        WriteSettings(dir);
        Serve(Office(type));
        form = CreateMainForm(dir.Path(), port->Factory());
        ASSERT_TRUE(recorder.Messages().empty()) << recorder.Messages()[0].Text;
    }

    TRecorder recorder;
    TTempDir dir;
    std::unique_ptr<sim::TSimExchange> exchange;
    std::unique_ptr<TSimPort> port;
    std::unique_ptr<TMainForm> form;
};

TEST_F(MainForm, StartUpShowsTheIdentifiedExchange) {
    StartIdentified();
    const TLowLevel& ll = *form->Link();
    EXPECT_TRUE(ll.PortOpen());
    EXPECT_FALSE(ll.Identification().SoftwareVersion.empty());
    const std::vector<std::string> expected = {
        "АТС: ОФИС",         "ПО вер. " + ll.Identification().SoftwareVersion,
        "Зав. номер : 4660", "Емкость буфера : 300",
        "В буфере : 7",      ""};
    EXPECT_EQ(PanelTexts(*form), expected);
    EXPECT_EQ(Child<QProgressBar>(*form, "CGauge1")->minimum(), 0);
    EXPECT_EQ(Child<QProgressBar>(*form, "CGauge1")->maximum(), 300);
    EXPECT_EQ(Child<QProgressBar>(*form, "CGauge1")->value(), 7);
    EXPECT_EQ(Child<QDateEdit>(*form, "DatePicker")->date(), QDate(2007, 1, 1));
    EXPECT_EQ(Child<QTimeEdit>(*form, "TimePicker")->time(), QTime(14, 2, 7, 500));
    EXPECT_EQ(form->TarifFileNamePanel(0)->text().toStdString(), "Файл учета звонков: ");
    EXPECT_EQ(form->TarifFileNamePanel(1)->text().toStdString(), dir.File("calls.txt"));
    EXPECT_EQ(form->RealTimeFileNamePanel(1)->text().toStdString(), dir.File("rt.log"));
    EXPECT_EQ(form->windowTitle().toStdString(), "Tallyphon 2.28");
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->AutoExit());
    EXPECT_FALSE(Child<QTimer>(*form, "UnInterruptTimer")->isActive());
    EXPECT_EQ(form->OpenDialog1().Directory, dir.Path());
    EXPECT_EQ(form->OpenDialog1().FileName, dir.File("calls.txt"));
}

TEST_F(MainForm, FirstStartNoticeDeletesTheOutputSettingsAndLeavesThePortClosed) {
    for (const std::string& damaged : {std::string(), std::string(29, '\1')}) {
        SCOPED_TRACE(damaged.size());
        TRecorder rec;
        TTempDir d;
        WriteSettings(d, "AUTOSTART_1");
        if (damaged.empty())
            std::filesystem::remove(d.File("Tallyphon.cfg"));
        else
            WriteFile(d.File("Tallyphon.cfg"), damaged);
        auto ex = StartExchange(d.Path());
        auto f = CreateMainForm(d.Path());
        const std::vector<TShownMessage> expected = {
            {"Это первый запуск программы Tallyphon(возможно были удалены файлы конфигурации). "
             "Выберите пункт \"Настройки\" и установите номер СОМ-порта ",
             "Уведомление"}};
        EXPECT_EQ(rec.Messages(), expected);
        EXPECT_FALSE(Exists(d.File("TallyphonOut.cfg")));
        EXPECT_EQ(ReadFile(d.File("Tallyphon.cfg")), ConfigBytes(1, 1, 0));
        EXPECT_FALSE(f->Link()->PortOpen());
        EXPECT_TRUE(ex->Received().empty());
        EXPECT_EQ(PanelTexts(*f), std::vector<std::string>(6));
        // The paths read stay in memory; the start-up action is not run.
        EXPECT_EQ(f->Link()->Settings.TarifFileName, d.File("calls.txt"));
        EXPECT_FALSE(Child<QTimer>(*f, "UnInterruptTimer")->isActive());
        f.reset();
    }
}

TEST_F(MainForm, FirstStartLeadsThroughTheSettingsToASaveDialogForThisYearsFile) {
    Serve(Office());
    form = CreateMainForm(dir.Path(), port->Factory());
    ASSERT_EQ(recorder.Messages().size(), 1u);
    TOptionsForm options;
    form->SetOptionsForm(&options);
    bool settingsFirst = false;
    QTimer::singleShot(0, [&] {
        settingsFirst =
            QApplication::activeModalWidget() == &options && recorder.FileRequests().empty();
        options.reject();
    });
    recorder.QueueFileAnswer(dir.File("calls.txt"));
    form->FirstStartSettings();
    EXPECT_TRUE(settingsFirst);
    ASSERT_EQ(recorder.FileRequests().size(), 1u);
    const seam::TFileRequest request = recorder.FileRequests()[0];
    EXPECT_TRUE(request.Save);
    EXPECT_EQ(request.Filter, "Текстовые файлы (*.txt)");
    EXPECT_EQ(request.FileName,
              dir.File("calls-" + std::to_string(QDate::currentDate().year()) + ".txt"));
    EXPECT_EQ(form->Link()->Settings.TarifFileName, dir.File("calls.txt"));
    // A later start asks nothing.
    form.reset();
    form = CreateMainForm(dir.Path(), port->Factory());
    form->FirstStartSettings();
    EXPECT_EQ(recorder.FileRequests().size(), 1u);
}

struct TFailureRow {
    const char* name;
    const char* autoValue;
    bool portFails;  // else the exchange stays silent
    std::vector<TShownMessage> messages;
    bool closingTimer;
};

void PrintTo(const TFailureRow& r, std::ostream* os) {
    *os << r.name;
}

class StartUpFailure : public MainForm, public ::testing::WithParamInterface<TFailureRow> {};

TEST_P(StartUpFailure, MessageOnlyForAutoStart1AndClosingOnlyForAutoStart3) {
    const TFailureRow& row = GetParam();
    WriteSettings(dir, row.autoValue);
    Serve(Office());
    if (row.portFails) {
        std::filesystem::create_symlink(dir.File("no-such-device"), dir.File("COM1"));
        port->Device->SetName("");
    } else {
        exchange->SetSilent(true);
    }
    form = CreateMainForm(dir.Path(), port->Factory());
    auto expected = row.messages;
    // The link that leads nowhere is named.
    if (row.portFails && !expected.empty())
        expected[0].Text += "\nCOM1 в каталоге запуска указывает на " + dir.File("no-such-device") +
                            ", которого нет.";
    EXPECT_EQ(recorder.Messages(), expected);
    EXPECT_EQ(PanelTexts(*form), kDashes);
    EXPECT_EQ(Child<QProgressBar>(*form, "CGauge1")->maximum(), 100);
    EXPECT_EQ(Child<QProgressBar>(*form, "CGauge1")->value(), 0);
    // The computer's clock (the test does not run across midnight twice).
    EXPECT_LE(std::abs(Child<QDateEdit>(*form, "DatePicker")->date().daysTo(QDate::currentDate())),
              1);
    EXPECT_EQ(Child<QTimer>(*form, "UnInterruptTimer")->isActive(), row.closingTimer);
    EXPECT_EQ(Child<QTimer>(*form, "UnInterruptTimer")->interval(), 2000);
    EXPECT_EQ(form->AutoExit(), std::string(row.autoValue) == "AUTOSTART_1");
    EXPECT_TRUE(form->isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StartUpFailure,
    ::testing::Values(TFailureRow{"SilentAuto1", "", false, {kNoExchange}, false},
                      TFailureRow{"SilentAuto2", "AUTOSTART_UNINTERRUPT", false, {}, false},
                      TFailureRow{"SilentAuto3", "AUTOSTART_1", false, {}, true},
                      TFailureRow{"PortAuto1", "", true, {kPortError}, false},
                      TFailureRow{"PortAuto2", "AUTOSTART_UNINTERRUPT", true, {}, false},
                      TFailureRow{"PortAuto3", "AUTOSTART_1", true, {}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainForm, UnreadableSettingsAreReportedAndStartUpGoesOn) {
    WriteSettings(dir);
    std::filesystem::remove(dir.File("Tallyphon.cfg"));
    std::filesystem::create_directory(dir.File("Tallyphon.cfg"));
    form = CreateMainForm(dir.Path());
    ASSERT_GE(recorder.Messages().size(), 1u);
    EXPECT_EQ(recorder.Messages()[0],
              (TShownMessage{"Исключение при открытии/чтении файла конфигурации.", "Ошибка!"}));
    // No port number could be read: opening the port fails next.
    ASSERT_EQ(recorder.Messages().size(), 2u);
    EXPECT_EQ(recorder.Messages()[1], kPortError);
}

TEST(PortMessages, ASecondLineSaysWhyWhenItIsKnown) {
    const std::pair<uint32_t, std::string> rows[] = {
        {EACCES, "\nДля работы с СОМ-портом пользователь должен входить в группу dialout."},
        {EPERM, "\nДля работы с СОМ-портом пользователь должен входить в группу dialout."},
        {EBUSY, "\nСОМ-порт занят другой программой."},
        {ENOENT, ""},
        {0, ""}};
    for (const auto& [err, second] : rows)
        EXPECT_EQ(PortOpenErrorText(TPortError{8, err}), "Ошибка при открытии СОМ-порта." + second);
}

TEST_F(MainForm, LockAndUnlockToggleExactlyTheTenControls) {
    StartIdentified();
    std::vector<QObject*> locked = {Child<QAction>(*form, "SelectFileFromData_MenuItem"),
                                    Child<QAction>(*form, "Report_MenuItem"),
                                    Child<QAction>(*form, "LoadFromATSMenuItem"),
                                    Child<QAction>(*form, "ReadUninterruptMenuItem"),
                                    Child<QAction>(*form, "RealTime_MenuItem"),
                                    Child<QAction>(*form, "ClearListMenuItem"),
                                    Child<QAction>(*form, "OptionsMenuItem"),
                                    Child<QToolButton>(*form, "ReloadToolButton"),
                                    Child<QToolButton>(*form, "ReadDataToolButton")};
    std::vector<QObject*> always = {Child<QAction>(*form, "ExitMenuItem"),
                                    Child<QAction>(*form, "AboutMenuItem")};
    auto enabled = [](QObject* o) { return o->property("enabled").toBool(); };

    EXPECT_FALSE(enabled(Child<QToolButton>(*form, "StopToolButton")));
    form->LockControls();
    for (QObject* o : locked)
        EXPECT_FALSE(enabled(o)) << o->objectName().toStdString();
    for (QObject* o : always)
        EXPECT_TRUE(enabled(o)) << o->objectName().toStdString();
    EXPECT_TRUE(enabled(Child<QToolButton>(*form, "StopToolButton")));
    form->UnlockControls();
    for (QObject* o : locked)
        EXPECT_TRUE(enabled(o)) << o->objectName().toStdString();
    for (QObject* o : always)
        EXPECT_TRUE(enabled(o)) << o->objectName().toStdString();
    EXPECT_FALSE(enabled(Child<QToolButton>(*form, "StopToolButton")));
}

TEST_F(MainForm, StopEndsContinuousReadingAndUnlocks) {
    StartIdentified();
    TLowLevel& ll = *form->Link();
    for (bool continuous : {true, false}) {
        SCOPED_TRACE(continuous);
        ll.Reading.UnInterruptFlag = continuous;
        ll.Reading.StopFlag = false;
        form->SetUnInterruptPanel("Идет непрерывное считывание");
        form->LockControls();
        Child<QToolButton>(*form, "StopToolButton")->click();
        EXPECT_TRUE(ll.Reading.StopFlag);
        EXPECT_FALSE(ll.Reading.UnInterruptFlag);
        // Only continuous reading owns the panel's text.
        EXPECT_EQ(Child<QLabel>(*form, "UnInterruptPanel")->text().isEmpty(), continuous);
        EXPECT_TRUE(Child<QAction>(*form, "LoadFromATSMenuItem")->isEnabled());
        EXPECT_FALSE(Child<QToolButton>(*form, "StopToolButton")->isEnabled());
        EXPECT_TRUE(form->isVisible());
    }
}

TEST_F(MainForm, StopWithAutoExitClosesAtOnceAndTheReaderIsAskedToEnd) {
    StartIdentified();
    QSignalSpy closed(form.get(), &TMainForm::Closed);
    form->Link()->Settings.TarifFileName = dir.Path() + "/calls.txt";
    form->ReadUninterruptMenuItemClick();
    boost::shared_ptr<ReadATSThread> reader = form->Reader();
    ASSERT_TRUE(reader);
    EXPECT_TRUE(reader->isRunning());
    form->SetAutoExit(true);
    form->StopToolButtonClick();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(closed.count(), 1);
    EXPECT_TRUE(form->Link()->Reading.StopFlag);
    EXPECT_TRUE(reader->isInterruptionRequested());
    // Releasing the window waits for its reader, serving its hand-overs.
    form.reset();
    EXPECT_TRUE(reader->isFinished());
}

TEST_F(MainForm, ClosingTimerClosesTheWindow) {
    StartIdentified();
    QSignalSpy closed(form.get(), &TMainForm::Closed);
    Child<QTimer>(*form, "UnInterruptTimer")->start();
    form->UnInterruptTimerTimer();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(closed.count(), 1);
    EXPECT_FALSE(Child<QTimer>(*form, "UnInterruptTimer")->isActive());
}

struct TFileChoiceRow {
    const char* name;
    int answer;  // 0 the same file, 1 another file, 2 cancelled, 3 a name with a line end
    bool listKept;
};

void PrintTo(const TFileChoiceRow& r, std::ostream* os) {
    *os << r.name;
}

class FileChoice : public MainForm, public ::testing::WithParamInterface<TFileChoiceRow> {};

TEST_P(FileChoice, AnotherFileEmptiesTheListAndTheSettingsAreAlwaysRewritten) {
    const TFileChoiceRow& row = GetParam();
    StartIdentified();
    form->AddListLine("05-03-2007 14:02:07   00:01:35   12( 121)     200     5551234");
    std::filesystem::remove(dir.File("TallyphonOut.cfg"));
    const std::string other = dir.File("другой.txt");
    if (row.answer == 0) recorder.QueueFileAnswer(dir.File("calls.txt"));
    if (row.answer == 1) recorder.QueueFileAnswer(other);
    if (row.answer == 2) recorder.QueueFileAnswer(std::nullopt);
    if (row.answer == 3) recorder.QueueFileAnswer(dir.File("a\nAUTO=AUTOSTART_1"));
    Child<QAction>(*form, "SelectFileFromData_MenuItem")->trigger();

    ASSERT_EQ(recorder.FileRequests().size(), 1u);
    const seam::TFileRequest request = recorder.FileRequests()[0];
    EXPECT_TRUE(request.Save);
    EXPECT_EQ(request.Caption, "Сохранить");
    EXPECT_EQ(request.Filter, "Текстовые файлы (*.txt)");
    EXPECT_EQ(request.Directory, dir.Path());
    EXPECT_EQ(request.FileName, dir.File("calls.txt"));
    EXPECT_EQ(request.DefaultSuffix, "txt");
    EXPECT_EQ(Child<QListWidget>(*form, "ListBox1")->count(), row.listKept ? 1 : 0);
    const std::string path = row.answer == 1 ? other : dir.File("calls.txt");
    EXPECT_EQ(form->Link()->Settings.TarifFileName, path);
    EXPECT_EQ(ReadFile(dir.File("TallyphonOut.cfg")),
              "TARIF_FNAME=" + path + "\r\nREALTIME_FNAME=" + dir.File("rt.log") + "\r\nAUTO=");
    EXPECT_EQ(form->TarifFileNamePanel(1)->text().toStdString(), path);
    const std::vector<TShownMessage> refused = {
        {"Имя файла содержит перевод строки; такой файл нельзя выбрать для сохранения данных.",
         "Ошибка!"}};
    EXPECT_EQ(recorder.Messages(), row.answer == 3 ? refused : std::vector<TShownMessage>{});
    // The next dialog starts from the file chosen.
    recorder.QueueFileAnswer(std::nullopt);
    form->SelectFileFromData_MenuItemClick();
    EXPECT_EQ(recorder.FileRequests().back().FileName, path);
}

INSTANTIATE_TEST_SUITE_P(Rows, FileChoice,
                         ::testing::Values(TFileChoiceRow{"SameFile", 0, true},
                                           TFileChoiceRow{"AnotherFile", 1, false},
                                           TFileChoiceRow{"Cancelled", 2, true},
                                           TFileChoiceRow{"LineEndInName", 3, true}),
                         [](const auto& info) { return std::string(info.param.name); });

struct TModelRow {
    uint8_t type;
    const char* model;
    bool offered;
};

void PrintTo(const TModelRow& r, std::ostream* os) {
    *os << r.model;
}

class RealTimeCommand : public MainForm, public ::testing::WithParamInterface<TModelRow> {};

TEST_P(RealTimeCommand, OfferedOnlyForTheModelsThatReportLineStates) {
    const TModelRow& row = GetParam();
    StartIdentified(row.type);
    ASSERT_EQ(form->Link()->Identification().ModelName, row.model);
    TRealTimeForm realTime;
    form->SetRealTimeForm(&realTime);
    bool shownModal = false;
    QPoint shownAt;
    QTimer::singleShot(0, [&] {
        if (QApplication::activeModalWidget() == &realTime) {
            shownModal = true;
            shownAt = realTime.pos();
            realTime.reject();
        }
    });
    Child<QAction>(*form, "RealTime_MenuItem")->trigger();
    QApplication::processEvents();
    EXPECT_EQ(shownModal, row.offered);
    if (row.offered) {
        EXPECT_TRUE(recorder.Messages().empty());
        EXPECT_EQ(realTime.Link(), form->Link());
        EXPECT_EQ(shownAt, form->pos() + QPoint(20, 10));
    } else {
        const std::vector<TShownMessage> expected = {
            {"С данным типом АТС отслеживание соединений в реальном времени не работает.",
             "Предупреждение"}};
        EXPECT_EQ(recorder.Messages(), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Models, RealTimeCommand,
                         ::testing::Values(TModelRow{4, "QTV610", true},
                                           TModelRow{6, "QTV930-1", true},
                                           TModelRow{5, "QS800", false},
                                           TModelRow{9, "QS31", false}),
                         [](const auto& info) { return std::to_string(info.param.type); });

// A reading asked to stop ends before the monitor opens; an exchange that
// vanishes under the monitor freezes its view, and the next reading finds
// the exchange again.
TEST_F(MainForm, TheMonitorNeverSharesThePortAndLeavesItUsable) {
    WriteSettings(dir, "AUTOSTART_UNINTERRUPT");
    sim::TExchangeConfig c = Office();
    c.LineState = {0x01, 0x44, 0x05, 0x00, 0x00};
    Serve(c);
    form = CreateMainForm(dir.Path(), port->Factory());
    ASSERT_TRUE(form->Reader() && form->Reader()->isRunning());
    form->StopToolButtonClick();
    TRealTimeForm realTime;
    QListWidget* const listBox = Child<QListWidget>(realTime, "ListBox1");
    // The monitor's own pace is not at stake here.
    Child<QTimer>(realTime, "RealTimeTimer")->setInterval(10);
    form->SetRealTimeForm(&realTime);
    bool readerEnded = false;
    std::vector<QString> frozen, view;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QApplication::activeModalWidget() != &realTime) return;
        poll.stop();
        readerEnded = form->Reader()->isFinished();
        WaitUntil([&] { return listBox->count() == 2; });
        frozen = {listBox->item(0)->text(), listBox->item(1)->text()};
        exchange->Vanish();
        const uint64_t until = realTime.Runner().Started() + 2;
        WaitUntil(
            [&] { return realTime.Runner().Started() >= until && !realTime.Runner().Busy(); });
        for (int i = 0; i < listBox->count(); ++i)
            view.push_back(listBox->item(i)->text());
        exchange->Reappear();
        realTime.reject();
    });
    poll.start(10);
    Child<QAction>(*form, "RealTime_MenuItem")->trigger();
    EXPECT_TRUE(readerEnded);
    ASSERT_EQ(frozen.size(), 2u);
    // On the real clock: busy for the seconds the monitor has been open.
    EXPECT_TRUE(
        QRegularExpression("^АЛ205\\(0\\) \\[00:00:\\d\\d\\]   $").match(frozen[1]).hasMatch())
        << frozen[1].toStdString();
    EXPECT_EQ(view, frozen);

    Child<QAction>(*form, "LoadFromATSMenuItem")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return form->Reader()->isFinished(); }));
    EXPECT_EQ(recorder.Messages(), std::vector<TShownMessage>{});
    EXPECT_EQ(form->StatusBar1Panel(0)->text().toStdString(), "АТС: ОФИС");
}

TEST_F(MainForm, ReadAllEndsWithTheNumberOfCallsInTheStatusBar) {
    StartIdentified();
    auto* bar = Child<QStatusBar>(*form, "StatusBar1");
    Child<QAction>(*form, "LoadFromATSMenuItem")->trigger();
    EXPECT_TRUE(WaitUntil([&] { return !bar->currentMessage().isEmpty(); }));
    EXPECT_EQ(bar->currentMessage().toStdString(), "Считано звонков: 7");
    EXPECT_EQ(Child<QProgressBar>(*form, "CGauge1")->value(), 0);
    // Continuous reading has no end to count.
    bar->clearMessage();
    Child<QAction>(*form, "ReadUninterruptMenuItem")->trigger();
    Child<QAction>(*form, "StopMenuItem")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return form->Reader()->isFinished(); }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(bar->currentMessage().isEmpty());
}

TEST_F(MainForm, PickerTimerAdvancesTheTimeButNeverTheDate) {
    StartIdentified();
    EXPECT_TRUE(Child<QTimer>(*form, "PickerTimer")->isActive());
    EXPECT_EQ(Child<QTimer>(*form, "PickerTimer")->interval(), 1000);
    Child<QDateEdit>(*form, "DatePicker")->setDate(QDate(2007, 12, 31));
    Child<QTimeEdit>(*form, "TimePicker")->setTime(QTime(23, 59, 58, 500));
    form->PickerTimerTimer();
    EXPECT_EQ(Child<QTimeEdit>(*form, "TimePicker")->time(), QTime(23, 59, 59, 500));
    form->PickerTimerTimer();
    EXPECT_EQ(Child<QTimeEdit>(*form, "TimePicker")->time(), QTime(0, 0, 0, 500));
    EXPECT_EQ(Child<QDateEdit>(*form, "DatePicker")->date(), QDate(2007, 12, 31));
}

TEST_F(MainForm, ReloadReportsEveryFailureWhateverTheStartUpAction) {
    WriteSettings(dir, "AUTOSTART_UNINTERRUPT");
    Serve(Office());
    form = CreateMainForm(dir.Path(), port->Factory());
    // Continuous reading started silently; stop it and let its thread end.
    ASSERT_TRUE(recorder.Messages().empty());
    ASSERT_TRUE(form->Reader() && form->Reader()->isRunning());
    // A stop ends even a link test at once: let a call be shown first.
    ASSERT_TRUE(WaitUntil([&] { return Child<QListWidget>(*form, "ListBox1")->count() > 2; }));
    form->StopToolButtonClick();
    ASSERT_TRUE(WaitUntil([&] { return form->Reader()->isFinished(); }));

    exchange->SetSilent(true);
    Child<QToolButton>(*form, "ReloadToolButton")->click();
    EXPECT_EQ(recorder.Messages(), std::vector<TShownMessage>{kNoExchange});
    // The rejected-record panel keeps what the reading showed.
    auto dashes = kDashes;
    dashes[5] = "Отвергнуто записей: 0";
    EXPECT_EQ(PanelTexts(*form), dashes);

    exchange->SetSilent(false);
    Child<QToolButton>(*form, "ReloadToolButton")->click();
    EXPECT_EQ(recorder.Messages().size(), 1u);
    EXPECT_EQ(form->StatusBar1Panel(0)->text().toStdString(), "АТС: ОФИС");
    EXPECT_EQ(Child<QProgressBar>(*form, "CGauge1")->maximum(), 300);

    exchange->Stop();  // switched off, and its name leads nowhere
    std::filesystem::create_symlink(dir.File("no-such-device"), dir.File("COM1"));
    form->ReloadToolButtonClick();
    // The link that leads nowhere is named.
    const TShownMessage dangling = {kPortError.Text + "\nCOM1 в каталоге запуска указывает на " +
                                        dir.File("no-such-device") + ", которого нет.",
                                    kPortError.Caption};
    EXPECT_EQ(recorder.Messages().back(), dangling);
    EXPECT_FALSE(form->Link()->PortOpen());
}

TEST_F(MainForm, CallLinesMoveTheGaugeAndTheListEmptiesPastItsLimit) {
    StartIdentified();
    QStringList many;
    for (int i = 1; i < TMainForm::kMaxListLines; ++i)
        many << QString::number(i);
    Child<QListWidget>(*form, "ListBox1")->addItems(many);
    form->ShowCallLine("line 20000", 6, 2);
    EXPECT_EQ(Child<QListWidget>(*form, "ListBox1")->count(), TMainForm::kMaxListLines);
    EXPECT_EQ(Child<QListWidget>(*form, "ListBox1")->currentRow(), TMainForm::kMaxListLines - 1);
    EXPECT_EQ(Child<QProgressBar>(*form, "CGauge1")->value(), 6);
    EXPECT_EQ(form->StatusBar1Panel(4)->text().toStdString(), "В буфере : 6");
    EXPECT_EQ(form->StatusBar1Panel(5)->text().toStdString(), "Отвергнуто записей: 2");
    form->ShowCallLine("line 20001", 5, 2);
    EXPECT_EQ(Child<QListWidget>(*form, "ListBox1")->count(), 0);
    // The gauge stops at its minimum.
    Child<QProgressBar>(*form, "CGauge1")->setValue(0);
    form->ShowCallLine("one more", 4, 12345);
    EXPECT_EQ(Child<QProgressBar>(*form, "CGauge1")->value(), 0);
    // The rejected count can be read at the window's size.
    QApplication::processEvents();
    QLabel* rejected = form->StatusBar1Panel(5);
    EXPECT_GE(rejected->contentsRect().width(),
              rejected->fontMetrics().horizontalAdvance(rejected->text()))
        << rejected->width() << " of " << form->width();
    EXPECT_EQ(form->width(), 794);
    Child<QAction>(*form, "ClearListMenuItem")->trigger();
    EXPECT_EQ(Child<QListWidget>(*form, "ListBox1")->count(), 0);
}

TEST_F(MainForm, ExchangeInfoEmptiesTheContinuousPanelOnlyWhenNotReading) {
    StartIdentified();
    TLowLevel& ll = *form->Link();
    form->SetUnInterruptPanel("Идет непрерывное считывание");
    ll.Reading.UnInterruptFlag = true;
    form->Controller().ShowExchangeInfo(false);
    EXPECT_FALSE(Child<QLabel>(*form, "UnInterruptPanel")->text().isEmpty());
    ll.Reading.UnInterruptFlag = false;
    Child<QDateEdit>(*form, "DatePicker")->setDate(QDate(2020, 5, 5));
    form->Controller().ShowExchangeInfo(true);
    EXPECT_TRUE(Child<QLabel>(*form, "UnInterruptPanel")->text().isEmpty());
    // The link test passed: the pickers show the exchange's clock again.
    EXPECT_EQ(Child<QDateEdit>(*form, "DatePicker")->date(), QDate(2007, 1, 1));
}

TEST_F(MainForm, EveryControlIsFoundByItsName) {
    StartIdentified();
    for (const char* name : {"MainMenu1",
                             "SelectFileFromData_MenuItem",
                             "Report_MenuItem",
                             "ExitMenuItem",
                             "LoadFromATSMenuItem",
                             "ReadUninterruptMenuItem",
                             "RealTime_MenuItem",
                             "ClearListMenuItem",
                             "OptionsMenuItem",
                             "AboutMenuItem",
                             "ToolBar1",
                             "ReadDataToolButton",
                             "StopToolButton",
                             "ReloadToolButton",
                             "DatePicker",
                             "TimePicker",
                             "UnInterruptPanel",
                             "ListBox1",
                             "CGauge1",
                             "StatusBar1",
                             "TarifFileNameStatusBar",
                             "RealTimeFileNameStatusBar",
                             "StatusBar1_Panel5",
                             "UnInterruptTimer",
                             "PickerTimer"})
        EXPECT_NE(form->findChild<QObject*>(name), nullptr) << name;
    EXPECT_EQ(form->objectName(), "MainForm");
    EXPECT_EQ(Child<QToolButton>(*form, "StopToolButton")->toolTip().toStdString(),
              "Остановить  считывание");
    EXPECT_EQ(Child<QToolButton>(*form, "ReloadToolButton")->toolTip().toStdString(), "Обновить");
    EXPECT_EQ(Child<QToolButton>(*form, "ReadDataToolButton")->toolTip().toStdString(),
              "Считать все данные из АТС");
    EXPECT_EQ(Child<QToolButton>(*form, "ReadDataToolButton")->defaultAction(),
              Child<QAction>(*form, "LoadFromATSMenuItem"));
    EXPECT_EQ(Child<QLabel>(*form, "UnInterruptPanel")->width(), 410);
    EXPECT_EQ(Child<QProgressBar>(*form, "CGauge1")->orientation(), Qt::Vertical);
    EXPECT_FALSE(Child<QDateEdit>(*form, "DatePicker")->isEnabled());
    EXPECT_FALSE(Child<QTimeEdit>(*form, "TimePicker")->isEnabled());
    EXPECT_EQ(form->centralWidget()->size(),
              QSize(794, 490 - Child<QToolBar>(*form, "ToolBar1")->height()));
}

}  // namespace

TEST_F(MainForm, EveryCommandHasItsShortcutAndEveryMenuItsMnemonic) {
    StartIdentified();
    const std::pair<const char*, const char*> rows[] = {
        {"LoadFromATSMenuItem", "F5"}, {"ReadUninterruptMenuItem", "Ctrl+R"},
        {"StopMenuItem", "Esc"},       {"SelectFileFromData_MenuItem", "Ctrl+O"},
        {"Report_MenuItem", "Ctrl+L"}, {"RealTime_MenuItem", "Ctrl+M"},
        {"AboutMenuItem", "F1"},       {"ExitMenuItem", "Ctrl+Q"},
    };
    for (const auto& [name, key] : rows)
        EXPECT_EQ(Child<QAction>(*form, name)->shortcut().toString().toStdString(), key) << name;
    EXPECT_EQ(Child<QToolButton>(*form, "StopToolButton")->defaultAction(),
              Child<QAction>(*form, "StopMenuItem"));
    for (QAction* menu : form->menuBar()->actions())
        EXPECT_TRUE(menu->text().contains('&')) << menu->text().toStdString();
}
