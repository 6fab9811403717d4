// Reading through the real main window and its reading thread (the exchange
// in memory behind the port, on a test clock), and the unattended start as a
// separate process over a pseudo-terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QToolButton>

#include "acquisition/call_log.h"
#include "tests/acquisition/call_log_lines.h"
#include "tests/common/mail_rig.h"
#include "tests/common/recorder.h"
#include "tests/ui/ui_test_support.h"
#include "tools/pg_cluster/pg_cluster.h"
#include "ui/main_form.h"

extern char** environ;

using namespace testing_support;
using namespace ui_test;

namespace {

std::vector<std::vector<uint8_t>> Day(int calls, uint32_t seed = 1) {
    sim::TDayOptions d;
    d.Calls = calls;
    d.Seed = seed;
    d.RejectedEvery = 13;
    return sim::GenerateOfficeDay(d);
}

sim::TExchangeConfig Holding(const std::vector<std::vector<uint8_t>>& records) {
    sim::TExchangeConfig c;
    c.Units[0].Capacity = 30000;
    c.Units[0].Records.assign(records.begin(), records.end());
    return c;
}

class ReadingWindow : public ::testing::Test {
  protected:
    void TearDown() override {
        form.reset();
        port.reset();
        exchange.reset();
    }
    // The main window in dir over the exchange with config, served in
    // memory behind the port COM1.
    void Open(const sim::TExchangeConfig& config) {
        exchange = StartInMemory(config);
        port = std::make_unique<TSimPort>(*exchange);
        form = CreateMainForm(dir.Path(), port->Factory());
    }
    bool ReaderDone() {
        return WaitUntil([&] { return form->Reader() && form->Reader()->isFinished(); },
                         std::chrono::seconds(120));
    }
    TRecorder recorder;
    TTempDir dir{InMemory()};
    std::unique_ptr<sim::TSimExchange> exchange;
    std::unique_ptr<TSimPort> port;
    std::unique_ptr<TMainForm> form;
};

TEST_F(ReadingWindow, ReadAllWritesExactlyTheExpectedFileAndShowsIt) {
    const auto day = Day(150, 3);
    WriteSettings(dir);
    Open(Holding(day));
    const TLowLevel& ll = *form->Link();
    Child<QToolButton>(*form, "ReadDataToolButton")->click();
    ASSERT_TRUE(ReaderDone());

    std::vector<std::string> expected = {"       Данные на  01-01-2007 00:00:00 ", kColumnLine};
    for (const auto& l : ExpectedCallLines(ll, day))
        expected.push_back(l);
    EXPECT_EQ(CallLogLines(dir.File("calls.txt")), expected);
    ASSERT_EQ(Child<QListWidget>(*form, "ListBox1")->count(), static_cast<int>(expected.size()));
    EXPECT_EQ(Child<QListWidget>(*form, "ListBox1")
                  ->item(Child<QListWidget>(*form, "ListBox1")->count() - 1)
                  ->text()
                  .toStdString(),
              expected.back());
    EXPECT_EQ(Child<QListWidget>(*form, "ListBox1")->currentRow(),
              Child<QListWidget>(*form, "ListBox1")->count() - 1);
    EXPECT_TRUE(Child<QToolButton>(*form, "ReadDataToolButton")->isEnabled());
    EXPECT_FALSE(Child<QToolButton>(*form, "StopToolButton")->isEnabled());
    // Rejected records are never counted down.
    EXPECT_GT(ll.Reading.RejectedRecords, 0);
    EXPECT_EQ(Child<QProgressBar>(*form, "CGauge1")->value(), ll.Reading.RejectedRecords);
    EXPECT_EQ(form->StatusBar1Panel(4)->text().toStdString(),
              "В буфере : " + std::to_string(ll.Reading.RejectedRecords));
    EXPECT_EQ(form->StatusBar1Panel(5)->text().toStdString(),
              "Отвергнуто записей: " + std::to_string(ll.Reading.RejectedRecords));
    EXPECT_EQ(exchange->RecordCount(0), 0u);
    EXPECT_TRUE(recorder.Messages().empty());
}

TEST_F(ReadingWindow, TheListEmptiesAtLine20001WhileTheFileKeepsEveryLine) {
    // 19987 lines already shown, two title lines and twelve calls: the
    // twelfth call is line 20001 and empties the list.
    sim::TDayOptions d;
    d.Calls = 12;
    const auto day = sim::GenerateOfficeDay(d);
    WriteSettings(dir);
    Open(Holding(day));
    QStringList earlier;
    for (int i = 0; i < 19987; ++i)
        earlier << QString::number(i);
    Child<QListWidget>(*form, "ListBox1")->addItems(earlier);
    form->LoadFromATSMenuItemClick();
    ASSERT_TRUE(ReaderDone());
    EXPECT_EQ(Child<QListWidget>(*form, "ListBox1")->count(), 0);
    EXPECT_EQ(CallLogLines(dir.File("calls.txt")).size(), 14u);
}

TEST_F(ReadingWindow, ClosingTheWindowDuringAReadEndsItWithoutDeadlock) {
    WriteSettings(dir);
    Open(Holding(Day(30000, 5)));
    form->LoadFromATSMenuItemClick();
    ASSERT_TRUE(WaitUntil([&] { return Child<QListWidget>(*form, "ListBox1")->count() > 50; }));
    boost::shared_ptr<ReadATSThread> reader = form->Reader();
    form->close();
    form.reset();  // waits for the reader while serving its hand-overs
    EXPECT_TRUE(reader->isFinished());
    // What was not read is still in the exchange.
    EXPECT_GT(exchange->RecordCount(0), 0u);
}

TEST_F(ReadingWindow, ContinuousStartUpReadsCallsAsTheyArrive) {
    WriteSettings(dir, "AUTOSTART_UNINTERRUPT");
    const auto day = Day(12, 8);
    Open(Holding({day.begin(), day.begin() + 4}));
    EXPECT_EQ(Child<QLabel>(*form, "UnInterruptPanel")->text().toStdString(),
              "Идет непрерывное считывание");
    EXPECT_FALSE(Child<QToolButton>(*form, "ReadDataToolButton")->isEnabled());
    for (size_t i = 4; i < day.size(); ++i)
        exchange->AddRecord(0, day[i]);
    const auto expected = ExpectedCallLines(*form->Link(), day);
    ASSERT_TRUE(WaitUntil(
        [&] { return CallLogLines(dir.File("calls.txt")).size() == 2 + expected.size(); }));
    Child<QToolButton>(*form, "StopToolButton")->click();
    EXPECT_TRUE(Child<QLabel>(*form, "UnInterruptPanel")->text().isEmpty());
    EXPECT_TRUE(Child<QToolButton>(*form, "ReadDataToolButton")->isEnabled());
    ASSERT_TRUE(ReaderDone());
    const auto lines = CallLogLines(dir.File("calls.txt"));
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.end()), expected);
    const auto journal = recorder.JournalLines();
    ASSERT_GE(journal.size(), 2u);
    EXPECT_EQ(journal[0],
              "<6>Tallyphon 2.28: АТС QTV610 \"VERANTA\", серийный номер 4321 (порт COM1, "
              "устройство /dev/ttyS0), файл звонков \"" +
                  dir.File("calls.txt") + "\", режим: непрерывное считывание");
    EXPECT_EQ(journal[1], "<6>Начато непрерывное считывание");
}

