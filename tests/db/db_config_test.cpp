// TallyphonDb.cfg and what messages show of a connection string.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tuple>

#include "db/db_config.h"
#include "db/schema.h"
#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

TEST(DbConfig, FileAndItsRefusals) {
    TTempDir dir;
    const std::string file = dir.File("TallyphonDb.cfg");
    // No file: no database, and nothing wrong.
    TDbConfigLoad loaded = LoadDbConfig(dir.Path());
    EXPECT_TRUE(loaded.Ok());
    EXPECT_FALSE(loaded.Config.Enabled());

    WriteFile(file,
              "\xEF\xBB\xBF# Центральная база\r\nCONNINFO=host=db.office user=pbx\r\n\r\n"
              "SITE=Офис на Ленина\r\n");
    loaded = LoadDbConfig(dir.Path());
    ASSERT_TRUE(loaded.Ok()) << loaded.Error;
    EXPECT_EQ(loaded.Config.ConnInfo, "host=db.office user=pbx");
    EXPECT_EQ(loaded.Config.Site, "Офис на Ленина");

    const std::pair<std::string, std::string> refused[] = {
        {"CONNINFO=x\n", "строка 1: нет строки SITE="},
        {"SITE=A\n", "строка 1: нет строки CONNINFO="},
        {"CONNINFO=x\nSITE=A\nSITE=B\n", "строка 3: SITE указан второй раз"},
        {"CONNINFO=x\nPORT=5432\n", "строка 2: неизвестный ключ «PORT»"},
        {"CONNINFO\n", "строка 1: нет знака «=»"},
        {"CONNINFO=x\nSITE=\n", "строка 2: имя площадки пустое"},
        {"CONNINFO=x\nSITE=\xD0\xFE\n", "строка 2: имя площадки не в кодировке UTF-8"},
        {"CONNINFO=x\nSITE=" + std::string(65, 'a') + "\n",
         "строка 2: имя площадки длиннее 64 символов"},
    };
    for (const auto& [bytes, why] : refused) {
        WriteFile(file, bytes);
        loaded = LoadDbConfig(dir.Path());
        EXPECT_FALSE(loaded.Ok()) << bytes;
        EXPECT_FALSE(loaded.Config.Enabled()) << bytes;
        EXPECT_EQ(loaded.Error, "Файл «" + file + "», " + why) << bytes;
    }
}

TEST(DbConfig, OnlyASmallRegularFileIsReadAndNothingWaits) {
    TTempDir dir;
    const std::string file = dir.File("TallyphonDb.cfg");
    const auto refusal = [&]() {
        const TDbConfigLoad loaded = LoadDbConfig(dir.Path());
        EXPECT_FALSE(loaded.Ok());
        return loaded.Error;
    };
    const std::string notAFile = "Файл «" + file + "» не является обычным файлом";
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);  // no writer: an open would wait for one
    EXPECT_EQ(refusal(), notAFile);
    ASSERT_EQ(unlink(file.c_str()), 0);
    ASSERT_EQ(symlink("/dev/zero", file.c_str()), 0);  // would be read for ever
    EXPECT_EQ(refusal(), notAFile);
    ASSERT_EQ(unlink(file.c_str()), 0);
    ASSERT_EQ(mkdir(file.c_str(), 0700), 0);
    EXPECT_EQ(refusal(), notAFile);
    ASSERT_EQ(rmdir(file.c_str()), 0);
    WriteFile(file, "CONNINFO=host=db\nSITE=A\n#" + std::string(64 * 1024 - 26, 'x') + "\n");
    EXPECT_TRUE(LoadDbConfig(dir.Path()).Ok());  // 64 KiB exactly
    WriteFile(file, "CONNINFO=host=db\nSITE=A\n#" + std::string(64 * 1024 - 25, 'x') + "\n");
    EXPECT_EQ(refusal(), "Файл «" + file + "» больше 64 КиБ: это не файл настроек базы данных");
}

TEST(DbConfig, APasswordOthersCanReadIsWarnedOf) {
    TTempDir dir;
    const std::string file = dir.File("TallyphonDb.cfg");
    const std::tuple<const char*, mode_t, bool> rows[] = {
        {"host=db password=s3cret", 0640, true},
        {"postgresql://pbx:s3cret@db/calls", 0604, true},
        {"host=db password=s3cret", 0600, false},
        {"host=db user=pbx", 0644, false},
    };
    for (const auto& [conninfo, mode, warned] : rows) {
        WriteFile(file, std::string("CONNINFO=") + conninfo + "\nSITE=A\n");
        ASSERT_EQ(chmod(file.c_str(), mode), 0);
        const TDbConfigLoad loaded = LoadDbConfig(dir.Path());
        EXPECT_TRUE(loaded.Ok()) << conninfo;
        EXPECT_EQ(loaded.Warning.empty(), !warned) << conninfo << " " << mode;
    }
    EXPECT_EQ(LoadDbConfig(dir.Path()).Warning, "");
    ASSERT_EQ(chmod(file.c_str(), 0644), 0);
    WriteFile(file, "CONNINFO=password=x\nSITE=A\n");
    EXPECT_EQ(LoadDbConfig(dir.Path()).Warning,
              "Файл «" + file +
                  "» хранит пароль базы данных и доступен для чтения другим "
                  "пользователям (права 0644); закройте его: chmod 600");
}

TEST(DbConfig, AMessageShowsHostPortDatabaseAndUserOnly) {
    const std::string unread = "(строка подключения не разобрана)";
    const std::pair<const char*, std::string> rows[] = {
        {"host=db user=pbx password=s3cret dbname=calls", "host=db dbname=calls user=pbx"},
        {"hostaddr=10.0.0.1 password = 's3 b\\'c' port=5432", "hostaddr=10.0.0.1 port=5432"},
        {"postgresql://pbx:s3cret@db:5432/calls?password=x&sslmode=require",
         "host=db port=5432 dbname=calls user=pbx"},
        {"postgresql://pbx:s3?cret@db/calls", "host=db dbname=calls user=pbx"},
        {"postgres://db/calls?user=pbx@office", "host=db dbname=calls user=pbx@office"},
        // Misread by libpq: the password's pieces would be host, port, database.
        {"postgresql://pbx:s3/cret@db/calls", unread},
        {"postgresql://pbx:s3?c/ret@db/calls", unread},
        {"host=db password=s3 cret", unread},
        {"postgresql://pbx:s3cret%zz@db/calls", unread},
    };
    for (const auto& [conninfo, shown] : rows) {
        EXPECT_EQ(ConnInfoForDisplay(conninfo), shown) << conninfo;
        EXPECT_EQ(ConnInfoHasPassword(conninfo),
                  std::string(conninfo).find("s3") != std::string::npos)
            << conninfo;
    }
}

TEST(DbConfig, ConnectionLimitsAreAddedUnlessNamed) {
    EXPECT_EQ(WithTimeouts("host=db connect_timeout=3 keepalives_idle=60"),
              "host=db connect_timeout=3 keepalives_idle=60 keepalives_interval=10"
              " keepalives_count=3");
    EXPECT_EQ(WithTimeouts("postgresql://db/calls?sslmode=require"),
              "postgresql://db/calls?sslmode=require&connect_timeout=10&keepalives_idle=30"
              "&keepalives_interval=10&keepalives_count=3");
    EXPECT_EQ(WithTimeouts("postgres://db"),
              "postgres://db?connect_timeout=10&keepalives_idle=30&keepalives_interval=10"
              "&keepalives_count=3");
}

}  // namespace
