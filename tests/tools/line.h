// The program's end of a simulated line, opened raw the way the program
// opens its port, with reads bounded by deadlines.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace simtest {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class TLine {
  public:
    explicit TLine(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0) return;
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        cfsetispeed(&t, B19200);
        cfsetospeed(&t, B19200);
        t.c_cflag |= CS8 | CSTOPB | CLOCAL | CREAD;
        tcsetattr(fd_, TCSANOW, &t);
    }
    ~TLine() {
        if (fd_ >= 0) close(fd_);
    }
    TLine(const TLine&) = delete;
    TLine& operator=(const TLine&) = delete;

    bool IsOpen() const { return fd_ >= 0; }

    void Write(const std::vector<uint8_t>& bytes) const {
        ssize_t w = write(fd_, bytes.data(), bytes.size());
        (void)w;
    }

    // Up to n bytes, returning early only when the deadline passes or the
    // line fails.
    std::vector<uint8_t> Read(size_t n, std::chrono::milliseconds timeout = 3000ms) const {
        std::vector<uint8_t> got;
        const auto deadline = Clock::now() + timeout;
        while (got.size() < n) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() < 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0) continue;
            if (!(p.revents & POLLIN)) break;
            uint8_t b[256];
            ssize_t r = read(fd_, b, std::min(sizeof b, n - got.size()));
            if (r <= 0) break;
            got.insert(got.end(), b, b + r);
        }
        return got;
    }

    // True when the far end went away (hang-up, EIO or end of file) before
    // the deadline.
    bool SeesHangup(std::chrono::milliseconds timeout = 3000ms) const {
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            if (p.revents & (POLLHUP | POLLERR)) return true;
            uint8_t b;
            ssize_t r = read(fd_, &b, 1);
            if (r == 0 || (r < 0 && (errno == EIO || errno == ENXIO))) return true;
        }
        return false;
    }

  private:
    int fd_ = -1;
};

// Polls cond until it holds or the deadline passes.
template <typename F>
bool WaitFor(F cond, std::chrono::milliseconds timeout = 3000ms) {
    const auto deadline = Clock::now() + timeout;
    while (!cond()) {
        if (Clock::now() >= deadline) return false;
        pollfd none{-1, 0, 0};
        poll(&none, 0, 5);
    }
    return true;
}

inline uint8_t Sum(const std::vector<uint8_t>& bytes, size_t from, size_t count) {
    uint8_t s = 0;
    for (size_t i = from; i < from + count; ++i)
        s = static_cast<uint8_t>(s + bytes[i]);
    return s;
}

}  // namespace simtest