TEST_F(ReadingWindow, TellsAServiceManagerItIsReadyWhatItWroteAndThatItLives) {
    // The manager's socket, named as systemd names it to its service.
    auto manager = std::make_unique<TNotifySocket>(dir.File("notify"));
    WriteSettings(dir, "AUTOSTART_UNINTERRUPT");
    Open(Holding(Day(3, 6)));
    std::string told;
    auto heard = [&](const std::string& what) {
        return WaitUntil([&] {
            for (const std::string& datagram : manager->Receive())
                told += datagram + '|';
            return told.find(what) != std::string::npos;
        });
    };
    EXPECT_TRUE(heard("READY=1|")) << told;
    EXPECT_TRUE(heard("STATUS=Записано звонков: 3, последний в ")) << told;
    EXPECT_TRUE(heard("WATCHDOG=1")) << told;
    manager.reset();
    Child<QToolButton>(*form, "StopToolButton")->click();
    ASSERT_TRUE(ReaderDone());
}

// The program itself, started in a prepared directory with the start-up
// action "read all once": no window input, no message box.
class UnattendedStart : public ::testing::Test {
  protected:
    // Starts the program with args in cwd (default dir), its standard error
    // going to stderr.txt beside the test's directories; the process id, or
    // -1. Headless, the environment names no display and no platform.
    pid_t Spawn(std::vector<std::string> args = {}, const std::string& cwd = "") {
        const std::string program = TALLYPHON_PROGRAM;
        std::vector<std::string> env = {"HOME=" + dir.Path()};
        if (args.empty() || args[0] != "--headless") env.push_back("QT_QPA_PLATFORM=offscreen");
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        args.insert(args.begin(), program);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string errors = errors_.File("stderr.txt");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        pid_t pid = -1;
        InDirectory(cwd.empty() ? dir.Path() : cwd, [&] {
            if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) !=
                0)
                pid = -1;
        });
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }
    // The exit status of pid, or -1 when it did not end by itself within the
    // time allowed (it is killed then).
    int Wait(pid_t pid, std::chrono::seconds allowed) {
        int status = 0;
        const bool ended =
            WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; },
                      std::chrono::duration_cast<std::chrono::milliseconds>(allowed));
        if (!ended) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    int RunProgram(std::chrono::seconds allowed, std::vector<std::string> args = {},
                   const std::string& cwd = "") {
        const pid_t pid = Spawn(std::move(args), cwd);
        return pid < 0 ? -2 : Wait(pid, allowed);
    }
    std::string Errors() const { return ReadFile(errors_.File("stderr.txt")); }
    TTempDir dir;
    TTempDir errors_;
};

