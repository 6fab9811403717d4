// The reading commands and the reading thread against the simulated
// exchange, served in memory on a test clock (two cases on a
// pseudo-terminal, end to end), with a recording stand-in for the main
// window.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <boost/make_shared.hpp>

#include <QCoreApplication>
#include <QObject>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include "acquisition/program_controller.h"
#include "tests/acquisition/call_log_lines.h"
#include "tests/common/recorder.h"
#include "tests/common/sim_line.h"
#include "tests/common/test_support.h"
#include "tests/link/pty_peer.h"
#include "tools/sim_exchange/sim_exchange.h"

using namespace testing_support;

namespace {

// Records what the window would show; runs on the test's (main) thread.
class TFakeForm : public QObject, public IReadingForm {
  public:
    QObject* FormObject() override { return this; }
    void ShowExchange(const TExchangeView&) override { ++infoShown; }
    void ShowExchangeClock(const TDateTimeParts&) override {}
    void ShowComputerClock() override {}
    void ShowNoExchange() override { ++noExchange; }
    void LockControls() override { locked = true; }
    void UnlockControls() override {
        locked = false;
        ++unlocks;
    }
    void SetUnInterruptPanel(const std::string& text) override { panel = text; }
    void EnableStop() override {}
    void ReleaseReadButton() override {}
    void StartUnInterruptTimer() override { ++exitTimer; }
    void CloseForm() override {}
    void AddListLine(const std::string& line) override { list.push_back(line); }
    void ClearList() override { list.clear(); }
    void ShowCallLine(const std::string& line, int, int) override { list.push_back(line); }

    bool locked = false;
    int unlocks = 0;
    int infoShown = 0;
    int noExchange = 0;
    int exitTimer = 0;
    std::string panel;
    std::vector<std::string> list;
};

class Reading : public ::testing::Test {
  protected:
    // With overPty the exchange is on a pseudo-terminal linked as COM1 and
    // the link on the real port, with real time.
    void Start(const std::vector<std::vector<uint8_t>>& records, bool saveTitle = true,
               bool overPty = false) {
        sim::TExchangeConfig c;
        c.Units[0].Capacity = capacity;
        c.Units[0].Records.assign(records.begin(), records.end());
        if (overPty) {
            ex = std::make_unique<sim::TSimExchange>(c);
            ASSERT_TRUE(ex->Start(dir.Path() + "/COM1"));
            ll = boost::make_shared<TLowLevel>();
        } else {
            ex = StartInMemory(c);
            ll = InMemoryLink();
        }
        ll->Settings.StartDir = dir.Path();
        ll->Settings.PortName = "COM1";
        ll->Settings.SaveTitle = saveTitle;
        ll->Settings.TarifFileName = dir.Path() + "/calls.txt";
        ASSERT_EQ(ll->OpenPort("COM1"), TOpenResult::Opened);
        ASSERT_EQ(ll->IdentifyExchange(), TIdentifyResult::Identified);
        form = std::make_unique<TFakeForm>();
        controller = std::make_unique<TProgramController>(*form, ll);
        log = controller->CallLog();
    }
    void TearDown() override {
        if (ll) ll->Reading.StopFlag = true;
        controller.reset();  // waits for a reader still running
    }
    // Stops the reading once n lines are on the disk (whatever the pace).
    void StopAfter(size_t n) {
        log->SetStepHook([this, n, count = size_t(0)](TCallLogStep step) mutable {
            if (step == TCallLogStep::OnDisk && ++count == n) ll->Reading.StopFlag = true;
        });
    }
    boost::shared_ptr<TLowLevel> InMemoryLink() {
        return boost::make_shared<TLowLevel>(std::make_shared<TSimDevice>(*ex, *clock), clock);
    }
    boost::shared_ptr<ReadATSThread> Reader() const { return controller->Reader(); }
    // Waits, serving the reader's hand-overs, until it has ended.
    void Finish() {
        ASSERT_TRUE(Reader());
        ASSERT_TRUE(WaitFor(
            [&] {
                QCoreApplication::processEvents();
                return Reader()->isFinished();
            },
            std::chrono::seconds(60)));
        QCoreApplication::processEvents();
    }
    bool Until(const std::function<bool()>& condition, int seconds = 30) {
        return WaitFor(
            [&] {
                QCoreApplication::processEvents();
                return condition();
            },
            std::chrono::seconds(seconds));
    }
    // The call lines the payloads give, as the file should hold them.
    std::vector<std::string> Expected(const std::vector<std::vector<uint8_t>>& payloads) const {
        return ExpectedCallLines(*ll, payloads);
    }
    std::vector<std::string> CallLines() const {
        std::vector<std::string> out;
        for (const auto& l : CallLogLines(ll->Settings.TarifFileName))
            if (l.rfind("       ", 0) != 0) out.push_back(l);  // title lines begin with 7 blanks
        return out;
    }

