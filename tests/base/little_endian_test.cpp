#include "base/little_endian.h"

#include <gtest/gtest.h>

namespace {

TEST(LittleEndian, LowByteFirst) {
    const uint8_t bytes[] = {0x34, 0x12, 0xFF, 0xFE};
    EXPECT_EQ(ReadLe16(bytes), 0x1234);
    EXPECT_EQ(ReadLe16(bytes + 2), 0xFEFF);

    std::vector<uint8_t> out = {7};
    PutLe16(out, 0xBEEF);
    EXPECT_EQ(out, (std::vector<uint8_t>{7, 0xEF, 0xBE}));
}

}  // namespace
