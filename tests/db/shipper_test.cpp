// Shipping the call-log file to the database: each call once, in the order
// written, through new files, a shrunk file and an unreachable server.
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <future>
#include <string>
#include <utility>

#include <pqxx/pqxx>

#include <gtest/gtest.h>

#include "base/cp1251.h"
#include "db/shipper.h"
#include "tests/common/recorder.h"
#include "tests/common/test_support.h"
#include "tests/db/db_test_support.h"

using namespace testing_support;

namespace {

const std::string kTitle = "       Данные на  05-03-2007 14:10:00 ";
const std::string kColumns = "       Начало         Продолжит   Абонент      СЛ     Номер";
const std::string kCall1 =
    "05-03-2007 14:02:07   00:01:35   12( 121)     200     5551234              ";
const std::string kCall2 =
    "05-03-2007 14:03:00   00:00:05   105(    )      04                          ";
const std::string kCall3 =
    "06-03-2007 09:00:59   01:00:00   7(  17)      14     8*10495551234        ";

void Append(const std::string& path, const std::string& bytes) {
    WriteFile(path, ReadFile(path) + bytes);
}

class Shipper : public ::testing::Test {
  protected:
    void SetUp() override {
        conn = FreshDatabase();
        db = conn.substr(conn.find("dbname=") + 7);
    }
    // The server is every test's of this process: one that stopped it and
    // ended early must not fail the tests after it.
    void TearDown() override {
        if (!Cluster().Running()) Cluster().Start();
    }
    std::string Rows(const std::string& what =
                         "file_no, file_offset, start, duration, hw_line,"
                         " prg_number, trunk, dialled, model, serial") {
        return Cluster().Psql(
            db, "SELECT " + what + " FROM tallyphon.calls ORDER BY file_no, file_offset");
    }
    TShipSource Source(const std::string& path) { return {path, "QTV610", "4321"}; }
    // Retries at once.
    static TShipper::TOptions Quick() {
        TShipper::TOptions quick;
        quick.RetryAfter = std::chrono::milliseconds(50);
        quick.RetryMax = std::chrono::milliseconds(200);
        return quick;
    }
    std::string conn, db;
    TTempDir dir;
};

TEST_F(Shipper, ShipsEachCompleteCallOnceWithItsPlaceInTheFile) {
    const std::string path = dir.File("calls.txt");
    // A title, two calls, a line the report would not take, and the start
    // of a line still being written.
    WriteFile(path, Lines({kTitle, kColumns, kCall1, kCall2, "garbage that is no call line"}) +
                        "06-03-2007 09:0");
    TShipper shipper({conn, "Офис 1"});
    TShipResult r = shipper.ShipPending(Source(path));
    ASSERT_EQ(r.State, TShipState::CaughtUp) << r.Error;
    EXPECT_EQ(r.Calls, 2u);
    EXPECT_EQ(Rows(),
              "1|101|2007-03-05 14:02:07|95|12|121|200|5551234|QTV610|4321\n"
              "1|178|2007-03-05 14:03:00|5|105||04||QTV610|4321\n");
    EXPECT_EQ(Cluster().Psql(db, "SELECT log_line FROM tallyphon.calls WHERE file_offset = 101"),
              kCall1 + "\n");
    // Shipping again ships nothing; the rest of the line, once written, is
    // shipped whole.
    EXPECT_EQ(shipper.ShipPending(Source(path)).Calls, 0u);
    Append(path, Utf8ToCp1251(kCall3.substr(15)) + "\r\n");
    // A second shipper (the program started again) goes on where the
    // database says.
    TShipper again({conn, "Офис 1"});
    r = again.ShipPending(Source(path));
    EXPECT_EQ(r.Calls, 1u);
    EXPECT_EQ(Rows("file_offset, start, duration, hw_line, prg_number, trunk, dialled"),
              "101|2007-03-05 14:02:07|95|12|121|200|5551234\n"
              "178|2007-03-05 14:03:00|5|105||04|\n"
              "286|2007-03-06 09:00:59|3600|7|17|14|8*10495551234\n");
    EXPECT_EQ(Cluster().Psql(db,
                             "SELECT site, file_no, model, serial, shipped_calls"
                             " FROM tallyphon.sites"),
              "Офис 1|1|QTV610|4321|3\n");
}

// Russian servers often hold their databases in Windows-1251: the office's
// name is stored as its letters there, whatever the user's string asks.
TEST_F(Shipper, AWindows1251DatabaseHoldsTheOfficeNameAsWritten) {
    const std::string name = db + "_1251";
    Cluster().Psql("postgres", "CREATE DATABASE \"" + name +
                                   "\" ENCODING 'WIN1251' LC_COLLATE 'C' LC_CTYPE 'C'"
                                   " TEMPLATE template0");
    const std::string path = dir.File("calls.txt");
    WriteFile(path, Lines({kCall1}));
    TShipper shipper({Cluster().ConnInfo(name) + " client_encoding=WIN1251", "Офис Иваново"});
    const TShipResult r = shipper.ShipPending(Source(path));
    ASSERT_EQ(r.State, TShipState::CaughtUp) << r.Error;
    EXPECT_EQ(Cluster().Psql(name,
                             "SET client_encoding TO 'UTF8';"
                             " SELECT site, shipped_calls, length(site) FROM tallyphon.sites"),
              "Офис Иваново|1|12\n");
}

TEST_F(Shipper, AReplacedOrShrunkFileIsShippedFromItsStartAndTheOldCallsStay) {
    const std::string path = dir.File("calls.txt");
    WriteFile(path, Lines({kCall1, kCall2}));
    TShipper shipper({conn, "A"});
    ASSERT_EQ(shipper.ShipPending(Source(path)).Calls, 2u);
    // Rotated: the old file moves away, a new one takes its name.
    ASSERT_EQ(std::rename(path.c_str(), dir.File("calls.txt.1").c_str()), 0);
    WriteFile(path, Lines({kCall3}));
    ASSERT_EQ(shipper.ShipPending(Source(path)).Calls, 1u);
    // Shrunk in place (the same inode): a new file again.
    ASSERT_EQ(truncate(path.c_str(), 0), 0);
    Append(path, Lines({kCall2}));
    ASSERT_EQ(shipper.ShipPending(Source(path)).Calls, 1u);
    // The same length, other bytes: no longer the file that was shipped.
    std::string other = Lines({kCall2});
    other[35] = '6';  // line 106
    WriteFile(path, other);
    ASSERT_EQ(shipper.ShipPending(Source(path)).Calls, 1u);
    // The rotated file named again goes on where it was: nothing twice.
    Append(dir.File("calls.txt.1"), Lines({kCall3}));
    ASSERT_EQ(shipper.ShipPending(Source(dir.File("calls.txt.1"))).Calls, 1u);
    EXPECT_EQ(Rows("file_no, file_offset, hw_line"),
              "1|0|12\n1|77|105\n1|155|7\n2|0|7\n3|0|105\n4|0|106\n");
    EXPECT_EQ(Cluster().Psql(db,
                             "SELECT file_no, shipped_offset FROM tallyphon.files"
                             " ORDER BY file_no"),
              "1|231\n2|76\n3|78\n4|78\n");
}

TEST_F(Shipper, BatchesOfAFewBytesShipEveryCallOnce) {
    const std::string path = dir.File("calls.txt");
    std::string bytes;
    for (int i = 0; i < 50; ++i)
        bytes += Lines({i % 3 == 0 ? kCall1 : i % 3 == 1 ? kCall2 : kCall3});
    WriteFile(path, bytes);
    TShipper::TOptions small;
    small.BatchBytes = 200;  // two lines and a piece of the third
    TShipper shipper({conn, "A"}, small);
    const TShipResult r = shipper.ShipPending(Source(path));
    EXPECT_EQ(r.State, TShipState::CaughtUp) << r.Error;
    EXPECT_EQ(r.Calls, 50u);
    EXPECT_EQ(Cluster().Psql(db,
                             "SELECT count(*), count(DISTINCT file_offset), sum(duration)"
                             " FROM tallyphon.calls"),
              "50|50|59300\n");
}

TEST_F(Shipper, ACallTheServerCannotHoldIsToldOfOnceAndTheRestIsShipped) {
    TRecorder recorder;
    // Digits compression does not shorten, as the server's index keeps them.
    std::string digits;
    for (unsigned x = 1; digits.size() < 2800; x = x * 1103515245u + 12345u)
        digits += static_cast<char>('0' + (x >> 16) % 10);
    std::string nul = kCall2;
    nul[60] = '\0';
    const std::string start = "05-03-2007 14:02:07   00:01:35   ";
    const std::string path = dir.File("calls.txt");
    WriteFile(path,
              Lines({kCall1, nul, start + digits.substr(0, 1400) + "(1)  2  " + digits.substr(1400),
                     start + "12( 121)  200  " + digits.substr(0, 2597), kCall3}));
    TShipper shipper({conn, "A"});
    EXPECT_EQ(shipper.ShipPending(Source(path)).Calls, 3u);
    EXPECT_EQ(shipper.ShipPending(Source(path)).Calls, 0u);  // passed over for good
    EXPECT_EQ(Rows("file_offset, length(dialled)"), "0|7\n2998|2597\n5645|13\n");
    const std::string told = "<3>Звонок площадки «A» в файле «" + path + "», байт ";
    EXPECT_EQ(recorder.JournalLines(),
              (std::vector<std::string>{
                  told + "77, не принят базой данных и пропущен: в строке нулевой байт",
                  told + "155, не принят базой данных и пропущен: номер линии и набранный номер "
                         "длиннее 2600 байт, которые вмещает индекс"}));
}

TEST_F(Shipper, ATrunkTheSumsCannotHoldIsToldOfOnceAndTheRestIsShipped) {
    TRecorder recorder;
    std::string digits;
    for (unsigned x = 7; digits.size() < 2600; x = x * 1103515245u + 12345u)
        digits += static_cast<char>('0' + (x >> 16) % 10);
    const std::string path = dir.File("calls.txt");
    WriteFile(path, Lines({kCall1, "05-03-2007 14:02:07   00:01:35   12( 121)  " + digits + "  55",
                           kCall3}));
    TShipper shipper({conn, "A"});
    EXPECT_EQ(shipper.ShipPending(Source(path)).Calls, 2u);
    EXPECT_EQ(Cluster().Psql(db, "SELECT sum(calls) FROM tallyphon.trunk_sums"), "2\n");
    EXPECT_EQ(recorder.JournalLines(),
              (std::vector<std::string>{"<3>Звонок площадки «A» в файле «" + path +
                                        "», байт 77, не принят базой данных и пропущен: номер СЛ "
                                        "длиннее 2600 байт, которые вмещает индекс"}));
}

TEST_F(Shipper, AnUnreachableDatabaseStallsAndCatchesUpWithJournalLines) {
    TRecorder recorder;
    const std::string path = dir.File("calls.txt");
    WriteFile(path, Lines({kCall1}));
    TShipper shipper({conn, "A"}, Quick());
    shipper.Start(Source(path));
    ASSERT_TRUE(WaitFor([&] { return shipper.ShippedCalls() == 1; }));
    Cluster().Stop();
    Append(path, Lines({kCall2, kCall3}));
    shipper.Notify(Source(path));
    ASSERT_TRUE(WaitFor([&] { return shipper.Stalled(); }));
    Cluster().Start();
    ASSERT_TRUE(WaitFor([&] { return shipper.ShippedCalls() == 3 && !shipper.Stalled(); },
                        std::chrono::seconds(20)));
    shipper.Stop();
    const auto journal = recorder.JournalLines();
    ASSERT_EQ(journal.size(), 2u);
    EXPECT_EQ(journal[0].rfind("<4>Звонки площадки «A» не уходят в базу данных: ", 0), 0u)
        << journal[0];
    EXPECT_NE(journal[0].find("; ждут отправки звонков: 2. Считывание продолжается"),
              std::string::npos)
        << journal[0];
    EXPECT_EQ(journal[1],
              "<6>Звонки площадки «A» снова уходят в базу данных: отправлено ожидавших "
              "звонков: 2");
    EXPECT_EQ(Rows("hw_line"), "12\n105\n7\n");
}

TEST_F(Shipper, AMovedShippedOffsetNeitherDoublesACallNorGuesses) {
    const std::string path = dir.File("calls.txt");
    WriteFile(path, Lines({kTitle, kColumns, kCall1, kCall2, kCall3}));
    TShipper shipper({conn, "A"});
    ASSERT_EQ(shipper.ShipPending(Source(path)).Calls, 3u);
    // Past the end, into a line, onto another line's start: damage, told
    // with the file's name; the start: the file is checked again.
    const struct {
        const char* offset;
        bool damaged;
    } rows[] = {{"400", true}, {"120", true}, {"178", true}, {"0", false}};
    for (const auto& row : rows) {
        Cluster().Psql(db,
                       std::string("UPDATE tallyphon.files SET shipped_offset = ") + row.offset);
        const TShipResult r = shipper.ShipPending(Source(path));
        EXPECT_EQ(r.State, row.damaged ? TShipState::Failed : TShipState::CaughtUp) << row.offset;
        EXPECT_EQ(r.Damaged, row.damaged) << row.offset;
        EXPECT_EQ(r.Calls, 0u) << row.offset;
        EXPECT_EQ(r.Error.find("«" + path + "»") != std::string::npos, row.damaged) << r.Error;
    }
    // A copy under another name is the same file, and goes on.
    WriteFile(dir.File("copy.txt"), ReadFile(path) + Lines({kCall1}));
    EXPECT_EQ(shipper.ShipPending(Source(dir.File("copy.txt"))).Calls, 1u);
    EXPECT_EQ(Rows("file_no, file_offset"), "1|101\n1|178\n1|256\n1|332\n");
    EXPECT_EQ(Cluster().Psql(db, "SELECT shipped_offset FROM tallyphon.files"), "409\n");
}

TEST_F(Shipper, ALostFilesTableIsMadeAgainAndDamageIsToldWhileItLasts) {
    const std::string path = dir.File("calls.txt");
    WriteFile(path, Lines({kCall1}));
    TShipper::TOptions repeating = Quick();
    repeating.RepeatAfter = std::chrono::milliseconds(0);
    TShipper shipper({conn, "A"}, repeating);
    TRecorder recorder;
    shipper.Start(Source(path));
    ASSERT_TRUE(WaitFor([&] { return shipper.ShippedCalls() == 1; }));
    Cluster().Psql(db, "DROP TABLE tallyphon.files");
    Append(path, Lines({kCall2}));
    shipper.Notify(Source(path));
    ASSERT_TRUE(WaitFor([&] { return shipper.ShippedCalls() == 2 && !shipper.Stalled(); }));
    Cluster().Psql(db, "UPDATE tallyphon.files SET shipped_offset = 5");
    Append(path, Lines({kCall3}));
    shipper.Notify(Source(path));
    const auto told = [&] {
        int n = 0;
        for (const std::string& line : recorder.JournalLines())
            n += line.rfind("<3>", 0) == 0 && line.find("«" + path + "»") != std::string::npos;
        return n;
    };
    ASSERT_TRUE(WaitFor([&] { return told() >= 2; }));
    Cluster().Psql(db, "UPDATE tallyphon.files SET shipped_offset = 0");
    ASSERT_TRUE(WaitFor([&] { return shipper.ShippedCalls() == 3 && !shipper.Stalled(); }));
    shipper.Stop();
    const auto journal = recorder.JournalLines();
    EXPECT_EQ(journal[0].rfind("<3>Звонки площадки «A» не уходят в базу данных: ", 0), 0u)
        << journal[0];
    EXPECT_NE(journal[0].find("tallyphon.files"), std::string::npos) << journal[0];
    EXPECT_EQ(journal.back(),
              "<6>Звонки площадки «A» снова уходят в базу данных: отправлено ожидавших "
              "звонков: 1");
    EXPECT_EQ(Rows("file_no, file_offset"), "1|0\n1|77\n1|155\n");
}

TEST_F(Shipper, ADatabaseOfTheEarlierSchemaIsUpgradedInPlace) {
    const std::string path = dir.File("calls.txt");
    WriteFile(path, Lines({kCall1, kCall2}));
    ASSERT_EQ(TShipper({conn, "A"}).ShipPending(Source(path)).Calls, 2u);
    // As the earlier version left it: files without identity.
    Cluster().Psql(db, "ALTER TABLE tallyphon.files DROP COLUMN file_id");
    Append(path, Lines({kCall3}));
    TShipper shipper({conn, "A"});
    EXPECT_EQ(shipper.ShipPending(Source(path)).Calls, 1u);
    Cluster().Psql(db, "UPDATE tallyphon.files SET shipped_offset = 0");
    EXPECT_EQ(shipper.ShipPending(Source(path)).Calls, 0u);
    EXPECT_EQ(Rows("file_no, file_offset"), "1|0\n1|77\n1|155\n");
    EXPECT_EQ(Cluster().Psql(db, "SELECT file_no FROM tallyphon.files WHERE file_id IS NOT NULL"),
              "1\n");
}

TEST_F(Shipper, ARefusedConnectionStringIsAClearFailure) {
    const std::string path = dir.File("calls.txt");
    WriteFile(path, Lines({kCall1}));
    TShipper shipper({"host=" + dir.Path() + " port=1 user=nobody", "A"});
    const TShipResult r = shipper.ShipPending(Source(path));
    EXPECT_EQ(r.State, TShipState::Failed);
    EXPECT_NE(r.Error.find("connection to server on socket"), std::string::npos) << r.Error;
    EXPECT_EQ(ReadFile(path), Lines({kCall1}));
    TShipper bad({"this is no conninfo", "A"});
    EXPECT_NE(bad.ShipPending(Source(path)).Error.find("не разобрана: missing \"…\" after"),
              std::string::npos);
}

// What a pass waits for: a session of the test's own holding a lock, a
// statement the server never ends, a server that never answers a connect.
struct TWait {
    std::string Conn;     // empty: the test's database
    std::string Holding;  // SQL the test's session runs and holds open
    std::string Setup;    // SQL run first (psql)
    std::string Told;     // what the journal says is waited for
    bool Freeze = false;  // the waiting session's server process is stopped (SIGSTOP)
};

// A TCP port that takes connections and never answers them.
struct TSilentServer {
    TSilentServer() : Fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (bind(Fd, reinterpret_cast<sockaddr*>(&a), size) != 0 || listen(Fd, 4) != 0 ||
            getsockname(Fd, reinterpret_cast<sockaddr*>(&a), &size) != 0)
            throw std::runtime_error("no socket");
        Port = std::to_string(ntohs(a.sin_port));
    }
    ~TSilentServer() {
        if (Fd >= 0) close(Fd);
    }
    int Fd;
    std::string Port;
};

