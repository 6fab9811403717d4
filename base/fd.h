// Owning a file descriptor, reading or writing a whole buffer through one,
// whatever the kernel splits it into, and replacing a file whole.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Owns one file descriptor and closes it when destroyed; closing early is
// explicit where its result matters.
class TFd {
  public:
    explicit TFd(int fd = -1) noexcept : fd_(fd) {}
    ~TFd();
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    TFd(TFd&& other) noexcept : fd_(other.Release()) {}
    // Closes the descriptor held, then takes over other's.
    TFd& operator=(TFd&& other) noexcept;

    bool IsOpen() const { return fd_ >= 0; }
    int Get() const { return fd_; }
    // Closes the descriptor now; true when close() reported no error other
    // than an interruption (a delayed write failure shows here). False when
    // none was held.
    bool Close();
    // Gives up ownership: returns the descriptor, which the caller closes.
    int Release() noexcept;

  private:
    int fd_;
};

// Writes all len bytes of data to fd: with offset -1 at the file position
// (write()), otherwise at offset (pwrite(), the position stays). Retries an
// interrupted call. False on any error and when a call writes nothing; some
// bytes may have been written then.
bool WriteAll(int fd, const void* data, size_t len, off_t offset = -1);

// Reads exactly len bytes at offset of fd (pread(), interrupted calls
// retried). False on an error or when the file ends first.
bool ReadAll(int fd, void* data, size_t len, off_t offset);

// Reads fd from its position to its end into text, but never more than
// limit + 1 bytes: text longer than limit tells a file too large, whatever
// size it claims or keeps growing to. False, with errno, on a read error.
bool ReadAtMost(int fd, size_t limit, std::string& text);

// Symbolic links a program writes through, under the owner rule of the
// kernel's fs.protected_symlinks (which guards sticky directories only):
// a planted link must not lead the program to a file the link's owner
// could not write. A link is followed only when it belongs to the process's
// effective user, to the owner of the file it leads to, or to root.
//
// The owners of the links path goes through by its last component, from
// path on (at most 40); empty when path is no symbolic link.
std::vector<uid_t> LinkOwners(const std::string& path);
// Whether links of these owners may lead to a file of fileOwner; nullopt
// when they lead nowhere yet and the write would create the file, which
// only links of the process's own or root's may.
bool MayFollowLinks(const std::vector<uid_t>& owners, std::optional<uid_t> fileOwner);
// Opens path with open(2)'s flags and mode, following links only as
// MayFollowLinks allows. Root, whom no permission stops, goes further: it
// follows links to its own files only and creates no file through a link
// (ENOENT). A refused link gives no descriptor, refused set and errno
// EACCES; a name that becomes a link while looked at counts as refused.
TFd OpenThroughLinks(const std::string& path, int flags, mode_t mode, bool& refused);
// The message of a refused link at path (UTF-8), naming it.
std::string RefusedLinkText(const std::string& path);

// How OpenToAppend went.
enum class TAppendOpen {
    Opened,
    LinkRefused,  // a symbolic link OpenThroughLinks does not follow
    NotAFile,     // neither a regular file nor a character device (a FIFO, a socket)
    Failed,       // open(2) or fstat(2) failed, with errno
};
// Opens path to append to, created when absent with mode (less the umask),
// for a file the program writes by a name the user gave (a log). Never
// waits: a FIFO without a reader fails at once, one with a reader is
// refused. Takes a regular file or a character device only, which is
// written blocking from then on, as any device; follows a symbolic link
// only as OpenThroughLinks allows. A descriptor only when Opened; errno
// tells why for Failed.
TFd OpenToAppend(const std::string& path, mode_t mode, TAppendOpen& result);

// Opens path as OpenToAppend does, and tries a first open that fails once
// more: retried tells that the descriptor came from the second. On failure
// why says so in words (UTF-8, naming path) and err is errno of the call
// that failed (0 for a file refused for its kind or its link).
TFd OpenToAppendTwice(const std::string& path, mode_t mode, bool& retried, std::string& why,
                      int& err);
// Writes bytes at the end of fd, whose file had size bytes before (-1 where
// it cannot be cut, as a device): a write that fails is cut back off, so
// that the file never keeps part of them. False, with errno, on failure.
bool AppendOrTakeBack(int fd, std::string_view bytes, off_t size);
// Appends bytes to path (created with mode 0644) whole or not at all:
// opened by OpenToAppendTwice, written by AppendOrTakeBack, closed. After a
// second open leadOnRetry goes first, as the file may then end inside
// somebody else's write. False with why and err as OpenToAppendTwice gives
// them, or of the write or the close that failed.
bool AppendToFile(const std::string& path, std::string_view bytes, std::string_view leadOnRetry,
                  std::string& why, int& err);

// A new file made beside a target and renamed over it once written whole:
// a reader finds the old contents or the new, never a part of them, and
// whatever stands at the target's name (a symbolic link included) is
// replaced, never written through.
class TReplacingFile {
  public:
    TReplacingFile() = default;
    // Removes a new file that was not committed; errno is kept.
    ~TReplacingFile();
    TReplacingFile(const TReplacingFile&) = delete;
    TReplacingFile& operator=(const TReplacingFile&) = delete;

    // Makes the new, empty file in target's directory, under target + ".new"
    // or, when that name is taken by anything, under target + ".new" and six
    // random characters. It is always made with O_CREAT|O_EXCL|O_NOFOLLOW:
    // nothing found under the name, a planted link least of all, can
    // redirect it. mode as for open(2) (the umask applies). False, with
    // errno, when no new file could be made.
    bool Open(const std::string& target, mode_t mode = 0666);
    // The new file's descriptor, for writing; -1 when none is open.
    int Get() const { return file_.Get(); }
    // Forces the new file to the disk, closes it and renames it over the
    // target, then forces the directory. False, with errno, on any failure;
    // the new file is removed then and the target is as it was.
    bool Commit();

  private:
    void Discard();

    TFd file_;
    std::string target_;
    std::string temporary_;
};

// Replaces target by a file holding exactly bytes, through TReplacingFile.
// True when done; false, with errno, when target is as it was.
bool ReplaceFile(const std::string& target, std::string_view bytes, mode_t mode = 0666);

// Forces the directory that holds path to the disk, so that a name just
// made or renamed in it lasts. A file system that cannot do it keeps the
// name all the same, so a failure is not reported.
void SyncDirectoryOf(const std::string& path);
