// The cost of the alert rules on the reading: evaluating a call against a
// thousand prefix rules, and the alerter's work per call-log line with a
// typical rules file (state file writes and journal deliveries included),
// set against the time reading one record from the exchange takes.
// Prints one name=value line per figure.
//
//   bench_alerts [RECORD_SECONDS]
//
// RECORD_SECONDS: what reading one record takes, as bench_readall measures
// it (seconds over records); by default the figure it gives on a 19200
// baud line.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "alerts/alerter.h"
#include "alerts/call_rules.h"
#include "base/figures.h"
#include "base/message_seam.h"
#include "calllog/call_line.h"
#include "calllog/calllog_loader.h"

namespace {

// Keeps the journal quiet: the figures go to standard output alone.
class TQuiet : public seam::IMessageSink {
  public:
    int Message(const std::string&, const std::string&, seam::TButtons) override {
        return seam::kAnswerOk;
    }
    void Journal(seam::TPriority, const std::string&) override { ++Lines; }
    uint64_t Lines = 0;
};

std::string Digits(std::mt19937& rng, int count) {
    std::string s;
    for (int i = 0; i < count; ++i)
        s += static_cast<char>('0' + rng() % 10);
    return s;
}

// A call of an office's working month (December 2026): on a weekday
// within working hours but for 3 in 100, a few minutes long, a third
// incoming, of the outgoing ones most local, some long-distance, one in a
// hundred international: a few in a hundred make an alert.
std::string RandomCall(std::mt19937& rng) {
    static const int weekdays[] = {1,  2,  3,  4,  7,  8,  9,  10, 11, 14, 15,
                                   16, 17, 18, 21, 22, 23, 24, 25, 28, 29, 30};
    TRecord r;
    r.Year = 2026;
    r.Month = 12;
    const bool odd = rng() % 100 < 3;
    r.Day = odd ? 1 + static_cast<int>(rng() % 31) : weekdays[rng() % 22];
    r.StartHour = odd ? static_cast<int>(rng() % 24) : 8 + static_cast<int>(rng() % 11);
    r.StartMin = static_cast<int>(rng() % 60);
    r.StartSec = static_cast<int>(rng() % 60);
    r.DurMin = static_cast<int>(rng() % 12);
    r.DurSec = static_cast<int>(rng() % 60);
    r.HwLine = 1 + static_cast<int>(rng() % 64);
    r.PrgNumber = std::to_string(100 + r.HwLine);
    r.Trunk = std::to_string(200 + rng() % 8);
    const unsigned kind = rng() % 100;
    if (kind < 33)
        r.DialNumber.clear();
    else if (kind < 84)
        r.DialNumber = Digits(rng, 7);
    else if (kind < 99)
        r.DialNumber = "8" + Digits(rng, 10);
    else
        r.DialNumber = "810" + Digits(rng, 10);
    return FormatCallLine(r, false, "QTV610", "4660");
}

double Since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
    // bench_readall's paced read of 300 records: 9.6 s, 0.032 s a record.
    const double recordSeconds = argc > 1 ? std::atof(argv[1]) : 0.032;
    TQuiet quiet;
    seam::SetMessageSink(&quiet);
    std::mt19937 rng(2026);

    // A thousand prefix rules, each of one to three prefixes of 3 to 7
    // digits, against 10,000 calls.
    std::string text;
    for (int i = 0; i < 1000; ++i) {
        text += "prefix;";
        const int prefixes = 1 + static_cast<int>(rng() % 3);
        for (int p = 0; p < prefixes; ++p)
            text += (p ? " " : "") + Digits(rng, 3 + static_cast<int>(rng() % 5));
        text += ";desktop\n";
    }
    TAlertRules rules;
    if (!ParseAlertRules(text, "bench", rules).Ok()) {
        std::fprintf(stderr, "bench_alerts: the rules are refused\n");
        return 1;
    }
    const TCallRules callRules(rules);
    std::vector<TExtStr_rep> calls;
    for (int i = 0; i < 10000; ++i) {
        TExtStr_rep call;
        if (ParseCallLogLine(RandomCall(rng), call)) calls.push_back(call);
    }
    std::vector<size_t> matched;
    uint64_t matches = 0;
    const int passes = 20;
    auto t0 = std::chrono::steady_clock::now();
    for (int pass = 0; pass < passes; ++pass)
        for (const TExtStr_rep& call : calls) {
            matched.clear();
            callRules.Evaluate(call, matched);
            matches += matched.size();
        }
    const double perCall = Since(t0) / (static_cast<double>(calls.size()) * passes);
    std::printf("prefix_rules=1000\n");
    PrintFigure("prefix_matches_per_call", static_cast<double>(matches) / (calls.size() * passes),
                3);
    PrintFigure("prefix_eval_us_per_call", perCall * 1e6, 3);

