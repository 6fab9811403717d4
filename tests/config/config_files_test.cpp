#include "config_files.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

const std::string kDefaultImage = "\x01\x01"s + std::string(28, '\0');

std::string Image(uint8_t port, uint8_t title, uint8_t alt, const std::string& reserved) {
    return std::string{char(port), char(title), char(alt)} + reserved;
}

// Every test runs in a fresh start-up directory holding its own context.
class ConfigFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char cwd[PATH_MAX];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        oldCwd_ = cwd;
        std::string name = (fs::temp_directory_path() / "tallyphon-config-XXXXXX").string();
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        ASSERT_EQ(chdir(name.c_str()), 0);
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        dir_ = cwd;
        ll_ = std::make_unique<TLowLevel>();
    }
    void TearDown() override {
        ll_.reset();
        EXPECT_EQ(chdir(oldCwd_.c_str()), 0);
        chmod(dir_.c_str(), 0700);
        fs::remove_all(dir_);
    }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    void Put(const std::string& name, const std::string& bytes) const {
        std::ofstream(Path(name), std::ios::binary) << bytes;
    }
    std::string Bytes(const std::string& name) const {
        std::ostringstream out;
        out << std::ifstream(Path(name), std::ios::binary).rdbuf();
        return out.str();
    }
    // Names, kinds, link targets and contents of everything in the directory.
    std::map<std::string, std::string> Snapshot() const {
        std::map<std::string, std::string> entries;
        for (const auto& e : fs::recursive_directory_iterator(dir_)) {
            const std::string name = e.path().string().substr(dir_.size());
            if (e.is_symlink())
                entries[name] = "link:" + fs::read_symlink(e.path()).string();
            else if (e.is_regular_file())
                entries[name] = "file:" + Bytes(name.substr(1));
            else
                entries[name] = "other:" + std::to_string(int(e.status().type()));
        }
        return entries;
    }

    std::string oldCwd_, dir_;
    std::unique_ptr<TLowLevel> ll_;
};

// --- "Tallyphon.cfg" ------------------------------------------------------

class DamagedConfigTest : public ConfigFilesTest, public ::testing::WithParamInterface<long> {};

TEST_P(DamagedConfigTest, IsReplacedByTheDefaultFile) {
    if (GetParam() >= 0) Put(kConfigFileName, std::string(GetParam(), '\x05'));
    ll_->SaveTitle = false;
    EXPECT_EQ(ReadConfig(*ll_), 1);
    EXPECT_EQ(Bytes(kConfigFileName), kDefaultImage);
    EXPECT_EQ(ll_->PortName, "COM1");
    EXPECT_TRUE(ll_->SaveTitle);
    EXPECT_FALSE(ll_->AltFormat);
    EXPECT_TRUE(ll_->FirstStart);
}

// -1: no file at all.
INSTANTIATE_TEST_SUITE_P(Sizes, DamagedConfigTest, ::testing::Values(-1, 0, 29, 31, 1 << 20));

struct TStoredRow {
    uint8_t port, title, alt;
    const char* portName;
    bool saveTitle, altFormat;
};
void PrintTo(const TStoredRow& r, std::ostream* os) {
    *os << int(r.port) << "," << int(r.title) << "," << int(r.alt);
}

class StoredConfigTest : public ConfigFilesTest,
                         public ::testing::WithParamInterface<TStoredRow> {};

TEST_P(StoredConfigTest, IsReadWithoutChangingTheFile) {
    const TStoredRow& row = GetParam();
    const std::string image = Image(row.port, row.title, row.alt, std::string(27, '\xA5'));
    Put(kConfigFileName, image);
    EXPECT_EQ(ReadConfig(*ll_), 1);
    EXPECT_EQ(ll_->PortName, row.portName);
    EXPECT_EQ(ll_->SaveTitle, row.saveTitle);
    EXPECT_EQ(ll_->AltFormat, row.altFormat);
    EXPECT_FALSE(ll_->FirstStart);
    EXPECT_EQ(Bytes(kConfigFileName), image);
}

INSTANTIATE_TEST_SUITE_P(Bytes, StoredConfigTest,
                         ::testing::Values(TStoredRow{1, 1, 0, "COM1", true, false},
                                           TStoredRow{8, 0, 1, "COM8", false, true},
                                           TStoredRow{12, 2, 1, "COM12", false, true},
                                           TStoredRow{32, 1, 2, "COM32", true, false},
                                           TStoredRow{0, 1, 1, "COM", true, true},
                                           TStoredRow{33, 0, 0, "COM", false, false},
                                           TStoredRow{255, 1, 0, "COM", true, false}));

