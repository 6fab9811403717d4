// Shipping the call-log file to the database: each call once, in the order
// written, through new files, a shrunk file and an unreachable server.
#include <unistd.h>

#include <cstdio>
#include <string>

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
    EXPECT_NE(bad.ShipPending(Source(path)).Error.find("missing \"=\""), std::string::npos);
}

}  // namespace
