#include "config/config_files.h"
#include "config/report_settings.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

// Shown by name and errno when a test fails.
void PrintTo(const TConfigResult& r, std::ostream* os) {
    *os << "TConfigResult(" << static_cast<int>(r.Status) << ", errno " << r.Error << ")";
}

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

std::string Image(int port, int title, int alt, const std::string& reserved = std::string(27, 0)) {
    return std::string{char(port), char(title), char(alt)} + reserved;
}
const std::string kDefaultImage = Image(1, 1, 0);

// Every test runs in a fresh start-up directory holding its own context.
class ConfigTest : public ::testing::Test {
  protected:
    void SetUp() override {
        oldCwd_ = fs::current_path();
        std::string name = (fs::temp_directory_path() / "tallyphon-config-XXXXXX").string();
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        fs::current_path(name);
        dir_ = fs::current_path().string();
        ll_ = std::make_unique<TSettings>(Fresh());
    }
    // Settings as a new start finds them: defaults, this start-up directory.
    TSettings Fresh() const {
        TSettings s;
        s.StartDir = dir_;
        return s;
    }
    void TearDown() override {
        fs::current_path(oldCwd_);
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
            const std::string name = e.path().string().substr(dir_.size() + 1);
            entries[name] = e.is_symlink()        ? "->" + fs::read_symlink(e.path()).string()
                            : e.is_regular_file() ? "=" + Bytes(name)
                                                  : std::to_string(int(e.status().type()));
        }
        return entries;
    }

    fs::path oldCwd_;
    std::string dir_;
    std::unique_ptr<TSettings> ll_;
};

template <typename T>
class ConfigRowTest : public ConfigTest, public ::testing::WithParamInterface<T> {};

// --- "Tallyphon.cfg" ------------------------------------------------------

using DamagedConfigTest = ConfigRowTest<long>;
TEST_P(DamagedConfigTest, IsReplacedByTheDefaultFile) {
    if (GetParam() >= 0) Put(kConfigFileName, std::string(GetParam(), '\x05'));
    ll_->SaveTitle = false;
    EXPECT_EQ(ReadConfig(*ll_).Status, TConfigStatus::Done);
    EXPECT_EQ(Bytes(kConfigFileName), kDefaultImage);
    EXPECT_EQ(ll_->PortName, "COM1");
    EXPECT_TRUE(ll_->SaveTitle);
    EXPECT_FALSE(ll_->AltFormat);
    EXPECT_TRUE(ll_->FirstStart);
}
// -1: no file at all.
INSTANTIATE_TEST_SUITE_P(Sizes, DamagedConfigTest, ::testing::Values(-1, 0, 29, 31, 1 << 20));

