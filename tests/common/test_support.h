// Helpers of every test folder: a temporary directory, whole-file reads and
// writes, and waits bounded by a deadline.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// A fresh empty directory under the system's temporary directory, removed
// with everything in it when the object ends.
class TTempDir {
  public:
    // Throws std::runtime_error when no directory can be made. under: the
    // parent directory (empty: the system's temporary directory).
    explicit TTempDir(const std::string& under = std::string());
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::string& Path() const { return path_; }
    // The path of name inside the directory.
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// The parent for a TTempDir in memory (/dev/shm) where the machine has one,
// else empty (the system's temporary directory). For tests that write the
// call log call by call: each line is forced to the disk, which tells such a
// test nothing (what survives a crash is what the kernel holds) and, on a
// busy disk, makes it wait seconds.
std::string InMemory();

// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// Replaces the file's content with bytes. Throws std::runtime_error when
// they cannot all be written.
void WriteFile(const std::string& path, const std::string& bytes);
// The bytes of one member of a zip archive, read with unzip; empty when the
// archive or the member cannot be read.
std::string ZipMember(const std::string& archive, const std::string& member);
// True when path names anything, a dangling symbolic link included.
bool Exists(const std::string& path);
// Makes a symbolic link at link to target, owned by the user owner (any
// other than the process's needs root). Throws std::runtime_error when
// it cannot.
void MakeLink(const std::string& target, const std::string& link, unsigned owner);

// Polls condition until it holds or timeout passes; true when it held.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(10));

// A service manager's notification socket at path, named by NOTIFY_SOCKET
// while the object lives (the variable is process-wide: one at a time).
class TNotifySocket {
  public:
    explicit TNotifySocket(const std::string& path);
    ~TNotifySocket();
    TNotifySocket(const TNotifySocket&) = delete;
    TNotifySocket& operator=(const TNotifySocket&) = delete;
    // The datagrams that arrived since the last call, in order.
    std::vector<std::string> Receive();

  private:
    int fd_ = -1;
};

// How often needle stands in text (overlapping times counted).
size_t CountOf(const std::string& text, const std::string& needle);

// Milliseconds of real time taken by f.
long long ElapsedMs(const std::function<void()>& f);

}  // namespace testing_support
