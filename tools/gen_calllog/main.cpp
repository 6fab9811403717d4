// gen_calllog N FILE [SEED]: writes a call-log file of N lines in the
// standard layout, title blocks included, as successive reading runs of one
// exchange would leave it.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "tools/gen_calllog/calllog_gen.h"

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: gen_calllog N FILE [SEED]\n");
        return 2;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long total = std::strtoull(argv[1], &end, 10);
    if (errno != 0 || end == argv[1] || *end != '\0' || argv[1][0] == '-') {
        std::fprintf(stderr, "gen_calllog: N must be a whole number, not \"%s\"\n", argv[1]);
        return 2;
    }
    const uint32_t seed = argc == 4 ? static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)) : 7;
    std::FILE* f = std::fopen(argv[2], "wb");
    if (!f) {
        std::fprintf(stderr, "gen_calllog: cannot create %s: %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    static char buffer[1 << 20];
    std::setvbuf(f, buffer, _IOFBF, sizeof buffer);

    TCallGenerator gen(seed);
    std::mt19937 runs(seed + 1);
    std::uniform_int_distribution<int> runLength(200, 5000);
    unsigned long long written = 0;
    int untilTitle = 0;  // calls left in the current reading run
    while (written < total) {
        std::string text;
        if (untilTitle == 0 && total - written >= 3) {
            const int s = gen.SecondOfDay();
            text = TitleLine(gen.Year(), gen.Month(), gen.Day(), s / 3600, s / 60 % 60, s % 60) +
                   "\r\n" + ColumnLine() + "\r\n";
            written += 2;
            untilTitle = runLength(runs);
        } else {
            text = FormatStandardLine(gen.Next()) + "\r\n";
            ++written;
            if (untilTitle > 0) --untilTitle;
        }
        if (std::fwrite(text.data(), 1, text.size(), f) != text.size()) break;
    }
    if (std::ferror(f) || std::fclose(f) != 0) {
        std::fprintf(stderr, "gen_calllog: cannot write %s: %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    return 0;
}
