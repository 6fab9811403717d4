// The real-time monitor and its grid over the simulated exchange on a
// pseudo-terminal: the view, the log file's bytes, errors told once, the
// file choice, a silent line, the grid's layout by model and its marks.
#include <gtest/gtest.h>

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
    void Start(uint8_t type = 4, sim::TLineStateFault fault = sim::TLineStateFault::None) {
        exchange = StartExchange(dir.Path(), Config(type, fault));
        link->Settings.StartDir = dir.Path();
        ASSERT_EQ(link->OpenPort("COM1"), TOpenResult::Opened);
        ASSERT_EQ(link->IdentifyExchange(), TIdentifyResult::Identified);
        form.SetLink(link);
        form.SetAdvancedForm(&grid);
        form.SetShowExchangeInfo([this] { ++refreshed; });
    }
    // Opens the port again, between two queries, on the device linked as
    // name, as after the adapter was plugged in anew.
    void Reopen(const std::string& name) {
        form.RealTimeTimer->stop();
        ASSERT_TRUE(WaitUntil([&] { return !form.Runner().Busy(); }));
        QCoreApplication::processEvents();
        ASSERT_EQ(link->ClosePort(), TCloseResult::Closed);
        ASSERT_EQ(link->OpenPort(name), TOpenResult::Opened);
        ASSERT_EQ(link->IdentifyExchange(), TIdentifyResult::Identified);
        form.RealTimeTimer->start();
    }
    // Serves events until the monitor has run n more queries.
    bool Queries(uint64_t n) {
        const uint64_t until = form.Runner().Started() + n;
        return WaitUntil([&] { return form.Runner().Started() >= until && !form.Runner().Busy(); });
    }

    TRecorder recorder;
    TTempDir dir;
    std::unique_ptr<sim::TSimExchange> exchange;
    boost::shared_ptr<TLowLevel> link = boost::make_shared<TLowLevel>();
    TRealTimeForm form;
    TRealTimeAdvancedForm grid{&form};
    int refreshed = 0;
};

TEST_F(RealTime, ShowsTheConnectionsAndAppendsThemToTheLog) {
    Start();
    const std::string path = dir.File("real_time.log");
    WriteFile(path, "earlier\r\n");
    link->Settings.RealTimeFileName = path;
    form.show();
    EXPECT_TRUE(form.RealTimeTimer->isActive());
    ASSERT_TRUE(form.WriteFileFlagCheckBox->isEnabled());
    form.UpDown1->setValue(1);
    EXPECT_EQ(form.StaticText1->text(), "1");
    form.WriteFileFlagCheckBox->click();
    ASSERT_TRUE(WaitUntil([&] { return CrLfLines(ReadFile(path)).size() >= 7; }));
    const std::vector<std::string> lines = CrLfLines(ReadFile(path));
    EXPECT_EQ(lines[0], "earlier");
    for (size_t block : {1, 4}) {
        EXPECT_EQ(lines[block].rfind(kStampBytes, 0), 0u) << lines[block];
        EXPECT_EQ(lines[block + 1], kEntry1);
        EXPECT_EQ(lines[block + 2], kEntry2);
    }
    ASSERT_EQ(form.ListBox1->count(), 3);
    EXPECT_EQ(form.ListBox1->item(1)->text(), "АЛ205(0)   СЛ204(1)   ");
    form.reject();
    EXPECT_FALSE(form.RealTimeTimer->isActive());
    EXPECT_TRUE(form.Log().IsOpen());
    EXPECT_TRUE(recorder.Messages().empty());
}

TEST_F(RealTime, ClosingCallsOffAQueryOverASilentLine) {
    Start();
    exchange->SetSilent(true);
    form.show();
    ASSERT_TRUE(WaitUntil([&] { return form.Runner().Busy(); }));
    // Such a query lasts seconds; the window closes at once all the same.
    EXPECT_LT(ElapsedMs([&] { form.reject(); }), 1500);
    EXPECT_FALSE(form.Runner().Busy());
    EXPECT_EQ(form.ListBox1->count(), 0);
}

TEST_F(RealTime, AnUnwritableLogIsToldOnceAndWritingSwitchedOff) {
    Start();
    link->Settings.RealTimeFileName = dir.File("missing/real_time.log");
    form.show();
    form.UpDown1->setValue(1);
    form.WriteFileFlagCheckBox->click();
    ASSERT_TRUE(WaitUntil([&] { return !recorder.Messages().empty(); }));
    ASSERT_TRUE(Queries(2));
    const std::vector<TShownMessage> expected = {
        {"Не удалось открыть файл отслеживания соединений \"" + dir.File("missing/real_time.log") +
             "\". Запись в файл выключена.",
         "Ошибка"}};
    EXPECT_EQ(recorder.Messages(), expected);
    EXPECT_FALSE(form.WriteFileFlagCheckBox->isChecked());
}

