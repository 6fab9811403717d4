#include "tests/link/pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace testing_support {

TPtyPeer::TPtyPeer(TResponder responder) : responder_(std::move(responder)) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    slavePath_ = ptsname(master_);
    // Hold the slave open in raw mode so the line never echoes and the
    // master never sees a hang-up while the program reopens it.
    slave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    struct termios tio;
    tcgetattr(slave_, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave_, TCSANOW, &tio);
    thread_ = std::thread([this] { Serve(); });
}

TPtyPeer::~TPtyPeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
}

void TPtyPeer::Serve() {
    while (!stop_) {
        struct pollfd p = {master_, POLLIN, 0};
        if (master_ < 0 || poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN)) continue;
        uint8_t buf[256];
        const ssize_t n = read(master_, buf, sizeof buf);
        for (ssize_t i = 0; i < n; ++i) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                received_.push_back(buf[i]);
            }
            if (responder_) Send(responder_(buf[i]));
        }
    }
}

void TPtyPeer::Send(const std::vector<uint8_t>& bytes) {
    if (!bytes.empty() && master_ >= 0) {
        const ssize_t n = write(master_, bytes.data(), bytes.size());
        (void)n;
    }
}

std::vector<uint8_t> TPtyPeer::Received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

void TPtyPeer::Vanish() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    close(slave_);
    close(master_);
    slave_ = master_ = -1;
}

}  // namespace testing_support
