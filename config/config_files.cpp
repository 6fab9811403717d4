#include "config/config_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <new>
#include <string_view>
#include <system_error>

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

// The failure the system just reported, errno kept.
TConfigResult SystemFailure(TConfigStatus status = TConfigStatus::Failed) {
    return {status, errno};
}

// A refusal by the settings code's own rule: no system error.
TConfigResult Refusal(TConfigStatus status = TConfigStatus::Failed) {
    return {status, 0};
}

// Done when fd is a regular file; Failed otherwise, with fstat's errno when
// it could not be looked at.
TConfigResult CheckRegular(int fd, struct stat& st) {
    if (::fstat(fd, &st) != 0) return SystemFailure();
    return S_ISREG(st.st_mode) ? TConfigResult{} : Refusal();
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

// What Classify found: Mode is the permission the new file gets (that of a
// regular file found there, otherwise the usual one); Error the errno of an
// Unusable name that could not be looked at, 0 when something else is there.
struct TNameFound {
    TName Kind = TName::Free;
    mode_t Mode = 0666;
    int Error = 0;
};

// Classifies path without opening it.
TNameFound Classify(const std::string& path) {
    TNameFound found;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) found = {TName::Unusable, found.Mode, errno};
        return found;
    }
    if (S_ISREG(st.st_mode)) return {TName::File, static_cast<mode_t>(st.st_mode & 0777), 0};
    if (!S_ISLNK(st.st_mode)) return {TName::Unusable, found.Mode, 0};
    if (::stat(path.c_str(), &st) != 0) return {TName::Unusable, found.Mode, errno};
    return {S_ISREG(st.st_mode) ? TName::File : TName::Unusable, found.Mode, 0};
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
    if (!ReplaceFile(path, std::string_view(image.data(), image.size()))) return SystemFailure();
    s.FirstStart = true;
    s.PortName = "COM1";
    s.SaveTitle = true;
    return {};
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
    TConfigResult lastTry;
    for (int tries = 0;; ++tries) {
        TFd file(OpenForReading(path));
        if (!file.IsOpen()) {
            const int error = errno;
            // Only a free name gets a new file: a link that leads nowhere
            // stays as it is, and its target is not made.
            return error == ENOENT && Classify(path).Kind == TName::Free
                       ? WriteDefaultConfig(s, path)
                       : TConfigResult{TConfigStatus::Failed, error};
        }
        struct stat st;
        if (const TConfigResult regular = CheckRegular(file.Get(), st); !regular.Ok())
            return regular;
        if (st.st_size == kConfigFileSize) {
            uint8_t head[3];
            if (!ReadAll(file.Get(), head, sizeof head, 0)) return SystemFailure();
            if (head[0] >= 1 && head[0] <= kMaxPortNumber) s.PortName += std::to_string(head[0]);
            s.SaveTitle = head[1] == 1;
            s.AltFormat = head[2] == 1;
            return {};
        }
        // Damaged: the default file takes its name. Behind a symbolic link
        // the link is replaced; what it leads to is not ours to repair.
        if (tries < kMaxDeleteTries) {
            file.Close();
            lastTry = WriteDefaultConfig(s, path);
            if (lastTry.Ok()) return lastTry;
            // Looked at again: the name may hold a sound file by now.
            continue;
        }
        s.PortName = "COM1";
        s.SaveTitle = true;
        s.AltFormat = false;
        return lastTry;
    }
}

