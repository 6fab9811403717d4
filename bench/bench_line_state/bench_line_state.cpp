// Line-state benchmark: the monitor's query against the simulated exchange
// on a pseudo-terminal paced like a 19200 baud 8N2 line, with five calls in
// progress; prints one name=value line per figure.
//
//   bench_line_state [queries]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/figures.h"
#include "link/low_level.h"
#include "tools/sim_exchange/sim_exchange.h"

int main(int argc, char** argv) {
    const int queries = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    constexpr int kConnections = 5;

    sim::TExchangeConfig c;
    c.Paced = true;
    sim::TSimExchange ex(c);
    if (!ex.Start()) {
        std::fprintf(stderr, "bench_line_state: cannot start the simulated exchange\n");
        return 1;
    }
    for (int i = 0; i < kConnections; ++i) {
        sim::TSimCall call;
        call.HwLine = static_cast<uint16_t>(5 + 7 * i);
        call.TrunkCode = static_cast<uint8_t>(1 + i);
        ex.BeginCall(0, call, std::chrono::hours(1));
    }
    TLowLevel ll;
    if (ll.OpenPort(ex.SlavePath()) != TOpenResult::Opened ||
        ll.IdentifyExchange() != TIdentifyResult::Identified) {
        std::fprintf(stderr, "bench_line_state: the simulated exchange does not answer\n");
        return 1;
    }

    std::vector<double> ms;
    uint64_t wireBytes = 0;
    for (int q = 0; q < queries; ++q) {
        ex.ResetWireBytes();
        const auto t0 = std::chrono::steady_clock::now();
        const TLineStateResult r = ll.QueryLineState();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
        wireBytes = std::max(wireBytes, ex.WireBytes());
        if (r != TLineStateResult::Queried || ll.ConnectionCount() != kConnections) {
            std::fprintf(stderr, "bench_line_state: query %d found %d connections\n", q + 1,
                         ll.ConnectionCount());
            return 1;
        }
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    // The least time the bytes of one query need: 11 bits each at 19200 baud,
    // one after another (every request waits for its answer).
    const double wireMs = static_cast<double>(wireBytes) * 11.0 * 1000.0 / 19200.0;
    std::printf("queries=%d\n", queries);
    std::printf("connections=%d\n", kConnections);
    std::printf("wire_bytes=%llu\n", static_cast<unsigned long long>(wireBytes));
    PrintFigure("wire_ms", wireMs, 2);
    PrintFigure("query_ms_median", median, 2);
    PrintFigure("query_ms_max", ms.back(), 2);
    PrintFigure("query_ratio", median / wireMs, 3);
    return 0;
}