TEST_F(UnattendedStart, ReadsTheWholeBufferIntoTheFileAndEndsByItself) {
    // Two calls whose lines are written out by hand, then a generated day.
    sim::TSimCall call;
    call.Days = 9863;    // 2 January 2007
    call.Ticks = 32405;  // 09:00:05 in one-second ticks
    call.DurationTicks = 5;
    call.HwLine = 105;
    call.PrgDigits = "2345";
    call.TrunkCode = 2;
    call.DialDigits = "*21#";
    std::vector<std::vector<uint8_t>> held = {sim::EncodeRecord(call)};
    call.DurationTicks = 0;
    call.HwLine = 3;
    call.PrgDigits = "7";
    call.TrunkCode = 8;
    call.DialDigits = "";
    held.push_back(sim::EncodeRecord(call));
    const auto day = Day(80, 4);
    held.insert(held.end(), day.begin(), day.end());
    WriteSettings(dir, "AUTOSTART_1");
    auto exchange = StartExchange(dir.Path(), Holding(held));
    EXPECT_EQ(RunProgram(std::chrono::seconds(60)), 0);
    // The simulated exchange is a QTV610 with one-second ticks, its clock at
    // 1 January 2007, 00:00:00.
    std::vector<std::string> expected = {
        "       Данные на  01-01-2007 00:00:00 ",
        "       Начало         Продолжит   Абонент      СЛ     Номер",
        "02-01-2007 09:00:05   00:00:05   105(12345)     202     *21#                 ",
        "02-01-2007 09:00:05   00:00:00   3(  17)     214                          "};
    TLowLevel ll;
    TIdentification qtv610;
    qtv610.ModelName = "QTV610";
    qtv610.TickLength = 1;
    ll.AdoptIdentification(qtv610);
    for (const auto& l : ExpectedCallLines(ll, day))
        expected.push_back(l);
    EXPECT_EQ(CallLogLines(dir.File("calls.txt")), expected);
    EXPECT_EQ(exchange->RecordCount(0), 0u);
}

TEST_F(UnattendedStart, WithTheExchangeSwitchedOffItEndsByItselfWithoutAMessage) {
    WriteSettings(dir, "AUTOSTART_1");
    auto exchange = StartExchange(dir.Path(), Holding({}));
    exchange->SetSilent(true);
    // Nothing was read: the status says so to whoever started it.
    EXPECT_EQ(RunProgram(std::chrono::seconds(60)), 1);
    EXPECT_EQ(Errors().find('['), std::string::npos) << Errors();
    EXPECT_FALSE(Exists(dir.File("calls.txt")));
}

TEST_F(UnattendedStart, ARefusedCallLogEndsTheReadWithAFailureAndKeepsTheCalls) {
    WriteSettings(dir, "AUTOSTART_1");
    ASSERT_EQ(mkdir(dir.File("calls.txt").c_str(), 0755), 0);
    auto exchange = StartExchange(dir.Path(), Holding(Day(4, 3)));
    EXPECT_EQ(RunProgram(std::chrono::seconds(60)), 1);
    EXPECT_NE(Errors().find("<3>Считывание буфера прервано: файл звонков не принял строк: 2, "
                            "записано звонков: 0; остальные записи остаются в АТС\n"),
              std::string::npos)
        << Errors();
    EXPECT_EQ(exchange->RecordCount(0), 4u);
}

