// The database sink against a real PostgreSQL server, as an office's role
// with the rights the schema gives it.
#include <string>

#include <gtest/gtest.h>

#include "alerts/db_sink.h"
#include "db/schema.h"
#include "tests/common/test_support.h"
#include "tests/db/db_test_support.h"

using namespace testing_support;

namespace {

class DbSink : public ::testing::Test {
  protected:
    void SetUp() override {
        owner_ = FreshDatabase();
        ASSERT_TRUE(MakeSchemaAt(owner_).Ok());
        db_ = owner_.substr(owner_.find("dbname=") + 7);
        // Roles are the cluster's, shared by the tests' databases.
        Sql("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'alert_a') THEN"
            " CREATE ROLE alert_a LOGIN; END IF; END $$;"
            " GRANT tallyphon_office TO alert_a;"
            " INSERT INTO tallyphon.offices VALUES ('Kiev-A', 'alert_a')");
    }
    std::string Sql(const std::string& sql) { return Cluster().Psql(db_, sql); }

    std::string owner_, db_;
};

TAlert Alert(const std::string& key, TAlertKind kind, bool cleared, const std::string& text,
             const std::string& callLine = {}) {
    TAlert alert;
    alert.Key = key;
    alert.Kind = kind;
    alert.Cleared = cleared;
    alert.Site = "Kiev-A";
    alert.Text = text;
    alert.CallLine = callLine;
    alert.At = 1772704800;  // 2026-03-05 10:00:00 UTC
    return alert;
}

const char* const kRows =
    "SELECT site, key, kind, cleared, to_char(raised_at AT TIME ZONE 'UTC',"
    " 'YYYY-MM-DD HH24:MI:SS'), text, call_line FROM tallyphon.alerts ORDER BY site, key";

TEST_F(DbSink, AddsEachAlertOnceAndOnlyForItsOffice) {
    TDbSink sink({owner_ + " user=alert_a", "Kiev-A"});
    const std::string line = "05-03-2026 10:00:00   00:02:05   101(2101)   3   84951234567";
    EXPECT_EQ(sink.Deliver(Alert("1:40", TAlertKind::Cost, false, "Звонок стоил 512,00", line)),
              "");
    // Delivered again after an answer lost: the first row stays alone.
    EXPECT_EQ(sink.Deliver(Alert("1:40", TAlertKind::Cost, false, "другой текст", line)), "");
    EXPECT_EQ(sink.Deliver(Alert("buffer:7:end", TAlertKind::Buffer, true, "Буфер 20%")), "");
    EXPECT_EQ(Sql(kRows), "Kiev-A|1:40|cost|f|2026-03-05 10:00:00|Звонок стоил 512,00|" + line +
                              "\n"
                              "Kiev-A|buffer:7:end|buffer|t|2026-03-05 10:00:00|Буфер 20%|\n");

    // The server ended the sink's session: the next alert connects anew.
    Sql("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE usename = 'alert_a'"
        " AND datname = current_database()");
    ASSERT_TRUE(WaitFor([&] {
        return Sql("SELECT count(*) FROM pg_stat_activity WHERE usename = 'alert_a'"
                   " AND datname = current_database()") == "0\n";
    }));
    EXPECT_EQ(sink.Deliver(Alert("silent:3", TAlertKind::Silent, false, "АТС молчит")), "");

    // Another office's site is refused by the row's policy, and said so.
    const std::string refused = TDbSink({owner_ + " user=alert_a password=cr3t-pw", "Lviv-B"})
                                    .Deliver(Alert("1:80", TAlertKind::Cost, false, "чужой"));
    EXPECT_NE(refused.find("row-level security"), std::string::npos) << refused;
    EXPECT_NE(refused.find("user=alert_a"), std::string::npos) << refused;
    EXPECT_EQ(refused.find("cr3t-pw"), std::string::npos) << refused;
    EXPECT_EQ(Sql("SELECT string_agg(key, ',' ORDER BY key) FROM tallyphon.alerts"),
              "1:40,buffer:7:end,silent:3\n");
}

TEST_F(DbSink, TellsWhatIsMissing) {
    // A database whose owner has not made the table yet.
    const std::string bare = Cluster().CreateDatabase("t_dbsink_bare");
    const std::string noTable =
        TDbSink({bare, "Kiev-A"}).Deliver(Alert("1:0", TAlertKind::Cost, false, "x"));
    EXPECT_NE(noTable.find("нет таблицы tallyphon.alerts"), std::string::npos) << noTable;
    EXPECT_NE(noTable.find("--create-schema"), std::string::npos) << noTable;
    const std::string noDb =
        TDbSink({"host=" + Cluster().Dir() + " dbname=no_such_db password=cr3t-pw", "Kiev-A"})
            .Deliver(Alert("1:0", TAlertKind::Cost, false, "x"));
    EXPECT_NE(noDb.find("no_such_db"), std::string::npos) << noDb;
    EXPECT_EQ(noDb.find("cr3t-pw"), std::string::npos) << noDb;
}

}  // namespace
