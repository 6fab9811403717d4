#include "fd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

namespace {

// An open, already unlinked file.
TFd TempFile() {
    char path[] = "/tmp/tp_base_fd_XXXXXX";
    TFd fd(mkstemp(path));
    if (fd.IsOpen()) unlink(path);
    return fd;
}

TEST(Fd, WriteAllAtThePositionOrAtAnOffset) {
    TFd fd = TempFile();
    ASSERT_TRUE(fd.IsOpen());
    EXPECT_TRUE(WriteAll(fd.Get(), "abc", 3));
    EXPECT_TRUE(WriteAll(fd.Get(), "X", 1, 1));
    // Writing at an offset leaves the position after "abc".
    EXPECT_TRUE(WriteAll(fd.Get(), "d", 1));

    char buf[4] = {};
    ASSERT_TRUE(ReadAll(fd.Get(), buf, 4, 0));
    EXPECT_EQ(std::string(buf, 4), "aXcd");
    EXPECT_FALSE(ReadAll(fd.Get(), buf, 2, 3));  // the file ends first
}

TEST(Fd, OwnershipAndClosing) {
    TFd a = TempFile();
    const int raw = a.Get();
    TFd b(std::move(a));
    EXPECT_FALSE(a.IsOpen());
    EXPECT_TRUE(b.Close());
    EXPECT_FALSE(b.Close());
    EXPECT_FALSE(WriteAll(raw, "x", 1));  // closed

    TFd c = TempFile();
    EXPECT_EQ(::close(c.Release()), 0);  // Release leaves it open
    EXPECT_FALSE(c.IsOpen());
}

std::string Bytes(const std::filesystem::path& path) {
    std::ostringstream out;
    out << std::ifstream(path, std::ios::binary).rdbuf();
    return out.str();
}

// What stands at the target's name, and whether a link is planted at the
// first name the new file would take.
struct TReplaceRow {
    bool linkAtTarget, linkAtNewName;
};
class ReplaceFileTest : public ::testing::TestWithParam<TReplaceRow> {};
TEST_P(ReplaceFileTest, WritesNothingThroughLinks) {
    namespace fs = std::filesystem;
    std::string dir = (fs::temp_directory_path() / "tp_base_replace_XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    const fs::path target = fs::path(dir) / "t.cfg", outside = fs::path(dir) / "outside";
    std::ofstream(outside) << "keep";
    if (GetParam().linkAtTarget)
        fs::create_symlink(outside, target);
    else
        std::ofstream(target) << "old contents";
    if (GetParam().linkAtNewName) fs::create_symlink(outside, target.string() + ".new");

    EXPECT_TRUE(ReplaceFile(target.string(), "new"));
    EXPECT_EQ(Bytes(outside), "keep");
    EXPECT_FALSE(fs::is_symlink(target));
    EXPECT_EQ(Bytes(target), "new");
    // The planted link stays; no new file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()),
              GetParam().linkAtNewName ? 3 : 2);

    {  // Not committed: the target keeps its bytes and the new file goes.
        TReplacingFile file;
        ASSERT_TRUE(file.Open(target.string()));
        EXPECT_TRUE(WriteAll(file.Get(), "lost", 4));
    }
    EXPECT_EQ(Bytes(target), "new");
    EXPECT_FALSE(ReplaceFile(dir + "/missing/t.cfg", "x"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()),
              GetParam().linkAtNewName ? 3 : 2);
    fs::remove_all(dir);
}
INSTANTIATE_TEST_SUITE_P(Names, ReplaceFileTest,
                         ::testing::Values(TReplaceRow{false, false}, TReplaceRow{true, false},
                                           TReplaceRow{false, true}, TReplaceRow{true, true}));

}  // namespace