TEST_F(UnattendedStart, AMessageNobodyCanAnswerGoesToStandardErrorAndTheReadGoesOn) {
    sim::TExchangeConfig config = Holding(Day(5, 2));
    config.Units[0].AutoCounters = false;  // more records than places
    config.Units[0].Capacity = 3;
    config.Units[0].Counter1 = 1005;
    config.Units[0].Counter2 = 1000;
    WriteSettings(dir, "AUTOSTART_1");
    auto exchange = StartExchange(dir.Path(), config);
    EXPECT_EQ(RunProgram(std::chrono::seconds(60)), 0);
    EXPECT_NE(Errors().find("[Ошибка] Неверная информация в буфере тарификации\n"),
              std::string::npos);
    EXPECT_EQ(CallLogLines(dir.File("calls.txt")).size(), 2u + 5u);
}

TEST_F(UnattendedStart, AProgramKilledMidReadWritesNothingTwiceWhenStartedAgain) {
    sim::TExchangeConfig config = Holding(Day(80, 8));
    config.Paced = true;  // slow enough to be killed half-way
    WriteSettings(dir, "AUTOSTART_UNINTERRUPT");
    auto exchange = StartExchange(dir.Path(), config);
    const pid_t pid = Spawn();
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitUntil([&] { return CallLogLines(dir.File("calls.txt")).size() >= 12; },
                          std::chrono::seconds(60)));
    // The line falls silent while the program waits for the reply to the
    // request that would acknowledge the last line written: killed there.
    exchange->SetSilent(true);
    ASSERT_TRUE(
        WaitUntil([&] { return Exists(dir.File("Tallyphon.state")); }, std::chrono::seconds(10)));
    kill(pid, SIGKILL);
    EXPECT_EQ(Wait(pid, std::chrono::seconds(10)), 128 + SIGKILL);
    exchange->SetSilent(false);
    WriteSettings(dir, "AUTOSTART_1");
    EXPECT_EQ(RunProgram(std::chrono::seconds(120)), 0);
    std::vector<std::string> calls;
    for (const auto& line : CallLogLines(dir.File("calls.txt")))
        if (line.rfind("       ", 0) != 0) calls.push_back(line);  // not a title line
    TLowLevel ll;
    TIdentification qtv610;
    qtv610.ModelName = "QTV610";
    qtv610.TickLength = 1;
    ll.AdoptIdentification(qtv610);
    const auto expected = ExpectedCallLines(ll, Day(80, 8));
    EXPECT_EQ(calls.size(), expected.size());
    for (size_t i = 0; i < std::min(calls.size(), expected.size()); ++i)
        ASSERT_EQ(calls[i], expected[i]) << "line " << i;
}

// Every file of dir with its bytes (links as their targets).
std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        files[name] = e.is_symlink() ? "-> " + std::filesystem::read_symlink(e.path()).string()
                                     : ReadFile(e.path().string());
    }
    return files;
}

