#include "fd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

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

}  // namespace
