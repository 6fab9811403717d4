#include "reports/report_sort.h"

#include <cstdint>
#include <optional>

namespace {

std::optional<int32_t> NumberOf(std::string_view t, bool emptyIsZero) {
    if (t.empty()) return emptyIsZero ? std::optional<int32_t>(0) : std::nullopt;
    size_t i = 0;
    bool negative = false;
    if (t[0] == '+' || t[0] == '-') {
        negative = t[0] == '-';
        i = 1;
    }
    if (i == t.size()) return std::nullopt;
    int64_t v = 0;
    for (; i < t.size(); ++i) {
        const unsigned d = static_cast<unsigned char>(t[i]) - '0';
        if (d > 9) return std::nullopt;
        v = v * 10 + d;
        if (v > int64_t{INT32_MAX} + 1) return std::nullopt;
    }
    if (negative) v = -v;
    if (v > INT32_MAX || v < INT32_MIN) return std::nullopt;
    return static_cast<int32_t>(v);
}

inline unsigned char UpperLatin(unsigned char c) {
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

}  // namespace

bool NumberTextLess(std::string_view a, std::string_view b, bool emptyIsZero) {
    const auto na = NumberOf(a, emptyIsZero);
    const auto nb = NumberOf(b, emptyIsZero);
    if (na && nb) return *na < *nb;
    if (na || nb) return na.has_value();
    return a < b;
}

int CompareTrunkText(std::string_view a, std::string_view b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const unsigned char ca = UpperLatin(static_cast<unsigned char>(a[i]));
        const unsigned char cb = UpperLatin(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}
