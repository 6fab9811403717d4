// bench_bill_pdf [SUBSCRIBERS]: writes the bill of SUBSCRIBERS (50 unless
// given) made-up subscribers as a PDF into a temporary directory and
// prints name=value figures; pdf_s includes loading the fonts, as one run
// of tallyphon-report does.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <QGuiApplication>

#include "base/figures.h"
#include "bench/bench_bill_pdf/bill_pdf_timing.h"

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::atoi(argv[1]) : 50;
    if (argc > 2 || n <= 0) {
        std::fprintf(stderr, "usage: bench_bill_pdf [SUBSCRIBERS]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    std::string dir = (std::filesystem::temp_directory_path() / "bench_bill_pdf.XXXXXX").string();
    if (!::mkdtemp(dir.data())) {
        std::perror("bench_bill_pdf");
        return 1;
    }
    const std::string path = dir + "/bill.pdf";
    const double seconds = TimeBillPdf(GeneratedBill(n), path);
    std::error_code error;
    const auto bytes = std::filesystem::file_size(path, error);
    std::filesystem::remove_all(dir, error);
    if (seconds < 0) {
        std::fprintf(stderr, "bench_bill_pdf: the PDF could not be written\n");
        return 1;
    }
    std::printf("subscribers=%d\n", n);
    std::printf("pdf_bytes=%llu\n", static_cast<unsigned long long>(bytes));
    PrintFigure("pdf_s", seconds, 3);
    return 0;
}
