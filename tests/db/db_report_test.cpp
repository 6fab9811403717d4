// Reports from the database, made by tallyphon-report: the same bytes as
// from the call-log file the calls were shipped from, an office column when
// several offices are reported, and clear refusals.
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/shipper.h"
#include "tests/common/recorder.h"
#include "tests/common/test_support.h"
#include "tests/db/db_test_support.h"
#include "tools/gen_calllog/calllog_gen.h"

using namespace testing_support;

namespace {

// What the report's edge cases look like in a file: titles, a line that is
// no call, incoming calls, an empty trunk, long numbers, a line whose later
// call has another programmed number; then a few days of generated calls.
std::string EdgeCaseFile() {
    std::string bytes = Lines({
        "       Данные на  05-03-2007 14:10:00 ",
        "       Начало         Продолжит   Абонент      СЛ     Номер",
        "05-03-2007 14:02:07   00:01:35   12( 121)     200     5551234              ",
        "05-03-2007 14:03:00   00:00:05   105(    )      04                          ",
        "garbage that is no call line at all, long enough",
        "05-03-2007 15:00:00   00:02:00   12( 121)                                   ",
        "06-03-2007 09:00:59   01:00:00   7(  17)      14     8*10495551234        ",
        "06-03-2007 10:00:00   00:10:00   40001(4000)  123456789  810441234567890123456",
        "07-03-2007 08:00:00   00:00:30   12( 122)     201     5550000              ",
    });
    TCallGenerator calls(11);
    for (int i = 0; i < 400; ++i)
        bytes += FormatStandardLine(calls.Next()) + "\r\n";
    return bytes;
}

struct TRun {
    int Status = -1;
    std::string Err;
    std::string Out;
};

std::string Quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs tallyphon-report with args under lang.
TRun Report(const std::vector<std::string>& args, const TTempDir& dir,
            const std::string& lang = "C") {
    std::string command = "LANG=" + lang + " LC_ALL=" + lang + " " + TALLYPHON_REPORT_PROGRAM;
    for (const std::string& a : args)
        command += " " + Quoted(a);
    const std::string err = dir.File("stderr.txt"), out = dir.File("stdout.txt");
    const int status = std::system((command + " >" + Quoted(out) + " 2>" + Quoted(err)).c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(err), ReadFile(out)};
}

class DbReport : public ::testing::Test {
  protected:
    void SetUp() override { conn = FreshDatabase(); }
    // Ships as the role the connection string names, or as role.
    void Ship(const std::string& site, const std::string& bytes, const std::string& role = "") {
        const std::string path = dir.File(site + ".txt");
        WriteFile(path, bytes);
        TShipper shipper({conn + (role.empty() ? "" : " user=" + role), site});
        const TShipResult r = shipper.ShipPending({path, "QTV610", "4321"});
        ASSERT_EQ(r.State, TShipState::CaughtUp) << r.Error;
    }
    std::string conn;
    TTempDir dir;
};

TEST_F(DbReport, FixedColumnFilesAreThoseOfTheCallLogFile) {
    const std::string file = EdgeCaseFile();
    Ship("Офис 1", file);
    Ship("Склад", Lines({"05-03-2007 14:02:07   00:01:35   12( 121)     200     5551234"}));
    const std::vector<std::vector<std::string>> rows = {
        {"--calls", "c", "--lines", "l", "--trunks", "t"},
        {"--lines", "l", "--trunks", "t"},  // summed by the server
        {"--lines", "l", "--sort-lines", "prg", "--from", "2007-03-06"},
        {"--trunks", "t", "--sort-trunks", "total", "--to", "2007-03-06"},
        {"--calls", "c", "--lines", "l", "--from", "2007-03-06", "--to", "2007-03-07"},
        {"--calls", "c", "--number", "12", "--hardware", "--sort-lines", "out"},
    };
    for (const auto& row : rows) {
        // "c", "l" and "t" name the outputs, made once from each source.
        std::vector<std::string> fromFile = {dir.File("Офис 1.txt")};
        std::vector<std::string> fromDb = {"--db", conn, "--site", "Офис 1"};
        for (const std::string& arg : row) {
            const bool output = arg.size() == 1;
            fromFile.push_back(output ? dir.File("file-" + arg) : arg);
            fromDb.push_back(output ? dir.File("db-" + arg) : arg);
        }
        ASSERT_EQ(Report(fromFile, dir).Status, 0) << fromFile.back();
        const TRun db = Report(fromDb, dir);
        ASSERT_EQ(db.Status, 0) << db.Err;
        for (const char* out : {"c", "l", "t"}) {
            if (std::find(row.begin(), row.end(), out) == row.end()) continue;
            const std::string expected = ReadFile(dir.File(std::string("file-") + out));
            EXPECT_GT(expected.size(), 100u);
            EXPECT_EQ(ReadFile(dir.File(std::string("db-") + out)), expected)
                << out << " of " << row[0] << " " << row[1] << " " << row[2];
        }
    }
}

TEST_F(DbReport, TheSummaryCountsTheSameCallsAsTheFileAndNamesWhatItCounts) {
    Ship("A", EdgeCaseFile());
    const TRun file = Report({dir.File("A.txt")}, dir);
    const TRun db = Report({"--db", conn}, dir);
    const size_t lists = file.Out.find("\nАЛ\n");
    EXPECT_EQ(file.Out.substr(0, lists),
              "Звонков: 406\nСтрок в файле (от 30 знаков): 409, из них не звонки: 3\n");
    EXPECT_EQ(db.Out, "Звонков: 406\n" + file.Out.substr(lists));
}

TEST_F(DbReport, SeveralOfficesGetAColumnOfTheirNameAndLinesOfTheirOwn) {
    Ship("Склад", Lines({
                      "05-03-2007 14:02:07   00:01:35   12( 121)     200     5551234",
                      "05-03-2007 14:03:00   00:00:05   12(    )      04              ",
                  }));
    Ship("Офис 1", Lines({
                       "06-03-2007 09:00:59   01:00:00   7(  17)      14     8*10495551234",
                       "06-03-2007 10:00:00   00:00:20   12( 300)     14     55",
                   }));
    const std::string bom = "\xEF\xBB\xBF";
    const std::string lines = bom +
                              "Площадка;Апп. АЛ;Прг. АЛ;Исх. трафик;Вх. трафик;Общий трафик\r\n"
                              "Офис 1;7;17;01:00:00;00:00:00;01:00:00\r\n"
                              "Офис 1;12;300;00:00:20;00:00:00;00:00:20\r\n"
                              "Склад;12;121;00:01:35;00:00:05;00:01:40\r\n";
    const std::string trunks = bom +
                               "Площадка;Апп. СЛ;Исх. трафик;Вх. трафик;Общий трафик\r\n"
                               "Офис 1;14;01:00:20;00:00:00;01:00:20\r\n"
                               "Склад;200;00:01:35;00:00:00;00:01:35\r\n"
                               "Склад;04;00:00:00;00:00:05;00:00:05\r\n";
    // Summed by the server, then from the calls (with the calls' CSV).
    ASSERT_EQ(
        Report({"--db", conn, "--csv-lines", dir.File("l.csv"), "--csv-trunks", dir.File("t.csv")},
               dir)
            .Status,
        0);
    EXPECT_EQ(ReadFile(dir.File("l.csv")), lines);
    EXPECT_EQ(ReadFile(dir.File("t.csv")), trunks);
    const TRun run = Report({"--db", conn, "--site", "Склад", "--site", "Офис 1", "--csv-calls",
                             dir.File("c.csv"), "--csv-lines", dir.File("l.csv"), "--csv-trunks",
                             dir.File("t.csv"), "--xlsx", dir.File("b.xlsx")},
                            dir, "ru_RU.UTF-8");
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(ReadFile(dir.File("l.csv")), lines);
    EXPECT_EQ(ReadFile(dir.File("t.csv")), trunks);
    EXPECT_EQ(ReadFile(dir.File("c.csv")),
              bom +
                  "Площадка;Дата;Время;Длительность;Апп. АЛ;Прг. АЛ;Номер СЛ;Внешний номер\r\n"
                  "Офис 1;06.03.2007;09:00:59;01:00:00;7;17;14;8*10495551234\r\n"
                  "Офис 1;06.03.2007;10:00:00;00:00:20;12;300;14;55\r\n"
                  "Склад;05.03.2007;14:02:07;00:01:35;12;121;200;5551234\r\n"
                  "Склад;05.03.2007;14:03:00;00:00:05;12;;04;\r\n");
    for (const char* sheet : {"sheet1.xml", "sheet2.xml", "sheet3.xml"})
        EXPECT_NE(ZipMember(dir.File("b.xlsx"), std::string("xl/worksheets/") + sheet)
                      .find("<t>Площадка</t>"),
                  std::string::npos)
            << sheet;
    // Sorted within each office.
    ASSERT_EQ(
        Report({"--db", conn, "--csv-lines", dir.File("l.csv"), "--sort-lines", "out"}, dir).Status,
        0);
    EXPECT_EQ(ReadFile(dir.File("l.csv")),
              bom +
                  "Площадка;Апп. АЛ;Прг. АЛ;Исх. трафик;Вх. трафик;Общий трафик\r\n"
                  "Офис 1;12;300;00:00:20;00:00:00;00:00:20\r\n"
                  "Офис 1;7;17;01:00:00;00:00:00;01:00:00\r\n"
                  "Склад;12;121;00:01:35;00:00:05;00:01:40\r\n");
    // A bill's subscribers are each office's own.
    WriteFile(dir.File("tariffs.csv"), "Префикс;Зона;Цена\r\n5;Город;1\r\n8;Межгород;3\r\n");
    ASSERT_EQ(Report({"--db", conn, "--tariffs", dir.File("tariffs.csv"), "--bill-csv",
                      dir.File("bill.csv")},
                     dir)
                  .Status,
              0);
    EXPECT_EQ(ReadFile(dir.File("bill.csv")),
              bom +
                  "Площадка;Абонент;Имя;Отдел;Зона;Звонков;Длительность, с;Тарифицировано, "
                  "с;Стоимость\r\n"
                  "Офис 1;17;;;Межгород;1;3600;3600;180,00\r\n"
                  "Офис 1;17;;;Итого;1;3600;3600;180,00\r\n"
                  "Офис 1;300;;;Город;1;20;60;1,00\r\n"
                  "Офис 1;300;;;Итого;1;20;60;1,00\r\n"
                  "Склад;121;;;Город;1;95;120;2,00\r\n"
                  "Склад;121;;;Итого;1;95;120;2,00\r\n"
                  ";Итого;;;;3;3715;3780;183,00\r\n");
    // One office: exactly the file's CSV, no office column.
    ASSERT_EQ(
        Report({"--db", conn, "--site", "Склад", "--csv-lines", dir.File("l.csv")}, dir).Status, 0);
    EXPECT_EQ(ReadFile(dir.File("l.csv")),
              bom +
                  "Апп. АЛ;Прг. АЛ;Исх. трафик;Вх. трафик;Общий трафик\r\n"
                  "12;121;00:01:35;00:00:05;00:01:40\r\n");
}

TEST_F(DbReport, SumsKeptAsCallsComeGiveTheListsOfTheCalls) {
    const std::string db = conn.substr(conn.find("dbname=") + 7);
    const std::string bom = "\xEF\xBB\xBF";
    // A database that held calls before it kept their sums.
    Ship("A", Lines({
                  "05-03-2007 14:02:07   00:01:35   12( 121)     200     5551234",
                  "05-03-2007 23:50:00   00:20:00   105(    )      04              ",
              }));
    Cluster().Psql(db,
                   "DROP TABLE tallyphon.day_sums, tallyphon.line_sums, tallyphon.trunk_sums,"
                   " tallyphon.hour_sums; DROP FUNCTION tallyphon.add_call_sums() CASCADE");
    for (int run = 0; run < 2; ++run)
        ASSERT_EQ(Report({"--db", conn, "--create-schema"}, dir).Status, 0);
    // Then calls in batches of a line or two, and another office.
    std::ofstream(dir.File("A.txt"), std::ios::app) << Lines({
        "06-03-2007 09:00:00   00:00:30   12( 122)     200     5550000",
        "06-03-2007 10:00:00   00:02:00   7(  17)      14              ",
        "06-03-2007 10:30:00   00:00:10   105(    )    14     8*123",
    });
    TShipper::TOptions small;
    small.BatchBytes = 100;
    TShipper shipper({conn, "A"}, small);
    ASSERT_EQ(shipper.ShipPending({dir.File("A.txt"), "QTV610", "4321"}).Calls, 3u);
    Ship("B", Lines({"05-03-2007 08:00:00   00:00:05   12( 300)     200     55"}));
    // A call placed before all others of its line on a day it already has.
    Cluster().Psql(db,
                   "INSERT INTO tallyphon.calls VALUES ('A', 0, 0, '', '', '2007-03-06 08:00:00',"
                   " 60, '7', '77', '14', '', 'x')");

    EXPECT_EQ(Cluster().Psql(db,
                             "SELECT site, day, calls, in_calls, in_sec, all_sec"
                             " FROM tallyphon.day_sums ORDER BY 1, 2"),
              "A|2007-03-05|2|1|1200|1295\nA|2007-03-06|4|2|180|220\nB|2007-03-05|1|0|0|5\n");
    // Past midnight the seconds go to the hours of the next day.
    EXPECT_EQ(Cluster().Psql(db,
                             "SELECT hour, out_calls, in_calls, out_sec, in_sec FROM"
                             " tallyphon.hour_sums WHERE site = 'A' AND day = '2007-03-05'"
                             " ORDER BY 1"),
              "0|0|0|0|600\n14|1|0|95|0\n23|0|1|0|600\n");
    const std::string head = bom + "Апп. АЛ;Прг. АЛ;Исх. трафик;Вх. трафик;Общий трафик\r\n";
    const struct {
        std::vector<std::string> args;
        std::string lines, trunks;
    } rows[] = {
        {{"--site", "A"},
         head + "7;77;00:00:00;00:03:00;00:03:00\r\n12;121;00:02:05;00:00:00;00:02:05\r\n"
                "105;;00:00:10;00:20:00;00:20:10\r\n",
         bom + "Апп. СЛ;Исх. трафик;Вх. трафик;Общий трафик\r\n14;00:00:10;00:03:00;00:03:10\r\n"
               "200;00:02:05;00:00:00;00:02:05\r\n04;00:00:00;00:20:00;00:20:00\r\n"},
        {{"--site", "A", "--from", "2007-03-06"},
         head + "7;77;00:00:00;00:03:00;00:03:00\r\n12;122;00:00:30;00:00:00;00:00:30\r\n"
                "105;;00:00:10;00:00:00;00:00:10\r\n",
         ""},
        {{"--to", "2007-03-05"}, "", ""},
    };
    for (const auto& row : rows) {
        // From the sums (the lists alone), then from the calls.
        std::vector<std::string> sums = {"--db", conn};
        sums.insert(sums.end(), row.args.begin(), row.args.end());
        std::vector<std::string> calls = sums;
        for (auto* args : {&sums, &calls})
            args->insert(args->end(), {"--csv-lines", dir.File(args == &sums ? "sl" : "cl"),
                                       "--csv-trunks", dir.File(args == &sums ? "st" : "ct")});
        calls.insert(calls.end(), {"--csv-calls", dir.File("c.csv")});
        ASSERT_EQ(Report(sums, dir).Status, 0) << Report(sums, dir).Err;
        ASSERT_EQ(Report(calls, dir).Status, 0);
        EXPECT_EQ(ReadFile(dir.File("sl")), ReadFile(dir.File("cl"))) << row.args.back();
        EXPECT_EQ(ReadFile(dir.File("st")), ReadFile(dir.File("ct"))) << row.args.back();
        if (!row.lines.empty()) {
            EXPECT_EQ(ReadFile(dir.File("sl")), row.lines);
        }
        if (!row.trunks.empty()) {
            EXPECT_EQ(ReadFile(dir.File("st")), row.trunks);
        }
    }
}

TEST_F(DbReport, BadArgumentsAndAnUnreachableDatabaseEndWithOneLineAndNoFile) {
    Ship("A", Lines({"05-03-2007 14:02:07   00:01:35   12( 121)     200     5551234"}));
    const std::string out = dir.File("out.txt");
    const std::string file = dir.File("A.txt");
    const std::string nowhere = "host=" + dir.Path() + " port=1";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string message;
    } rows[] = {
        {{file, "--db", conn, "--lines", out}, 2, "указаны и журнал звонков, и --db"},
        {{file, "--site", "A", "--lines", out}, 2, "--site требует --db"},
        {{"--db", conn, "--site", "A", "--site", "Нет", "--lines", out},
         2,
         "в базе данных нет площадки «Нет»\n"},
        {{"--db", nowhere, "--calls", out},
         1,
         "база данных host=" + dir.Path() + " port=1 недоступна: "},
        {{"--db", nowhere, "--lines", out}, 1, "недоступна: connection to server on socket"},
    };
    for (const auto& row : rows) {
        const TRun run = Report(row.args, dir);
        EXPECT_EQ(run.Status, row.status) << run.Err;
        EXPECT_EQ(run.Err.rfind("tallyphon-report: ", 0), 0u) << run.Err;
        EXPECT_NE(run.Err.find(row.message), std::string::npos) << run.Err;
        EXPECT_EQ(run.Err.find('\n'), run.Err.size() - 1) << run.Err;
        EXPECT_FALSE(Exists(out));
    }
}

