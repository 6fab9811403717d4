#include "base/com_name.h"

int ComPortNumber(std::string_view name) {
    constexpr std::string_view kPrefix = "COM";
    constexpr size_t kMaxDigits = 6;
    if (name.substr(0, kPrefix.size()) != kPrefix) return 0;
    const std::string_view digits = name.substr(kPrefix.size());
    if (digits.empty() || digits.size() > kMaxDigits || digits[0] == '0') return 0;
    int n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        n = n * 10 + (c - '0');
    }
    return n;
}
