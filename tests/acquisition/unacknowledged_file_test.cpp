// The file of records not yet acknowledged: what it keeps, and that any
// damage means nothing is skipped.
#include "unacknowledged_file.h"

#include <gtest/gtest.h>

#include "test_support.h"

using namespace testing_support;

namespace {

TEST(UnacknowledgedFile, KeepsEachUnitsLastRecordAndGoesWhenAllAreAcknowledged) {
    TTempDir dir;
    TUnacknowledgedFile file(dir.File("Tallyphon.state"));
    file.Remember(0, {0x86, 0x26, 0x0F});
    file.Remember(2, {0x0F, 0xFF});
    file.Remember(0, {0x01, 0xA0});
    EXPECT_EQ(ReadFile(dir.File("Tallyphon.state")),
              "TALLYPHON-UNACKNOWLEDGED 1\n0 01a0\n2 0fff\nEND\n");
    TUnacknowledgedFile restarted(dir.File("Tallyphon.state"));
    const std::map<int, std::vector<uint8_t>> expected = {{0, {0x01, 0xA0}}, {2, {0x0F, 0xFF}}};
    EXPECT_EQ(restarted.Load(), expected);
    file.Forget(0);
    file.Forget(1);  // holds nothing: no change
    EXPECT_EQ(ReadFile(dir.File("Tallyphon.state")), "TALLYPHON-UNACKNOWLEDGED 1\n2 0fff\nEND\n");
    file.Forget(2);
    EXPECT_FALSE(Exists(dir.File("Tallyphon.state")));
    EXPECT_FALSE(Exists(dir.File("Tallyphon.state.tmp")));
}

TEST(UnacknowledgedFile, AnythingDamagedOrMissingMeansNothingToSkip) {
    TTempDir dir;
    const std::string path = dir.File("Tallyphon.state");
    TUnacknowledgedFile file(path);
    EXPECT_TRUE(file.Load().empty());
    const std::vector<std::string> damaged = {
        "TALLYPHON-UNACKNOWLEDGED 1\n0 01a0\n",               // cut before its end
        "TALLYPHON-UNACKNOWLEDGED 2\n0 01a0\nEND\n",          // another format
        "TALLYPHON-UNACKNOWLEDGED 1\n0 01a\nEND\n",           // half a byte
        "TALLYPHON-UNACKNOWLEDGED 1\n0 01A0\nEND\n",          // not as written
        "TALLYPHON-UNACKNOWLEDGED 1\n0 01a0\n0 02b0\nEND\n",  // one unit twice
        "TALLYPHON-UNACKNOWLEDGED 1\n16 01a0\nEND\n",         // no such unit
        "TALLYPHON-UNACKNOWLEDGED 1\n0 01a0\nEND\nmore\n",    // trailing text
        "TALLYPHON-UNACKNOWLEDGED 1\n0 \nEND\n",              // no record
        "TALLYPHON-UNACKNOWLEDGED 1\n0 " + std::string(512, 'a') + "\nEND\n"};
    for (const std::string& text : damaged) {
        SCOPED_TRACE(text);
        WriteFile(path, text);
        EXPECT_TRUE(file.Load().empty());
    }
    WriteFile(path, "TALLYPHON-UNACKNOWLEDGED 1\nEND\n");
    EXPECT_TRUE(file.Load().empty());
}

}  // namespace