TEST_F(DbReport, NoMessageShowsAPassword) {
    const std::string dirs = Cluster().Dir(), db = conn.substr(conn.find("dbname=") + 7);
    const std::string unread = "строка подключения к базе данных не разобрана: ";
    const std::pair<std::string, std::string> rows[] = {
        {Cluster().ConnInfo(db) + " user=nobody password=Secr3t", "role \"nobody\" does not exist"},
        {"postgresql://nobody:Se?cr3t@/" + db + "?host=" + dirs, "role \"nobody\" does not exist"},
        {"postgresql://nobody:Secr3t%zzpw@/" + db + "?host=" + dirs,
         unread + "invalid percent-encoded token: \"…\""},
        {"host=" + dirs + " password=Se cr3t", unread + "missing \"…\" after \"…\" in connection"},
        {"postgresql://nobody:Se/cr3t@/" + db + "?host=" + dirs, "знак «@» после имени сервера"},
    };
    const std::string warning = "tallyphon-report: Пароль базы данных указан в --db: ";
    for (const auto& [conninfo, why] : rows) {
        TShipper shipper({conninfo, "A"});
        const std::string error = shipper.ShipPending({dir.File("A.txt"), "", ""}).Error;
        EXPECT_NE(error.find(why), std::string::npos) << error;
        const TRun run = Report({"--db", conninfo, "--lines", dir.File("out.txt")}, dir);
        EXPECT_EQ(run.Err.rfind(warning, 0), 0u) << run.Err;
        EXPECT_NE(run.Err.find(why), std::string::npos) << run.Err;
        for (const std::string& text : {error, run.Err})
            EXPECT_EQ(text.find("cr3t"), std::string::npos) << text;
    }
}

