// bench_sites FILE [CONNINFO]: ships a call-log file into an empty database
// and makes the subscriber-line report of ten offices from it, printing
// name=value figures:
//   ship_calls_per_s  calls shipped per second, the whole file caught up,
//                     as an office's role under row-level security (a
//                     member of tallyphon_office mapped to office-01)
//   peak_rss_mb       the process's peak memory while shipping
//   report_lines_s    the subscriber-line lists of ten offices (the file's
//                     calls copied nine times), from the sums the server keeps
//   rotate_lost       calls of a busy call log that did not reach the
//                     database through 50 rotations (rename, create) at
//                     random instants while it was shipped; must be 0
// Without CONNINFO it runs a throw-away cluster of its own that forces its
// writes to the disk as a real server does; a CONNINFO given must name an
// empty database, as a user that may create roles, and the office's role
// (tallyphon_bench_office) must be able to log in with CONNINFO's other
// settings.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

#include <pqxx/pqxx>

#include "base/figures.h"
#include "db/db_report.h"
#include "db/schema.h"
#include "db/shipper.h"
#include "tools/pg_cluster/pg_cluster.h"

namespace {

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double PeakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Polls condition every millisecond until it holds or limit passes.
template <class Condition>
bool Await(Condition condition, std::chrono::milliseconds limit = std::chrono::minutes(1)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Calls of office site written to a call log in a directory of its own,
// as the program writes them (a line at a time, opened by the name), and
// shipped while 50 rotations by the packaged recipe's steps (rename,
// create) happen at random instants; the calls written less those in the
// database.
long long RotateLost(const std::string& conn, const std::string& site) {
    char dirName[] = "/tmp/bench_sites_XXXXXX";
    if (!mkdtemp(dirName)) throw std::runtime_error("mkdtemp failed");
    const std::string dir = dirName, path = dir + "/calls.txt";
    // The recipe's create; should it fail, the writer finds no file for a
    // minute and ends the benchmark.
    const auto create = [&] { close(open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0640)); };
    create();
    TShipper shipper({conn, site});
    const TShipSource source{path, "QTV610", "4321"};
    shipper.Start(source);
    std::atomic<long long> written{0};
    std::atomic<bool> done{false};
    // A busy line: a call whenever the shipping is less than eight behind,
    // or 20 ms have passed (calls lost are never shipped).
    std::thread writer([&] {
        char line[96];
        for (long long n = 0; !done; written = ++n) {
            std::snprintf(line, sizeof line,
                          "05-03-2007 14:02:07   00:01:35   12( 121)     200     %07lld"
                          "              \r\n",
                          n);
            int fd = -1;
            // Between the rename and the create the recipe's file is
            // waited for, as logrotate would move aside one made there.
            Await([&] { return (fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC)) >= 0; });
            if (fd < 0 || write(fd, line, std::strlen(line)) < 0) std::abort();
            close(fd);
            shipper.Notify(source);
            Await([&] { return static_cast<long long>(shipper.ShippedCalls()) + 8 > n || done; },
                  std::chrono::milliseconds(20));
        }
    });
    std::mt19937 random(std::random_device{}());
    bool renamed = true;
    for (int i = 1; i <= 50 && renamed; ++i) {
        const long long at = written + 1 + static_cast<long long>(random() % 16);
        Await([&] { return written >= at; });
        const std::string rotated = path + "." + std::to_string(i);
        renamed = std::rename(path.c_str(), rotated.c_str()) == 0;
        if (renamed) create();
    }
    done = true;
    writer.join();
    if (!renamed) throw std::runtime_error("cannot rename " + path);
    shipper.Stop(TShipper::TDrain::LastLines);
    std::filesystem::remove_all(dir);
    auto c = ConnectDb(conn);
    pqxx::work w(*c);
    return written - w.exec_params1(
                          "SELECT count(DISTINCT dialled) FROM tallyphon.calls"
                          " WHERE site = $1",
                          site)[0]
                         .as<long long>();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: bench_sites FILE [CONNINFO]\n");
        return 2;
    }
    try {
        std::unique_ptr<TPgCluster> cluster;
        std::string conn = argc == 3 ? argv[2] : "";
        if (conn.empty()) {
            cluster = std::make_unique<TPgCluster>(true);
            conn = cluster->ConnInfo();
        }

        // The office ships as its own role, under the row-level security
        // the administrator's --create-schema sets up.
        {
            auto c = ConnectDb(conn);
            MakeSchema(*c, true);
            pqxx::work w(*c);
            w.exec(
                "DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles"
                " WHERE rolname = 'tallyphon_bench_office') THEN"
                " CREATE ROLE tallyphon_bench_office LOGIN IN ROLE tallyphon_office;"
                " END IF; END $$");
            w.exec(
                "INSERT INTO tallyphon.offices VALUES ('office-01', 'tallyphon_bench_office')"
                " ON CONFLICT DO NOTHING");
            w.commit();
        }
        TShipper shipper({conn + " user=tallyphon_bench_office", "office-01"});
        auto start = std::chrono::steady_clock::now();
        const TShipResult shipped = shipper.ShipPending({argv[1], "QTV610", "4321"});
        const double shipSeconds = Since(start);
        if (shipped.State != TShipState::CaughtUp) {
            std::fprintf(stderr, "bench_sites: shipping failed: %s\n", shipped.Error.c_str());
            return 1;
        }
        const double shipRss = PeakRssMb();

        // Nine more offices with the same calls, and the statistics and
        // visibility map autovacuum would have made of them by report time.
        {
            auto c = ConnectDb(conn);
            pqxx::work w(*c);
            w.exec(
                "INSERT INTO tallyphon.sites (site) SELECT 'office-' || to_char(g, 'FM00')"
                " FROM generate_series(2, 10) g");
            w.exec(
                "INSERT INTO tallyphon.calls SELECT 'office-' || to_char(g, 'FM00'), file_no,"
                " file_offset, model, serial, start, duration, hw_line, prg_number, trunk,"
                " dialled, log_line FROM tallyphon.calls, generate_series(2, 10) g"
                " WHERE site = 'office-01'");
            w.commit();
            pqxx::nontransaction n(*c);
            n.exec("VACUUM ANALYZE tallyphon.calls");
        }
        TReportModel model;
        start = std::chrono::steady_clock::now();
        const TDbReportResult report = LoadDbLists({conn, {}}, TPeriod{}, true, false, model);
        const double reportSeconds = Since(start);
        if (!report.Ok()) {
            std::fprintf(stderr, "bench_sites: report failed: %s\n", report.Error.c_str());
            return 1;
        }
        int64_t traffic = 0;
        for (const TAL_rep* e : model.ALList())
            traffic += e->TotalSec;

        std::printf("calls=%llu\n", static_cast<unsigned long long>(shipped.Calls));
        PrintFigure("ship_s", shipSeconds, 3);
        PrintFigure("ship_calls_per_s", static_cast<double>(shipped.Calls) / shipSeconds, 0);
        PrintFigure("peak_rss_mb", shipRss, 1);
        std::printf("report_calls=%llu\n", static_cast<unsigned long long>(shipped.Calls) * 10);
        std::printf("report_subscriber_lines=%zu\n", model.ALList().Count());
        std::printf("report_traffic_s=%lld\n", static_cast<long long>(traffic));
        PrintFigure("report_lines_s", reportSeconds, 3);
        std::printf("rotate_lost=%lld\n", RotateLost(conn, "office-rotated"));
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_sites: %s\n", e.what());
        return 1;
    }
}
