// The exchange's line: a pseudo-terminal or bytes carried in memory.
#include "tools/sim_exchange/transport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sim {

namespace {

using Clock = TTransport::Clock;
using TimePoint = TTransport::TimePoint;

// Closer than this, the serving thread sleeps to the exact instant instead of
// polling, so a paced byte leaves within microseconds of its slot.
constexpr std::chrono::microseconds kSpinWindow{200};

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Waking from a sleep takes some microseconds; the last stretch before a
// byte's slot is waited out awake, so that a paced byte leaves on time.
constexpr std::chrono::microseconds kAwakeWindow{60};

void SleepUntil(TimePoint t) {
    const TimePoint wake = t - kAwakeWindow;
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wake.time_since_epoch()).count();
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1000000000);
    ts.tv_nsec = static_cast<long>(ns % 1000000000);
    if (wake > Clock::now()) {
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
    }
    while (Clock::now() < t) {
    }
}

}  // namespace

bool TTransport::Fail(const std::string& e) {
    lastError_ = e;
    return false;
}

// --- opening and closing -----------------------------------------------------

bool TTransport::OpenDevice(const std::string& linkPath) {
    inMemory_ = false;
    linkPath_ = linkPath;
    linkState_ = TLinkState::Shown;
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) return Fail(Errno("eventfd"));
    if (!OpenTerminal()) {
        close(wakeFd_);
        wakeFd_ = -1;
        return false;
    }
    wireBytes_ = 0;
    return true;
}

void TTransport::OpenInMemory(TimePoint start) {
    inMemory_ = true;
    linkPath_.clear();
    slavePath_.clear();
    memNow_ = start;
    vanished_ = false;
    linkState_ = TLinkState::Shown;
    ResetLine();
    wireBytes_ = 0;
}

void TTransport::Close() {
    CloseTerminal();
    RemoveLink();  // a decoy too
    linkState_ = TLinkState::Shown;
    vanished_ = false;
    if (wakeFd_ >= 0) close(wakeFd_);
    wakeFd_ = -1;
    inMemory_ = false;
}

// Opens a new pty and points the link at it. False (lastError_ set) on
// failure, with nothing left open.
bool TTransport::OpenTerminal() {
    int m = posix_openpt(O_RDWR | O_NOCTTY);
    if (m < 0) return Fail(Errno("posix_openpt"));
    fcntl(m, F_SETFD, FD_CLOEXEC);
    char name[128];
    if (grantpt(m) != 0 || unlockpt(m) != 0 || ptsname_r(m, name, sizeof name) != 0) {
        std::string e = Errno("grantpt/unlockpt/ptsname");
        close(m);
        return Fail(e);
    }
    int s = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (s < 0) {
        std::string e = Errno(std::string("open ") + name);
        close(m);
        return Fail(e);
    }
    termios t{};
    if (tcgetattr(s, &t) == 0) {
        cfmakeraw(&t);
        cfsetispeed(&t, B19200);
        cfsetospeed(&t, B19200);
        t.c_cflag &= ~(CSIZE | PARENB);
        t.c_cflag |= CS8 | CSTOPB | CLOCAL | CREAD;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
    }
    if (tcsetattr(s, TCSANOW, &t) != 0) {
        std::string e = Errno("tcsetattr");
        close(s);
        close(m);
        return Fail(e);
    }
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
    if (!linkPath_.empty() && linkState_ == TLinkState::Shown && !PlaceLink(name)) {
        close(s);
        close(m);
        return false;
    }
    master_ = m;
    slaveHold_ = s;
    slavePath_ = name;
    ++generation_;
    vanished_ = false;
    ResetLine();
    return true;
}

