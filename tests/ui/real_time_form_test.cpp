// The real-time monitor and its grid over the simulated exchange in memory,
// on the test clock: the view, the log file's bytes, errors told once, the
// file choice, a silent line, the grid's layout by model and its marks; a
// device lost and back over a pseudo-terminal.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <boost/make_shared.hpp>

#include "tests/common/recorder.h"
#include "tests/common/sim_line.h"
#include "tests/common/test_clock.h"
#include "tests/ui/ui_test_support.h"
#include "ui/real_time_advanced_form.h"
#include "ui/real_time_form.h"

using namespace testing_support;
using namespace ui_test;

namespace {

// "****** Дата и время считывания: " in Windows-1251.
const std::string kStampBytes =
    "****** \xC4\xE0\xF2\xE0 \xE8 \xE2\xF0\xE5\xEC\xFF \xF1\xF7\xE8\xF2\xFB\xE2\xE0\xED\xE8\xFF: ";
// "АЛ205(0)   СЛ204(1)   " and "ГГС200(3)   " in Windows-1251.
const std::string kEntry1 =
    "\xC0\xCB"
    "205(0)   \xD1\xCB"
    "204(1)   ";
const std::string kEntry2 =
    "\xC3\xC3\xD1"
    "200(3)   ";

std::vector<std::string> CrLfLines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t at = 0;
    for (size_t end; (end = bytes.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(bytes.substr(at, end - at));
    return lines;
}

// The simulated line whose reads can be held until the monitor calls off
// its query: a query over it then stays under way as long as a test needs.
class THeldLine : public TSimLine {
  public:
    using TSimLine::TSimLine;
    int ReadWithin(int timeoutMs) override {
        if (holdUntil) {
            held = true;
            static_cast<void>(WaitFor(holdUntil));
        }
        return TSimLine::ReadWithin(timeoutMs);
    }
    // Set before a query starts; read on the query's thread.
    std::function<bool()> holdUntil;
    std::atomic<bool> held{false};
};

class RealTime : public ::testing::Test {
  protected:
    static sim::TExchangeConfig Config(uint8_t type,
                                       sim::TLineStateFault fault = sim::TLineStateFault::None) {
        sim::TExchangeConfig c;
        c.TypeCode = type;
        c.LineState = {0x02, 0x44, 0x05, 0x00, 0x46, 0x02, 0x01, 0x01, 0x47, 0x00, 0x03, 0x00};
        c.LineStateFault = fault;
        return c;
    }
    // The exchange in memory, on the test clock. The monitor's timer keeps
    // running while the window is open but never fires by itself: Ticks
    // stands for its seconds.
    void Start(uint8_t type = 4, sim::TLineStateFault fault = sim::TLineStateFault::None) {
        exchange.Config() = Config(type, fault);
        ASSERT_TRUE(exchange.StartInMemory(TTestClock::kStart));
        ASSERT_EQ(link->IdentifyExchange(), TIdentifyResult::Identified);
        EXPECT_EQ(RealTimeTimer->interval(), 1000);
        RealTimeTimer->setInterval(std::chrono::hours(24));
        Attach();
    }
    // The exchange on a pseudo-terminal, on the real clock and timer.
    void StartOnAPort() {
        portExchange = StartExchange(dir.Path(), Config(4));
        link = boost::make_shared<TLowLevel>();
        link->Settings.StartDir = dir.Path();
        ASSERT_EQ(link->OpenPort("COM1"), TOpenResult::Opened);
        ASSERT_EQ(link->IdentifyExchange(), TIdentifyResult::Identified);
        Attach();
    }
    void Attach() {
        link->Settings.StartDir = dir.Path();
        form.SetLink(link);
        form.SetAdvancedForm(&grid);
        form.SetShowExchangeInfo([this] { ++refreshed; });
    }
    // n seconds of the monitor: each tick's query has run and its outcome
    // been shown before the next.
    bool Ticks(int n) {
        for (int i = 0; i < n; ++i) {
            clock.Advance(std::chrono::seconds(1));
            form.RealTimeTimerTimer();
            if (!WaitUntil([&] { return !form.Runner().Busy(); })) return false;
            QCoreApplication::processEvents();
        }
        return true;
    }

    TRecorder recorder;
    TTempDir dir;
    sim::TSimExchange exchange;
    TTestClock clock;
    THeldLine line{exchange, clock};
    boost::shared_ptr<TLowLevel> link = boost::make_shared<TLowLevel>(line, clock);
    std::unique_ptr<sim::TSimExchange> portExchange;
    TRealTimeForm form;
    TRealTimeAdvancedForm grid{&form};
    QListWidget* const ListBox1 = Child<QListWidget>(form, "ListBox1");
    QTimer* const RealTimeTimer = Child<QTimer>(form, "RealTimeTimer");
    QCheckBox* const WriteFileFlagCheckBox = Child<QCheckBox>(form, "WriteFileFlagCheckBox");
    QLabel* const StaticText1 = Child<QLabel>(form, "StaticText1");
    QLabel* const StaleLabel = Child<QLabel>(form, "StaleLabel");
    QSpinBox* const UpDown1 = Child<QSpinBox>(form, "UpDown1");
    QPushButton* const SpeedButton1 = Child<QPushButton>(form, "SpeedButton1");
    QAction* const N2 = Child<QAction>(form, "N2");
    QTableWidget* const StringGrid1 = Child<QTableWidget>(grid, "StringGrid1");
    int refreshed = 0;
};

TEST_F(RealTime, ShowsTheConnectionsAndAppendsThemToTheLog) {
    Start();
    const std::string path = dir.File("real_time.log");
    WriteFile(path, "earlier\r\n");
    link->Settings.RealTimeFileName = path;
    form.show();
    EXPECT_TRUE(RealTimeTimer->isActive());
    ASSERT_TRUE(WriteFileFlagCheckBox->isEnabled());
    UpDown1->setValue(1);
    EXPECT_EQ(StaticText1->text(), "1");
    WriteFileFlagCheckBox->click();
    ASSERT_TRUE(Ticks(2));
    const std::vector<std::string> lines = CrLfLines(ReadFile(path));
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "earlier");
    for (size_t block : {1, 4}) {
        EXPECT_EQ(lines[block].rfind(kStampBytes, 0), 0u) << lines[block];
        EXPECT_EQ(lines[block + 1], kEntry1);
        EXPECT_EQ(lines[block + 2], kEntry2);
    }
    ASSERT_EQ(ListBox1->count(), 3);
    EXPECT_EQ(ListBox1->item(1)->text(), "АЛ205(0) [00:00:01]   СЛ204(1) [00:00:01]   ");
    form.reject();
    EXPECT_FALSE(RealTimeTimer->isActive());
    EXPECT_TRUE(form.Log().IsOpen());
    EXPECT_TRUE(recorder.Messages().empty());
}

TEST_F(RealTime, ClosingCallsOffAQueryOverASilentLine) {
    Start();
    exchange.SetSilent(true);
    line.holdUntil = [this] { return form.Runner().CallingOff(); };
    form.show();
    form.RealTimeTimerTimer();
    ASSERT_TRUE(WaitUntil([&] { return line.held.load(); }));
    const IClock::TTimePoint heldAt = clock.Now();
    form.reject();
    EXPECT_FALSE(form.Runner().Busy());
    QCoreApplication::processEvents();
    // Such a query lasts seconds; called off, it ends within one echo's
    // wait, and its outcome is dropped.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(clock.Now() - heldAt).count(),
              1000);
    EXPECT_TRUE(StaleLabel->isHidden());
    EXPECT_EQ(ListBox1->count(), 0);
}