class ShipperWaits : public Shipper {
  protected:
    void SetUp() override {
        Shipper::SetUp();
        WriteFile(path, Lines({kCall1}));
        ASSERT_EQ(TShipper({conn, "A"}).ShipPending(Source(path)).Calls, 1u);
        Append(path, Lines({kCall2}));
    }
    // Holds what row says, runs act; then, whether act ended by itself
    // within a generous deadline while it was held. Released afterwards
    // either way, so that a hung act ends too.
    bool EndsWhileHeld(const TWait& row, const std::function<void()>& act) {
        if (!row.Setup.empty()) Cluster().Psql(db, row.Setup);
        pqxx::connection holder(conn);
        pqxx::work hold(holder);
        if (!row.Holding.empty()) hold.exec(row.Holding);
        auto done = std::async(std::launch::async, act);
        std::string frozen;
        if (row.Freeze && WaitFor([&] {
                frozen = Cluster().Psql(db,
                                        "SELECT pid FROM pg_stat_activity WHERE wait_event_type"
                                        " = 'Lock' AND datname = current_database()");
                return !frozen.empty();
            }))
            kill(std::stoi(frozen), SIGSTOP);
        const bool ended = done.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
        if (!frozen.empty()) kill(std::stoi(frozen), SIGCONT);
        hold.abort();
        Cluster().Psql(db,
                       "SELECT pg_cancel_backend(pid) FROM pg_stat_activity"
                       " WHERE datname = current_database() AND pid <> pg_backend_pid()");
        if (!row.Conn.empty()) close(std::exchange(silent.Fd, -1));
        done.wait();
        if (!row.Setup.empty())
            Cluster().Psql(db, "DROP TRIGGER IF EXISTS slow ON tallyphon.calls");
        return ended;
    }
    const std::string path = dir.File("calls.txt");
    const std::string slow =
        "CREATE OR REPLACE FUNCTION slow() RETURNS trigger LANGUAGE plpgsql AS"
        " 'BEGIN PERFORM pg_sleep(600); RETURN NEW; END';"
        " CREATE TRIGGER slow BEFORE INSERT ON tallyphon.calls"
        " FOR EACH ROW EXECUTE FUNCTION slow()";
    TSilentServer silent;
};