TEST_F(UnattendedStart, HeadlessReadsContinuouslyInItsDirectoryUntilSigterm) {
    // No start-up action in the settings: headless, that means reading on.
    WriteSettings(dir, "");
    const auto day = Day(6, 21);
    auto exchange = StartExchange(dir.Path(), Holding({day.begin(), day.begin() + 3}));
    TTempDir elsewhere;
    const pid_t pid = Spawn({"--headless", "--dir", dir.Path()}, elsewhere.Path());
    ASSERT_GT(pid, 0);
    TLowLevel ll;
    TIdentification qtv610;
    qtv610.ModelName = "QTV610";
    qtv610.TickLength = 1;
    ll.AdoptIdentification(qtv610);
    const auto expected = ExpectedCallLines(ll, day);
    auto calls = [&] { return CallLogLines(dir.File("calls.txt")); };
    ASSERT_TRUE(WaitUntil([&] { return calls().size() == 2 + 3; }, std::chrono::seconds(60)))
        << Errors();
    // Calls that arrive later are read by the same run.
    for (size_t i = 3; i < day.size(); ++i)
        exchange->AddRecord(0, day[i]);
    ASSERT_TRUE(
        WaitUntil([&] { return calls().size() == 2 + day.size(); }, std::chrono::seconds(60)));
    kill(pid, SIGTERM);
    EXPECT_EQ(Wait(pid, std::chrono::seconds(30)), 0);
    const auto lines = calls();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.end()), expected);
    EXPECT_EQ(lines[0], "       Данные на  01-01-2007 00:00:00 ");
    // Nothing was written where it was started from.
    EXPECT_TRUE(Snapshot(elsewhere.Path()).empty());
    EXPECT_EQ(Errors().find('['), std::string::npos) << Errors();
    // Qt's chatter about the offscreen platform and the runtime directory
    // tells a journal's reader nothing.
    for (const char* chatter : {"propagateSizeHints", "raise()", "XDG_RUNTIME_DIR"})
        EXPECT_EQ(Errors().find(chatter), std::string::npos) << Errors();
    // What it did is there, at the priority of information.
    EXPECT_NE(Errors().find("<6>Tallyphon 2.28: АТС QTV610 \"VERANTA\", серийный номер 4321 "
                            "(порт COM1, устройство " +
                            std::filesystem::read_symlink(dir.File("COM1")).string() +
                            "), файл звонков \"" + dir.File("calls.txt") +
                            "\", режим: непрерывное считывание\n"
                            "<6>Начато непрерывное считывание\n"),
              std::string::npos)
        << Errors();
}

TEST_F(UnattendedStart, HeadlessShipsEveryCallOnceThroughOutagesAndAKill) {
    TPgCluster cluster;
    auto shipped = [&]() -> unsigned long {
        try {
            return std::stoul(cluster.Psql("postgres", "SELECT count(*) FROM tallyphon.calls"));
        } catch (const std::exception&) {
            return 0;  // the program has not made its tables yet
        }
    };
    auto calls = [&] {
        std::vector<std::string> out;
        for (const auto& line : CallLogLines(dir.File("calls.txt")))
            if (line.rfind("       ", 0) != 0) out.push_back(line);  // not a title line
        return out;
    };
    // The exchange is given its calls a few at a time, so that each part of
    // the test knows which calls were read while the server was away.
    sim::TDayOptions options;  // no record the exchange garbles
    options.Calls = 60;
    const auto day = sim::GenerateOfficeDay(options);
    size_t given = 10;
    WriteSettings(dir, "");
    auto exchange = StartExchange(dir.Path(), Holding({day.begin(), day.begin() + given}));
    auto give = [&](size_t n) {
        for (size_t end = given + n; given < end; ++given)
            exchange->AddRecord(0, day[given]);
    };
    const std::vector<std::string> args = {"--headless",       "--dir",  dir.Path(), "--db",
                                           cluster.ConnInfo(), "--site", "Офис 1"};
    pid_t pid = Spawn(args);
    ASSERT_GT(pid, 0);
    // Whatever happens below, the program does not outlive the test.
    struct TKillAtEnd {
        pid_t& Pid;
        ~TKillAtEnd() {
            if (Pid > 0 && kill(Pid, SIGKILL) == 0) waitpid(Pid, nullptr, 0);
        }
    } killAtEnd{pid};
    const auto minute = std::chrono::seconds(60);
    ASSERT_TRUE(WaitUntil([&] { return calls().size() == 10 && shipped() == 10; }, minute))
        << Errors();
    // The server goes away twice, once in good order and once as in a
    // power cut; the reading goes on as if nothing happened.
    for (bool crash : {false, true}) {
        cluster.Stop(crash);
        give(15);
        ASSERT_TRUE(WaitUntil([&] { return calls().size() == given; }, minute)) << Errors();
        cluster.Start();
        ASSERT_TRUE(WaitUntil([&] { return shipped() == given; }, minute)) << Errors();
    }
    // Killed while calls come in, then started again with more waiting.
    give(10);
    ASSERT_TRUE(WaitUntil([&] { return calls().size() > 40; }, minute));
    kill(pid, SIGKILL);
    EXPECT_EQ(Wait(std::exchange(pid, -1), std::chrono::seconds(10)), 128 + SIGKILL);
    give(10);
    pid = Spawn(args);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitUntil([&] { return calls().size() == 60 && shipped() == 60; }, minute))
        << Errors();
    kill(pid, SIGTERM);
    EXPECT_EQ(Wait(std::exchange(pid, -1), std::chrono::seconds(30)), 0);
    // Every call of the file once, in the order written.
    std::string expected;
    for (const std::string& line : calls())
        expected += line + "\n";
    EXPECT_EQ(cluster.Psql("postgres",
                           "SELECT log_line FROM tallyphon.calls"
                           " ORDER BY file_no, file_offset"),
              expected);
    const std::string errors = Errors();
    EXPECT_NE(errors.find("<6>Звонки площадки «Офис 1» отправляются в базу данных host="),
              std::string::npos)
        << errors;
    EXPECT_NE(errors.find("<4>Звонки площадки «Офис 1» не уходят в базу данных: "),
              std::string::npos);
    EXPECT_NE(errors.find("<6>Звонки площадки «Офис 1» снова уходят в базу данных: "
                          "отправлено ожидавших звонков: 15\n"),
              std::string::npos);
}