TEST_F(RealTime, AnUnwritableLogIsToldOnceAndWritingSwitchedOff) {
    Start();
    link->Settings.RealTimeFileName = dir.File("missing/real_time.log");
    form.show();
    UpDown1->setValue(1);
    WriteFileFlagCheckBox->click();
    ASSERT_TRUE(Ticks(3));
    const std::vector<TShownMessage> expected = {
        {"Не удалось открыть файл отслеживания соединений \"" + dir.File("missing/real_time.log") +
             "\". Запись в файл выключена.",
         "Ошибка"}};
    EXPECT_EQ(recorder.Messages(), expected);
    EXPECT_FALSE(WriteFileFlagCheckBox->isChecked());
}

TEST_F(RealTime, AChosenLogFileIsStoredShownAndTakesOverFromTheOpenOne) {
    Start();
    form.show();
    EXPECT_FALSE(WriteFileFlagCheckBox->isEnabled());
    const std::string first = dir.File("first.log"), second = dir.File("second.log");
    recorder.QueueFileAnswer(first);
    N2->trigger();
    EXPECT_EQ(recorder.FileRequests().at(0).FileName, "real_time.log");
    EXPECT_EQ(recorder.FileRequests().at(0).DefaultSuffix, "log");
    ASSERT_TRUE(WriteFileFlagCheckBox->isEnabled());
    UpDown1->setValue(1);
    WriteFileFlagCheckBox->click();
    ASSERT_TRUE(Ticks(1));
    ASSERT_TRUE(form.Log().IsOpen());

    recorder.QueueFileAnswer(second);
    N2->trigger();
    EXPECT_EQ(recorder.FileRequests().at(1).FileName, first);
    EXPECT_EQ(recorder.FileRequests().at(1).Directory, dir.Path());
    EXPECT_FALSE(form.Log().OpenName() == first);
    EXPECT_EQ(link->Settings.RealTimeFileName, second);
    EXPECT_EQ(WriteFileFlagCheckBox->text().toStdString(), "Записывать в файл: " + second);
    EXPECT_NE(ReadFile(dir.File("TallyphonOut.cfg")).find("REALTIME_FNAME=" + second + "\r\n"),
              std::string::npos);
    EXPECT_EQ(refreshed, 2);
    ASSERT_TRUE(Ticks(1));
    EXPECT_GT(ReadFile(second).size(), 0u);
}