TEST_F(ShipperWaits, ALockOrAStatementTheServerHoldsFailsThePassByItself) {
    const TWait rows[] = {{"", "LOCK TABLE tallyphon.calls", "", "lock timeout"},
                          {"", "", slow, "statement timeout"}};
    for (const TWait& row : rows) {
        TShipper::TOptions limits;
        limits.LockTimeout = std::chrono::milliseconds(100);
        limits.StatementTimeout = row.Setup.empty() ? std::chrono::minutes(10) : limits.LockTimeout;
        TShipper shipper({conn, "A"}, limits);
        TShipResult r;
        EXPECT_TRUE(EndsWhileHeld(row, [&] { r = shipper.ShipPending(Source(path)); })) << row.Told;
        EXPECT_EQ(r.State, TShipState::Failed);
        EXPECT_EQ(r.Error.rfind("ERROR: canceling statement due to " + row.Told, 0), 0u) << r.Error;
    }
    EXPECT_EQ(Rows("hw_line"), "12\n");
}

TEST_F(ShipperWaits, AStopEndsWhateverTheServerDoesAndALongWaitIsToldOf) {
    const std::string copying =
        "записи звонков в tallyphon.calls: таблицу держит другой сеанс, или сервер не отвечает";
    // The schema being current, nothing is made: the lock holds the batch.
    const TWait rows[] = {
        {"", "LOCK TABLE tallyphon.calls", "", copying},
        {"", "LOCK TABLE tallyphon.calls", "", copying, true},
        {"", "", slow, copying},
        {"host=127.0.0.1 port=" + silent.Port + " user=pbx connect_timeout=600", "", "",
         "ответа сервера на подключение (host=127.0.0.1 port=" + silent.Port + " user=pbx)"},
    };
    for (const TWait& row : rows) {
        TRecorder recorder;
        TShipper::TOptions options;
        options.WarnAfter = std::chrono::milliseconds(100);
        options.LockTimeout = options.StatementTimeout = std::chrono::minutes(10);
        TShipper shipper({row.Conn.empty() ? conn : row.Conn, "A"}, options);
        EXPECT_TRUE(EndsWhileHeld(row, [&] {
            shipper.Start(Source(path));
            if (WaitFor([&] { return !recorder.JournalLines().empty(); }))
                shipper.Stop(TShipper::TDrain::LastLines);
        })) << row.Told;
        const auto journal = recorder.JournalLines();
        ASSERT_FALSE(journal.empty());
        EXPECT_EQ(journal[0],
                  "<4>Отправка звонков площадки «A» в базу данных ждет дольше 0,1 с " + row.Told);
    }
    // Nothing of a stopped batch stays, and it is shipped once later.
    EXPECT_EQ(Rows("hw_line"), "12\n");
    EXPECT_EQ(TShipper({conn, "A"}).ShipPending(Source(path)).Calls, 1u);
    EXPECT_EQ(Rows("hw_line"), "12\n105\n");
}

}  // namespace
