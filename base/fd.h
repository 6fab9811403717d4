// Owning a file descriptor, and reading or writing a whole buffer through
// one, whatever the kernel splits it into.
#pragma once

#include <sys/types.h>

#include <cstddef>

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