TEST_F(RealTime, WithoutAnAnswerTheViewStaysMarkedAndNothingIsLogged) {
    Start(4, sim::TLineStateFault::NoReply);
    const std::string path = dir.File("real_time.log");
    link->Settings.RealTimeFileName = path;
    form.show();
    UpDown1->setValue(1);
    WriteFileFlagCheckBox->click();
    ASSERT_TRUE(Ticks(2));
    // No answer yet: the time of the first query.
    EXPECT_TRUE(StaleLabel->isVisible());
    EXPECT_TRUE(QRegularExpression("^Нет ответа от АТС с \\d\\d:\\d\\d:\\d\\d$")
                    .match(StaleLabel->text())
                    .hasMatch());
    EXPECT_EQ(ListBox1->count(), 0);
    EXPECT_FALSE(Exists(path));

    exchange.Config().LineStateFault = sim::TLineStateFault::None;
    ASSERT_TRUE(Ticks(1));
    EXPECT_EQ(CrLfLines(ReadFile(path)).size(), 3u);
    EXPECT_FALSE(StaleLabel->isVisible());

    exchange.Config().LineStateFault = sim::TLineStateFault::NoReply;
    const QString shown = ListBox1->item(0)->text();
    const std::string logged = ReadFile(path);
    ASSERT_TRUE(Ticks(2));
    EXPECT_TRUE(StaleLabel->isVisible());
    EXPECT_EQ(StaleLabel->text(), "Нет ответа от АТС с " + shown.right(8));
    EXPECT_EQ(ListBox1->item(0)->text(), shown);
    EXPECT_EQ(ReadFile(path), logged);
}

// Over a pseudo-terminal: only a real port is lost and opened again.
TEST_F(RealTime, ResumesByItselfWhenTheDeviceComesBack) {
    StartOnAPort();
    form.show();
    ASSERT_TRUE(WaitUntil([&] { return ListBox1->count() == 3; }));
    portExchange->Vanish();
    ASSERT_TRUE(WaitUntil([&] { return StaleLabel->isVisible(); }));
    portExchange->Reappear();
    ASSERT_TRUE(WaitUntil([&] { return !StaleLabel->isVisible(); }));
    EXPECT_EQ(ListBox1->count(), 3);
    form.reject();
}

TEST_F(RealTime, TheGridOpensBesideTheMonitorAndClosesWithIt) {
    Start();
    // Partly off the left of the 800-pixel offscreen screen: room on its right.
    form.move(-300, 100);
    form.show();
    ASSERT_TRUE(Ticks(1));
    ASSERT_EQ(ListBox1->count(), 3);
    SpeedButton1->click();
    ASSERT_TRUE(grid.isVisible());
    EXPECT_FALSE(grid.frameGeometry().intersects(form.frameGeometry()));
    EXPECT_GT(grid.x(), form.x());
    EXPECT_EQ(grid.y(), form.y());

    form.reject();
    EXPECT_FALSE(grid.isVisible());
    EXPECT_TRUE(grid.MarkedLines().empty());
    form.show();
    SpeedButton1->click();
    EXPECT_TRUE(grid.isVisible());
    form.reject();
}