TEST_F(ConfigFilesTest, RewriteKeepsReservedBytesAndWidePortSurvivesRestart) {
    std::string reserved;
    for (int i = 3; i < kConfigFileSize; ++i)
        reserved += char(i * 7);
    Put(kConfigFileName, Image(3, 1, 0, reserved));
    EXPECT_EQ(WriteConfig(*ll_, "COM12", false, true), 1);
    EXPECT_EQ(Bytes(kConfigFileName), Image(12, 0, 1, reserved));

    TLowLevel restarted;
    EXPECT_EQ(ReadConfig(restarted), 1);
    EXPECT_EQ(restarted.PortName, "COM12");
    EXPECT_FALSE(restarted.SaveTitle);
    EXPECT_TRUE(restarted.AltFormat);
    EXPECT_FALSE(restarted.FirstStart);
}

struct TWriteRow {
    long existingSize;  // -1: no file
    std::string reserved;
};
void PrintTo(const TWriteRow& r, std::ostream* os) {
    *os << "size" << r.existingSize;
}

class WriteConfigTest : public ConfigFilesTest, public ::testing::WithParamInterface<TWriteRow> {};

TEST_P(WriteConfigTest, LeavesAFullLengthFile) {
    if (GetParam().existingSize >= 0)
        Put(kConfigFileName, std::string(GetParam().existingSize, 'x'));
    EXPECT_EQ(WriteConfig(*ll_, "COM32", true, false), 1);
    EXPECT_EQ(Bytes(kConfigFileName), Image(32, 1, 0, GetParam().reserved));
}

INSTANTIATE_TEST_SUITE_P(Existing, WriteConfigTest,
                         ::testing::Values(TWriteRow{-1, std::string(27, '\0')},
                                           TWriteRow{10,
                                                     std::string(7, 'x') + std::string(20, '\0')},
                                           TWriteRow{31, std::string(27, 'x')},
                                           TWriteRow{1 << 20, std::string(27, 'x')}));

class BadPortTest : public ConfigFilesTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(BadPortTest, IsRefusedWithoutTouchingAnything) {
    EXPECT_EQ(WriteConfig(*ll_, GetParam(), false, true), -1);
    EXPECT_EQ(ll_->PortName, "COM1");
    EXPECT_TRUE(ll_->SaveTitle);
    EXPECT_FALSE(ll_->AltFormat);
    EXPECT_TRUE(Snapshot().empty());
}

INSTANTIATE_TEST_SUITE_P(Texts, BadPortTest,
                         ::testing::Values("", "COM", "COMx", "COM0", "COM01", "COM33", "COM123",
                                           "COM1x", "COM 1", "com1", "LPT1"));

// --- "TallyphonOut.cfg" ---------------------------------------------------

struct TOutRow {
    std::string name, text, tarif, realTime;
    int autoStart;
};
void PrintTo(const TOutRow& r, std::ostream* os) {
    *os << r.name;
}

class ReadOutConfigTest : public ConfigFilesTest, public ::testing::WithParamInterface<TOutRow> {};

TEST_P(ReadOutConfigTest, Reads) {
    const TOutRow& row = GetParam();
    Put(kOutConfigFileName, row.text);
    ll_->TarifFileName = "old-t";
    ll_->RealTimeFileName = "old-r";
    ll_->AutoStart = 2;
    EXPECT_EQ(ReadOutConfig(*ll_), 1);
    EXPECT_EQ(ll_->TarifFileName, row.tarif);
    EXPECT_EQ(ll_->RealTimeFileName, row.realTime);
    EXPECT_EQ(ll_->AutoStart, row.autoStart);
}

const std::string kLongPath(1 << 20, 'a');

