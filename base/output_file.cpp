#include "base/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <system_error>
#include <vector>

#include "base/fd.h"
#include "base/staged_files.h"

namespace {

// The file an export replaces: the target of a symbolic link (so the link
// stays a link), else path itself.
std::string ReplacedPath(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return path;  // a dangling link is replaced by the file
    std::string resolved(real);
    std::free(real);
    return resolved;
}

// The process's file-creation mask, read without changing it (umask() would
// change it for every thread while it is read).
mode_t CurrentUmask() {
    std::FILE* f = std::fopen("/proc/self/status", "re");
    mode_t mask = 022;
    if (!f) return mask;
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
        unsigned value = 0;
        if (std::sscanf(line, "Umask: %o", &value) == 1) {
            mask = static_cast<mode_t>(value);
            break;
        }
    }
    std::fclose(f);
    return mask;
}

}  // namespace

TFileResult ExportRefusal(const std::string& path, const std::string& keep) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    // Opening a FIFO would wait for a reader or feed one that never asked.
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return {TFileStatus::NotAFile, 0};
    if (!MayFollowLinks(LinkOwners(path), st.st_uid)) return {TFileStatus::ForeignLink, 0};
    struct stat kept {};
    if (!keep.empty() && ::stat(keep.c_str(), &kept) == 0 && kept.st_dev == st.st_dev &&
        kept.st_ino == st.st_ino)
        return {TFileStatus::IsKept, 0};
    return {};
}

TFileResult WriteFileReplacing(const std::string& path, const TFileFill& fill,
                               const TWriteControl& control) {
    std::string temp;
    const auto fail = [&](TFileStatus status, int error) {
        if (!temp.empty()) ::unlink(temp.c_str());
        return TFileResult{status, error};
    };
    try {
        // Links judged against the file they lead to when it is replaced.
        const std::vector<uid_t> links = LinkOwners(path);
        const std::string target = ReplacedPath(path);
        if (const TFileResult refused = ExportRefusal(target, control.Keep); !refused.Ok())
            return fail(refused.Status, 0);
        struct stat st {};
        const bool exists = ::stat(target.c_str(), &st) == 0;
        if (exists && !MayFollowLinks(links, st.st_uid)) return fail(TFileStatus::ForeignLink, 0);
        if (exists && S_ISDIR(st.st_mode)) return fail(TFileStatus::CannotOpen, EISDIR);
        TFd file;
        if (exists && !S_ISREG(st.st_mode)) {
            // A device is written in place: there is no file to keep, and
            // renaming over a device node would destroy it. O_NONBLOCK only
            // for the opening, which must not wait on anything.
            file = TFd(::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK));
            if (!file.IsOpen()) return fail(TFileStatus::CannotOpen, errno);
            struct stat opened {};
            if (::fstat(file.Get(), &opened) != 0) return fail(TFileStatus::CannotOpen, errno);
            // Made a FIFO since it was looked at.
            if (S_ISFIFO(opened.st_mode) || S_ISSOCK(opened.st_mode))
                return fail(TFileStatus::NotAFile, 0);
            const int flags = ::fcntl(file.Get(), F_GETFL);
            if (flags < 0 || ::fcntl(file.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
                return fail(TFileStatus::CannotOpen, errno);
        } else {
            const size_t slash = target.rfind('/');
            std::string pattern =
                slash == std::string::npos
                    ? "." + target + ".XXXXXX"
                    : target.substr(0, slash + 1) + "." + target.substr(slash + 1) + ".XXXXXX";
            file = TFd(::mkostemp(pattern.data(), O_CLOEXEC));
            if (!file.IsOpen()) return fail(TFileStatus::CannotOpen, errno);
            temp = pattern;
            // Owner first: giving a file away clears its set-user-ID bits.
            // Only root may give it away; others keep their own file.
            if (exists && ::fchown(file.Get(), st.st_uid, st.st_gid) != 0 && errno != EPERM)
                return fail(TFileStatus::CannotOpen, errno);
            const mode_t mode = exists ? (st.st_mode & 07777) : (0666 & ~CurrentUmask());
            if (::fchmod(file.Get(), mode) != 0) return fail(TFileStatus::CannotOpen, errno);
        }

        const TFileResult filled = fill(file.Get(), temp.empty() ? target : temp);
        if (!filled.Ok()) return fail(filled.Status, filled.Error);
        if (!file.Close()) return fail(TFileStatus::CannotWrite, errno);
        if (!temp.empty() && control.Stage) {
            control.Stage->Add(temp, target);
            temp.clear();
        } else if (!temp.empty()) {
            if (::rename(temp.c_str(), target.c_str()) != 0)
                return fail(TFileStatus::CannotOpen, errno);
            temp.clear();
        }
        return {};
    } catch (const std::bad_alloc&) {
        return fail(TFileStatus::Failed, ENOMEM);
    } catch (const std::system_error& e) {
        return fail(TFileStatus::Failed, e.code().value());
    } catch (const std::exception&) {
        // Anything else a writer raised: errno as it left it.
        return fail(TFileStatus::Failed, errno);
    }
}

std::string ExportFailureText(const TFileResult& result) {
    const char* text = result.Status == TFileStatus::Failed ? "Непонятное исключение. errno = "
                       : result.Status == TFileStatus::CannotOpen
                           ? "Не создать или не открыть файл. errno = "
                           : "Не закрыть файл. errno = ";
    return text + std::to_string(result.Error);
}

bool IsRefusal(TFileStatus status) {
    return status == TFileStatus::NotAFile || status == TFileStatus::IsKept ||
           status == TFileStatus::ForeignLink;
}

std::string ExportRefusalText(TFileStatus refusal, const std::string& path) {
    if (refusal == TFileStatus::ForeignLink) return RefusedLinkText(path);
    if (refusal == TFileStatus::IsKept)
        return "Файл \"" + path + "\" — загруженный журнал звонков. Сохраните в другой файл.";
    return "Файл \"" + path + "\" — канал или сокет, а не файл. Сохраните в обычный файл.";
}

std::string ExportFailureMessage(const TFileResult& result, const std::string& path) {
    if (IsRefusal(result.Status)) return ExportRefusalText(result.Status, path);
    return "Не удалось сохранить файл \"" + path + "\": " + ExportFailureText(result) + " (" +
           std::strerror(result.Error) + ")";
}
