#include "link/comm_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "base/com_name.h"

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Raise(uint8_t code, int err) {
    throw ECommError(code, static_cast<uint32_t>(err));
}

// errno values by which a device says it is gone.
bool IsGone(int err) {
    return err == EIO || err == ENXIO || err == ENODEV || err == EBADF;
}

// termios speed constant for a baud rate; B0 when the rate has none.
speed_t SpeedOf(uint32_t baud) {
    switch (baud) {
        case 110:
            return B110;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return B0;
    }
}

}  // namespace

std::string ResolvePortDevice(const std::string& name, const std::string& startDir) {
    if (name.find('/') == std::string::npos && !name.empty()) {
        const std::string entry = (startDir.empty() ? std::string(".") : startDir) + "/" + name;
        struct stat st;
        if (lstat(entry.c_str(), &st) == 0) return entry;
        if (const int n = ComPortNumber(name); n >= 1) return "/dev/ttyS" + std::to_string(n - 1);
    }
    return name;
}

TCommPort::TCommPort() = default;

TCommPort::~TCommPort() {
    try {
        Close();
    } catch (const ECommError&) {
        // Nothing more can be done for a device that refuses to close.
    }
}

void TCommPort::Open(const std::string& name, const std::string& startDir) {
    if (open_) return;
    SetStartDir(startDir);
    Open(name);
}

void TCommPort::Open(const std::string& name) {
    if (open_) return;
    SetPortName(name);
    SetBaudRate(19200);
    SetParity(kNoParity);
    SetStopBits(kTwoStopBits);
    SetByteSize(8);
    const TLineSettings wanted = dcb_;

    const std::string path = ResolvePortDevice(name, startDir_);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) Raise(kErrOpen, errno);
    // Nobody else may open the line while we hold it; a device without the
    // notion is still usable. Root is not kept out that way, so the device
    // is locked as well: two programs reading one exchange would interleave
    // their requests and lose calls.
    ioctl(fd, TIOCEXCL);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        Raise(kErrOpen, EBUSY);
    }

    struct termios tio;
    if (tcgetattr(fd, &tio) != 0) {
        const int err = errno;
        ::close(fd);
        Raise(kErrGetState, err);
    }
    fd_ = fd;
    dcb_ = wanted;
    if (!ApplyLineSettings()) {
        const int err = errno;
        ::close(fd);
        fd_ = -1;
        Raise(kErrSetState, err);
    }
    // The driver's queues are its own on Linux; the read and write
    // time-outs are kept here and applied by poll.
    timeouts_.ReadTotalTimeoutMultiplier = 1;
    timeouts_.ReadTotalTimeoutConstant = 250;
    timeouts_.WriteTotalTimeoutMultiplier = 1;
    timeouts_.WriteTotalTimeoutConstant = 250;

    // DTR on, RTS off. A device without modem lines (a pseudo-terminal)
    // answers ENOTTY or EINVAL: it is still a usable line.
    int dtr = TIOCM_DTR;
    int rts = TIOCM_RTS;
    ioctl(fd, TIOCMBIS, &dtr);
    ioctl(fd, TIOCMBIC, &rts);

    devicePath_ = path;
    open_ = true;
}

void TCommPort::Close() {
    if (!open_) return;
    ioctl(fd_, TIOCNXCL);
    if (::close(fd_) != 0 && errno != EINTR) Raise(kErrClose, errno);
    fd_ = -1;
    devicePath_.clear();
    open_ = false;
    lost_ = false;
}

void TCommPort::SetPortName(const std::string& name) {
    if (open_) Raise(kErrSetPortName, EBUSY);
    portName_ = name;
}

