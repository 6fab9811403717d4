#include "config/config_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <string_view>

#include "base/com_name.h"
#include "base/fd.h"

namespace {

// "TallyphonOut.cfg" larger than this is not a settings file; it is not
// loaded. The three lines the program writes take at most about 8 KiB.
constexpr size_t kMaxOutConfigSize = size_t{128} << 10;

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

bool IsRegular(int fd, struct stat& st) {
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// Opens a settings file for reading, through a symbolic link if need be.
// O_NONBLOCK: a FIFO under the name must not hold the program; it is
// refused as not being a regular file.
int OpenForReading(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

// What stands at a settings file's name, for writing it.
enum class TName {
    Free,      // nothing: a new file is made
    File,      // a regular file, directly or behind a symbolic link: replaced
    Unusable,  // anything else, a link that leads nowhere included: kept
};

// Classifies path without opening it; mode is the permission its new file
// gets (that of a regular file found there, otherwise the usual one).
TName Classify(const std::string& path, mode_t& mode) {
    mode = 0666;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? TName::Free : TName::Unusable;
    if (S_ISREG(st.st_mode)) {
        mode = st.st_mode & 0777;
        return TName::File;
    }
    return S_ISLNK(st.st_mode) && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)
               ? TName::File
               : TName::Unusable;
}

// A file the user may not write is left as it is, although a new one could
// be renamed over it.
bool MayWrite(const std::string& path) {
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

// The port number of "COM1" to "COM32" (no leading zero, nothing after the
// digits), or -1 for any other text.
int PortNumber(const std::string& port) {
    const int number = ComPortNumber(port);
    return number >= 1 && number <= kMaxPortNumber ? number : -1;
}

// Puts the default "Tallyphon.cfg" (port 1, title on, alternative format
// off, 27 zero bytes) at path, as a new file; on success sets the matching
// fields and FirstStart.
TConfigResult WriteDefaultConfig(TSettings& s, const std::string& path) {
    std::array<char, kConfigFileSize> image{};
    image[0] = 1;
    image[1] = 1;
    if (!ReplaceFile(path, std::string_view(image.data(), image.size())))
        return TConfigResult::Failed;
    s.FirstStart = true;
    s.PortName = "COM1";
    s.SaveTitle = true;
    return TConfigResult::Done;
}

void SetPath(std::string& field, std::string_view value) {
    // A name with a NUL in it, or too long for the system, cannot be opened
    // as written; the one in force is kept.
    if (value.size() < PATH_MAX && value.find('\0') == std::string_view::npos) field.assign(value);
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
    for (int tries = 0;; ++tries) {
        TFd file(OpenForReading(path));
        if (!file.IsOpen()) {
            // Only a free name gets a new file: a link that leads nowhere
            // stays as it is, and its target is not made.
            mode_t mode;
            return errno == ENOENT && Classify(path, mode) == TName::Free
                       ? WriteDefaultConfig(s, path)
                       : TConfigResult::Failed;
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
        // Damaged: the default file takes its name. Behind a symbolic link
        // the link is replaced; what it leads to is not ours to repair.
        if (tries < kMaxDeleteTries) {
            file.Close();
            if (WriteDefaultConfig(s, path) == TConfigResult::Done) return TConfigResult::Done;
            // Looked at again: the name may hold a sound file by now.
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
    mode_t mode;
    const TName name = Classify(path, mode);
    if (name == TName::Unusable) return TConfigResult::Failed;
    // Bytes 3 to 29 of an existing file are kept; a new file, or the part a
    // damaged one lacks, gets zeros, so that the next start reads these
    // settings from a full-length file.
    std::array<char, kConfigFileSize> image{};
    if (name == TName::File) {
        TFd file(OpenForReading(path));
        struct stat st;
        if (!file.IsOpen() || !IsRegular(file.Get(), st) || !MayWrite(path))
            return TConfigResult::Failed;
        const auto kept = static_cast<size_t>(std::min<off_t>(st.st_size, kConfigFileSize));
        if (!ReadAll(file.Get(), image.data(), kept, 0)) return TConfigResult::Failed;
    }
    TReplacingFile file;
    if (!file.Open(path, mode)) return TConfigResult::Failed;
    s.PortName = port;
    s.SaveTitle = saveTitle;
    s.AltFormat = altFormat;
    image[0] = static_cast<char>(number);
    image[1] = saveTitle ? 1 : 0;
    image[2] = altFormat ? 1 : 0;
    return WriteAll(file.Get(), image.data(), image.size()) && file.Commit()
               ? TConfigResult::Done
               : TConfigResult::Failed;
}

TConfigResult ReadOutConfigFile(TSettings& s) {
    const std::string path = FilePath(s, kOutConfigFileName);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        s.TarifFileName.clear();
        return TConfigResult::NoFile;
    }
    TFd file(OpenForReading(path));
    if (!file.IsOpen() || !IsRegular(file.Get(), st)) return TConfigResult::Failed;
    // The size the file claims is not trusted.
    std::string text;
    if (!ReadAtMost(file.Get(), kMaxOutConfigSize, text) || text.size() > kMaxOutConfigSize)
        return TConfigResult::Failed;
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
    mode_t mode;
    const TName name = Classify(path, mode);
    if (name == TName::Unusable || (name == TName::File && !MayWrite(path)))
        return TConfigResult::NoFile;
    TReplacingFile file;
    if (!file.Open(path, mode)) return TConfigResult::NoFile;
    return WriteAll(file.Get(), text.data(), text.size()) && file.Commit() ? TConfigResult::Done
                                                                           : TConfigResult::Failed;
}

}  // namespace

bool StorablePath(const std::string& path) {
    return path.size() < PATH_MAX &&
           path.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
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
