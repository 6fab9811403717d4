// bench_billing FILE: loads a call-log file as the report window does, then
// rates every call against a generated table of 10,000 rates (prefixes of
// one to seven digits, a quarter of them limited to days or hours) and makes
// the bill CSV of the whole file, printing name=value figures.
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <unordered_set>

#include <QGuiApplication>

#include "base/fd.h"
#include "base/figures.h"
#include "bench/bench_bill_pdf/bill_pdf_timing.h"
#include "billing/bill.h"
#include "billing/rating.h"
#include "reports/report_model.h"

namespace {

std::string RateTable(size_t rows) {
    std::mt19937 rng(7);
    auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    std::string text = "Префикс;Зона;Цена;Соединение;Первый;Шаг;Бесплатно;Дни;С;До\r\n";
    text += "*;Местные;0,50\r\n";
    char buf[160];
    // A table that loads holds each prefix with the same days and hours once.
    std::unordered_set<std::string> used;
    for (size_t k = 1; k < rows;) {
        std::string prefix = std::to_string(pick(2, 8));
        const int length = pick(1, 7);
        while (static_cast<int>(prefix.size()) < length)
            prefix += static_cast<char>('0' + pick(0, 9));
        const int zone = pick(1, 20);
        std::string limits;
        switch (pick(0, 7)) {
            case 0:
                limits = "1-5;08:00;20:00";
                break;
            case 1:
                limits = "6-7;;";
                break;
        }
        if (!used.insert(prefix + ";" + limits).second) continue;
        ++k;
        std::snprintf(buf, sizeof buf, "%s;Зона %d;%d,%04d;%s;%d;%d;%d;%s\r\n", prefix.c_str(),
                      zone, pick(0, 30), pick(0, 9999), pick(0, 3) == 0 ? "0,10" : "",
                      pick(0, 1) ? 60 : 30, pick(0, 1) ? 60 : 6, pick(0, 5), limits.c_str());
        text += buf;
    }
    return text;
}

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Processor time of the process: on a busy machine the steadier figure.
double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: bench_billing FILE [TARIFFS-OUT]\n");
        return 2;
    }
    TReportModel model;
    const TFileResult loaded = model.LoadFile(argv[1]);
    if (!loaded.Ok()) {
        std::fprintf(stderr, "bench_billing: %s\n", LoadFailureText(loaded, argv[1]).c_str());
        return 1;
    }
    TTariffs tariffs;
    const std::string table = RateTable(10000);
    // The table also for other programs' figures (the report window, the
    // report program), when asked.
    if (argc == 3 && !ReplaceFile(argv[2], table)) {
        std::fprintf(stderr, "bench_billing: cannot write %s: %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    if (const TBillingResult parsed = tariffs.Parse(table); !parsed.Ok()) {
        std::fprintf(stderr, "bench_billing: %s\n", parsed.Message.c_str());
        return 1;
    }

    auto start = std::chrono::steady_clock::now();
    double cpu = CpuSeconds();
    long long outgoing = 0, unrated = 0, cost = 0;
    // Rated once, as the report window rates the calls for its grids; the
    // bill below takes the same rating.
    RateCalls(tariffs, model.Calls());
    for (const TExtStr_rep* call : model.LineList()) {
        const TCallRating r = RatingOf(tariffs, *call);
        if (call->ExtNumber.empty()) continue;
        ++outgoing;
        if (!r.Rate) ++unrated;
        cost += r.Cost;
    }
    const double rateSeconds = Since(start);
    const double rateCpu = CpuSeconds() - cpu;

    const char* dir = std::getenv("TMPDIR");
    const std::string target = std::string(dir && *dir ? dir : "/tmp") + "/bench_billing_" +
                               std::to_string(getpid()) + ".csv";
    start = std::chrono::steady_clock::now();
    cpu = CpuSeconds();
    const TBill bill = MakeBill(model.LineList(), tariffs, TDirectory(), TPeriod());
    const bool written = ReplaceFile(target, BillCsv(bill));
    const double billSeconds = Since(start);
    const double billCpu = CpuSeconds() - cpu;
    std::remove(target.c_str());
    if (!written) {
        std::fprintf(stderr, "bench_billing: cannot write %s: %s\n", target.c_str(),
                     std::strerror(errno));
        return 1;
    }

    // The printed bill of 50 subscribers, fonts loaded as in one run of the
    // report program.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    const std::string pdf = target + ".pdf";
    const double pdfSeconds = TimeBillPdf(GeneratedBill(50), pdf);
    std::remove(pdf.c_str());
    if (pdfSeconds < 0) {
        std::fprintf(stderr, "bench_billing: cannot write %s\n", pdf.c_str());
        return 1;
    }

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("records=%zu\n", model.LineList().Count());
    std::printf("outgoing=%lld\n", outgoing);
    std::printf("unrated=%lld\n", unrated);
    std::printf("cost_kopecks=%lld\n", cost);
    std::printf("subscribers=%zu\n", bill.Subscribers.size());
    std::printf("tariff_rows=%zu\n", tariffs.Rates().size());
    PrintFigure("rate_s", rateSeconds, 3);
    PrintFigure("bill_s", billSeconds, 3);
    PrintFigure("pdf_s", pdfSeconds, 3);
    PrintFigure("rate_cpu_s", rateCpu, 3);
    PrintFigure("bill_cpu_s", billCpu, 3);
    PrintFigure("peak_rss_mb", static_cast<double>(usage.ru_maxrss) / 1024.0, 1);
    return 0;
}