// Replaces a symbolic link (never another kind of file) atomically.
bool TTransport::PlaceLink(const std::string& target) {
    struct stat st {};
    if (lstat(linkPath_.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
        return Fail(linkPath_ + ": exists and is not a symbolic link");
    std::string tmp = linkPath_ + ".sim" + std::to_string(getpid());
    unlink(tmp.c_str());
    if (symlink(target.c_str(), tmp.c_str()) != 0) return Fail(Errno("symlink " + tmp));
    if (rename(tmp.c_str(), linkPath_.c_str()) != 0) {
        std::string e = Errno("rename to " + linkPath_);
        unlink(tmp.c_str());
        return Fail(e);
    }
    return true;
}

void TTransport::RemoveLink() {
    struct stat st {};
    if (!linkPath_.empty() && lstat(linkPath_.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        unlink(linkPath_.c_str());
}

void TTransport::CloseTerminal() {
    // The name goes first: whoever sees the hang-up must not find the
    // old name still pointing at the dead terminal. A decoy stays.
    if (linkState_ != TLinkState::Elsewhere) RemoveLink();
    if (master_ >= 0) close(master_);
    if (slaveHold_ >= 0) close(slaveHold_);
    master_ = slaveHold_ = -1;
    ++generation_;
    ResetLine();
}

// Makes the link on disk say what linkState_ says. False (lastError_ set)
// when it cannot be placed.
bool TTransport::UpdateLink() {
    if (linkPath_.empty()) return true;
    if (linkState_ == TLinkState::Elsewhere) return PlaceLink(decoy_);
    if (linkState_ == TLinkState::Shown && master_ >= 0) return PlaceLink(slavePath_);
    RemoveLink();
    return true;
}

// Forgets everything in flight on the line: a new device starts clean.
void TTransport::ResetLine() {
    lineReset_();
    pendingRx_.clear();
    out_.clear();
    writeBlocked_ = false;
    rxFree_ = txFree_ = TimePoint{};
}

// --- the device and its name -------------------------------------------------

void TTransport::Vanish() {
    CloseTerminal();
    vanished_ = true;
    Wake();
}

bool TTransport::Revive() {
    if (!inMemory_) return OpenTerminal();
    ++generation_;
    vanished_ = false;
    ResetLine();
    return true;
}

void TTransport::PointLink(TLinkState state, const std::string& decoy) {
    linkState_ = state;
    decoy_ = decoy;
    if (!UpdateLink()) std::fprintf(stderr, "%s\n", lastError_.c_str());
}

TimePoint TTransport::Advance(TimePoint now) {
    memNow_ = std::max(memNow_, now);
    return memNow_;
}

void TTransport::Wake() {
    if (wakeFd_ < 0) return;
    uint64_t one = 1;
    ssize_t r = write(wakeFd_, &one, sizeof one);
    (void)r;  // a full counter already means "wake up"
}

// --- outgoing ----------------------------------------------------------------

void TTransport::Send(const std::vector<uint8_t>& bytes, TimePoint ready) {
    for (uint8_t b : bytes) {
        if (cfg_.Paced) {
            TimePoint start = std::max(ready, txFree_);
            txFree_ = start + kByteTime;
            out_.push_back({txFree_, b});
        } else {
            out_.push_back({ready, b});
        }
    }
}

void TTransport::FlushOut(TimePoint now) {
    uint8_t buf[512];
    while (master_ >= 0 && !out_.empty() && out_.front().At <= now) {
        size_t n = 0;
        while (n < out_.size() && n < sizeof buf && out_[n].At <= now) {
            buf[n] = out_[n].Byte;
            ++n;
        }
        ssize_t w = write(master_, buf, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            writeBlocked_ = (errno == EAGAIN);
            if (!writeBlocked_) out_.clear();  // the line is gone; nobody will hear it
            return;
        }
        writeBlocked_ = static_cast<size_t>(w) < n;
        wireBytes_ += static_cast<uint64_t>(w);
        out_.erase(out_.begin(), out_.begin() + w);
        if (writeBlocked_) return;
    }
}

int TTransport::TakeOut() {
    if (!LineUp() || out_.empty() || out_.front().At > memNow_) return -1;
    const uint8_t b = out_.front().Byte;
    out_.pop_front();
    ++wireBytes_;
    return b;
}

TimePoint TTransport::NextOut() const {
    return !LineUp() || out_.empty() ? TimePoint::max() : out_.front().At;
}

void TTransport::PurgeOut() {
    while (!out_.empty() && out_.front().At <= memNow_) {
        out_.pop_front();
        ++wireBytes_;  // it did cross the line before being thrown away
    }
}

// --- incoming ----------------------------------------------------------------

bool TTransport::Hear(uint8_t b, TimePoint at, bool listening) {
    received_.push_back(b);
    ++wireBytes_;
    if (!listening) return false;
    if (!cfg_.Paced) return true;
    rxFree_ = std::max(at, rxFree_) + kByteTime;
    pendingRx_.emplace_back(rxFree_, b);
    return false;
}

bool TTransport::TakeArrived(TimePoint now, uint8_t& b, TimePoint& at) {
    if (pendingRx_.empty() || pendingRx_.front().first > now || !LineUp()) return false;
    at = pendingRx_.front().first;
    b = pendingRx_.front().second;
    pendingRx_.pop_front();
    return true;
}

bool TTransport::ArrivalBeforeOut() const {
    return LineUp() && !pendingRx_.empty() &&
           (out_.empty() || pendingRx_.front().first < out_.front().At);
}

// --- serving thread ----------------------------------------------------------

void TTransport::NextDue(TimePoint& next) const {
    if (!pendingRx_.empty()) next = std::min(next, pendingRx_.front().first);
    if (!out_.empty() && !writeBlocked_ && master_ >= 0) next = std::min(next, out_.front().At);
}

size_t TTransport::Await(TimePoint next, std::unique_lock<std::mutex>& lock, uint8_t* buf,
                         size_t size, TimePoint& readAt) {
    const int fd = master_;
    const uint64_t gen = generation_;
    const bool wantOut = writeBlocked_;
    lock.unlock();

    TimePoint now = Clock::now();
    if (next != TimePoint::max() && next - now < kSpinWindow) {
        SleepUntil(next);
        lock.lock();
        return 0;
    }
    pollfd fds[2] = {{wakeFd_, POLLIN, 0},
                     {fd, static_cast<short>(POLLIN | (wantOut ? POLLOUT : 0)), 0}};
    timespec ts{};
    timespec* timeout = nullptr;
    if (next != TimePoint::max()) {
        auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(next - now - kSpinWindow / 2)
                      .count();
        ts.tv_sec = static_cast<time_t>(ns / 1000000000);
        ts.tv_nsec = static_cast<long>(ns % 1000000000);
        timeout = &ts;
    }
    int r = ppoll(fds, fd >= 0 ? 2 : 1, timeout, nullptr);
    readAt = Clock::now();
    lock.lock();
    if (r <= 0) return 0;
    if (fds[0].revents & POLLIN) {
        uint64_t v;
        ssize_t n = read(wakeFd_, &v, sizeof v);
        (void)n;
    }
    if (fd < 0 || gen != generation_) return 0;  // the terminal changed meanwhile
    if (fds[1].revents & POLLOUT) writeBlocked_ = false;
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
        ssize_t n = read(master_, buf, size);
        if (n > 0) return static_cast<size_t>(n);
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            // Cannot happen while we hold the slave; never spin on it.
            lock.unlock();
            SleepUntil(Clock::now() + std::chrono::milliseconds(10));
            lock.lock();
        }
    }
    return 0;
}

}  // namespace sim