INSTANTIATE_TEST_SUITE_P(
    Texts, ReadOutConfigTest,
    ::testing::Values(
        TOutRow{"CrLf", "TARIF_FNAME=/a b.txt\r\nREALTIME_FNAME=/r.log\r\nAUTO=AUTOSTART_1",
                "/a b.txt", "/r.log", 3},
        TOutRow{"LfOnly", "TARIF_FNAME=/t\nREALTIME_FNAME=/r\nAUTO=\n", "/t", "/r", 1},
        TOutRow{"CrOnly", "TARIF_FNAME=/t\rREALTIME_FNAME=/r\rAUTO=AUTOSTART_UNINTERRUPT", "/t",
                "/r", 2},
        TOutRow{"BareKeys", "TARIF_FNAME=\r\nREALTIME_FNAME=\r\nAUTO=", "", "", 1},
        TOutRow{"NoAutoLine", "TARIF_FNAME=/t", "/t", "old-r", 2},
        TOutRow{"LowerCase", "AUTO=autostart_1", "old-t", "old-r", 1},
        TOutRow{"TrailingBlank", "AUTO=AUTOSTART_1 ", "old-t", "old-r", 1},
        TOutRow{"LaterAutoResets", "AUTO=AUTOSTART_1\r\nAUTO=x", "old-t", "old-r", 1},
        TOutRow{"RepeatedKeys", "TARIF_FNAME=/a\r\nTARIF_FNAME=/b\r\nAUTO=AUTOSTART_1", "/b",
                "old-r", 3},
        TOutRow{"Untrimmed", "TARIF_FNAME= /t \r\n", " /t ", "old-r", 2},
        TOutRow{"KeyInMidLine", "  TARIF_FNAME=/m\r\n#REALTIME_FNAME=/n\r\nxAUTO=AUTOSTART_1", "/m",
                "/n", 3},
        TOutRow{"PathHoldsOtherKeys", "TARIF_FNAME=/t\r\nREALTIME_FNAME=/x/TARIF_FNAME=y/AUTO=z",
                "/t", "/x/TARIF_FNAME=y/AUTO=z", 2},
        TOutRow{"EightBitBytes", "TARIF_FNAME=/\xC4\xE0\xF2\xE0\xFF\x01.txt",
                "/\xC4\xE0\xF2\xE0\xFF\x01.txt", "old-r", 2},
        TOutRow{"Nuls", "\0TARIF_FNAME=/t\r\nREALTIME_FNAME=/r\0x\r\nAUTO=AUTOSTART_1"s, "/t",
                "old-r", 3},
        TOutRow{"EmptyLines", "\r\n\r\n\n\rTARIF_FNAME=/t\n\r", "/t", "old-r", 2},
        TOutRow{"MegabyteLine", "TARIF_FNAME=" + kLongPath + "\rAUTO=AUTOSTART_1", kLongPath,
                "old-r", 3},
        TOutRow{"NoKeys", std::string(100000, '\xFE') + "\0\x01\x02"s, "old-t", "old-r", 2}),
    [](const auto& info) { return info.param.name; });

TEST_F(ConfigFilesTest, MissingOutConfigEmptiesOnlyTheCallLogPath) {
    ll_->TarifFileName = "t";
    ll_->RealTimeFileName = "r";
    EXPECT_EQ(ReadOutConfig(*ll_), -2);
    EXPECT_EQ(ll_->TarifFileName, "");
    EXPECT_EQ(ll_->RealTimeFileName, "r");
    EXPECT_EQ(ll_->AutoStart, 1);
}

struct TWriteOutRow {
    std::string tarif, realTime;
    int autoStart;
    std::string bytes;
};
void PrintTo(const TWriteOutRow& r, std::ostream* os) {
    *os << "auto" << r.autoStart;
}

class WriteOutConfigTest : public ConfigFilesTest,
                           public ::testing::WithParamInterface<TWriteOutRow> {};

TEST_P(WriteOutConfigTest, WritesThreeLinesAndReadsThemBack) {
    const TWriteOutRow& row = GetParam();
    Put(kOutConfigFileName, std::string(5000, 'z'));
    ll_->AutoStart = row.autoStart;
    EXPECT_EQ(WriteOutConfig(*ll_, row.tarif, row.realTime), 1);
    EXPECT_EQ(Bytes(kOutConfigFileName), row.bytes);

    TLowLevel restarted;
    EXPECT_EQ(ReadOutConfig(restarted), 1);
    EXPECT_EQ(restarted.TarifFileName, row.tarif);
    EXPECT_EQ(restarted.RealTimeFileName, row.realTime);
    EXPECT_EQ(restarted.AutoStart, row.autoStart);
}

