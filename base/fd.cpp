#include "fd.h"

#include <unistd.h>

#include <cerrno>

TFd::~TFd() {
    if (fd_ >= 0) ::close(fd_);
}

TFd& TFd::operator=(TFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.Release();
    }
    return *this;
}

bool TFd::Close() {
    if (fd_ < 0) return false;
    // Linux frees the descriptor even when close() fails, so it is never
    // closed twice; an interrupted close has closed it all the same.
    return ::close(Release()) == 0 || errno == EINTR;
}

int TFd::Release() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

bool WriteAll(int fd, const void* data, size_t len, off_t offset) {
    const auto* p = static_cast<const char*>(data);
    while (len > 0) {
        const ssize_t n = offset < 0 ? ::write(fd, p, len) : ::pwrite(fd, p, len, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        len -= static_cast<size_t>(n);
        if (offset >= 0) offset += n;
    }
    return true;
}

bool ReadAll(int fd, void* data, size_t len, off_t offset) {
    auto* p = static_cast<char*>(data);
    while (len > 0) {
        const ssize_t n = ::pread(fd, p, len, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        len -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}
