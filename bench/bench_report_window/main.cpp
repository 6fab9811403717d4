// bench_report_window FILE [EXPORT]: opens the report window on the current
// Qt platform (offscreen for a measurement), loads FILE through its "Load"
// command and prints name=value figures: the load until all three grids are
// filled and painted, the peak memory, the slowest of the nine sorts, a
// prefix query over every call, the export of every call (to EXPORT, by
// default /tmp/bench_report_window_calls.txt), the same calls as CSV and the
// XLSX workbook of all three grids (beside EXPORT, .csv and .xlsx added),
// each through the grid's pop-up menu (the workbook's processor time too),
// a paint of the call grid scrolled to its middle row, and the four traffic
// charts of every call computed and painted.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QTableView>

#include "base/figures.h"
#include "base/message_seam.h"
#include "ui/main_form_rep.h"

namespace {

// Answers the window's file dialogs with one path and records its messages.
class TBenchSink : public seam::IMessageSink {
  public:
    std::string Path;
    int Messages = 0;
    int Message(const std::string& text, const std::string& caption, seam::TButtons) override {
        std::fprintf(stderr, "message: [%s] %s\n", caption.c_str(), text.c_str());
        ++Messages;
        return seam::kAnswerOk;
    }
    bool FileDialog(const seam::TFileRequest&, std::string& chosen) override {
        chosen = Path;
        return true;
    }
};

double SecondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Processor time of the process so far, user and system: on a shared
// machine the wall-clock figures also count the other processes' turns.
double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: bench_report_window FILE [EXPORT [TARIFFS]]\n");
        return 2;
    }
    // The window keeps its chosen tables in its start-up directory: a
    // directory of the run's own, the paths given made absolute first.
    const std::string file = std::filesystem::absolute(argv[1]).string();
    const std::string exportArg = argc >= 3 ? std::filesystem::absolute(argv[2]).string()
                                            : "/tmp/bench_report_window_calls.txt";
    const std::string tariffs = argc == 4 ? std::filesystem::absolute(argv[3]).string() : "";
    std::string runDir =
        (std::filesystem::temp_directory_path() / "bench_report_window.XXXXXX").string();
    if (!::mkdtemp(runDir.data()) || ::chdir(runDir.c_str()) != 0) {
        std::perror("bench_report_window");
        return 1;
    }
    QApplication app(argc, argv);
    TBenchSink sink;
    seam::SetMessageSink(&sink);
    TMainForm_rep form;
    form.show();
    QApplication::processEvents();
    const auto action = [&form](const char* name) { return form.findChild<QAction*>(name); };
    auto* const grid = form.findChild<QTableView*>("StringGrid1");
    auto* const filter = form.findChild<QLineEdit*>("FilterEdit");

    sink.Path = file;
    const double load = SecondsOf([&] {
        action("Load")->trigger();
        form.repaint();
    });
    if (sink.Messages || grid->model()->rowCount() == 0) {
        std::fprintf(stderr, "bench_report_window: %s was not loaded\n", file.c_str());
        return 1;
    }
    // With a tariff file the calls are rated, and the grids show their costs,
    // for everything that follows.
    double rated = 0;
    if (!tariffs.empty()) {
        sink.Path = tariffs;
        rated = SecondsOf([&] {
            action("TariffsMenuItem")->trigger();
            form.repaint();
        });
        if (sink.Messages) return 1;
    }

    double slowestSort = 0;
    for (QAction* sort : {action("N3"), action("N4"), action("N5"), action("N6"), action("N7"),
                          action("N8"), action("N9"), action("N10"), action("N11")}) {
        const double s = SecondsOf([&] {
            sort->trigger();
            form.repaint();
        });
        if (s > slowestSort) slowestSort = s;
    }

    filter->setText("8");
    const double query = SecondsOf([&] {
        form.Button4Click();
        form.repaint();
    });
    const int selected = grid->model()->rowCount();

    filter->clear();
    form.Button4Click();  // every call again
    const int calls = grid->model()->rowCount();
    sink.Path = exportArg;
    std::remove(sink.Path.c_str());  // no question about replacing it
    const double exported = SecondsOf([&] { form.N2Click(); });
    const std::string exportPath = sink.Path;
    sink.Path = exportPath + ".csv";
    std::remove(sink.Path.c_str());
    const double csv = SecondsOf([&] { action("N14")->trigger(); });
    sink.Path = exportPath + ".xlsx";
    std::remove(sink.Path.c_str());
    const double cpuBefore = CpuSeconds();
    const double xlsx = SecondsOf([&] { action("N14")->trigger(); });
    const double xlsxCpu = CpuSeconds() - cpuBefore;

    const double paint = SecondsOf([&] {
        grid->scrollTo(grid->model()->index(calls / 2, 0), QAbstractItemView::PositionAtCenter);
        grid->viewport()->repaint();
    });

    // All four charts of every call, computed and painted.
    const double charts = SecondsOf([&] {
        action("ChartsMenuItem")->trigger();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "ChartsForm") w->repaint();
    });

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("calls=%d\n", calls);
    std::printf("query_rows=%d\n", selected);
    PrintFigure("load_to_grids_s", load, 3);
    if (!tariffs.empty()) PrintFigure("tariffs_s", rated, 3);
    PrintFigure("peak_rss_mb", static_cast<double>(usage.ru_maxrss) / 1024.0, 1);
    PrintFigure("sort_ms", slowestSort * 1000, 2);
    PrintFigure("query_s", query, 3);
    PrintFigure("export_calls_s", exported, 3);
    PrintFigure("csv_s", csv, 3);
    PrintFigure("xlsx_s", xlsx, 3);
    PrintFigure("xlsx_cpu_s", xlsxCpu, 3);
    PrintFigure("paint_scrolled_ms", paint * 1000, 2);
    PrintFigure("charts_s", charts, 3);
    seam::SetMessageSink(nullptr);
    std::filesystem::remove_all(runDir);
    return sink.Messages ? 1 : 0;
}