    uint16_t capacity = 2000;
    TTempDir dir{InMemory()};
    std::shared_ptr<TTestClock> clock = std::make_shared<TTestClock>();
    std::unique_ptr<sim::TSimExchange> ex;
    boost::shared_ptr<TLowLevel> ll;
    boost::shared_ptr<TCallLog> log;
    std::unique_ptr<TFakeForm> form;
    std::unique_ptr<TProgramController> controller;
};

std::vector<std::vector<uint8_t>> Day(int calls, uint32_t seed, int rejectedEvery = 0) {
    sim::TDayOptions d;
    d.Calls = calls;
    d.Seed = seed;
    d.RejectedEvery = rejectedEvery;
    return sim::GenerateOfficeDay(d);
}

TEST_F(Reading, ReadAllWritesTheTitleAndEveryCallOnceThenUnlocks) {
    const auto day = Day(60, 11, 9);
    Start(day);
    controller->LoadFromATS();
    Finish();
    const auto lines = CallLogLines(ll->Settings.TarifFileName);
    ASSERT_GE(lines.size(), 2u);
    // The simulated exchange's clock.
    EXPECT_EQ(lines[0], "       Данные на  01-01-2007 00:00:00 ");
    EXPECT_EQ(lines[1], kColumnLine);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.end()), Expected(day));
    EXPECT_FALSE(form->locked);
    EXPECT_EQ(form->list, lines);
    EXPECT_GT(ll->Reading.RejectedRecords, 0);
    EXPECT_EQ(ex->RecordCount(0), 0u);
    EXPECT_EQ(form->exitTimer, 0);
}

// Two calls (an outgoing one and an incoming one without a programmed
// number) around a rejected record, as the exchange holds them.
std::vector<std::vector<uint8_t>> KnownCalls() {
    sim::TSimCall out;
    out.Days = 9925;    // 5 March 2007
    out.Ticks = 50527;  // 14:02:07 in one-second ticks
    out.DurationTicks = 95;
    out.HwLine = 12;
    out.PrgDigits = "23";
    out.TrunkCode = 3;
    out.DialDigits = "80951234567";
    sim::TSimCall in = out;
    in.DurationTicks = 3723;
    in.HwLine = 7;
    in.PrgDigits = "";
    in.TrunkCode = 1;
    in.DialDigits = "";
    return {sim::EncodeRecord(out), sim::RejectedRecord(), sim::EncodeRecord(in)};
}

struct TLayoutRow {
    bool alt;
    std::vector<std::string> calls;
    const char* name;
};

void PrintTo(const TLayoutRow& r, std::ostream* os) {
    *os << r.name;
}

class Layout : public Reading, public ::testing::WithParamInterface<TLayoutRow> {};