INSTANTIATE_TEST_SUITE_P(
    Values, WriteOutConfigTest,
    ::testing::Values(TWriteOutRow{"", "", 1, "TARIF_FNAME=\r\nREALTIME_FNAME=\r\nAUTO="},
                      TWriteOutRow{"/home/u/calls.txt", "/var/rt.log", 2,
                                   "TARIF_FNAME=/home/u/calls.txt\r\nREALTIME_FNAME=/var/rt.log\r\n"
                                   "AUTO=AUTOSTART_UNINTERRUPT"},
                      TWriteOutRow{
                          "/\xC4\xE0 x=y.txt", "", 3,
                          "TARIF_FNAME=/\xC4\xE0 x=y.txt\r\nREALTIME_FNAME=\r\nAUTO=AUTOSTART_1"}));

TEST_F(ConfigFilesTest, PathsThatCannotBeStoredAreRefused) {
    Put(kOutConfigFileName, "TARIF_FNAME=/kept");
    for (const std::string& bad : {"/a\r\nAUTO=AUTOSTART_1"s, "/a\nb"s, "/a\rb"s, "/a\0b"s}) {
        EXPECT_EQ(WriteOutConfig(*ll_, bad, "/r"), -1);
        EXPECT_EQ(WriteOutConfig(*ll_, "/t", bad), -1);
    }
    EXPECT_EQ(Bytes(kOutConfigFileName), "TARIF_FNAME=/kept");
}

TEST_F(ConfigFilesTest, CreateLowLevelReadsTheStartDirectory) {
    Put(kOutConfigFileName, "TARIF_FNAME=/t\r\nAUTO=AUTOSTART_1");
    const auto ll = CreateLowLevel();
    EXPECT_EQ(ll->StartDir, dir_);
    EXPECT_EQ(ll->TarifFileName, "/t");
    EXPECT_EQ(ll->AutoStart, 3);

    ASSERT_TRUE(fs::create_directory(Path("elsewhere")));
    ASSERT_EQ(chdir("elsewhere"), 0);
    EXPECT_EQ(ReadOutConfig(*ll), 1);
    EXPECT_EQ(fs::current_path(), fs::path(dir_));
}

// --- places that cannot hold the files ------------------------------------

enum class TPlace { Directory, Fifo, DanglingLink, StartDirUnderFile };
void PrintTo(TPlace p, std::ostream* os) {
    const char* names[] = {"Directory", "Fifo", "DanglingLink", "StartDirUnderFile"};
    *os << names[int(p)];
}

class UnusablePlaceTest : public ConfigFilesTest, public ::testing::WithParamInterface<TPlace> {};

TEST_P(UnusablePlaceTest, NothingIsCreatedChangedOrReportedWritten) {
    for (const char* name : {kConfigFileName, kOutConfigFileName}) {
        switch (GetParam()) {
            case TPlace::Directory:
                ASSERT_TRUE(fs::create_directory(Path(name)));
                break;
            case TPlace::Fifo:
                ASSERT_EQ(mkfifo(Path(name).c_str(), 0600), 0);
                break;
            case TPlace::DanglingLink:
                fs::create_symlink("missing/target", Path(name));
                break;
            case TPlace::StartDirUnderFile:
                Put("plain", "x");
                ll_->StartDir = Path("plain/sub");
                break;
        }
    }
    const auto before = Snapshot();
    EXPECT_EQ(ReadConfig(*ll_), -1);
    EXPECT_EQ(ll_->PortName, "COM");
    EXPECT_FALSE(ll_->FirstStart);
    EXPECT_EQ(WriteConfig(*ll_, "COM2", false, true), -1);
    EXPECT_EQ(ll_->PortName, "COM");
    EXPECT_EQ(ReadOutConfig(*ll_), -2);
    EXPECT_EQ(WriteOutConfig(*ll_, "/t", "/r"), -2);
    EXPECT_EQ(Snapshot(), before);
}

INSTANTIATE_TEST_SUITE_P(Places, UnusablePlaceTest,
                         ::testing::Values(TPlace::Directory, TPlace::Fifo, TPlace::DanglingLink,
                                           TPlace::StartDirUnderFile));

