// bench_sites FILE [CONNINFO]: ships a call-log file into an empty database
// and makes the subscriber-line report of ten offices from it, printing
// name=value figures:
//   ship_calls_per_s  calls shipped per second, the whole file caught up
//   peak_rss_mb       the process's peak memory while shipping
//   report_lines_s    the subscriber-line lists of ten offices (the file's
//                     calls copied nine times), summed by the server
// Without CONNINFO it runs a throw-away cluster of its own that forces its
// writes to the disk as a real server does; a CONNINFO given must name an
// empty database.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

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

        TShipper shipper({conn, "office-01"});
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
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_sites: %s\n", e.what());
        return 1;
    }
}
