// libFuzzer harness: tariff and subscriber-directory files. A refused file
// leaves the table as it was and says which line; an accepted one picks, for
// numbers made of its own prefixes, the rate a plain scan of every rate by
// the rules picks, and bills no call below its duration or below zero.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "billing/directory.h"
#include "billing/tariffs.h"
#include "tests/fuzz/fuzz_require.h"

namespace {

bool Holds(const TRate& r, int weekday, int second) {
    if (!(r.Days & (1u << (weekday - 1)))) return false;
    if (r.From < r.To) return second >= r.From && second < r.To;
    if (r.From > r.To) return second >= r.From || second < r.To;
    return true;
}

// The rules as written: longest prefix, then limited before unlimited, then
// the earlier line.
const TRate* Scan(const TTariffs& t, std::string_view dialled, int weekday, int second) {
    const TRate* best = nullptr;
    for (const TRate& r : t.Rates()) {
        if (dialled.substr(0, r.Prefix.size()) != r.Prefix || !Holds(r, weekday, second)) continue;
        if (!best || r.Prefix.size() > best->Prefix.size() ||
            (r.Prefix.size() == best->Prefix.size() && r.Limited() && !best->Limited()))
            best = &r;
    }
    return best;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TTariffs t;
    FuzzRequire(t.Parse("*;Город;1").Ok(), "a one-line table loads");
    if (const TBillingResult parsed = t.Parse(text); !parsed.Ok()) {
        const std::string& error = parsed.Message;
        FuzzRequire(parsed.Outcome == TBillingOutcome::Invalid, "text is never unreadable");
        FuzzRequire(t.Rates().size() == 1, "a refused file keeps the table");
        FuzzRequire(error.rfind("Строка ", 0) == 0 || error == "В файле нет ни одной строки тарифа",
                    "a refusal names its line");
    } else {
        size_t checked = 0;
        for (const TRate& r : t.Rates()) {
            if (++checked > 64) break;
            FuzzRequire(r.First >= 1 && r.Step >= 1 && r.Free >= 0 && r.Price >= 0 && r.Setup >= 0,
                        "an accepted rate is within its bounds");
            for (int64_t d : {int64_t{0}, int64_t{r.Free}, int64_t{r.First}, int64_t{r.First} + 1,
                              int64_t{86399}}) {
                const int64_t billed = BilledSeconds(r, d);
                FuzzRequire(billed == 0 || billed >= d, "no call billed below its duration");
                FuzzRequire(CostKopecks(r, billed) >= 0, "no cost below zero");
            }
            const std::string numbers[] = {r.Prefix, r.Prefix + "5", r.Prefix + "09"};
            const int starts[][2] = {{1, 0}, {6, r.From}, {7, 86399}, {3, r.To}, {5, r.To - 1}};
            for (const std::string& n : numbers)
                for (const auto& s : starts)
                    if (s[1] >= 0)
                        FuzzRequire(t.RateFor(n, s[0], s[1]) == Scan(t, n, s[0], s[1]),
                                    "the trie picks the rate the rules pick");
        }
    }
    TDirectory d;
    if (const TBillingResult parsed = d.Parse(text); !parsed.Ok())
        FuzzRequire(parsed.Message.rfind("Строка ", 0) == 0, "a refusal names its line");
    return 0;
}
