#include "base/fd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

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

TEST(Fd, ReplaceFileWritesNothingThroughLinks) {
    namespace fs = std::filesystem;
    std::string dir = (fs::temp_directory_path() / "tp_base_replace_XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    const fs::path target = fs::path(dir) / "t.cfg", outside = fs::path(dir) / "outside";
    std::ofstream(outside) << "keep";
    // A link under the target's name and one planted under the new file's.
    fs::create_symlink(outside, target);
    fs::create_symlink(outside, target.string() + ".new");
    const auto entries = [&] {
        return std::distance(fs::directory_iterator(dir), fs::directory_iterator());
    };

    EXPECT_TRUE(ReplaceFile(target.string(), "new"));
    EXPECT_EQ(Bytes(outside), "keep");
    EXPECT_FALSE(fs::is_symlink(target));
    EXPECT_EQ(Bytes(target), "new");
    EXPECT_EQ(entries(), 3);  // the planted link stays, nothing else is left

    {  // Not committed: the target keeps its bytes and the new file goes.
        TReplacingFile file;
        ASSERT_TRUE(file.Open(target.string()));
        EXPECT_TRUE(WriteAll(file.Get(), "lost", 4));
    }
    EXPECT_FALSE(ReplaceFile(dir + "/missing/t.cfg", "x"));
    EXPECT_EQ(Bytes(target), "new");
    EXPECT_EQ(entries(), 3);
    fs::remove_all(dir);
}

TEST(Fd, LinkOwnersAndWhomTheirLinksMayLeadTo) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    namespace fs = std::filesystem;
    std::string dir = (fs::temp_directory_path() / "tp_base_links_XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    // a -> b (relative) -> c, which is not there.
    ASSERT_EQ(symlink("b", (dir + "/a").c_str()), 0);
    ASSERT_EQ(symlink((dir + "/c").c_str(), (dir + "/b").c_str()), 0);
    ASSERT_EQ(lchown((dir + "/a").c_str(), 4321, static_cast<gid_t>(-1)), 0);
    ASSERT_EQ(lchown((dir + "/b").c_str(), 65534, static_cast<gid_t>(-1)), 0);
    EXPECT_EQ(LinkOwners(dir + "/a"), (std::vector<uid_t>{4321, 65534}));
    EXPECT_TRUE(LinkOwners(dir).empty());
    fs::remove_all(dir);

    struct Row {
        std::vector<uid_t> owners;
        std::optional<uid_t> file;
        bool follows;
    };
    const Row rows[] = {
        {{}, 4321, true},    {{65534}, 4321, true},  {{4321}, 4321, true},
        {{0}, 4321, true},   {{4321}, 65534, false}, {{65534, 4321}, 65534, false},
        {{65534}, {}, true}, {{4321}, {}, false},
    };
    ASSERT_EQ(seteuid(65534), 0);  // the rule as a user other than root
    std::vector<bool> follows;
    for (const Row& r : rows)
        follows.push_back(MayFollowLinks(r.owners, r.file));
    ASSERT_EQ(seteuid(0), 0);
    for (size_t i = 0; i < follows.size(); ++i)
        EXPECT_EQ(follows[i], rows[i].follows) << "row " << i;
}

}  // namespace