TConfigResult WriteConfigFile(TSettings& s, const std::string& port, bool saveTitle,
                              bool altFormat) {
    const int number = PortNumber(port);
    if (number < 0) return Refusal();
    const std::string path = FilePath(s, kConfigFileName);
    const TNameFound name = Classify(path);
    if (name.Kind == TName::Unusable) return {TConfigStatus::Failed, name.Error};
    // Bytes 3 to 29 of an existing file are kept; a new file, or the part a
    // damaged one lacks, gets zeros, so that the next start reads these
    // settings from a full-length file.
    std::array<char, kConfigFileSize> image{};
    if (name.Kind == TName::File) {
        TFd file(OpenForReading(path));
        if (!file.IsOpen()) return SystemFailure();
        struct stat st;
        if (const TConfigResult regular = CheckRegular(file.Get(), st); !regular.Ok())
            return regular;
        if (!MayWrite(path)) return SystemFailure();
        const auto kept = static_cast<size_t>(std::min<off_t>(st.st_size, kConfigFileSize));
        if (!ReadAll(file.Get(), image.data(), kept, 0)) return SystemFailure();
    }
    TReplacingFile file;
    if (!file.Open(path, name.Mode)) return SystemFailure();
    s.PortName = port;
    s.SaveTitle = saveTitle;
    s.AltFormat = altFormat;
    image[0] = static_cast<char>(number);
    image[1] = saveTitle ? 1 : 0;
    image[2] = altFormat ? 1 : 0;
    return WriteAll(file.Get(), image.data(), image.size()) && file.Commit() ? TConfigResult{}
                                                                             : SystemFailure();
}

TConfigResult ReadOutConfigFile(TSettings& s) {
    const std::string path = FilePath(s, kOutConfigFileName);
    struct stat st;
    const bool found = ::stat(path.c_str(), &st) == 0;
    if (!found || !S_ISREG(st.st_mode)) {
        const TConfigResult none{TConfigStatus::NoFile, found ? 0 : errno};
        s.TarifFileName.clear();
        return none;
    }
    TFd file(OpenForReading(path));
    if (!file.IsOpen()) return SystemFailure();
    if (const TConfigResult regular = CheckRegular(file.Get(), st); !regular.Ok()) return regular;
    // The size the file claims is not trusted.
    std::string text;
    if (!ReadAtMost(file.Get(), kMaxOutConfigSize, text)) return SystemFailure();
    if (text.size() > kMaxOutConfigSize) return Refusal();
    ApplyOutConfig(s, text);
    return {};
}

TConfigResult WriteOutConfigFile(TSettings& s, const std::string& tarifPath,
                                 const std::string& realTimePath) {
    if (!StorablePath(tarifPath) || !StorablePath(realTimePath)) return Refusal();
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
    const TNameFound name = Classify(path);
    if (name.Kind == TName::Unusable) return {TConfigStatus::NoFile, name.Error};
    if (name.Kind == TName::File && !MayWrite(path)) return SystemFailure(TConfigStatus::NoFile);
    TReplacingFile file;
    if (!file.Open(path, name.Mode)) return SystemFailure(TConfigStatus::NoFile);
    return WriteAll(file.Get(), text.data(), text.size()) && file.Commit() ? TConfigResult{}
                                                                           : SystemFailure();
}

// Runs an operation so that what it may raise comes back as its result:
// the settings are read at start-up and written from a dialog, and neither
// may end the program.
template <class Operation>
TConfigResult Guarded(const Operation& operation) {
    try {
        return operation();
    } catch (const std::bad_alloc&) {
        return {TConfigStatus::Failed, ENOMEM};
    } catch (const std::system_error& e) {
        return {TConfigStatus::Failed, e.code().value()};
    }
}

}  // namespace

bool StorablePath(const std::string& path) {
    return path.size() < PATH_MAX &&
           path.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

TConfigResult ReadConfig(TSettings& s) {
    return Guarded([&] { return ReadConfigFile(s); });
}

TConfigResult WriteConfig(TSettings& s, const std::string& port, bool saveTitle, bool altFormat) {
    return Guarded([&] { return WriteConfigFile(s, port, saveTitle, altFormat); });
}

TConfigResult ReadOutConfig(TSettings& s) {
    return Guarded([&] { return ReadOutConfigFile(s); });
}

TConfigResult WriteOutConfig(TSettings& s, const std::string& tarifPath,
                             const std::string& realTimePath) {
    return Guarded([&] { return WriteOutConfigFile(s, tarifPath, realTimePath); });
}