TEST_F(ConfigFilesTest, SymbolicLinksAreFollowedAndKept) {
    ASSERT_TRUE(fs::create_directory(Path("real")));
    fs::create_symlink("real/a.cfg", Path(kConfigFileName));
    fs::create_symlink("real/b.cfg", Path(kOutConfigFileName));
    EXPECT_EQ(ReadConfig(*ll_), 1);
    EXPECT_EQ(Bytes("real/a.cfg"), kDefaultImage);
    EXPECT_EQ(WriteOutConfig(*ll_, "/t", ""), 1);
    EXPECT_EQ(Bytes("real/b.cfg"), "TARIF_FNAME=/t\r\nREALTIME_FNAME=\r\nAUTO=");

    Put("real/a.cfg", "short");
    TLowLevel restarted;
    EXPECT_EQ(ReadConfig(restarted), 1);
    EXPECT_TRUE(restarted.FirstStart);
    EXPECT_EQ(Bytes("real/a.cfg"), kDefaultImage);
    EXPECT_TRUE(fs::is_symlink(Path(kConfigFileName)));
    EXPECT_TRUE(fs::is_symlink(Path(kOutConfigFileName)));
}

// Makes the start-up directory read-only for the duration. Root ignores
// permission bits, so root acts as "nobody" meanwhile.
class TReadOnlyDir {
  public:
    explicit TReadOnlyDir(const std::string& dir) : root_(geteuid() == 0) {
        chmod(dir.c_str(), 0555);
        if (root_) {
            EXPECT_EQ(setegid(65534), 0);
            EXPECT_EQ(seteuid(65534), 0);
        }
    }
    ~TReadOnlyDir() {
        if (root_) {
            EXPECT_EQ(seteuid(0), 0);
            EXPECT_EQ(setegid(0), 0);
        }
    }

  private:
    bool root_;
};

struct TReadOnlyRow {
    std::string config;
    int result;
    const char* portName;
    bool altFormat;
};
void PrintTo(const TReadOnlyRow& r, std::ostream* os) {
    *os << "size" << r.config.size();
}

class ReadOnlyDirTest : public ConfigFilesTest,
                        public ::testing::WithParamInterface<TReadOnlyRow> {};

TEST_P(ReadOnlyDirTest, FilesKeepTheirBytes) {
    Put(kConfigFileName, GetParam().config);
    Put(kOutConfigFileName, "TARIF_FNAME=/t");
    chmod(Path(kConfigFileName).c_str(), 0444);
    chmod(Path(kOutConfigFileName).c_str(), 0444);
    ll_->AltFormat = true;
    const auto before = Snapshot();
    {
        TReadOnlyDir readOnly(dir_);
        ASSERT_EQ(access(dir_.c_str(), R_OK | X_OK), 0) << "start-up directory not reachable";
        EXPECT_EQ(ReadConfig(*ll_), GetParam().result);
        EXPECT_EQ(ll_->PortName, GetParam().portName);
        EXPECT_EQ(ll_->AltFormat, GetParam().altFormat);
        EXPECT_FALSE(ll_->FirstStart);
        EXPECT_EQ(WriteConfig(*ll_, "COM2", true, true), -1);
        EXPECT_EQ(ReadOutConfig(*ll_), 1);
        EXPECT_EQ(ll_->TarifFileName, "/t");
        EXPECT_EQ(WriteOutConfig(*ll_, "/other", ""), -2);
    }
    EXPECT_EQ(Snapshot(), before);
}

INSTANTIATE_TEST_SUITE_P(Configs, ReadOnlyDirTest,
                         ::testing::Values(TReadOnlyRow{Image(5, 0, 1, std::string(27, '\0')), 1,
                                                        "COM5", true},
                                           // Undeletable damaged file: defaults in memory.
                                           TReadOnlyRow{std::string(29, '\0'), -1, "COM1", false}));

// Lowers the file size limit so that writes fail part-way.
class TFileSizeLimit {
  public:
    explicit TFileSizeLimit(rlim_t bytes) {
        signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit low = old_;
        low.rlim_cur = bytes;
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
    }
    ~TFileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old_); }

  private:
    rlimit old_;
};

TEST_F(ConfigFilesTest, FailedWritesAreNotReportedAsWritten) {
    TFileSizeLimit limit(16);
    EXPECT_EQ(ReadConfig(*ll_), -1);
    EXPECT_FALSE(ll_->FirstStart);
    EXPECT_EQ(ll_->PortName, "COM");
    EXPECT_EQ(WriteConfig(*ll_, "COM2", true, false), -1);
    EXPECT_EQ(WriteOutConfig(*ll_, "/a/rather/long/path.txt", ""), -1);
}

}  // namespace
