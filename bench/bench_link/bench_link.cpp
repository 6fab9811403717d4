// Link benchmark: reads a billing buffer from the simulated exchange over a
// pseudo-terminal, unpaced and paced like a 19200 baud 8N2 line, and prints
// one name=value line per figure.
//
//   bench_link [unpaced_records] [paced_records]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "base/figures.h"
#include "link/low_level.h"
#include "tools/sim_exchange/sim_exchange.h"

namespace {

struct TRun {
    int records = 0;
    double seconds = 0;
    uint64_t wireBytes = 0;
};

// Serves records generated calls and reads them all once.
TRun ReadAll(int records, bool paced) {
    sim::TExchangeConfig c;
    c.Paced = paced;
    c.Units[0].Capacity = 65000;
    sim::TDayOptions day;
    day.Calls = records;
    day.Seed = 2026;
    const auto payloads = sim::GenerateOfficeDay(day);
    c.Units[0].Records.assign(payloads.begin(), payloads.end());
    sim::TSimExchange ex(c);
    if (!ex.Start()) {
        std::fprintf(stderr, "bench_link: cannot start the simulated exchange\n");
        std::exit(1);
    }
    TLowLevel ll;
    if (ll.OpenPort(ex.SlavePath()) != TOpenResult::Opened ||
        ll.IdentifyExchange() != TIdentifyResult::Identified) {
        std::fprintf(stderr, "bench_link: the simulated exchange does not answer\n");
        std::exit(1);
    }
    TRun run;
    ex.ResetWireBytes();
    const auto t0 = std::chrono::steady_clock::now();
    const TReadResult result = ll.ReadBuffer([&](TRecord) { ++run.records; });
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    run.wireBytes = ex.WireBytes();
    if (result != TReadResult::Drained || run.records != records) {
        std::fprintf(stderr, "bench_link: read %d of %d records\n", run.records, records);
        std::exit(1);
    }
    return run;
}

std::string CpuModel() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    return "unknown";
}

}  // namespace

int main(int argc, char** argv) {
    const int unpaced = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int paced = argc > 2 ? std::atoi(argv[2]) : 500;

    std::printf("machine_cpu=%s\n", CpuModel().c_str());
    std::printf("machine_cores=%ld\n", sysconf(_SC_NPROCESSORS_ONLN));

    const TRun u = ReadAll(unpaced, false);
    std::printf("unpaced_records=%d\n", u.records);
    PrintFigure("unpaced_seconds", u.seconds, 3);
    PrintFigure("unpaced_records_per_s", u.records / u.seconds, 1);

    const TRun p = ReadAll(paced, true);
    // The least time the run could take: every byte that crossed the line,
    // 11 bits each at 19200 baud.
    const double wireSeconds = static_cast<double>(p.wireBytes) * 11.0 / 19200.0;
    std::printf("paced_records=%d\n", p.records);
    PrintFigure("paced_seconds", p.seconds, 3);
    std::printf("paced_wire_bytes=%llu\n", static_cast<unsigned long long>(p.wireBytes));
    PrintFigure("paced_wire_seconds", wireSeconds, 3);
    PrintFigure("paced_records_per_s", p.records / p.seconds, 2);
    PrintFigure("paced_ratio", wireSeconds / p.seconds, 4);
    return 0;
}
