// bench_reports FILE: loads a call-log file as the report window does and
// builds the subscriber-line and trunk lists, printing name=value figures.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/figures.h"
#include "reports/report_model.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_reports FILE\n");
        return 2;
    }
    TReportModel model;
    const auto start = std::chrono::steady_clock::now();
    const TFileResult loaded = model.LoadFile(argv[1]);
    if (!loaded.Ok()) {
        std::fprintf(stderr, "bench_reports: cannot read %s: %s\n", argv[1],
                     std::strerror(loaded.Error));
        return 1;
    }
    model.BuildLists();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    // Sum of all traffic, for checking the figures against another tool.
    long long traffic = 0;
    for (const TAL_rep* e : model.ALList())
        traffic += e->TotalSec;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("lines=%zu\n", model.LineCount());
    std::printf("records=%zu\n", model.LineList().Count());
    std::printf("subscriber_lines=%zu\n", model.ALList().Count());
    std::printf("trunks=%zu\n", model.SLList().Count());
    std::printf("traffic_s=%lld\n", traffic);
    PrintFigure("load_and_lists_s", seconds, 3);
    PrintFigure("peak_rss_mb", static_cast<double>(usage.ru_maxrss) / 1024.0, 1);
    return 0;
}
