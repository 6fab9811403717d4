// The command line and the choice of the offscreen platform.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "app/command_line.h"
#include "tests/common/test_support.h"

namespace {

TEST(CommandLine, OptionsAndRefusals) {
    struct Row {
        std::vector<std::string> args;
        TCommandAction action;
        bool headless;
        std::string dir;
        std::string error;
    };
    const std::vector<Row> rows = {
        {{}, TCommandAction::Run, false, "", ""},
        {{"--headless", "--dir", "/var/lib/x"}, TCommandAction::Run, true, "/var/lib/x", ""},
        {{"--dir=/srv/t", "--headless"}, TCommandAction::Run, true, "/srv/t", ""},
        // A directory whose name looks like an option is still a directory.
        {{"--dir", "--headless"}, TCommandAction::Run, false, "--headless", ""},
        {{"--help"}, TCommandAction::Help, false, "", ""},
        {{"--version"}, TCommandAction::Version, false, "", ""},
        {{"--headles"}, TCommandAction::BadOption, false, "", "Неизвестный параметр: --headles"},
        {{"-platform", "xcb"},
         TCommandAction::BadOption,
         false,
         "",
         "Неизвестный параметр: -platform"},
        {{"--help", "x"}, TCommandAction::BadOption, false, "", "Неизвестный параметр: x"},
        {{"--dir"}, TCommandAction::BadOption, false, "", "Параметр --dir требует имя каталога."},
        {{"--dir="}, TCommandAction::BadOption, false, "", "Параметр --dir требует имя каталога."},
        {{"--dir", "a", "--dir", "b"},
         TCommandAction::BadOption,
         false,
         "a",
         "Параметр --dir указан дважды."},
    };
    for (const Row& row : rows) {
        const TCommandLine cl = ParseCommandLine(row.args);
        const std::string where = row.args.empty() ? "(none)" : row.args[0];
        EXPECT_EQ(cl.Action, row.action) << where;
        EXPECT_EQ(cl.Headless, row.headless) << where;
        EXPECT_EQ(cl.Dir, row.dir) << where;
        EXPECT_EQ(cl.Error, row.error) << where;
    }
}

TEST(CommandLine, TheDatabaseAndTheSiteComeTogether) {
    struct Row {
        std::vector<std::string> args;
        std::string conn, site, error;
    };
    const std::vector<Row> rows = {
        {{"--db", "host=/run/postgresql", "--site", "Офис 1"},
         "host=/run/postgresql",
         "Офис 1",
         ""},
        {{"--site=Склад", "--db=postgresql://pbx@db/calls"},
         "postgresql://pbx@db/calls",
         "Склад",
         ""},
        {{"--db", "host=x"}, "", "", "Параметр --db требует и --site."},
        {{"--site", "A"}, "", "", "Параметр --site требует и --db."},
        {{"--db"}, "", "", "Параметр --db требует строку подключения к базе данных."},
        {{"--db", "a", "--db", "b"}, "", "", "Параметр --db указан дважды."},
        {{"--db", "a", "--site", "bad\tname"},
         "",
         "",
         "Параметр --site: в имени площадки управляющий символ."},
    };
    for (const Row& row : rows) {
        const TCommandLine cl = ParseCommandLine(row.args);
        EXPECT_EQ(cl.Error, row.error) << row.args[0];
        if (!row.error.empty()) continue;
        EXPECT_EQ(cl.Action, TCommandAction::Run);
        EXPECT_EQ(cl.DbConnInfo, row.conn);
        EXPECT_EQ(cl.DbSite, row.site);
    }
}

TEST(CommandLine, TheLinkIsTracedIntoOneFileOnlyWhenAsked) {
    EXPECT_EQ(ParseCommandLine({"--headless"}).TraceLink, "");
    EXPECT_EQ(ParseCommandLine({"--trace-link", "t.log", "--headless"}).TraceLink, "t.log");
    EXPECT_EQ(ParseCommandLine({"--trace-link"}).Error, "Параметр --trace-link требует имя файла.");
    EXPECT_EQ(ParseCommandLine({"--trace-link=a", "--trace-link=b"}).Error,
              "Параметр --trace-link указан дважды.");
}

TEST(CommandLine, OffscreenWhenHeadlessOrWhenNothingCanShowAWindow) {
    struct Row {
        bool headless;
        const char* display;
        const char* wayland;
        const char* platform;
        bool offscreen;
    };
    const Row rows[] = {
        {true, ":0", "wayland-0", "xcb", true},
        {false, nullptr, nullptr, nullptr, true},
        {false, "", "", "", true},
        {false, ":0", nullptr, nullptr, false},
        {false, nullptr, "wayland-0", nullptr, false},
        // A platform chosen by hand (e.g. a framebuffer) is kept.
        {false, nullptr, nullptr, "linuxfb", false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(NeedsOffscreenPlatform(r.headless, r.display, r.wayland, r.platform), r.offscreen)
            << r.headless << (r.display ? r.display : "-") << (r.platform ? r.platform : "-");
}

TEST(CommandLine, FilesOfAProgramStartedInHomeGoToTheUsersDataDirectory) {
    struct Row {
        bool headless, inHome, holdsSettings;
        const char* home;
        const char* xdg;
        const char* dir;
    };
    const Row rows[] = {
        {false, true, false, "/home/op", nullptr, "/home/op/.local/share/tallyphon"},
        {false, true, false, "/home/op", "", "/home/op/.local/share/tallyphon"},
        {false, true, false, "/home/op", "/data/op", "/data/op/tallyphon"},
        {false, true, false, "/home/op", "rel", "/home/op/.local/share/tallyphon"},
        {false, true, true, "/home/op", nullptr, ""},
        {false, false, false, "/home/op", nullptr, ""},
        {true, true, false, "/home/op", nullptr, ""},
        {false, true, false, nullptr, nullptr, ""},
    };
    for (const Row& r : rows)
        EXPECT_EQ(UserStartDir(r.headless, r.inHome, r.holdsSettings, r.home, r.xdg), r.dir)
            << r.headless << r.inHome << r.holdsSettings << (r.xdg ? r.xdg : "-");
}

TEST(CommandLine, TheUsersDataDirectoryIsMadeForItsOwnerOnly) {
    const testing_support::TTempDir home;
    const std::string dir = home.File(".local/share/tallyphon");
    EXPECT_EQ(MakeUserStartDir(dir), "");
    struct stat st = {};
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(MakeUserStartDir(dir), "");
    EXPECT_TRUE(SameDirectory(home.Path() + "/.local/..", home.Path().c_str()));
    EXPECT_FALSE(SameDirectory(dir, home.Path().c_str()));
}

}  // namespace