bool TCommPort::ApplyLineSettings() {
    struct termios tio;
    if (tcgetattr(fd_, &tio) != 0) return false;
    const speed_t speed = SpeedOf(dcb_.BaudRate);
    if (speed == B0) {
        errno = EINVAL;
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    switch (dcb_.ByteSize) {
        case 5:
            tio.c_cflag |= CS5;
            break;
        case 6:
            tio.c_cflag |= CS6;
            break;
        case 7:
            tio.c_cflag |= CS7;
            break;
        case 8:
            tio.c_cflag |= CS8;
            break;
        default:
            errno = EINVAL;
            return false;
    }
    if (dcb_.Parity == kOddParity) tio.c_cflag |= PARENB | PARODD;
    if (dcb_.Parity == kEvenParity) tio.c_cflag |= PARENB;
    if (dcb_.Parity > kEvenParity) {
        errno = EINVAL;
        return false;
    }
    if (dcb_.StopBits != kOneStopBit) tio.c_cflag |= CSTOPB;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    return tcsetattr(fd_, TCSANOW, &tio) == 0;
}

void TCommPort::SetBaudRate(uint32_t baud) {
    const uint32_t old = dcb_.BaudRate;
    dcb_.BaudRate = baud;
    if (open_ && !ApplyLineSettings()) {
        const int err = errno;
        dcb_.BaudRate = old;
        Raise(kErrSetBaudRate, err);
    }
}

void TCommPort::SetByteSize(uint8_t bits) {
    const uint8_t old = dcb_.ByteSize;
    dcb_.ByteSize = bits;
    if (open_ && !ApplyLineSettings()) {
        const int err = errno;
        dcb_.ByteSize = old;
        Raise(kErrSetByteSize, err);
    }
}

void TCommPort::SetParity(uint8_t parity) {
    const uint8_t old = dcb_.Parity;
    dcb_.Parity = parity;
    if (open_ && !ApplyLineSettings()) {
        const int err = errno;
        dcb_.Parity = old;
        Raise(kErrSetParity, err);
    }
}

void TCommPort::SetStopBits(uint8_t stopBits) {
    const uint8_t old = dcb_.StopBits;
    dcb_.StopBits = stopBits;
    if (open_ && !ApplyLineSettings()) {
        const int err = errno;
        dcb_.StopBits = old;
        Raise(kErrSetStopBits, err);
    }
}

void TCommPort::PurgeInput() {
    if (!open_) Raise(kErrNotOpen, EBADF);
    if (tcflush(fd_, TCIFLUSH) != 0) {
        // A hung-up terminal refuses even this: the device is gone.
        lost_ = lost_ || IsGone(errno);
        Raise(kErrPurge, errno);
    }
}

void TCommPort::Flush() {
    if (!open_) Raise(kErrNotOpen, EBADF);
    if (tcdrain(fd_) != 0 && errno != EINTR) {
        lost_ = lost_ || IsGone(errno);
        Raise(kErrFlush, errno);
    }
}

void TCommPort::WriteByte(uint8_t b) {
    if (!open_) Raise(kErrNotOpen, EBADF);
    const int budgetMs = static_cast<int>(timeouts_.WriteTotalTimeoutMultiplier +
                                          timeouts_.WriteTotalTimeoutConstant);
    const auto deadline = Clock::now() + std::chrono::milliseconds(budgetMs);
    for (;;) {
        const ssize_t n = ::write(fd_, &b, 1);
        if (n == 1) return;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            lost_ = lost_ || IsGone(errno);
            Raise(kErrWrite, errno);
        }
        // The driver's queue is full: wait for room until the write time-out.
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) Raise(kErrWrite, ETIMEDOUT);
        struct pollfd p = {fd_, POLLOUT, 0};
        const int rc = poll(&p, 1, static_cast<int>(left));
        if (rc < 0 && errno != EINTR) Raise(kErrWrite, errno);
        if (rc > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLOUT)) {
            lost_ = true;
            Raise(kErrWrite, EIO);
        }
    }
}

int TCommPort::ReadWithin(int timeoutMs) {
    if (!open_) Raise(kErrNotOpen, EBADF);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        struct pollfd p = {fd_, POLLIN, 0};
        const int rc = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (rc < 0) {
            if (errno == EINTR) continue;
            Raise(kErrRead, errno);
        }
        if (rc > 0) {
            if (p.revents & POLLIN) {
                uint8_t b;
                const ssize_t n = ::read(fd_, &b, 1);
                if (n == 1) return b;
                // Readable with nothing to read is a device that went away.
                if (n == 0) {
                    lost_ = true;
                    Raise(kErrRead, EIO);
                }
                if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
                    lost_ = lost_ || IsGone(errno);
                    Raise(kErrRead, errno);
                }
            } else if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) {
                lost_ = true;
                Raise(kErrRead, (p.revents & POLLNVAL) ? EBADF : EIO);
            }
        }
        if (left <= 0) return -1;
    }
}