// Written out by hand, so that a fault the writer shares with the decoder
// shows.
TEST_P(Layout, KnownCallsGiveExactlyTheseLines) {
    Start(KnownCalls());
    ll->Settings.AltFormat = GetParam().alt;
    controller->LoadFromATS();
    Finish();
    std::vector<std::string> expected = {
        "       Данные на  01-01-2007 00:00:00 ",
        "       Начало         Продолжит   Абонент      СЛ     Номер"};
    expected.insert(expected.end(), GetParam().calls.begin(), GetParam().calls.end());
    EXPECT_EQ(CallLogLines(ll->Settings.TarifFileName), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Layout,
    ::testing::Values(
        TLayoutRow{false,
                   {"05-03-2007 14:02:07   00:01:35   12( 123)     204     80951234567          ",
                    "05-03-2007 14:02:07   01:02:03   7(    )     200                          "},
                   "Standard"},
        TLayoutRow{true,
                   {"123;12;204;0;05/03/2007;14:02:07;95;80951234567;4321",
                    ";7;200;1;05/03/2007;14:02:07;3723;;4321"},
                   "Alternative"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Reading, EveryRunWritesExactlyTwoTitleLinesEvenForAnEmptyBuffer) {
    Start({});
    controller->LoadFromATS();
    Finish();
    controller->LoadFromATS();
    Finish();
    const auto lines = CallLogLines(ll->Settings.TarifFileName);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], kColumnLine);
    EXPECT_EQ(lines[3], kColumnLine);
}

TEST_F(Reading, WithoutTitlesOnlyCallLinesAreWritten) {
    const auto day = Day(5, 2);
    Start(day, false);
    controller->SetAutoExit(true);
    controller->LoadFromATS();
    Finish();
    EXPECT_EQ(CallLogLines(ll->Settings.TarifFileName), Expected(day));
    EXPECT_EQ(form->exitTimer, 1);  // the program closes itself after a read-all
}

TEST_F(Reading, NoCallLogFileNoReading) {
    TRecorder recorder;
    Start(Day(3, 1));
    ll->Settings.TarifFileName.clear();
    controller->LoadFromATS();
    controller->ReadUninterrupt();
    EXPECT_FALSE(Reader());
    ASSERT_EQ(recorder.Messages().size(), 2u);
    EXPECT_EQ(recorder.Messages()[0].Text, "Не выбран файл для сохранения данных.");
    EXPECT_EQ(recorder.Messages()[0].Caption, "Внимание!");
    EXPECT_EQ(ex->RecordCount(0), 3u);
}

TEST_F(Reading, StopDuringAReadAllKeepsWhatWasWrittenAndLeavesTheRest) {
    const auto day = Day(400, 5);
    Start(day);
    StopAfter(20);
    controller->LoadFromATS();
    Finish();
    const auto written = CallLines();
    const auto expected = Expected(day);
    ASSERT_LT(written.size(), expected.size());
    EXPECT_EQ(written,
              std::vector<std::string>(expected.begin(), expected.begin() + written.size()));
    // The last line written is still in the exchange until the next request.
    EXPECT_EQ(ex->RecordCount(0), expected.size() - written.size() + 1);

    // The next read-all goes on without repeating it.
    controller->LoadFromATS();
    Finish();
    EXPECT_EQ(CallLines(), expected);
}

TEST_F(Reading, TheProgramEndingAfterAStopWritesNothingTwiceAtTheNextStart) {
    const auto day = Day(400, 6);
    Start(day);
    StopAfter(20);
    controller->LoadFromATS();
    Finish();
    // The program ends: its last line written is still in the exchange.
    const size_t written = CallLines().size();
    controller.reset();
    log.reset();
    const TSettings settings = ll->Settings;
    ll = InMemoryLink();  // the port is closed with the old one
    ll->Settings = settings;
    controller = std::make_unique<TProgramController>(*form, ll);
    log = controller->CallLog();
    controller->LoadFromATS();
    Finish();
    EXPECT_GT(written, 0u);
    EXPECT_EQ(CallLines(), Expected(day));
    EXPECT_EQ(ex->RecordCount(0), 0u);
}

TEST_F(Reading, ContinuousReadingPicksUpLaterCallsUntilStop) {
    const auto day = Day(30, 8);
    Start(std::vector<std::vector<uint8_t>>(day.begin(), day.begin() + 10));
    controller->ReadUninterrupt();
    EXPECT_EQ(form->panel, "Идет непрерывное считывание");
    ASSERT_TRUE(Until([&] { return CallLines().size() == 10; }));
    std::vector<std::pair<std::chrono::milliseconds, std::vector<uint8_t>>> later;
    for (size_t i = 10; i < day.size(); ++i)
        later.push_back({std::chrono::milliseconds(100 * (i - 9)), day[i]});
    ex->ScheduleArrivals(0, later);
    ASSERT_TRUE(Until([&] { return CallLines().size() == day.size(); }));
    EXPECT_TRUE(form->locked);
    ll->Reading.StopFlag = true;
    ll->Reading.UnInterruptFlag = false;
    Finish();
    EXPECT_EQ(CallLines(), Expected(day));
    EXPECT_EQ(form->panel, "");
    // One title block for the whole continuous run.
    EXPECT_EQ(CallLogLines(ll->Settings.TarifFileName).size(), day.size() + 2);
}

TEST_F(Reading, ARunRestartedRightAfterStopKeepsItsPanel) {
    const auto day = Day(200, 17);
    Start(day);
    controller->ReadUninterrupt();
    ASSERT_TRUE(Until([&] { return CallLines().size() >= 3; }));
    // Stop, and at once start again while the old reader still finishes.
    controller->Stop();
    controller->ReadUninterrupt();
    ASSERT_TRUE(Until([&] { return CallLines().size() >= 10; }));
    EXPECT_EQ(form->panel, "Идет непрерывное считывание");
    EXPECT_TRUE(form->locked);
    ll->Reading.StopFlag = true;
    ll->Reading.UnInterruptFlag = false;
    Finish();
    EXPECT_EQ(form->panel, "");
}

TEST_F(Reading, ContinuousReadingSurvivesTheDeviceVanishingAndTheLineFallingSilent) {
    const auto day = Day(40, 21);
    Start(std::vector<std::vector<uint8_t>>(day.begin(), day.begin() + 15), true, true);
    ex->ArmRecordFault(sim::TReplyFault::Vanish, 6, std::chrono::milliseconds(300));
    controller->ReadUninterrupt();
    ASSERT_TRUE(Until([&] { return CallLines().size() == 15; }));

    // Now the line falls silent for a while, with calls waiting behind it.
    ex->SetSilent(true);
    for (size_t i = 15; i < day.size(); ++i)
        ex->AddRecord(0, day[i]);
    // The program keeps trying: several echo tests go unanswered.
    const size_t heard = ex->Received().size();
    ASSERT_TRUE(Until([&] { return ex->Received().size() >= heard + 3; }));
    ex->SetSilent(false);
    ASSERT_TRUE(Until([&] { return CallLines().size() >= day.size(); }, 60));
    ll->Reading.StopFlag = true;
    ll->Reading.UnInterruptFlag = false;
    Finish();
    EXPECT_EQ(CallLines(), Expected(day));
}

TEST_F(Reading, AnExchangeSilentForFiveMinutesIsToldOnceAndSoIsItsReturn) {
    TRecorder recorder;
    // The service manager's socket, whose status tells the outage.
    auto manager = std::make_unique<TNotifySocket>(dir.Path() + "/notify");
    std::vector<std::string> statuses;
    auto heard = [&] {
        for (const std::string& told : manager->Receive())
            if (const size_t at = told.find("STATUS="); at != std::string::npos)
                statuses.push_back(told.substr(at + 7));
    };
    const auto day = Day(20, 5);
    Start(day);
    // Gone for six minutes of the link's clock after the sixth record; the
    // silence counts from the first request left unanswered.
    ex->ArmRecordFault(sim::TReplyFault::Vanish, 6, std::chrono::minutes(6));
    controller->ReadUninterrupt();
    // Back to the calls written once the exchange answers again.
    ASSERT_TRUE(Until([&] {
        heard();
        return CallLines().size() == day.size() && !statuses.empty() &&
               statuses.back().rfind("Записано звонков: 20, последний в ", 0) == 0;
    })) << ::testing::PrintToString(statuses);
    manager.reset();
    ll->Reading.StopFlag = true;
    ll->Reading.UnInterruptFlag = false;
    Finish();
    std::vector<std::string> outage;
    for (const auto& line : recorder.JournalLines())
        if (line.find("(порт COM1") != std::string::npos) outage.push_back(line);
    EXPECT_EQ(outage, (std::vector<std::string>{
                          "<4>СОМ-порт не открывается (порт COM1, устройство /dev/ttyS0): " +
                              std::string(std::strerror(ENOENT)),
                          "<4>АТС не отвечает 5 мин (порт COM1, устройство /dev/ttyS0)",
                          "<6>АТС снова отвечает (порт COM1, устройство /dev/ttyS0), не отвечала "
                          "5 мин"}));
    // The outage with its reason.
    const std::string why = "(порт COM1, устройство /dev/ttyS0): " + std::string(strerror(ENOENT));
    EXPECT_TRUE(std::any_of(statuses.begin(), statuses.end(), [&](const std::string& status) {
        return status.rfind("Нет связи с АТС с ", 0) == 0 &&
               status.size() ==
                   std::string("Нет связи с АТС с 08-12-2026 15:30:00 ").size() + why.size() &&
               status.substr(status.size() - why.size()) == why;
    })) << ::testing::PrintToString(statuses);
}

// The pauses before the port is opened again go by the link's clock: a
// device away for a minute of it is found again at once.
TEST_F(Reading, ContinuousReadingWaitsForAVanishedDeviceOnTheLinksClock) {
    const auto day = Day(20, 22);
    Start(day);
    ex->ArmRecordFault(sim::TReplyFault::Vanish, 6, std::chrono::minutes(1));
    controller->ReadUninterrupt();
    ASSERT_TRUE(Until([&] { return CallLines().size() == day.size(); }));
    ll->Reading.StopFlag = true;
    ll->Reading.UnInterruptFlag = false;
    Finish();
    EXPECT_EQ(CallLines(), Expected(day));
}

TEST_F(Reading, ContinuousReadingFindsTheExchangeAgainAfterAnotherDeviceHadItsName) {
    const auto day = Day(30, 13);
    Start(std::vector<std::vector<uint8_t>>(day.begin(), day.begin() + 10), true, true);
    controller->ReadUninterrupt();
    ASSERT_TRUE(Until([&] { return CallLines().size() == 10; }));

    // Unplugged: the name leads to a device that never answers, and the
    // program opens that one.
    TPtyPeer other;
    ex->Vanish();
    const std::string name = dir.Path() + "/COM1";
    ASSERT_EQ(symlink(other.SlavePath().c_str(), name.c_str()), 0);
    ASSERT_TRUE(Until([&] { return !other.Received().empty(); }));
    // Plugged in again, with calls waiting.
    for (size_t i = 10; i < day.size(); ++i)
        ex->AddRecord(0, day[i]);
    ASSERT_EQ(unlink(name.c_str()), 0);
    ex->Reappear();
    ASSERT_TRUE(Until([&] { return CallLines().size() == day.size(); }, 60));
    ll->Reading.StopFlag = true;
    ll->Reading.UnInterruptFlag = false;
    Finish();
    EXPECT_EQ(CallLines(), Expected(day));
}

TEST_F(Reading, AReadAllEndsAndUnlocksWhenTheDeviceVanishes) {
    const auto day = Day(30, 4);
    Start(day);
    ex->ArmRecordFault(sim::TReplyFault::Vanish, 8);
    controller->LoadFromATS();
    Finish();
    EXPECT_FALSE(form->locked);
    const auto written = CallLines();
    EXPECT_LT(written.size(), day.size());
    EXPECT_GE(written.size() + ex->RecordCount(0), day.size());
}

TEST_F(Reading, AnUnwritableCallLogLosesNothing) {
    TRecorder recorder;
    const auto day = Day(20, 9);
    Start(day);
    ll->Settings.TarifFileName = dir.Path() + "/later/calls.txt";  // its folder does not exist yet
    controller->LoadFromATS();
    Finish();
    EXPECT_TRUE(controller->ReadAllHeld());
    EXPECT_FALSE(form->locked);
    // The run's title waits, and nothing is read behind it.
    ASSERT_EQ(log->PendingCount(), 2u);
    ASSERT_EQ(recorder.Messages().size(), 1u);
    EXPECT_NE(recorder.Messages()[0].Text.find("ожидающих записи: 2"), std::string::npos);
    // The reason names the file.
    EXPECT_NE(recorder.Messages()[0].Text.find("\n\"" + ll->Settings.TarifFileName +
                                               "\": " + std::strerror(ENOENT)),
              std::string::npos)
        << recorder.Messages()[0].Text;
    EXPECT_EQ(recorder.Messages()[0].Caption, "Ошибка!");
    EXPECT_EQ(ex->RecordCount(0), day.size());

    // A run while the file is still unwritable reads nothing.
    controller->LoadFromATS();
    Finish();
    EXPECT_EQ(ex->RecordCount(0), day.size());

    ASSERT_EQ(mkdir((dir.Path() + "/later").c_str(), 0755), 0);
    controller->LoadFromATS();
    Finish();
    EXPECT_FALSE(controller->ReadAllHeld());
    EXPECT_EQ(log->PendingCount(), 0u);
    EXPECT_EQ(CallLines(), Expected(day));
    // The titles that waited from the earlier runs come before this run's.
    const auto lines = CallLogLines(ll->Settings.TarifFileName);
    ASSERT_EQ(lines.size(), 6 + day.size());
    for (size_t i : {1, 3, 5})
        EXPECT_EQ(lines[i], kColumnLine);
    EXPECT_EQ(recorder.JournalLines(),
              (std::vector<std::string>{
                  "<6>Начато считывание всего буфера",
                  "<3>Считывание буфера прервано: файл звонков не принял строк: 2, записано "
                  "звонков: 0; остальные записи остаются в АТС",
                  "<6>Начато считывание всего буфера",
                  "<3>Считывание буфера прервано: файл звонков не принял строк: 4, записано "
                  "звонков: 0; остальные записи остаются в АТС",
                  "<6>Запись в файл звонков \"" + ll->Settings.TarifFileName +
                      "\" возобновлена, записано ожидавших строк: 4",
                  "<6>Начато считывание всего буфера",
                  "<6>Считывание буфера закончено, записано звонков: 20",
              }));
}

// What the reading hooks heard, from whichever thread.
struct THeard {
    std::mutex Mutex;
    std::vector<TUnitBufferFill> Fill;
    int BufferReads = 0;
    std::vector<std::pair<TSilenceStep, std::chrono::seconds>> Silence;
    std::vector<std::pair<bool, std::string>> Held;

    TReadingHooks Hooks() {
        TReadingHooks h;
        h.BufferRead = [this](const std::vector<TUnitBufferFill>& units) {
            std::lock_guard<std::mutex> lock(Mutex);
            Fill = units;
            ++BufferReads;
        };
        h.Silence = [this](TSilenceStep step, std::chrono::seconds lasted) {
            std::lock_guard<std::mutex> lock(Mutex);
            Silence.emplace_back(step, lasted);
        };
        h.Held = [this](bool held, const std::string& text) {
            std::lock_guard<std::mutex> lock(Mutex);
            Held.emplace_back(held, text);
        };
        return h;
    }
    template <typename F>
    auto Locked(F f) {
        std::lock_guard<std::mutex> lock(Mutex);
        return f();
    }
};

TEST_F(Reading, TheBufferHookHearsTheFillOfANearlyFullBuffer) {
    capacity = 21;
    Start(Day(20, 41));
    THeard heard;
    controller->SetReadingHooks(heard.Hooks());
    controller->ReadUninterrupt();
    ASSERT_TRUE(Until([&] { return CallLines().size() == 20; }));
    controller->Stop();
    Finish();
    heard.Locked([&] {
        EXPECT_EQ(heard.BufferReads, 1);
        ASSERT_EQ(heard.Fill.size(), 1u);
        EXPECT_EQ(heard.Fill[0].Unit, 0);
        EXPECT_EQ(heard.Fill[0].Capacity, 21);
        EXPECT_EQ(heard.Fill[0].Records, 20);
        EXPECT_EQ(heard.Fill[0].Percent, 95);
    });
    // Hooks set later (the main window starts up before the program sets
    // them) hear the fill read last at once.
    THeard late;
    controller->SetReadingHooks(late.Hooks());
    EXPECT_EQ(late.BufferReads, 1);
    ASSERT_EQ(late.Fill.size(), 1u);
    EXPECT_EQ(late.Fill[0].Percent, 95);
}

TEST_F(Reading, TheSilenceHookHearsASilenceBeginLastAndEnd) {
    const auto day = Day(10, 42);
    Start(day);
    THeard heard;
    controller->SetReadingHooks(heard.Hooks());
    controller->ReadUninterrupt();
    ASSERT_TRUE(Until([&] { return CallLines().size() == day.size(); }));
    EXPECT_TRUE(heard.Locked([&] { return heard.Silence.empty(); }));
    ex->SetSilent(true);
    // A silence of a minute and more on the link's clock.
    ASSERT_TRUE(Until([&] {
        return heard.Locked([&] {
            return !heard.Silence.empty() && heard.Silence.back().second >= std::chrono::minutes(1);
        });
    }));
    ex->SetSilent(false);
    ASSERT_TRUE(Until(
        [&] {
            return heard.Locked([&] {
                return heard.Silence.back().first == TSilenceStep::Ended;
            }) && CallLines().size() == day.size();
        },
        60));
    controller->Stop();
    Finish();
    heard.Locked([&] {
        const auto& s = heard.Silence;
        ASSERT_GE(s.size(), 3u);
        EXPECT_EQ(s.front(), std::make_pair(TSilenceStep::Began, std::chrono::seconds(0)));
        for (size_t i = 1; i + 1 < s.size(); ++i) {
            EXPECT_EQ(s[i].first, TSilenceStep::Lasting);
            EXPECT_GE(s[i].second, s[i - 1].second);
        }
        EXPECT_EQ(s.back().first, TSilenceStep::Ended);
        EXPECT_GE(s.back().second, std::chrono::minutes(1));
    });
}

TEST_F(Reading, TheHeldHookHearsTheReadingHeldAndResumedOnce) {
    const auto day = Day(5, 43);
    Start(day);
    THeard heard;
    controller->SetReadingHooks(heard.Hooks());
    ll->Settings.TarifFileName = dir.Path() + "/later/calls.txt";  // its folder does not exist yet
    controller->ReadUninterrupt();
    ASSERT_TRUE(Until([&] { return heard.Locked([&] { return !heard.Held.empty(); }); }));
    ASSERT_EQ(mkdir((dir.Path() + "/later").c_str(), 0755), 0);
    // Every call read: the exchange holds none.
    ASSERT_TRUE(Until([&] { return ex->RecordCount(0) == 0; }));
    controller->Stop();
    Finish();
    const std::string path = ll->Settings.TarifFileName;
    heard.Locked([&] {
        EXPECT_EQ(heard.Held, (std::vector<std::pair<bool, std::string>>{
                                  {true, "\"" + path + "\": " + std::strerror(ENOENT)},
                                  {false, "Запись в файл звонков \"" + path +
                                              "\" возобновлена, записано ожидавших строк: 2"}}));
    });
}

// Stop unlocks the window at once while the reader may still be ending
// (here waiting for an echo on a line gone silent): a command that touches
// the port, the settings or the call-log file waits for it first.
class CommandAfterStop : public Reading,
                         public ::testing::WithParamInterface<
                             std::function<void(TProgramController&, TRecorder&, TTempDir&)>> {};

TEST_P(CommandAfterStop, WaitsForTheReaderToEnd) {
    TRecorder recorder;
    Start(Day(3, 31));
    controller->ReadUninterrupt();
    ASSERT_TRUE(Until([&] { return CallLines().size() == 3; }));
    ex->ClearReceived();
    ex->SetSilent(true);
    ASSERT_TRUE(Until([&] { return !ex->Received().empty(); }));
    controller->Stop();
    ASSERT_TRUE(Reader()->isRunning());
    // The exchange answers again once the reader has given up on it.
    const boost::shared_ptr<ReadATSThread> reader = Reader();
    std::thread answer([&] {
        WaitFor([&] { return reader->isFinished(); }, std::chrono::seconds(30));
        ex->SetSilent(false);
    });
    GetParam()(*controller, recorder, dir);
    EXPECT_TRUE(reader->isFinished());
    answer.join();
}

std::string RowName(size_t row) {
    static const char* const names[] = {"Reload", "ApplySettings", "SelectCallLogFile"};
    return names[row];
}

INSTANTIATE_TEST_SUITE_P(Commands, CommandAfterStop,
                         ::testing::Values([](TProgramController& c, TRecorder&,
                                              TTempDir&) { c.Reload(); },
                                           [](TProgramController& c, TRecorder&, TTempDir&) {
                                               c.ApplySettings(c.CurrentOptions());
                                           },
                                           [](TProgramController& c, TRecorder& r, TTempDir& d) {
                                               r.QueueFileAnswer(d.File("other.txt"));
                                               c.SelectCallLogFile();
                                           }),
                         // Named by row: the functions print as addresses, which would rename
                         // the tests in every build.
                         [](const auto& info) { return RowName(info.index); });

// A window that is slow to show lines never holds up the reading: the
// exchange is asked for every record while the window is still busy.
class TSlowForm : public TFakeForm {
  public:
    void ShowCallLine(const std::string& line, int a, int b) override {
        WaitFor([this] { return released.load(); }, std::chrono::seconds(30));
        TFakeForm::ShowCallLine(line, a, b);
    }
    std::atomic<bool> released{false};
};

TEST_F(Reading, ABusyWindowDoesNotHoldUpTheNextRequest) {
    const auto day = Day(6, 32);
    Start(day);
    auto slow = std::make_unique<TSlowForm>();
    controller.reset();
    controller = std::make_unique<TProgramController>(*slow, ll);
    controller->LoadFromATS();
    // The first line handed over blocks the window's thread; meanwhile the
    // reading empties the buffer.
    std::thread release([&] {
        WaitFor([&] { return ex->RecordCount(0) == 0; }, std::chrono::seconds(30));
        slow->released = true;
    });
    ASSERT_TRUE(Until([&] { return Reader()->isFinished(); }));
    release.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(ex->RecordCount(0), 0u);
    EXPECT_EQ(CallLines(), Expected(day));
    controller.reset();
}

TEST_F(Reading, AFifoAsCallLogIsRefusedAndNothingHangs) {
    TRecorder recorder;
    const auto day = Day(4, 33);
    Start(day);
    ll->Settings.TarifFileName = dir.File("fifo");
    ASSERT_EQ(mkfifo(ll->Settings.TarifFileName.c_str(), 0600), 0);
    controller->LoadFromATS();
    Finish();
    EXPECT_EQ(ex->RecordCount(0), day.size());
    ASSERT_EQ(recorder.Messages().size(), 1u);
    EXPECT_NE(recorder.Messages()[0].Text.find("не является обычным файлом"), std::string::npos);
}

TEST_F(Reading, AStateFileThatCannotBeSavedHoldsTheReadingUntilItCan) {
    TRecorder recorder;
    const auto day = Day(5, 34);
    Start(day, false);
    const std::string blocker = dir.File("Tallyphon.state.tmp");
    ASSERT_EQ(mkdir(blocker.c_str(), 0755), 0);
    controller->ReadUninterrupt();
    ASSERT_TRUE(Until([&] { return !recorder.Messages().empty(); }));
    EXPECT_NE(recorder.Messages()[0].Text.find("Файл состояния \"" + dir.File("Tallyphon.state") +
                                               "\" не удалось сохранить: "),
              std::string::npos)
        << recorder.Messages()[0].Text;
    EXPECT_TRUE(CallLines().empty());
    EXPECT_EQ(ex->RecordCount(0), day.size());
    ASSERT_EQ(rmdir(blocker.c_str()), 0);
    ASSERT_TRUE(Until([&] { return CallLines().size() == day.size(); }));
    controller->Stop();
    Finish();
    EXPECT_EQ(CallLines(), Expected(day));
    EXPECT_EQ(recorder.Messages().size(), 1u);
}

TEST_F(Reading, AFailedContinuousStartLeavesNoThreadRunning) {
    Start(Day(3, 1));
    ex->SetIdentifySilent(true);
    controller->ReadUninterrupt();
    EXPECT_EQ(form->noExchange, 1);
    ASSERT_TRUE(Reader());
    EXPECT_FALSE(Reader()->isRunning());
    EXPECT_EQ(form->panel, "Идет непрерывное считывание");
    // A read-all then reads once and ends, flag or not.
    ex->SetIdentifySilent(false);
    controller->LoadFromATS();
    Finish();
    EXPECT_EQ(CallLines().size(), 3u);
}

TEST(ReadingThread, TellsOfAUnitRefusedWhileReading) {
    TRecorder recorder;
    sim::TExchangeConfig c;
    c.TypeCode = 2;
    c.Name = "2-B";
    c.Units.assign(2, sim::TUnit{});
    c.Units[1].RefuseSelect = true;
    const auto ex = StartInMemory(c);
    auto clock = std::make_shared<TTestClock>();
    auto ll = boost::make_shared<TLowLevel>(std::make_shared<TSimDevice>(*ex, *clock), clock);
    ASSERT_EQ(ll->OpenPort("COM1"), TOpenResult::Opened);
    // Identified while the unit still answered.
    TIdentification known;
    known.Key = c.Key;
    known.ModelName = "2-B";
    known.MultiUnit = true;
    known.UnitCount = 2;
    ll->AdoptIdentification(known);
    TFakeForm form;
    ReadATSThread reader(&form, ll, boost::make_shared<TCallLog>(ll), nullptr);
    reader.start();
    ASSERT_TRUE(WaitFor([&] {
        QCoreApplication::processEvents();
        return reader.isFinished();
    }));
    ASSERT_EQ(recorder.Messages().size(), 1u);
    EXPECT_EQ(recorder.Messages()[0].Text, "Невозможно установить активную АТС (2)");
    EXPECT_EQ(recorder.Messages()[0].Caption, "");
    EXPECT_FALSE(form.locked);
}

TEST(IdentifyAndReport, TellsOfEveryOverfullUnitAndEndsTheProgramOnARefusedOne) {
    TRecorder recorder;
    TTempDir dir;
    sim::TExchangeConfig c;
    c.TypeCode = 2;
    c.Name = "2-B";
    c.Units.assign(2, sim::TUnit{});
    for (sim::TUnit& u : c.Units) {
        u.AutoCounters = false;
        u.Capacity = 10;
        u.Counter1 = 1020;
        u.Counter2 = 1000;
    }
    sim::TSimExchange ex(c);
    ASSERT_TRUE(ex.StartInMemory(TTestClock::kStart));
    auto clock = std::make_shared<TTestClock>();
    TLowLevel ll(std::make_shared<TSimDevice>(ex, *clock), clock);
    ASSERT_EQ(ll.OpenPort("COM1"), TOpenResult::Opened);
    EXPECT_EQ(IdentifyAndReport(ll), TIdentifyResult::Identified);
    const std::vector<TShownMessage> overfull(
        2, TShownMessage{"Неверная информация в буфере тарификации", "Ошибка"});
    ASSERT_EQ(recorder.Messages().size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(recorder.Messages()[i].Text, overfull[i].Text);
        EXPECT_EQ(recorder.Messages()[i].Caption, overfull[i].Caption);
    }
    EXPECT_TRUE(recorder.Exits().empty());

    ex.Stop();
    ex.Config().Units[1].RefuseSelect = true;
    ASSERT_TRUE(ex.StartInMemory(clock->Now()));
    ASSERT_EQ(ll.ClosePort(), TCloseResult::Closed);
    ASSERT_EQ(ll.OpenPort("COM1"), TOpenResult::Opened);
    EXPECT_EQ(IdentifyAndReport(ll), TIdentifyResult::NoReply);
    ASSERT_EQ(recorder.Messages().size(), 4u);
    EXPECT_EQ(recorder.Messages()[3].Text, "Невозможно установить активную АТС(1)");
    EXPECT_EQ(recorder.Exits(), std::vector<int>{0});
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
