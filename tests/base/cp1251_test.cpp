#include "base/cp1251.h"

#include <gtest/gtest.h>

#include <string>

namespace {

enum class EWay { Both, ToCp1251, ToUtf8 };

struct TCp1251Row {
    const char* name;
    std::string utf8;
    std::string cp1251;
    EWay way;
};

void PrintTo(const TCp1251Row& r, std::ostream* os) {
    *os << r.name;
}

class Cp1251 : public ::testing::TestWithParam<TCp1251Row> {};

TEST_P(Cp1251, Converts) {
    const TCp1251Row& r = GetParam();
    if (r.way != EWay::ToUtf8) {
        EXPECT_EQ(Utf8ToCp1251(r.utf8), r.cp1251);
    }
    if (r.way != EWay::ToCp1251) {
        EXPECT_EQ(Cp1251ToUtf8(r.cp1251), r.utf8);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Cp1251,
    ::testing::Values(TCp1251Row{"Cyrillic", "Звонок", "\xC7\xE2\xEE\xED\xEE\xEA", EWay::Both},
                      TCp1251Row{"EuroSign", "Ж€", "\xC6\x88", EWay::Both},
                      // The one byte without a character; what follows is kept.
                      TCp1251Row{"Byte98", "?Ж", "\x98\xC6", EWay::ToUtf8},
                      // A broken sequence costs its lead byte only, not the "A" after it.
                      TCp1251Row{"BrokenThenAscii",
                                 "\xC3"
                                 "A",
                                 "?A", EWay::ToCp1251},
                      // A whole character the code page lacks is one "?".
                      TCp1251Row{"OutsideTheCodePage", "a漢b", "a?b", EWay::ToCp1251},
                      // Bytes that look like a sequence but are none: one "?" each.
                      TCp1251Row{"NotASequence",
                                 "\xFF\x80\x80"
                                 "b",
                                 "???b", EWay::ToCp1251},
                      TCp1251Row{"CutAtTheEnd", "a\xE2\x82", "a?", EWay::ToCp1251}),
    [](const ::testing::TestParamInfo<TCp1251Row>& info) { return info.param.name; });

TEST(IsAscii, OnlyBytesBelow0x80) {
    EXPECT_TRUE(IsAscii(std::string("a\0~\x7F", 4)));
    EXPECT_FALSE(IsAscii("ab\x80"));
}

TEST(IsUtf8, OnlyWellFormedText) {
    for (const char* good : {"", "Город ё \xF0\x9F\x93\x9E", "\xEF\xBB\xBF*;1"})
        EXPECT_TRUE(IsUtf8(good)) << good;
    // Windows-1251 "Город", an overlong "/", a surrogate, a cut sequence.
    for (const char* bad : {"\xC3\xEE\xF0\xEE\xE4", "\xC0\xAF", "\xED\xA0\x80", "a\xD0"})
        EXPECT_FALSE(IsUtf8(bad)) << bad;
}

}  // namespace