    // A typical rules file over a call log written line by line, each line
    // evaluated as the reading's Notify has it: the file opened, its head
    // checked, the new line read, parsed and rated, alerts put in the
    // state file (forced to the disk), then delivered to the journal.
    std::string dir = (std::filesystem::temp_directory_path() / "bench_alerts-XXXXXX").string();
    if (!mkdtemp(dir.data())) {
        std::fprintf(stderr, "bench_alerts: no temporary directory\n");
        return 1;
    }
    {
        std::ofstream(dir + "/tariffs.csv") << "8;Межгород;5,50\n810;Международная;24,00\n"
                                               "8;Межгород ночью;2,75;;60;60;;1-5;20:00;08:00\n"
                                               "*;Город;1,00;0,10;60;60;5\n";
        std::ofstream(dir + "/" + kAlertRulesFileName)
            << "TARIFFS=tariffs.csv\ncost;500,00;desktop\nduration;60;desktop\n"
               "prefix;8809 810;desktop\nhours;пн-пт 08:00-19:00;desktop\n";
        const std::string log = dir + "/calls.txt";
        const TCallLogTitle title = BuildTitle({2026, 12, 1, 8, 0, 0});
        std::ofstream(log, std::ios::binary)
            << CallLogBytes(title.TitleLine) + CallLogBytes(title.ColumnLine);
        TAlerter alerter(dir + "/" + kAlertRulesFileName, dir);
        alerter.EvaluatePending(log);  // the first start passes the title over
        const int lines = 2000;
        double evaluate = 0, deliver = 0, quiet = 0;
        uint64_t quietLines = 0;
        for (int i = 0; i < lines; ++i) {
            {
                std::ofstream out(log, std::ios::binary | std::ios::app);
                out << CallLogBytes(RandomCall(rng));
            }
            const uint64_t before = alerter.AlertsMade();
            t0 = std::chrono::steady_clock::now();
            alerter.EvaluatePending(log);
            const double e = Since(t0);
            t0 = std::chrono::steady_clock::now();
            alerter.DeliverDue();
            const double d = Since(t0);
            evaluate += e;
            deliver += d;
            if (alerter.AlertsMade() == before) {
                quiet += e + d;
                ++quietLines;
            }
        }
        alerter.Stop();
        const uint64_t alertLines = lines - quietLines;
        const double perLine = (evaluate + deliver) / lines;
        std::printf("typical_lines=%d\n", lines);
        std::printf("typical_alerts=%llu\n", static_cast<unsigned long long>(alerter.AlertsMade()));
        std::printf("typical_alert_lines=%llu\n", static_cast<unsigned long long>(alertLines));
        PrintFigure("typical_eval_us_per_line", evaluate / lines * 1e6, 1);
        PrintFigure("typical_deliver_us_per_line", deliver / lines * 1e6, 1);
        PrintFigure("quiet_line_us", quietLines ? quiet / quietLines * 1e6 : 0, 1);
        PrintFigure("alert_line_us",
                    alertLines ? (evaluate + deliver - quiet) / alertLines * 1e6 : 0, 1);
        PrintFigure("record_read_ms", recordSeconds * 1e3, 3);
        PrintFigure("overhead_percent_of_record", perLine / recordSeconds * 100, 4);
    }
    seam::SetMessageSink(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}