// The view and the grid show since when each line and trunk is busy,
// counted from the poll that first saw it; one seen free starts anew. The
// tracker's hook hears every poll that answered.
TEST_F(RealTime, TheViewAndTheGridShowHowLongEachLineHasBeenBusy) {
    Start();
    std::vector<size_t> told;
    form.BusyTracker().SetAfterPoll(
        [&](const std::vector<TBusyConnection>& busy) { told.push_back(busy.size()); });
    form.show();
    ASSERT_TRUE(Ticks(1));
    ASSERT_EQ(ListBox1->count(), 3);
    EXPECT_EQ(ListBox1->item(1)->text(), "АЛ205(0) [00:00:00]   СЛ204(1) [00:00:00]   ");
    EXPECT_EQ(ListBox1->item(2)->text(), "ГГС200(3)   ");
    clock.Advance(std::chrono::minutes(2));
    ASSERT_TRUE(Ticks(1));
    EXPECT_EQ(ListBox1->item(1)->text(), "АЛ205(0) [00:02:01]   СЛ204(1) [00:02:01]   ");
    SpeedButton1->click();
    EXPECT_EQ(StringGrid1->item(6, 1)->toolTip(), "занята 00:02:01; СЛ204(1)");

    // Line 205 hangs up; the trunk goes on with line 207.
    exchange.Config().LineState = {0x02, 0x44, 0x07, 0x00, 0x46, 0x02, 0x01, 0x00};
    ASSERT_TRUE(Ticks(1));
    ASSERT_EQ(ListBox1->count(), 2);
    EXPECT_EQ(ListBox1->item(1)->text(), "АЛ207(0) [00:00:00]   СЛ204(1) [00:02:02]   ");
    EXPECT_EQ(grid.MarkedLines(), std::vector<int>{207});
    exchange.Config().LineState = Config(4).LineState;
    ASSERT_TRUE(Ticks(1));
    EXPECT_EQ(ListBox1->item(1)->text(), "АЛ205(0) [00:00:00]   СЛ204(1) [00:02:03]   ");
    EXPECT_EQ(told, (std::vector<size_t>{2, 2, 2, 2}));
    form.reject();
    EXPECT_TRUE(form.BusyTracker().Busy().empty());
}

// The windows keep their widgets; tests and the fixture find them by name.
TEST_F(RealTime, TheWidgetsGoByTheirNames) {
    for (const char* name : {"MainMenu1", "N1", "Label1"})
        EXPECT_NE(form.findChild<QObject*>(name), nullptr) << name;
    EXPECT_EQ(form.objectName(), "RealTimeForm");
    EXPECT_EQ(grid.objectName(), "RealTimeAdvancedForm");
}

struct TGridRow {
    uint8_t type;
    int columns;
    const char* lastTens;
    QSize size;
};

void PrintTo(const TGridRow& r, std::ostream* os) {
    *os << int(r.type);
}

class GridLayout : public RealTime, public ::testing::WithParamInterface<TGridRow> {};

TEST_P(GridLayout, ByModelWithTheConnectedLinesMarked) {
    const TGridRow& row = GetParam();
    Start(row.type);
    form.show();
    ASSERT_TRUE(Ticks(1));
    ASSERT_EQ(ListBox1->count(), 3);
    SpeedButton1->click();
    ASSERT_TRUE(grid.isVisible());
    EXPECT_EQ(StringGrid1->columnCount(), row.columns);
    EXPECT_EQ(StringGrid1->rowCount(), 11);
    EXPECT_EQ(StringGrid1->item(0, 1)->text(), "200");
    EXPECT_EQ(StringGrid1->item(0, row.columns - 1)->text(), row.lastTens);
    EXPECT_EQ(StringGrid1->item(10, 0)->text(), "9");
    EXPECT_EQ(grid.size(), row.size);
    EXPECT_EQ(grid.MarkedLines(), std::vector<int>{205});
    EXPECT_EQ(StringGrid1->item(6, 1)->toolTip(), "занята 00:00:00; СЛ204(1)");
    SpeedButton1->click();
    EXPECT_FALSE(grid.isVisible());
}

INSTANTIATE_TEST_SUITE_P(Models, GridLayout,
                         ::testing::Values(TGridRow{4, 13, "310", QSize(413, 186)},
                                           TGridRow{6, 16, "340", QSize(506, 186)}),
                         [](const auto& info) { return std::to_string(info.param.type); });

}  // namespace