TEST_F(UnattendedStart, SigtermEndsTheProgramWhileTheDatabaseServerNeverAnswers) {
    // A TCP port that takes connections and never answers them.
    const int silent = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&a), size), 0);
    ASSERT_EQ(listen(silent, 4), 0);
    ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr*>(&a), &size), 0);
    WriteSettings(dir, "");
    auto exchange = StartExchange(dir.Path(), Holding(Day(5, 2)));
    const pid_t pid = Spawn({"--headless", "--dir", dir.Path(), "--db",
                             "host=127.0.0.1 port=" + std::to_string(ntohs(a.sin_port)) +
                                 " user=pbx password=Secr3t connect_timeout=600",
                             "--site", "A"});
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(WaitUntil([&] { return CallLogLines(dir.File("calls.txt")).size() == 2 + 5; },
                          std::chrono::seconds(60)));
    kill(pid, SIGTERM);
    EXPECT_EQ(Wait(pid, std::chrono::seconds(30)), 0);
    close(silent);
    EXPECT_NE(Errors().find("<4>Пароль базы данных указан в --db: "), std::string::npos)
        << Errors();
    EXPECT_EQ(Errors().find("cr3t"), std::string::npos) << Errors();
}

TEST_F(UnattendedStart, ARefusedDatabaseIsToldOfAndTheReadingGoesOn) {
    TPgCluster cluster;
    WriteFile(dir.File("TallyphonDb.cfg"),
              "CONNINFO=" + cluster.ConnInfo() + " user=nobody password=x\nSITE=Склад\n");
    ASSERT_EQ(chmod(dir.File("TallyphonDb.cfg").c_str(), 0644), 0);
    WriteSettings(dir, "AUTOSTART_1");
    auto exchange = StartExchange(dir.Path(), Holding(Day(7, 5)));
    EXPECT_EQ(RunProgram(std::chrono::seconds(60)), 0);
    EXPECT_EQ(CallLogLines(dir.File("calls.txt")).size(), 2u + 7u);
    EXPECT_NE(Errors().find("<4>Звонки площадки «Склад» не уходят в базу данных: "),
              std::string::npos)
        << Errors();
    EXPECT_NE(Errors().find("role \"nobody\" does not exist"), std::string::npos) << Errors();
    // The password others can read is told of once.
    const std::string warning = "<4>Файл «TallyphonDb.cfg» хранит пароль базы данных";
    EXPECT_NE(Errors().find(warning), std::string::npos) << Errors();
    EXPECT_EQ(Errors().find(warning), Errors().rfind(warning));
}

TEST_F(UnattendedStart, HeadlessWithoutSettingsEndsForGoodNamingTheFileToMend) {
    const std::string config = dir.File("Tallyphon.cfg"), out = dir.File("TallyphonOut.cfg");
    const std::string noCallLog = "Не выбран файл для сохранения данных: запишите в " + out +
                                  " строку TARIF_FNAME= с путем к файлу звонков. ";
    struct Row {
        bool config, out, configIsDir;
        std::string message;
    };
    const Row rows[] = {
        {false, true, false,
         "Файл настроек " + config + " не найден или поврежден: записан новый, с портом COM1. "},
        {true, false, false, noCallLog},
        {false, false, true, "Файл настроек " + config + " нельзя прочитать. " + noCallLog},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        std::filesystem::remove_all(config);
        std::filesystem::remove(out);
        WriteSettings(dir);
        if (!row.config) std::filesystem::remove(config);
        if (row.configIsDir) std::filesystem::create_directory(config);
        if (!row.out) std::filesystem::remove(out);
        ASSERT_EQ(symlink(dir.File("gone").c_str(), dir.File("COM1").c_str()), 0);
        const std::string outBefore = row.out ? ReadFile(out) : "";
        EXPECT_EQ(RunProgram(std::chrono::seconds(60), {"--headless", "--dir", dir.Path()}), 2);
        EXPECT_NE(Errors().find("<3>[Ошибка!] " + row.message +
                                "Программа без окна не начнет считывание, пока настройки не "
                                "исправлены.\n"),
                  std::string::npos)
            << Errors();
        // The administrator's output settings are kept.
        ASSERT_EQ(Exists(out), row.out);
        if (row.out) {
            EXPECT_EQ(ReadFile(out), outBefore);
        }
        std::remove(dir.File("COM1").c_str());
        WriteFile(errors_.File("stderr.txt"), "");
    }
}

