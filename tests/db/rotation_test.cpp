// Shipping through log rotation by the packaged logrotate recipe (and with
// copytruncate): the tail of every rotated file is shipped, while the
// server is up, through an outage, and across a restart of the program;
// what compression took away is told once.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "db/shipper.h"
#include "tests/common/recorder.h"
#include "tests/common/test_support.h"
#include "tests/db/db_test_support.h"

using namespace testing_support;

namespace {

// Call number n: its dialled number tells it from every other.
std::string Call(int n) {
    char dialled[16];
    std::snprintf(dialled, sizeof dialled, "%07d", n);
    return "05-03-2007 14:02:07   00:01:35   12( 121)     200     " + std::string(dialled) +
           "              ";
}
const size_t kCallBytes = Call(0).size() + 2;

class Rotation : public ::testing::Test {
  protected:
    void SetUp() override {
        conn = FreshDatabase();
        db = conn.substr(conn.find("dbname=") + 7);
        // The packaged recipe, run as a test can run it: numbered names
        // (it rotates many times a second, where the month's name would
        // be taken), new files owned by the test's user, and the service's
        // restart left to the test.
        std::istringstream recipe(ReadFile(TALLYPHON_LOGROTATE_RECIPE));
        std::string conf, line;
        for (bool script = false; std::getline(recipe, line);) {
            script = script || line.find("postrotate") != std::string::npos;
            if (line.find("/var/lib/tallyphon/calls.txt {") == 0) line = path + " {";
            if (line.find("create ") != std::string::npos) line = "    create 0640";
            if (!script && line.find("date") == std::string::npos) conf += line + "\n";
            script = script && line.find("endscript") == std::string::npos;
        }
        WriteFile(logDir.File("recipe"), conf);
    }
    void Rotate() {
        const std::string command = std::string(LOGROTATE_PROGRAM) + " -f -s " +
                                    logDir.File("state") + " " + logDir.File("recipe");
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    // Writes calls from..to-1 as the program does, a line at a time by
    // the name, and tells shipper. Between logrotate's rename and its
    // create the program would make the file itself, which logrotate then
    // moves aside under a name of the hour (a second such move overwrites
    // the first); the writer here waits for the recipe's file instead.
    void Write(int from, int to, TShipper& shipper) {
        for (int n = from; n < to; ++n) {
            const std::string bytes = Call(n) + "\r\n";
            int fd = -1;
            ASSERT_TRUE(WaitFor(
                [&] { return (fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC)) >= 0; }));
            ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
            close(fd);
            shipper.Notify({path, "QTV610", "4321"});
        }
    }
    // The calls of the files, each "offset|line" (a compressed file
    // unpacked), and the database's: the same, sorted, when no call was
    // lost nor shipped twice.
    std::vector<std::string> FileCalls() const {
        std::vector<std::string> calls;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
            std::string bytes;
            if (entry.path().extension() == ".gz") {
                FILE* gz = popen(("gzip -dc " + entry.path().string()).c_str(), "r");
                for (int c; (c = std::fgetc(gz)) != EOF;)
                    bytes += static_cast<char>(c);
                pclose(gz);
            } else {
                bytes = ReadFile(entry.path());
            }
            for (size_t at = 0; at + kCallBytes <= bytes.size(); at += kCallBytes)
                calls.push_back(std::to_string(at) + "|" + bytes.substr(at, kCallBytes - 2));
        }
        std::sort(calls.begin(), calls.end());
        return calls;
    }
    std::vector<std::string> DbCalls() const {
        std::istringstream rows(Cluster().Psql(
            db, "SELECT file_offset || '|' || log_line FROM tallyphon.calls ORDER BY 1"));
        std::vector<std::string> calls;
        for (std::string row; std::getline(rows, row);)
            calls.push_back(row);
        std::sort(calls.begin(), calls.end());
        return calls;
    }
    std::unique_ptr<TShipper> Started() {
        TShipper::TOptions quick;
        quick.RetryAfter = std::chrono::milliseconds(50);
        quick.RetryMax = std::chrono::milliseconds(200);
        auto shipper = std::make_unique<TShipper>(TDbConfig{conn, "A"}, quick);
        shipper->Start({path, "QTV610", "4321"});
        return shipper;
    }
    std::string conn, db;
    TTempDir dir, logDir;
    const std::string path = dir.File("calls.txt");
};

