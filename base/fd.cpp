#include "base/fd.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

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

namespace {

// Six characters that are hard to guess. Without random bytes from the
// kernel the clock serves: a guessed name can only make Open try another.
std::string RandomSuffix() {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[6];
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        auto tick = static_cast<unsigned long long>(
            std::chrono::steady_clock::now().time_since_epoch().count());
        for (unsigned char& b : bytes) {
            b = static_cast<unsigned char>(tick);
            tick >>= 8;
        }
    }
    std::string suffix;
    for (const unsigned char b : bytes)
        suffix += kChars[b % (sizeof kChars - 1)];
    return suffix;
}

// Forces a rename in dir to the disk. A file system that cannot do it has
// the file renamed all the same, so a failure is not reported.
void SyncDirectory(const std::string& dir) {
    TFd d(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (d.IsOpen()) ::fsync(d.Get());
}

}  // namespace

TReplacingFile::~TReplacingFile() {
    Discard();
}

void TReplacingFile::Discard() {
    if (temporary_.empty()) return;
    const int saved = errno;
    file_.Close();
    ::unlink(temporary_.c_str());
    temporary_.clear();
    errno = saved;
}

bool TReplacingFile::Open(const std::string& target, mode_t mode) {
    Discard();
    target_ = target;
    // A taken name may be a leftover or a planted link: it is neither opened
    // nor removed; another name is tried instead.
    constexpr int kTries = 16;
    std::string name = target + ".new";
    for (int tries = 0; tries < kTries; ++tries) {
        file_ =
            TFd(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (file_.IsOpen()) {
            temporary_ = name;
            return true;
        }
        if (errno != EEXIST) return false;
        name = target + ".new" + RandomSuffix();
    }
    return false;
}

bool TReplacingFile::Commit() {
    if (temporary_.empty()) {
        errno = EBADF;
        return false;
    }
    if (::fsync(file_.Get()) != 0 || !file_.Close() ||
        ::rename(temporary_.c_str(), target_.c_str()) != 0) {
        Discard();
        return false;
    }
    temporary_.clear();
    const size_t slash = target_.rfind('/');
    SyncDirectory(slash == std::string::npos ? "." : slash == 0 ? "/" : target_.substr(0, slash));
    return true;
}

bool ReplaceFile(const std::string& target, std::string_view bytes, mode_t mode) {
    TReplacingFile file;
    return file.Open(target, mode) && WriteAll(file.Get(), bytes.data(), bytes.size()) &&
           file.Commit();
}