TEST_F(UnattendedStart, HeadlessBadStartsEndWithAStatusAndAMessageAndChangeNoFile) {
    WriteSettings(dir, "AUTOSTART_UNINTERRUPT");
    WriteFile(dir.File("plain"), "x");
    struct Row {
        std::vector<std::string> args;
        std::string link;  // what COM1 points at; empty: the simulated exchange, silent
        int status;
        std::string message;
    };
    std::vector<Row> rows = {
        {{"--headless", "--bogus"},
         "",
         2,
         "<3>[Ошибка!] Неизвестный параметр: --bogus. Справка: tallyphon --help"},
        {{"--headless", "--dir"},
         "",
         2,
         "<3>[Ошибка!] Параметр --dir требует имя каталога. Справка: tallyphon --help"},
        {{"--headless", "--dir", dir.File("missing")},
         "",
         2,
         "<3>[Ошибка!] Каталог запуска не найден: " + dir.File("missing")},
        {{"--headless", "--dir", dir.File("plain")},
         "",
         2,
         "<3>[Ошибка!] Каталог запуска не является каталогом: " + dir.File("plain")},
        {{"--headless", "--dir", dir.Path()},
         dir.File("gone"),
         1,
         "<3>[Ошибка!] Ошибка при открытии СОМ-порта. COM1 в каталоге запуска указывает на " +
             dir.File("gone") + ", которого нет."},
        {{"--headless", "--dir", dir.Path()}, "", 1, "<4>[Уведомление] АТС не обнаружена."},
    };
    // Root may write anywhere it is not stopped by a read-only mount.
    if (access("/proc/sys", W_OK) != 0)
        rows.push_back({{"--headless", "--dir", "/proc/sys"},
                        "",
                        2,
                        "<3>[Ошибка!] Нет права записи в каталог запуска: /proc/sys"});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.back());
        std::unique_ptr<sim::TSimExchange> exchange;
        if (row.link.empty()) {
            exchange = StartExchange(dir.Path(), Holding(Day(3)));
            exchange->SetSilent(true);
        } else {
            ASSERT_EQ(symlink(row.link.c_str(), dir.File("COM1").c_str()), 0);
        }
        const auto before = Snapshot(dir.Path());
        TTempDir elsewhere;
        EXPECT_EQ(RunProgram(std::chrono::seconds(60), row.args, elsewhere.Path()), row.status);
        EXPECT_NE(Errors().find(row.message + "\n"), std::string::npos) << Errors();
        EXPECT_EQ(Snapshot(dir.Path()), before);
        EXPECT_TRUE(Snapshot(elsewhere.Path()).empty());
        exchange.reset();
        std::remove(dir.File("COM1").c_str());
        WriteFile(errors_.File("stderr.txt"), "");
    }
}

}  // namespace

