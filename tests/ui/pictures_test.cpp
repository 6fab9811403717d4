// Pictures of the main window after identification, of the settings dialog,
// of the About window and of the real-time monitor with its grid, saved as PNG files under the
// build directory (UI_PICTURES_DIR) for a person to look at.
#include <gtest/gtest.h>

#include <filesystem>

#include <QAction>
#include <QApplication>
#include <QChartView>
#include <QCheckBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPixmap>
#include <QPrintPreviewDialog>
#include <QPushButton>
#include <QTimer>
#include <boost/make_shared.hpp>

#include "tests/billing/bill_sample.h"
#include "tests/common/recorder.h"
#include "tests/common/sim_line.h"
#include "tests/common/test_clock.h"
#include "tests/reports/report_sample.h"
#include "tests/ui/ui_test_support.h"
#include "tools/gen_calllog/calllog_gen.h"
#include "ui/about_form.h"
#include "ui/bill_form.h"
#include "ui/charts_form.h"
#include "ui/main_form.h"
#include "ui/main_form_rep.h"
#include "ui/options_form.h"
#include "ui/real_time_advanced_form.h"
#include "ui/real_time_form.h"

using namespace testing_support;
using namespace ui_test;

namespace {

void Save(QWidget& w, const std::string& name) {
    QApplication::processEvents();
    const QPixmap picture = w.grab();
    ASSERT_FALSE(picture.isNull()) << name;
    const std::string path = std::string(UI_PICTURES_DIR) + "/" + name;
    ASSERT_TRUE(picture.save(QString::fromStdString(path), "PNG")) << path;
    std::cout << "picture: " << path << "\n";
}

TEST(Pictures, MainWindowSettingsAndAbout) {
    std::filesystem::create_directories(UI_PICTURES_DIR);
    TRecorder recorder;
    TTempDir dir;
    WriteSettings(dir);
    sim::TExchangeConfig c;
    c.TypeCode = 6;
    c.Name = "\xCE\xD4\xC8\xD1";
    c.Units[0].Capacity = 500;
    c.Units[0].Records.assign(180, {0x01, 0x02});
    auto exchange = StartExchange(dir.Path(), c);
    auto main = CreateMainForm(dir.Path());
    ASSERT_TRUE(recorder.Messages().empty());
    main->AddListLine("       Данные на  01-01-2007 00:00:00 ");
    main->AddListLine("       Начало         Продолжит   Абонент      СЛ     Номер");
    main->AddListLine(
        "05-03-2007 14:02:07   00:01:35   12( 121)     200     5551234              ");
    main->SetUnInterruptPanel("Идет непрерывное считывание");
    Save(*main, "main_form.png");

    TOptionsForm options;
    options.SetSettings(main->Controller().CurrentOptions());
    options.show();
    Save(options, "options_form.png");

    TAboutForm about;
    about.show();
    Save(about, "about_form.png");
    main.reset();
}

TEST(Pictures, ReportWindowLoadedAndQueried) {
    std::filesystem::create_directories(UI_PICTURES_DIR);
    TRecorder recorder;
    TTempDir dir;
    WriteFile(dir.File("calls.txt"), ReportSampleFile());
    TMainForm_rep report;
    report.show();
    recorder.QueueFileAnswer(dir.File("calls.txt"));
    report.findChild<QAction*>("Load")->trigger();
    ASSERT_TRUE(recorder.Messages().empty());
    Save(report, "report_form.png");
    report.findChild<QAction*>("N1")->trigger();
    Save(report, "report_query.png");
}

TEST(Pictures, ReportWindowWithTariffsAndAPeriod) {
    std::filesystem::create_directories(UI_PICTURES_DIR);
    TRecorder recorder;
    TTempDir dir;
    WriteFile(dir.File("calls.txt"), ReportSampleFile());
    WriteFile(dir.File("tariffs.csv"), "8;Межгород;5,50;;60;60\n*;Город;1,00;0,10;60;60;5\n");
    WriteFile(dir.File("subscribers.csv"), "201;Петров П.;Бухгалтерия\n17;Иванова А.;Склад\n");
    TMainForm_rep report;
    report.SetDialogsDir(dir.Path());
    report.show();
    report.resize(1040, 600);  // the cost columns in view
    for (const char* file : {"calls.txt", "tariffs.csv", "subscribers.csv"}) {
        recorder.QueueFileAnswer(dir.File(file));
        const char* item = file[0] == 'c'   ? "Load"
                           : file[0] == 't' ? "TariffsMenuItem"
                                            : "DirectoryMenuItem";
        report.findChild<QAction*>(item)->trigger();
    }
    report.findChild<QCheckBox*>("FromCheck")->setChecked(true);
    report.findChild<QDateEdit*>("FromDate")->setDate(QDate(2007, 3, 6));
    ASSERT_TRUE(recorder.Messages().empty());
    Save(report, "report_tariffs.png");
}

TEST(Pictures, ChartsOfAnOfficeMonth) {
    std::filesystem::create_directories(UI_PICTURES_DIR);
    TRecorder recorder;
    TTempDir dir;
    // March 2007 on working days, 8:00 to 19:00, from the sample generator.
    std::string file = TitleLine(2007, 3, 1, 8, 0, 0) + "\r\n" + ColumnLine() + "\r\n";
    TCallGenerator calls(7);
    for (TGenCall c = calls.Next(); c.Month == 3; c = calls.Next()) {
        const int weekday = (c.Day + 3) % 7;  // 1 March 2007 was a Thursday: 4
        if (weekday == 6 || weekday == 0 || c.Hour < 8 || c.Hour >= 19) continue;
        c.DateInvalid = c.TimeInvalid = false;
        file += FormatStandardLine(c) + "\r\n";
    }
    WriteFile(dir.File("month.txt"), file);
    TMainForm_rep report;
    report.show();
    recorder.QueueFileAnswer(dir.File("month.txt"));
    report.findChild<QAction*>("Load")->trigger();
    report.findChild<QAction*>("ChartsMenuItem")->trigger();
    auto* charts = report.findChild<TChartsForm*>();
    ASSERT_NE(charts, nullptr);
    ASSERT_TRUE(recorder.Messages().empty());
    Save(*charts, "charts_form.png");
    Save(*charts->findChild<QChartView*>("HourChart"), "chart_hours.png");
    Save(*charts->findChild<QChartView*>("DayChart"), "chart_days.png");
    Save(*charts->findChild<QChartView*>("LinesChart"), "chart_lines.png");
    Save(*charts->findChild<QChartView*>("TrunksChart"), "chart_trunks.png");
}

TEST(Pictures, BillWindowAndItsPrintPreview) {
    std::filesystem::create_directories(UI_PICTURES_DIR);
    TBillForm form;
    form.SetBill(BillSample(), BillSampleTitle());
    form.show();
    Save(form, "bill_form.png");
    // The preview is modal: pictured and closed from inside its own loop,
    // or given up after a deadline.
    bool pictured = false;
    QElapsedTimer waited;
    waited.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &form, [&] {
        auto* preview = form.findChild<QPrintPreviewDialog*>("PrintPreview");
        if (!preview || !preview->isVisible()) {
            if (preview && waited.elapsed() > 30000) preview->reject();
            return;
        }
        poll.stop();
        Save(*preview, "bill_preview.png");
        // Not blank: the page below the tool bar has dark text on it.
        const QImage image = preview->grab().toImage();
        int dark = 0;
        for (int y = image.height() / 4; y < image.height(); y += 2)
            for (int x = 0; x < image.width(); x += 2)
                dark += qGray(image.pixel(x, y)) < 80;
        pictured = dark > 50;
        preview->reject();
    });
    poll.start(10);
    Child<QPushButton>(form, "PrintButton")->click();
    EXPECT_TRUE(pictured);
}

