// Read-all benchmark through the whole program: the main window, its reading
// thread and the call-log file, against the simulated exchange paced like a
// 19200 baud 8N2 line, on the offscreen platform unless a platform is set.
// Prints one name=value line per figure.
//
//   bench_readall [records]
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QListWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/figures.h"
#include "tools/sim_exchange/sim_exchange.h"
#include "ui/main_form.h"

namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

int CountLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    int n = 0;
    for (std::string line; std::getline(in, line);)
        ++n;
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tallyphon 2.28");
    const int records = argc > 1 ? std::atoi(argv[1]) : 500;

    // A start-up directory: port COM1 with titles on, the call-log file
    // calls.txt, no start-up action; COM1 is the simulated exchange.
    std::string dir = (std::filesystem::temp_directory_path() / "bench_readall-XXXXXX").string();
    if (!mkdtemp(dir.data())) {
        std::fprintf(stderr, "bench_readall: no temporary directory\n");
        return 1;
    }
    WriteFile(dir + "/Tallyphon.cfg", std::string("\x01\x01\x00", 3) + std::string(27, '\0'));
    WriteFile(dir + "/TallyphonOut.cfg",
              "TARIF_FNAME=" + dir + "/calls.txt\r\nREALTIME_FNAME=\r\nAUTO=");

    sim::TExchangeConfig config;
    config.Paced = true;
    config.Units[0].Capacity = 65000;
    sim::TDayOptions day;
    day.Calls = records;
    day.Seed = 2026;
    const auto payloads = sim::GenerateOfficeDay(day);
    config.Units[0].Records.assign(payloads.begin(), payloads.end());
    sim::TSimExchange exchange(config);
    if (!exchange.Start(dir + "/COM1") || chdir(dir.c_str()) != 0) {
        std::fprintf(stderr, "bench_readall: cannot start the simulated exchange\n");
        return 1;
    }

    int rc = 0;
    {
        TMainForm form;  // starts up: settings, port, identification
        exchange.ResetWireBytes();
        const auto t0 = std::chrono::steady_clock::now();
        form.LoadFromATSMenuItemClick();
        // Reopening the port, the two identifications and the title.
        const double prepare =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        boost::shared_ptr<ReadATSThread> reader = form.Reader();
        if (reader) {
            QEventLoop loop;
            QObject::connect(reader.get(), &QThread::finished, &loop, &QEventLoop::quit);
            if (!reader->isFinished()) loop.exec();
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const uint64_t wireBytes = exchange.WireBytes();
        // The least time the run could take: every byte that crossed the
        // line, 11 bits each at 19200 baud.
        const double wireSeconds = static_cast<double>(wireBytes) * 11.0 / 19200.0;
        const int lines = CountLines(dir + "/calls.txt");
        std::printf("records=%d\n", records);
        std::printf("file_lines=%d\n", lines);
        std::printf("list_lines=%d\n", form.findChild<QListWidget*>("ListBox1")->count());
        PrintFigure("prepare_seconds", prepare, 3);
        PrintFigure("seconds", seconds, 3);
        std::printf("wire_bytes=%llu\n", static_cast<unsigned long long>(wireBytes));
        PrintFigure("wire_seconds", wireSeconds, 3);
        PrintFigure("paced_records_per_s", records / seconds, 2);
        PrintFigure("paced_ratio", wireSeconds / seconds, 4);
        if (lines != records + 2) {
            std::fprintf(stderr, "bench_readall: the call-log file has %d lines, not %d\n", lines,
                         records + 2);
            rc = 1;
        }
        form.close();
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return rc;
}