namespace {

// The program's alerts end to end: a nearly full buffer and long calls
// from the simulated exchange, mail through msmtp to a real SMTP server,
// each alert once, and none again after a restart.
TEST_F(UnattendedStart, AlertsReachTheJournalAndTheMailOnceAcrossARestart) {
    TTempDir mail;
    const std::string inbox = mail.File("inbox");
    ASSERT_EQ(mkdir(inbox.c_str(), 0700), 0);
    const int port = FreePort();
    TSmtpServer smtp(port, inbox);
    ASSERT_TRUE(smtp.Started());
    ASSERT_TRUE(WaitUntil([&] { return Listening(port); }, std::chrono::seconds(30)));
    WriteFile(dir.File("TallyphonAlerts.cfg"), "SENDMAIL=" + WriteSendmail(mail.Path(), port) +
                                                   "\nduration;2;journal mail:boss@example.ru\n"
                                                   "buffer;80;journal mail:boss@example.ru\n");
    WriteSettings(dir, "");
    // 12 of 14 places taken: 85 %.
    const auto day = Day(14, 5);
    sim::TExchangeConfig config = Holding({day.begin(), day.begin() + 12});
    config.Units[0].Capacity = 14;
    auto exchange = StartExchange(dir.Path(), config);
    const pid_t pid = Spawn({"--headless", "--dir", dir.Path()});
    ASSERT_GT(pid, 0);
    auto calls = [&] {
        std::vector<std::string> out;
        for (const auto& line : CallLogLines(dir.File("calls.txt")))
            if (line.rfind("       ", 0) != 0) out.push_back(line);  // not a title line
        return out;
    };
    // The calls of two minutes or more, by the duration column (hh:mm:ss).
    auto longCalls = [&] {
        std::vector<std::string> out;
        for (const std::string& line : calls()) {
            const std::string duration = line.substr(line.find_first_not_of(' ', 19), 8);
            if (duration.size() == 8 && duration >= "00:02:00") out.push_back(line);
        }
        return out;
    };
    ASSERT_TRUE(WaitUntil([&] { return calls().size() == 12; }, std::chrono::seconds(60)))
        << Errors();
    const size_t matching = longCalls().size();
    ASSERT_GT(matching, 0u) << "the day holds no call of two minutes";
    ASSERT_LT(matching, 12u) << "every call of the day is long";
    // One mail at once for the buffer and one for the first long call; the
    // others of that rule wait for the next mail, ten minutes on.
    ASSERT_TRUE(WaitUntil([&] { return Mails(inbox).size() == 2; }, std::chrono::seconds(30)))
        << Errors();
    ASSERT_TRUE(WaitUntil([&] { return CountOf(Errors(), "Оповещение «duration»: ") == matching; },
                          std::chrono::seconds(30)))
        << Errors();
    for (const std::string& line : longCalls())
        EXPECT_EQ(CountOf(Errors(), line), 1u) << line << "\n" << Errors();
    EXPECT_EQ(CountOf(Errors(),
                      "<4>Оповещение «buffer»: буфер тарификации заполнен на 85 % (12 "
                      "записей из 14)"),
              1u)
        << Errors();
    const std::string mails = Mails(inbox)[0] + Mails(inbox)[1];
    EXPECT_NE(mails.find("To: boss@example.ru"), std::string::npos) << mails;
    EXPECT_NE(mails.find(longCalls()[0]), std::string::npos) << mails;
    kill(pid, SIGTERM);
    EXPECT_EQ(Wait(pid, std::chrono::seconds(30)), 0);

    // Started again with more calls: only they are new; the calls and the
    // buffer told of before are not told again, and the buffer, emptied,
    // is cleared once.
    const std::string before = Errors();
    exchange->AddRecord(0, day[12]);
    exchange->AddRecord(0, day[13]);
    const pid_t again = Spawn({"--headless", "--dir", dir.Path()});
    ASSERT_GT(again, 0);
    // Read to the end (the day's last record is one the exchange rejected).
    ASSERT_TRUE(WaitUntil([&] { return exchange->RecordCount(0) == 0 && calls().size() > 12; },
                          std::chrono::seconds(60)))
        << Errors();
    const size_t nowMatching = longCalls().size();
    ASSERT_TRUE(
        WaitUntil([&] { return CountOf(Errors(), "Оповещение «duration»: ") == nowMatching; },
                  std::chrono::seconds(30)))
        << Errors();
    kill(again, SIGTERM);
    EXPECT_EQ(Wait(again, std::chrono::seconds(30)), 0);
    for (const std::string& line : longCalls())
        EXPECT_EQ(CountOf(Errors(), line), 1u) << line;
    EXPECT_EQ(CountOf(Errors(), "Оповещение «buffer»: "), 1u) << Errors().substr(before.size());
    EXPECT_EQ(CountOf(Errors(), "<6>Оповещение «buffer» снято: "), 1u) << Errors();
    // The mails of both rules are due ten minutes after their last.
    EXPECT_EQ(Mails(inbox).size(), 2u);
}

}  // namespace
