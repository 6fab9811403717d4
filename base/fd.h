// Owning a file descriptor, reading or writing a whole buffer through one,
// whatever the kernel splits it into, and replacing a file whole.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

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