struct TStoredRow {
    int port, title, alt;
    const char* portName;
    bool saveTitle, altFormat;
};
using StoredConfigTest = ConfigRowTest<TStoredRow>;
TEST_P(StoredConfigTest, IsReadWithoutChangingTheFile) {
    const TStoredRow& row = GetParam();
    const std::string image = Image(row.port, row.title, row.alt, std::string(27, '\xA5'));
    Put(kConfigFileName, image);
    EXPECT_EQ(ReadConfig(*ll_).Status, TConfigStatus::Done);
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

TEST_F(ConfigTest, RewriteKeepsReservedBytesAndWidePortSurvivesRestart) {
    std::string reserved;
    for (int i = 3; i < kConfigFileSize; ++i)
        reserved += char(i * 7);
    Put(kConfigFileName, Image(3, 1, 0, reserved));
    EXPECT_EQ(WriteConfig(*ll_, "COM12", false, true).Status, TConfigStatus::Done);
    EXPECT_EQ(Bytes(kConfigFileName), Image(12, 0, 1, reserved));

    TSettings restarted = Fresh();
    EXPECT_EQ(ReadConfig(restarted).Status, TConfigStatus::Done);
    EXPECT_EQ(restarted.PortName, "COM12");
    EXPECT_FALSE(restarted.SaveTitle);
    EXPECT_TRUE(restarted.AltFormat);
    EXPECT_FALSE(restarted.FirstStart);
}

TEST_F(ConfigTest, WriteLeavesAFullLengthFile) {
    // Existing length (-1: none) and the reserved bytes expected after writing.
    const std::pair<long, std::string> rows[] = {{-1, std::string(27, 0)},
                                                 {10, std::string(7, 'x') + std::string(20, 0)},
                                                 {1 << 20, std::string(27, 'x')}};
    for (const auto& [size, reserved] : rows) {
        fs::remove(Path(kConfigFileName));
        if (size >= 0) Put(kConfigFileName, std::string(size, 'x'));
        EXPECT_EQ(WriteConfig(*ll_, "COM32", true, false).Status, TConfigStatus::Done);
        EXPECT_EQ(Bytes(kConfigFileName), Image(32, 1, 0, reserved)) << size;
    }
}

using BadPortTest = ConfigRowTest<const char*>;
TEST_P(BadPortTest, IsRefusedWithoutTouchingAnything) {
    EXPECT_EQ(WriteConfig(*ll_, GetParam(), false, true).Status, TConfigStatus::Failed);
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
using ReadOutConfigTest = ConfigRowTest<TOutRow>;
TEST_P(ReadOutConfigTest, Reads) {
    Put(kOutConfigFileName, GetParam().text);
    ll_->TarifFileName = "old-t";
    ll_->RealTimeFileName = "old-r";
    ll_->AutoStart = TAutoStart::ReadUninterrupt;
    EXPECT_EQ(ReadOutConfig(*ll_).Status, TConfigStatus::Done);
    EXPECT_EQ(ll_->TarifFileName, GetParam().tarif);
    EXPECT_EQ(ll_->RealTimeFileName, GetParam().realTime);
    EXPECT_EQ(int(ll_->AutoStart), GetParam().autoStart);
}
const std::string kLong(1 << 20, 'a');
// PATH_MAX counts the NUL that ends a name.
const std::string kLongestPath = "/" + std::string(PATH_MAX - 2, 'a');
INSTANTIATE_TEST_SUITE_P(
    Texts, ReadOutConfigTest,
    ::testing::Values(
        TOutRow{"CrLf", "TARIF_FNAME=/a b\r\nREALTIME_FNAME=/r\r\nAUTO=AUTOSTART_1", "/a b", "/r",
                3},
        TOutRow{"LfOnly", "TARIF_FNAME=/t\nREALTIME_FNAME=/r\nAUTO=\n", "/t", "/r", 1},
        TOutRow{"CrOnly", "TARIF_FNAME=/t\rAUTO=AUTOSTART_UNINTERRUPT", "/t", "old-r", 2},
        TOutRow{"BareKeys", "TARIF_FNAME=\r\nREALTIME_FNAME=\r\nAUTO=", "", "", 1},
        TOutRow{"NoAutoLine", "TARIF_FNAME=/t", "/t", "old-r", 2},
        TOutRow{"LowerCase", "AUTO=autostart_1", "old-t", "old-r", 1},
        TOutRow{"TrailingBlank", "AUTO=AUTOSTART_1 ", "old-t", "old-r", 1},
        TOutRow{"LaterAutoResets", "AUTO=AUTOSTART_1\r\nAUTO=x", "old-t", "old-r", 1},
        TOutRow{"RepeatedKeys", "TARIF_FNAME=/a\r\nTARIF_FNAME=/b", "/b", "old-r", 2},
        TOutRow{"Untrimmed", "TARIF_FNAME= /t \r\n", " /t ", "old-r", 2},
        TOutRow{"KeyInMidLine", "  TARIF_FNAME=/m\r\n#REALTIME_FNAME=/n\r\n#AUTO=AUTOSTART_1", "/m",
                "/n", 2},
        TOutRow{"PathHoldsKeys", "TARIF_FNAME=/t\r\nREALTIME_FNAME=/TARIF_FNAME=y/AUTO=z", "/t",
                "/TARIF_FNAME=y/AUTO=z", 2},
        TOutRow{"EightBit", "TARIF_FNAME=/\xC4\xE0\xFF\x01", "/\xC4\xE0\xFF\x01", "old-r", 2},
        TOutRow{"Nuls", "\0TARIF_FNAME=/t\r\nREALTIME_FNAME=/r\0x\r\nAUTO=AUTOSTART_1"s, "/t",
                "old-r", 3},
        TOutRow{"EmptyLines", "\r\n\r\n\n\rTARIF_FNAME=/t\n\r", "/t", "old-r", 2},
        TOutRow{"LongestPath", "TARIF_FNAME=" + kLongestPath + "\rAUTO=AUTOSTART_1", kLongestPath,
                "old-r", 3},
        TOutRow{"PathTooLong", "REALTIME_FNAME=/" + kLongestPath + "\rAUTO=AUTOSTART_1", "old-t",
                "old-r", 3},
        TOutRow{"NoKeys", std::string(100000, '\xFE') + "\0\x01"s, "old-t", "old-r", 2}),
    [](const auto& info) { return info.param.name; });

TEST_F(ConfigTest, OversizedOutConfigIsNotRead) {
    Put(kOutConfigFileName, "TARIF_FNAME=" + kLong + "\rAUTO=AUTOSTART_1");
    ll_->TarifFileName = "t";
    EXPECT_EQ(ReadOutConfig(*ll_).Status, TConfigStatus::Failed);
    EXPECT_EQ(ll_->TarifFileName, "t");
    EXPECT_EQ(ll_->AutoStart, TAutoStart::Nothing);
}

TEST_F(ConfigTest, MissingOutConfigEmptiesOnlyTheCallLogPath) {
    ll_->TarifFileName = "t";
    ll_->RealTimeFileName = "r";
    EXPECT_EQ(ReadOutConfig(*ll_).Status, TConfigStatus::NoFile);
    EXPECT_EQ(ll_->TarifFileName, "");
    EXPECT_EQ(ll_->RealTimeFileName, "r");
}

struct TWriteOutRow {
    std::string tarif, realTime;
    int autoStart;
    std::string bytes;
};
using WriteOutConfigTest = ConfigRowTest<TWriteOutRow>;
TEST_P(WriteOutConfigTest, WritesThreeLinesAndReadsThemBack) {
    const TWriteOutRow& row = GetParam();
    Put(kOutConfigFileName, std::string(5000, 'z'));
    ll_->AutoStart = static_cast<TAutoStart>(row.autoStart);
    EXPECT_EQ(WriteOutConfig(*ll_, row.tarif, row.realTime).Status, TConfigStatus::Done);
    EXPECT_EQ(Bytes(kOutConfigFileName), row.bytes);

    TSettings restarted = Fresh();
    EXPECT_EQ(ReadOutConfig(restarted).Status, TConfigStatus::Done);
    EXPECT_EQ(restarted.TarifFileName, row.tarif);
    EXPECT_EQ(restarted.RealTimeFileName, row.realTime);
    EXPECT_EQ(int(restarted.AutoStart), row.autoStart);
}
INSTANTIATE_TEST_SUITE_P(
    Values, WriteOutConfigTest,
    ::testing::Values(TWriteOutRow{"", "", 1, "TARIF_FNAME=\r\nREALTIME_FNAME=\r\nAUTO="},
                      TWriteOutRow{"/c.txt", "/r.log", 2,
                                   "TARIF_FNAME=/c.txt\r\nREALTIME_FNAME=/r.log\r\n"
                                   "AUTO=AUTOSTART_UNINTERRUPT"},
                      TWriteOutRow{
                          "/\xC4 x=y", "", 3,
                          "TARIF_FNAME=/\xC4 x=y\r\nREALTIME_FNAME=\r\nAUTO=AUTOSTART_1"}));

TEST_F(ConfigTest, PathsThatCannotBeStoredAreRefused) {
    Put(kOutConfigFileName, "TARIF_FNAME=/kept");
    for (const std::string& bad :
         {"/a\r\nAUTO=AUTOSTART_1"s, "/a\nb"s, "/a\rb"s, "/a\0b"s, "/" + kLongestPath}) {
        EXPECT_EQ(WriteOutConfig(*ll_, bad, "/r").Status, TConfigStatus::Failed);
        EXPECT_EQ(WriteOutConfig(*ll_, "/t", bad).Status, TConfigStatus::Failed);
    }
    EXPECT_EQ(Bytes(kOutConfigFileName), "TARIF_FNAME=/kept");
}

TEST_F(ConfigTest, TheFilesAreFoundInTheStartDirectoryWhereverTheProcessIs) {
    Put(kOutConfigFileName, "TARIF_FNAME=/t\r\nAUTO=AUTOSTART_1");
    fs::current_path("/");
    EXPECT_EQ(ReadOutConfig(*ll_).Status, TConfigStatus::Done);
    EXPECT_EQ(ll_->TarifFileName, "/t");
    EXPECT_EQ(ll_->AutoStart, TAutoStart::ReadAllAndExit);
    EXPECT_EQ(WriteOutConfig(*ll_, "/u", "/r").Status, TConfigStatus::Done);
    EXPECT_EQ(WriteConfig(*ll_, "COM2", true, false).Status, TConfigStatus::Done);
    EXPECT_EQ(Bytes(kOutConfigFileName), "TARIF_FNAME=/u\r\nREALTIME_FNAME=/r\r\nAUTO=AUTOSTART_1");
    EXPECT_EQ(Bytes(kConfigFileName), Image(2, 1, 0));
    // The settings code leaves the process where it was.
    EXPECT_EQ(fs::current_path(), fs::path("/"));
}

// --- places that cannot hold the files ------------------------------------

enum class TPlace { Directory, Fifo, DanglingLink, LinkToFifo, StartDirUnderFile };
using UnusablePlaceTest = ConfigRowTest<TPlace>;
TEST_P(UnusablePlaceTest, NothingIsCreatedChangedOrReportedWritten) {
    for (const std::string name : {kConfigFileName, kOutConfigFileName}) {
        if (GetParam() == TPlace::Directory) fs::create_directory(Path(name));
        if (GetParam() == TPlace::Fifo) mkfifo(Path(name).c_str(), 0600);
        if (GetParam() == TPlace::DanglingLink) fs::create_symlink("missing/" + name, Path(name));
        if (GetParam() == TPlace::LinkToFifo) {
            mkfifo(Path(name + ".fifo").c_str(), 0600);
            fs::create_symlink(name + ".fifo", Path(name));
        }
    }
    if (GetParam() == TPlace::StartDirUnderFile) {
        Put("plain", "x");
        ll_->StartDir = Path("plain/sub");
    }
    const auto before = Snapshot();
    EXPECT_EQ(ReadConfig(*ll_).Status, TConfigStatus::Failed);
    EXPECT_EQ(ll_->PortName, "COM");
    EXPECT_FALSE(ll_->FirstStart);
    EXPECT_EQ(WriteConfig(*ll_, "COM2", false, true).Status, TConfigStatus::Failed);
    EXPECT_EQ(ll_->PortName, "COM");
    EXPECT_EQ(ReadOutConfig(*ll_).Status, TConfigStatus::NoFile);
    EXPECT_EQ(WriteOutConfig(*ll_, "/t", "/r").Status, TConfigStatus::NoFile);
    EXPECT_EQ(Snapshot(), before);
}
INSTANTIATE_TEST_SUITE_P(Places, UnusablePlaceTest,
                         ::testing::Values(TPlace::Directory, TPlace::Fifo, TPlace::DanglingLink,
                                           TPlace::LinkToFifo, TPlace::StartDirUnderFile));

// What stands at the two names: a link to a file elsewhere, sound or
// damaged; a link that leads nowhere (into a directory that exists); a link
// planted where the new file would first be made.
enum class TLink { ToSoundFile, ToDamagedFile, Dangling, PlantedAtNewName };
using SymbolicLinkTest = ConfigRowTest<TLink>;
TEST_P(SymbolicLinkTest, IsReadButNeverWrittenThrough) {
    const std::string reserved = "reserved" + std::string(19, 0);
    fs::create_directory(Path("elsewhere"));
    Put("elsewhere/a", GetParam() == TLink::ToDamagedFile ? "short" : Image(5, 0, 1, reserved));
    Put("elsewhere/b", "TARIF_FNAME=/old");
    for (const auto& [name, target] :
         {std::pair{kConfigFileName, "a"s}, {kOutConfigFileName, "b"}}) {
        if (GetParam() == TLink::Dangling)
            fs::create_symlink("elsewhere/missing-" + target, Path(name));
        else
            fs::create_symlink("elsewhere/" + target,
                               Path(name + (GetParam() == TLink::PlantedAtNewName ? ".new"s : "")));
    }
    auto expected = Snapshot();

    const int results[] = {int(ReadConfig(*ll_).Status), int(ReadOutConfig(*ll_).Status)};
    const std::string portRead = ll_->PortName, tarifRead = ll_->TarifFileName;
    const int written[] = {int(WriteConfig(*ll_, "COM7", true, false).Status),
                           int(WriteOutConfig(*ll_, "/t", "/r").Status)};
    std::vector<int> expectedResults = {1, 1, 1, 1};
    switch (GetParam()) {
        case TLink::ToSoundFile:
            EXPECT_FALSE(ll_->FirstStart);
            EXPECT_EQ(portRead + tarifRead, "COM5/old");
            expected[kConfigFileName] = "=" + Image(7, 1, 0, reserved);
            break;
        case TLink::ToDamagedFile:
            EXPECT_TRUE(ll_->FirstStart);
            expected[kConfigFileName] = "=" + Image(7, 1, 0);
            break;
        case TLink::Dangling:
            expectedResults = {-1, -2, -1, -2};
            break;
        case TLink::PlantedAtNewName:
            expectedResults = {1, -2, 1, 1};
            expected[kConfigFileName] = "=" + Image(7, 1, 0);
            break;
    }
    if (GetParam() != TLink::Dangling)
        expected[kOutConfigFileName] = "=TARIF_FNAME=/t\r\nREALTIME_FNAME=/r\r\nAUTO=";
    EXPECT_EQ(std::vector<int>({results[0], results[1], written[0], written[1]}), expectedResults);
    EXPECT_EQ(Snapshot(), expected);
}
INSTANTIATE_TEST_SUITE_P(Links, SymbolicLinkTest,
                         ::testing::Values(TLink::ToSoundFile, TLink::ToDamagedFile,
                                           TLink::Dangling, TLink::PlantedAtNewName));

struct TReadOnlyRow {
    std::string config;
    TConfigResult result;
    const char* portName;
    bool altFormat;
};
using ReadOnlyDirTest = ConfigRowTest<TReadOnlyRow>;
TEST_P(ReadOnlyDirTest, FilesKeepTheirBytes) {
    Put(kConfigFileName, GetParam().config);
    Put(kOutConfigFileName, "TARIF_FNAME=/t");
    fs::permissions(Path(kConfigFileName), fs::perms(0444));
    fs::permissions(Path(kOutConfigFileName), fs::perms(0444));
    fs::permissions(dir_, fs::perms(0555));
    const auto before = Snapshot();
    // Root ignores permission bits, so it acts as "nobody" meanwhile.
    const bool root = geteuid() == 0;
    ASSERT_TRUE(!root || (setegid(65534) == 0 && seteuid(65534) == 0));
    ll_->AltFormat = !GetParam().altFormat;
    const TConfigResult result = ReadConfig(*ll_);
    const std::string portName = ll_->PortName;
    const TConfigResult results[] = {WriteConfig(*ll_, "COM2", true, true), ReadOutConfig(*ll_),
                                     WriteOutConfig(*ll_, "/other", "")};
    ASSERT_TRUE(!root || (seteuid(0) == 0 && setegid(0) == 0));
    fs::permissions(dir_, fs::perms(0700));

    EXPECT_EQ(result, GetParam().result);
    EXPECT_EQ(portName, GetParam().portName);
    EXPECT_EQ(ll_->AltFormat, GetParam().altFormat);
    EXPECT_FALSE(ll_->FirstStart);
    // The system's reason stays beside each failure.
    EXPECT_EQ(std::vector<TConfigResult>(results, results + 3),
              std::vector<TConfigResult>({{TConfigStatus::Failed, EACCES},
                                          {TConfigStatus::Done, 0},
                                          {TConfigStatus::NoFile, EACCES}}));
    EXPECT_EQ(ll_->TarifFileName, "/t");
    EXPECT_EQ(Snapshot(), before);
}
INSTANTIATE_TEST_SUITE_P(
    Configs, ReadOnlyDirTest,
    ::testing::Values(TReadOnlyRow{Image(5, 0, 1), {}, "COM5", true},
                      // Undeletable damaged file: defaults in memory.
                      TReadOnlyRow{
                          std::string(29, 0), {TConfigStatus::Failed, EACCES}, "COM1", false}));

TEST_F(ConfigTest, FailedWritesAreNotReportedAsWritten) {
    // Writes past 16 bytes fail part-way.
    signal(SIGXFSZ, SIG_IGN);
    rlimit old, low;
    getrlimit(RLIMIT_FSIZE, &old);
    low = old;
    low.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
    const TConfigResult results[] = {ReadConfig(*ll_), WriteConfig(*ll_, "COM2", true, false),
                                     WriteOutConfig(*ll_, "/a/rather/long/path.txt", "")};
    setrlimit(RLIMIT_FSIZE, &old);
    const TConfigResult tooLarge{TConfigStatus::Failed, EFBIG};
    EXPECT_EQ(std::vector<TConfigResult>(results, results + 3),
              std::vector<TConfigResult>({tooLarge, tooLarge, tooLarge}));
    EXPECT_FALSE(ll_->FirstStart);
}

TEST_F(ConfigTest, ReportSettingsComeBackAndAFifoInTheirPlaceHoldsNothing) {
    ASSERT_TRUE(WriteReportSettings(Path("r.cfg"), {"/srv/тарифы.csv", "/srv/abonents.csv"}).Ok());
    const TReportSettings read = ReadReportSettings(Path("r.cfg"));
    EXPECT_EQ(read.Tariffs, "/srv/тарифы.csv");
    EXPECT_EQ(read.Subscribers, "/srv/abonents.csv");
    ASSERT_EQ(mkfifo(Path("fifo.cfg").c_str(), 0600), 0);
    EXPECT_EQ(ReadReportSettings(Path("fifo.cfg")).Tariffs, "");  // returns at once
}

}  // namespace
