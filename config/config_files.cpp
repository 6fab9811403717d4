#include "config_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <string_view>

#include "com_name.h"
#include "fd.h"

namespace {

// "TallyphonOut.cfg" larger than this is not a settings file; it is not loaded.
constexpr off_t kMaxOutConfigSize = off_t{64} << 20;

constexpr std::string_view kTarifKey = "TARIF_FNAME=";
constexpr std::string_view kRealTimeKey = "REALTIME_FNAME=";
constexpr std::string_view kAutoKey = "AUTO=";
constexpr std::string_view kAutoUninterrupt = "AUTOSTART_UNINTERRUPT";
constexpr std::string_view kAutoOnce = "AUTOSTART_1";

std::string FilePath(const TSettings& s, const char* name) {
    if (s.StartDir.empty()) return name;
    std::string path = s.StartDir;
    if (path.back() != '/') path += '/';
    return path + name;
}

// Opens an existing file without blocking on a FIFO. Falls back to reading
// only when writing is refused, so that a read-only file still yields its
// settings; writable tells which mode was granted. -1 with errno on failure.
int OpenExisting(const std::string& path, bool& writable) {
    writable = true;
    int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS || errno == ETXTBSY)) {
        writable = false;
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    }
    return fd;
}

bool IsRegular(int fd, struct stat& st) {
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool IsSymlink(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// The port number of "COM1" to "COM32" (no leading zero, nothing after the
// digits), or -1 for any other text.
int PortNumber(const std::string& port) {
    const int number = ComPortNumber(port);
    return number >= 1 && number <= kMaxPortNumber ? number : -1;
}

// Gives fd the default contents (port 1, title on, alternative format off,
// 27 zero bytes) and closes it; on success sets the matching fields and
// FirstStart. Returns 1, or -1 when a write failed (fields untouched).
TConfigResult WriteDefaultConfig(TSettings& s, TFd& file) {
    std::array<uint8_t, kConfigFileSize> image{};
    image[0] = 1;
    image[1] = 1;
    const bool ok = ::ftruncate(file.Get(), 0) == 0 &&
                    WriteAll(file.Get(), image.data(), image.size(), 0) && file.Close();
    if (!ok) return TConfigResult::Failed;
    s.FirstStart = true;
    s.PortName = "COM1";
    s.SaveTitle = true;
    return TConfigResult::Done;
}

// Creates the default "Tallyphon.cfg" where the name is free (a dangling
// symbolic link is followed, creating its target). Returns as
// WriteDefaultConfig, or -1 when nothing could be created.
TConfigResult CreateDefaultConfig(TSettings& s, const std::string& path) {
    TFd file(::open(path.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666));
    struct stat st;
    if (!file.IsOpen() || !IsRegular(file.Get(), st)) return TConfigResult::Failed;
    return WriteDefaultConfig(s, file);
}

void SetPath(std::string& field, std::string_view value) {
    // A name with a NUL in it cannot be opened as written; keep the one in force.
    if (value.find('\0') == std::string_view::npos) field.assign(value);
}

void SetAutoStart(TSettings& s, std::string_view value) {
    s.AutoStart = value == kAutoUninterrupt ? TAutoStart::ReadUninterrupt
                  : value == kAutoOnce      ? TAutoStart::ReadAllAndExit
                                            : TAutoStart::Nothing;
}

void ApplyLine(TSettings& s, std::string_view line) {
    // A line that begins with a key belongs to that key alone, so a path that
    // happens to contain another key's text is never taken for that key.
    if (line.substr(0, kTarifKey.size()) == kTarifKey) {
        SetPath(s.TarifFileName, line.substr(kTarifKey.size()));
    } else if (line.substr(0, kRealTimeKey.size()) == kRealTimeKey) {
        SetPath(s.RealTimeFileName, line.substr(kRealTimeKey.size()));
    } else if (line.substr(0, kAutoKey.size()) == kAutoKey) {
        SetAutoStart(s, line.substr(kAutoKey.size()));
    } else {
        // A hand-edited line with something before a file-name key: the
        // value is the text that follows the key. The start-up action is
        // only taken from a line that begins with its key: a commented-out
        // "#AUTO=AUTOSTART_1" must not start an unattended read-all.
        size_t at = line.find(kTarifKey);
        if (at != std::string_view::npos)
            SetPath(s.TarifFileName, line.substr(at + kTarifKey.size()));
        at = line.find(kRealTimeKey);
        if (at != std::string_view::npos)
            SetPath(s.RealTimeFileName, line.substr(at + kRealTimeKey.size()));
    }
}

// Applies every line of text in order; a line ends at CR LF, LF or CR.
void ApplyOutConfig(TSettings& s, std::string_view text) {
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find_first_of("\r\n", begin);
        if (end == std::string_view::npos) end = text.size();
        ApplyLine(s, text.substr(begin, end - begin));
        if (end == text.size()) break;
        begin = end + 1;
        if (text[end] == '\r' && begin < text.size() && text[begin] == '\n') ++begin;
    }
}

TConfigResult ReadConfigFile(TSettings& s) {
    const std::string path = FilePath(s, kConfigFileName);
    s.PortName = "COM";
    for (int tries = 0;;) {
        bool writable = false;
        TFd file(OpenExisting(path, writable));
        if (!file.IsOpen()) {
            // Only a free name is created; anything else stays as it is.
            return errno == ENOENT ? CreateDefaultConfig(s, path) : TConfigResult::Failed;
        }
        struct stat st;
        if (!IsRegular(file.Get(), st)) return TConfigResult::Failed;
        if (st.st_size == kConfigFileSize) {
            uint8_t head[3];
            if (!ReadAll(file.Get(), head, sizeof head, 0)) return TConfigResult::Failed;
            if (head[0] >= 1 && head[0] <= kMaxPortNumber) s.PortName += std::to_string(head[0]);
            s.SaveTitle = head[1] == 1;
            s.AltFormat = head[2] == 1;
            return TConfigResult::Done;
        }
        // Damaged. Behind a symbolic link it is repaired in place, so that the
        // link survives; a plain file is deleted and created anew.
        if (IsSymlink(path)) {
            if (writable) return WriteDefaultConfig(s, file);
        } else if (tries < kMaxDeleteTries) {
            ++tries;
            file.Close();
            // A failed deletion shows as the same file on the next round.
            ::unlink(path.c_str());
            continue;
        }
        s.PortName = "COM1";
        s.SaveTitle = true;
        s.AltFormat = false;
        return TConfigResult::Failed;
    }
}

TConfigResult WriteConfigFile(TSettings& s, const std::string& port, bool saveTitle,
                              bool altFormat) {
    const int number = PortNumber(port);
    if (number < 0) return TConfigResult::Failed;
    const std::string path = FilePath(s, kConfigFileName);
    TFd file(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!file.IsOpen()) {
        if (errno != ENOENT) return TConfigResult::Failed;
        file = TFd(::open(path.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666));
        if (!file.IsOpen()) return TConfigResult::Failed;
    }
    struct stat st;
    if (!IsRegular(file.Get(), st)) return TConfigResult::Failed;
    s.PortName = port;
    s.SaveTitle = saveTitle;
    s.AltFormat = altFormat;
    const uint8_t head[3] = {static_cast<uint8_t>(number), static_cast<uint8_t>(saveTitle ? 1 : 0),
                             static_cast<uint8_t>(altFormat ? 1 : 0)};
    // A new file is padded with zeros to full length; a damaged one is brought
    // back to it, so that the next start reads these settings.
    const bool ok =
        WriteAll(file.Get(), head, sizeof head, 0) &&
        (st.st_size == kConfigFileSize || ::ftruncate(file.Get(), kConfigFileSize) == 0) &&
        file.Close();
    return ok ? TConfigResult::Done : TConfigResult::Failed;
}

TConfigResult ReadOutConfigFile(TSettings& s) {
    const std::string path = FilePath(s, kOutConfigFileName);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        s.TarifFileName.clear();
        return TConfigResult::NoFile;
    }
    TFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.IsOpen() || !IsRegular(file.Get(), st) || st.st_size > kMaxOutConfigSize)
        return TConfigResult::Failed;
    std::string text;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(file.Get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return TConfigResult::Failed;
        if (n == 0) break;
        text.append(chunk, static_cast<size_t>(n));
        if (static_cast<off_t>(text.size()) > kMaxOutConfigSize) return TConfigResult::Failed;
    }
    ApplyOutConfig(s, text);
    return TConfigResult::Done;
}