TEST(Pictures, RealTimeMonitorAndGrid) {
    std::filesystem::create_directories(UI_PICTURES_DIR);
    TRecorder recorder;
    TTempDir dir;
    sim::TSimExchange exchange;
    exchange.Config().TypeCode = 6;
    TTestClock clock;
    TSimLine line(exchange, clock);
    ASSERT_TRUE(exchange.StartInMemory(TTestClock::kStart));
    // Four calls in progress: three over trunks, one internal.
    for (uint16_t hwLine : {6, 14, 27, 40}) {
        sim::TSimCall call;
        call.HwLine = hwLine;
        call.TrunkCode = static_cast<uint8_t>(hwLine % 8 + 1);
        exchange.BeginCall(0, call, std::chrono::hours(1), hwLine == 27 ? 52 : 0);
    }
    auto link = boost::make_shared<TLowLevel>(line, clock);
    link->Settings.StartDir = dir.Path();
    link->Settings.RealTimeFileName = dir.File("real_time.log");
    ASSERT_EQ(link->IdentifyExchange(), TIdentifyResult::Identified);
    TRealTimeForm monitor;
    TRealTimeAdvancedForm grid(&monitor);
    monitor.SetLink(link);
    monitor.SetAdvancedForm(&grid);
    // The monitor's second comes by hand, not from its timer.
    Child<QTimer>(monitor, "RealTimeTimer")->setInterval(std::chrono::hours(24));
    monitor.show();
    monitor.RealTimeTimerTimer();
    ASSERT_TRUE(WaitUntil([&] { return Child<QListWidget>(monitor, "ListBox1")->count() == 5; }));
    Save(monitor, "real_time_form.png");
    Child<QPushButton>(monitor, "SpeedButton1")->click();
    Save(grid, "real_time_advanced_form.png");
    EXPECT_EQ(grid.MarkedLines(), (std::vector<int>{205, 213, 226, 239, 251}));
    monitor.reject();
}

}  // namespace
