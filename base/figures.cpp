#include "base/figures.h"

#include <charconv>
#include <cstdio>

std::string FigureLine(const std::string& name, double value, int decimals) {
    // Never the locale's decimal point, unlike printf.
    char digits[400];
    const auto end =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
    return name + "=" + std::string(digits, end.ec == std::errc() ? end.ptr : digits);
}

void PrintFigure(const std::string& name, double value, int decimals) {
    std::printf("%s\n", FigureLine(name, value, decimals).c_str());
}
