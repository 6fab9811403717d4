#include "base/fd.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

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

bool ReadAtMost(int fd, size_t limit, std::string& text) {
    text.assign(limit + 1, '\0');
    size_t length = 0;
    while (length < text.size()) {
        const ssize_t n = ::read(fd, text.data() + length, text.size() - length);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            text.clear();
            return false;
        }
        if (n == 0) break;
        length += static_cast<size_t>(n);
    }
    text.resize(length);
    return true;
}

std::vector<uid_t> LinkOwners(const std::string& path) {
    // As many links as the kernel follows in one path.
    constexpr int kMaxLinks = 40;
    std::vector<uid_t> owners;
    std::string at = path;
    struct stat st {};
    while (owners.size() < kMaxLinks && ::lstat(at.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        owners.push_back(st.st_uid);
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(at.c_str(), buf, sizeof buf);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) break;
        const std::string to(buf, static_cast<size_t>(n));
        const size_t slash = at.rfind('/');
        at = to[0] == '/' || slash == std::string::npos ? to : at.substr(0, slash + 1) + to;
    }
    return owners;
}

bool MayFollowLinks(const std::vector<uid_t>& owners, std::optional<uid_t> fileOwner) {
    const uid_t self = ::geteuid();
    // Root's links (/dev/stdout) are trusted: root could write any file itself.
    return std::all_of(owners.begin(), owners.end(), [&](uid_t owner) {
        return owner == self || owner == 0 || owner == fileOwner;
    });
}

TFd OpenThroughLinks(const std::string& path, int flags, mode_t mode, bool& refused) {
    refused = false;
    const std::vector<uid_t> owners = LinkOwners(path);
    if (owners.empty()) {
        // No link now, so none is followed should one be planted meanwhile.
        TFd file(::open(path.c_str(), flags | O_NOFOLLOW, mode));
        if (!file.IsOpen() && errno == ELOOP) {
            struct stat st {};
            refused = ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
            if (refused) errno = EACCES;
        }
        return file;
    }
    const bool root = ::geteuid() == 0;
    const bool mayCreate = !root && MayFollowLinks(owners, std::nullopt);
    TFd file(::open(path.c_str(), mayCreate ? flags : flags & ~O_CREAT, mode));
    if (!file.IsOpen()) {
        // A link of another user that leads nowhere: its target is not made.
        if (errno == ENOENT && (flags & O_CREAT) && !MayFollowLinks(owners, std::nullopt)) {
            refused = true;
            errno = EACCES;
        }
        return file;
    }
    // The file opened is the one judged: the links cannot be turned
    // elsewhere between a look and the opening.
    struct stat st {};
    if (::fstat(file.Get(), &st) != 0) return TFd();
    if (!MayFollowLinks(owners, st.st_uid) || (root && st.st_uid != 0)) {
        refused = true;
        errno = EACCES;
        return TFd();
    }
    return file;
}

std::string RefusedLinkText(const std::string& path) {
    return "Файл \"" + path +
           "\" — символическая ссылка другого пользователя или на файл другого "
           "пользователя; через нее запись не ведется.";
}

TFd OpenToAppend(const std::string& path, mode_t mode, TAppendOpen& result) {
    bool refused = false;
    TFd file = OpenThroughLinks(
        path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, mode, refused);
    struct stat st {};
    if (refused) {
        result = TAppendOpen::LinkRefused;
        return TFd();
    }
    if (!file.IsOpen()) {
        // A FIFO nobody reads fails with ENXIO: it is told for what it is.
        const int e = errno;
        result = ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode) &&
                         !S_ISDIR(st.st_mode)
                     ? TAppendOpen::NotAFile
                     : TAppendOpen::Failed;
        errno = e;
        return TFd();
    }
    if (::fstat(file.Get(), &st) != 0) {
        result = TAppendOpen::Failed;
        return TFd();
    }
    if (!S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode)) {
        result = TAppendOpen::NotAFile;
        return TFd();
    }
    if (S_ISCHR(st.st_mode)) static_cast<void>(::fcntl(file.Get(), F_SETFL, O_WRONLY | O_APPEND));
    result = TAppendOpen::Opened;
    return file;
}

namespace {

// OpenToAppend, with why and err as OpenToAppendTwice tells them.
TFd OpenToAppendSaying(const std::string& path, mode_t mode, std::string& why, int& err) {
    TAppendOpen how = TAppendOpen::Failed;
    TFd file = OpenToAppend(path, mode, how);
    err = how == TAppendOpen::Failed ? errno : 0;
    switch (how) {
        case TAppendOpen::Opened:
            why.clear();
            break;
        case TAppendOpen::LinkRefused:
            why = RefusedLinkText(path);
            break;
        case TAppendOpen::NotAFile:
            why = "\"" + path + "\" не является обычным файлом.";
            break;
        case TAppendOpen::Failed:
            why = "\"" + path + "\": " + std::strerror(err);
            break;
    }
    return file;
}

}  // namespace

TFd OpenToAppendTwice(const std::string& path, mode_t mode, bool& retried, std::string& why,
                      int& err) {
    retried = false;
    TFd file = OpenToAppendSaying(path, mode, why, err);
    if (!file.IsOpen()) {
        file = OpenToAppendSaying(path, mode, why, err);
        retried = file.IsOpen();
    }
    return file;
}

bool AppendOrTakeBack(int fd, std::string_view bytes, off_t size) {
    if (WriteAll(fd, bytes.data(), bytes.size())) return true;
    const int e = errno;
    if (size >= 0 && ::ftruncate(fd, size) != 0) {
        // Nothing more can be done: the caller keeps the bytes to write again.
    }
    errno = e;
    return false;
}

bool AppendToFile(const std::string& path, std::string_view bytes, std::string_view leadOnRetry,
                  std::string& why, int& err) {
    bool retried = false;
    TFd file = OpenToAppendTwice(path, 0644, retried, why, err);
    if (!file.IsOpen()) return false;
    std::string lead = retried ? std::string(leadOnRetry) : std::string();
    struct stat st {};
    const off_t size = ::fstat(file.Get(), &st) == 0 ? st.st_size : -1;
    const bool ok = AppendOrTakeBack(file.Get(), lead.append(bytes), size);
    if (!ok) {
        err = errno;
        why = std::strerror(err);
    }
    if (file.Close()) return ok;
    if (ok) {
        err = errno;
        why = std::strerror(err);
    }
    return false;
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

}  // namespace

void SyncDirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : path.substr(0, slash);
    TFd d(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (d.IsOpen()) static_cast<void>(::fsync(d.Get()));
}

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
    SyncDirectoryOf(target_);
    return true;
}

bool ReplaceFile(const std::string& target, std::string_view bytes, mode_t mode) {
    TReplacingFile file;
    return file.Open(target, mode) && WriteAll(file.Get(), bytes.data(), bytes.size()) &&
           file.Commit();
}
