#include "base/com_name.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

TEST(ComPortNumber, OfNames) {
    const std::pair<std::string, int> rows[] = {
        {"COM1", 1},       {"COM32", 32}, {"COM999999", 999999}, {"COM1000000", 0},
        {"COM01", 0},      {"COM0", 0},   {"com1", 0},           {"COM", 0},
        {"COM1a", 0},      {"COM 1", 0},  {"COM-1", 0},          {"XCOM1", 0},
        {"/dev/ttyS0", 0}, {"", 0},
    };
    for (const auto& [name, number] : rows)
        EXPECT_EQ(ComPortNumber(name), number) << name;
}

}  // namespace