TEST_F(DbReport, EachOfficeReachesItsOwnRowsOnlyAndAReaderOnlyReads) {
    const std::string db = conn.substr(conn.find("dbname=") + 7);
    const std::string call = "05-03-2007 14:02:07   00:01:35   12( 121)     200     5551234";
    Cluster().Psql(db,
                   "CREATE ROLE office_a LOGIN; CREATE ROLE office_b LOGIN;"
                   " CREATE ROLE accountant LOGIN");
    // An office may not make the schema, and is told who does.
    WriteFile(dir.File("A.txt"), Lines({call}));
    const TShipResult refused =
        TShipper({conn + " user=office_a", "A"}).ShipPending({dir.File("A.txt"), "QTV610", "1"});
    EXPECT_NE(refused.Error.find("permission denied for database"), std::string::npos);
    EXPECT_NE(refused.Error.find("tallyphon-report --db СТРОКА --create-schema"), std::string::npos)
        << refused.Error;
    ASSERT_EQ(Report({"--db", conn, "--create-schema"}, dir).Status, 0);
    Cluster().Psql(db,
                   "GRANT tallyphon_office TO office_a, office_b;"
                   " GRANT tallyphon_reader TO accountant;"
                   " INSERT INTO tallyphon.offices VALUES ('A', 'office_a'), ('B', 'office_b')");
    Ship("A", Lines({call}), "office_a");
    Ship("B", Lines({call, call}), "office_b");
    const struct {
        const char* role;
        const char* sql;
        const char* result;
    } rows[] = {
        {"office_a", "SELECT string_agg(site, ',') FROM tallyphon.calls", "A\n"},
        {"office_a", "SELECT site FROM tallyphon.offices", "A\n"},
        {"office_a",
         "WITH u AS (UPDATE tallyphon.files SET shipped_offset = 0 WHERE site = 'B'"
         " RETURNING 1) SELECT count(*) FROM u",
         "0\n"},
        {"office_a",
         "WITH u AS (UPDATE tallyphon.sites SET shipped_calls = 0 WHERE site = 'B'"
         " RETURNING 1) SELECT count(*) FROM u",
         "0\n"},
        {"office_a", "UPDATE tallyphon.calls SET duration = 0",
         "permission denied for table calls"},
        {"office_a", "DELETE FROM tallyphon.files", "permission denied for table files"},
        {"office_a", "INSERT INTO tallyphon.sites (site) VALUES ('B')",
         "violates row-level security policy"},
        {"office_a", "DROP TABLE tallyphon.calls", "must be owner of table calls"},
        {"office_a", "DROP SCHEMA tallyphon CASCADE", "must be owner of schema tallyphon"},
        {"accountant", "SELECT string_agg(site, ',' ORDER BY site) FROM tallyphon.calls",
         "A,B,B\n"},
        {"accountant", "INSERT INTO tallyphon.offices VALUES ('C', 'c')",
         "permission denied for table offices"},
        {"accountant", "TRUNCATE tallyphon.calls", "permission denied for table calls"},
    };
    for (const auto& row : rows) {
        std::string out;
        try {
            out = Cluster().Psql(db, std::string("SET ROLE ") + row.role + "; " + row.sql);
        } catch (const std::exception& e) {
            out = e.what();
        }
        EXPECT_NE(out.find(row.result), std::string::npos) << row.sql << "\n" << out;
    }
    // The schema being current, an office ships without making anything.
    Ship("A", Lines({call, call}), "office_a");
    EXPECT_EQ(
        Cluster().Psql(db, "SELECT site, count(*) FROM tallyphon.calls GROUP BY 1 ORDER BY 1"),
        "A|2\nB|2\n");
    // An office upgraded before its database: the tables of the alerts and
    // the web view missing, its calls go on, and it is told so once.
    Cluster().Psql(db, "DROP TABLE tallyphon.alerts, tallyphon.office_files");
    TRecorder recorder;
    Ship("A", Lines({call, call, call}), "office_a");
    Ship("A", Lines({call, call, call, call}), "office_a");
    EXPECT_EQ(Cluster().Psql(db, "SELECT count(*) FROM tallyphon.calls WHERE site = 'A'"), "4\n");
    const auto journal = recorder.JournalLines();
    ASSERT_EQ(journal.size(), 2u);
    for (const std::string& line : journal)
        EXPECT_EQ(
            line.rfind("<4>Звонки площадки «A» уходят в базу данных, но в базе данных нет "
                       "таблиц тревог, сумм и веб-просмотра схемы tallyphon, а сделать их нельзя: ",
                       0),
            0u)
            << line;
}

}  // namespace