TEST_F(Rotation, RotatedAtRandomInstantsWhileShippingNoCallIsLostOrDoubled) {
    const unsigned seed = std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    auto shipper = Started();
    WriteFile(path, "");
    // A busy line: the writer goes on through every rotation, a few calls
    // ahead of the shipping.
    std::atomic<int> written{0};
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int n = 0; !done; n = written) {
            Write(n, n + 1, *shipper);
            written = n + 1;
            WaitFor([&] { return shipper->ShippedCalls() + 8 > static_cast<uint64_t>(n) || done; });
        }
    });
    for (int i = 0; i < 30 && !HasFatalFailure(); ++i) {
        const int at = written + 1 + static_cast<int>(random() % 16);
        if (!WaitFor([&] { return written >= at; })) break;
        Rotate();
    }
    done = true;
    writer.join();
    EXPECT_TRUE(WaitFor([&] { return shipper->ShippedCalls() == static_cast<uint64_t>(written); }))
        << shipper->ShippedCalls() << " of " << written;
    shipper->Stop();
    EXPECT_TRUE(Exists(path + ".30.gz"));
    const auto calls = FileCalls();
    EXPECT_EQ(calls.size(), static_cast<size_t>(written));
    EXPECT_EQ(DbCalls(), calls);
}

TEST_F(Rotation, RotatedDuringAnOutageTheTailsAreShippedFirstAcrossARestart) {
    TRecorder recorder;
    WriteFile(path, "");
    auto shipper = Started();
    Write(0, 5, *shipper);
    ASSERT_TRUE(WaitFor([&] { return shipper->ShippedCalls() == 5; }));
    // The program stays up through two rotations (the second compresses
    // the first file it holds), then is restarted by the packaged recipe.
    Cluster().Stop();
    Write(5, 9, *shipper);
    Rotate();
    Write(9, 12, *shipper);
    Rotate();
    Write(12, 14, *shipper);
    Cluster().Start();
    ASSERT_TRUE(WaitFor([&] { return shipper->ShippedCalls() == 14; }));
    Cluster().Stop();
    Write(14, 20, *shipper);
    Rotate();
    shipper->Stop(TShipper::TDrain::LastLines);
    shipper = Started();
    Write(20, 23, *shipper);
    Cluster().Start();
    ASSERT_TRUE(WaitFor([&] { return shipper->ShippedCalls() == 9; }, std::chrono::seconds(20)));
    shipper->Stop(TShipper::TDrain::LastLines);
    EXPECT_EQ(DbCalls(), FileCalls());
    EXPECT_EQ(DbCalls().size(), 23u);

    // Restarted at each of two rotations in one outage: the first file is
    // compressed before it can be shipped from; the one written between
    // them, which the database never saw, is shipped.
    shipper = Started();
    Cluster().Stop();
    Write(23, 27, *shipper);
    Rotate();
    shipper = Started();
    Write(27, 30, *shipper);
    Rotate();
    shipper = Started();
    Write(30, 32, *shipper);
    Cluster().Start();
    ASSERT_TRUE(WaitFor([&] { return shipper->ShippedCalls() == 5; }, std::chrono::seconds(20)))
        << shipper->ShippedCalls() << "\n"
        << Cluster().Psql(db, "SELECT * FROM tallyphon.files")
        << testing::PrintToString(recorder.JournalLines());
    Write(32, 33, *shipper);
    ASSERT_TRUE(WaitFor([&] { return shipper->ShippedCalls() == 6; }));
    shipper->Stop();
    // Every call but the four compressed away, each once.
    const auto shipped = DbCalls(), written = FileCalls();
    EXPECT_EQ(shipped.size(), 29u);
    EXPECT_TRUE(std::includes(written.begin(), written.end(), shipped.begin(), shipped.end()));
    std::vector<std::string> told;
    for (const std::string& line : recorder.JournalLines())
        if (line.rfind("<3>", 0) == 0) told.push_back(line);
    EXPECT_EQ(told, std::vector<std::string>{
                        "<3>Звонки площадки «A» из файла «" + path + "» с байта " +
                        std::to_string(3 * kCallBytes) +
                        " не отправлены в базу данных и уже не будут: после ротации файл сжат в «" +
                        path + ".2.gz», а сжатый файл не читается; не отправлено байт: " +
                        std::to_string(4 * kCallBytes)});
}

TEST_F(Rotation, ACopiedAndCutFileIsShippedFromItsCopy) {
    std::string recipe = ReadFile(logDir.File("recipe"));
    recipe.replace(recipe.find("create 0640"), 11, "copytruncate");
    WriteFile(logDir.File("recipe"), recipe);
    WriteFile(path, "");
    TShipper shipper({conn, "A"});
    Write(0, 3, shipper);
    ASSERT_EQ(shipper.ShipPending({path, "QTV610", "4321"}).Calls, 3u);
    // The file held open is cut: its last two calls are only in the copy.
    Write(3, 5, shipper);
    Rotate();
    Write(5, 6, shipper);
    EXPECT_EQ(shipper.ShipPending({path, "QTV610", "4321"}).Calls, 3u);
    EXPECT_EQ(DbCalls(), FileCalls());
}

}  // namespace
