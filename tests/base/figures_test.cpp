// Figures for programs keep their dot under a locale with a decimal comma.
#include "base/figures.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <string>

namespace {

TEST(Figures, ADotUnderEveryLocale) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    // What a Qt application does at its start.
    if (!std::setlocale(LC_ALL, "ru_RU.UTF-8")) GTEST_SKIP() << "no ru_RU.UTF-8 locale";
    char printed[16];
    std::snprintf(printed, sizeof printed, "%.3f", 0.318);
    const std::string comma = printed;
    const std::string lines[] = {
        FigureLine("load_to_grids_s", 0.3184, 3), FigureLine("peak_rss_mb", 1234.56, 1),
        FigureLine("ship_calls_per_s", 98765.4, 0), FigureLine("paced_ratio", -0.01234, 4)};
    std::setlocale(LC_ALL, before.c_str());
    EXPECT_EQ(comma, "0,318");  // the locale took
    EXPECT_EQ(lines[0], "load_to_grids_s=0.318");
    EXPECT_EQ(lines[1], "peak_rss_mb=1234.6");
    EXPECT_EQ(lines[2], "ship_calls_per_s=98765");
    EXPECT_EQ(lines[3], "paced_ratio=-0.0123");
}

}  // namespace