TConfigResult WriteOutConfigFile(TSettings& s, const std::string& tarifPath,
                                 const std::string& realTimePath) {
    if (!StorablePath(tarifPath) || !StorablePath(realTimePath)) return TConfigResult::Failed;
    std::string text;
    text.append(kTarifKey).append(tarifPath).append("\r\n");
    text.append(kRealTimeKey).append(realTimePath).append("\r\n");
    text.append(kAutoKey);
    switch (s.AutoStart) {
        case TAutoStart::Nothing:
            break;
        case TAutoStart::ReadUninterrupt:
            text.append(kAutoUninterrupt);
            break;
        case TAutoStart::ReadAllAndExit:
            text.append(kAutoOnce);
            break;
    }
    // No line end after the last line.

    const std::string path = FilePath(s, kOutConfigFileName);
    TFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666));
    struct stat st;
    if (!file.IsOpen() || !IsRegular(file.Get(), st)) return TConfigResult::NoFile;
    const bool ok = ::ftruncate(file.Get(), 0) == 0 &&
                    WriteAll(file.Get(), text.data(), text.size(), 0) && file.Close();
    return ok ? TConfigResult::Done : TConfigResult::Failed;
}

}  // namespace

bool StorablePath(const std::string& path) {
    return path.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

TConfigResult ReadConfig(TSettings& s) {
    try {
        return ReadConfigFile(s);
    } catch (...) {
        return TConfigResult::Failed;
    }
}

TConfigResult WriteConfig(TSettings& s, const std::string& port, bool saveTitle, bool altFormat) {
    try {
        return WriteConfigFile(s, port, saveTitle, altFormat);
    } catch (...) {
        return TConfigResult::Failed;
    }
}

TConfigResult ReadOutConfig(TSettings& s) {
    try {
        return ReadOutConfigFile(s);
    } catch (...) {
        return TConfigResult::Failed;
    }
}

TConfigResult WriteOutConfig(TSettings& s, const std::string& tarifPath,
                             const std::string& realTimePath) {
    try {
        return WriteOutConfigFile(s, tarifPath, realTimePath);
    } catch (...) {
        return TConfigResult::Failed;
    }
}