TEST_F(RealTime, AChosenLogFileIsStoredShownAndTakesOverFromTheOpenOne) {
    Start();
    form.show();
    EXPECT_FALSE(form.WriteFileFlagCheckBox->isEnabled());
    const std::string first = dir.File("first.log"), second = dir.File("second.log");
    recorder.QueueFileAnswer(first);
    form.N2->trigger();
    EXPECT_EQ(recorder.FileRequests().at(0).FileName, "real_time.log");
    EXPECT_EQ(recorder.FileRequests().at(0).DefaultSuffix, "log");
    ASSERT_TRUE(form.WriteFileFlagCheckBox->isEnabled());
    form.UpDown1->setValue(1);
    form.WriteFileFlagCheckBox->click();
    ASSERT_TRUE(WaitUntil([&] { return form.Log().IsOpen(); }));

    recorder.QueueFileAnswer(second);
    form.N2->trigger();
    EXPECT_EQ(recorder.FileRequests().at(1).FileName, first);
    EXPECT_EQ(recorder.FileRequests().at(1).Directory, dir.Path());
    EXPECT_FALSE(form.Log().OpenName() == first);
    EXPECT_EQ(link->Settings.RealTimeFileName, second);
    EXPECT_EQ(form.WriteFileFlagCheckBox->text().toStdString(), "Записывать в файл: " + second);
    EXPECT_NE(ReadFile(dir.File("TallyphonOut.cfg")).find("REALTIME_FNAME=" + second + "\r\n"),
              std::string::npos);
    EXPECT_EQ(refreshed, 2);
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(second).size() > 0; }));
}

TEST_F(RealTime, WithoutAnAnswerTheViewStaysMarkedAndNothingIsLogged) {
    Start(4, sim::TLineStateFault::NoReply);
    const auto answering = StartExchange(dir.Path(), Config(4), "COM2");
    const std::string path = dir.File("real_time.log");
    link->Settings.RealTimeFileName = path;
    form.show();
    form.UpDown1->setValue(1);
    form.WriteFileFlagCheckBox->click();
    ASSERT_TRUE(Queries(2));
    // No answer yet: the time of the first query.
    EXPECT_TRUE(form.StaleLabel->isVisible());
    EXPECT_TRUE(QRegularExpression("^Нет ответа от АТС с \\d\\d:\\d\\d:\\d\\d$")
                    .match(form.StaleLabel->text())
                    .hasMatch());
    EXPECT_EQ(form.ListBox1->count(), 0);
    EXPECT_FALSE(Exists(path));

    Reopen("COM2");
    ASSERT_TRUE(WaitUntil([&] { return CrLfLines(ReadFile(path)).size() >= 3; }));
    EXPECT_FALSE(form.StaleLabel->isVisible());

    Reopen("COM1");
    const QString shown = form.ListBox1->item(0)->text();
    const std::string logged = ReadFile(path);
    ASSERT_TRUE(Queries(2));
    EXPECT_TRUE(form.StaleLabel->isVisible());
    EXPECT_EQ(form.StaleLabel->text(), "Нет ответа от АТС с " + shown.right(8));
    EXPECT_EQ(form.ListBox1->item(0)->text(), shown);
    EXPECT_EQ(ReadFile(path), logged);
}

TEST_F(RealTime, ResumesByItselfWhenTheDeviceComesBack) {
    Start();
    form.show();
    ASSERT_TRUE(WaitUntil([&] { return form.ListBox1->count() == 3; }));
    exchange->Vanish();
    ASSERT_TRUE(WaitUntil([&] { return form.StaleLabel->isVisible(); }));
    exchange->Reappear();
    ASSERT_TRUE(WaitUntil([&] { return !form.StaleLabel->isVisible(); }));
    EXPECT_EQ(form.ListBox1->count(), 3);
    form.reject();
}

TEST_F(RealTime, TheGridOpensBesideTheMonitorAndClosesWithIt) {
    Start();
    // Partly off the left of the 800-pixel offscreen screen: room on its right.
    form.move(-300, 100);
    form.show();
    ASSERT_TRUE(WaitUntil([&] { return form.ListBox1->count() == 3; }));
    form.SpeedButton1->click();
    ASSERT_TRUE(grid.isVisible());
    EXPECT_FALSE(grid.frameGeometry().intersects(form.frameGeometry()));
    EXPECT_GT(grid.x(), form.x());
    EXPECT_EQ(grid.y(), form.y());

    form.reject();
    EXPECT_FALSE(grid.isVisible());
    EXPECT_TRUE(grid.MarkedLines().empty());
    form.show();
    form.SpeedButton1->click();
    EXPECT_TRUE(grid.isVisible());
    form.reject();
}

struct TGridRow {
    uint8_t type;
    int columns;
    const char* lastTens;
    QSize size;
};

class GridLayout : public RealTime, public ::testing::WithParamInterface<TGridRow> {};

TEST_P(GridLayout, ByModelWithTheConnectedLinesMarked) {
    const TGridRow& row = GetParam();
    Start(row.type);
    form.show();
    ASSERT_TRUE(WaitUntil([&] { return form.ListBox1->count() == 3; }));
    form.SpeedButton1->click();
    ASSERT_TRUE(grid.isVisible());
    EXPECT_EQ(grid.StringGrid1->columnCount(), row.columns);
    EXPECT_EQ(grid.StringGrid1->rowCount(), 11);
    EXPECT_EQ(grid.StringGrid1->item(0, 1)->text(), "200");
    EXPECT_EQ(grid.StringGrid1->item(0, row.columns - 1)->text(), row.lastTens);
    EXPECT_EQ(grid.StringGrid1->item(10, 0)->text(), "9");
    EXPECT_EQ(grid.size(), row.size);
    EXPECT_EQ(grid.MarkedLines(), std::vector<int>{205});
    EXPECT_EQ(grid.StringGrid1->item(6, 1)->toolTip(), "СЛ204(1)");
    form.SpeedButton1->click();
    EXPECT_FALSE(grid.isVisible());
}

INSTANTIATE_TEST_SUITE_P(Models, GridLayout,
                         ::testing::Values(TGridRow{4, 13, "310", QSize(413, 186)},
                                           TGridRow{6, 16, "340", QSize(506, 186)}),
                         [](const auto& info) { return std::to_string(info.param.type); });

}  // namespace
