#include "ui/quit_on_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include <QSocketNotifier>

namespace {

int g_pipe[2] = {-1, -1};
std::atomic<bool> g_signalled{false};
struct sigaction g_oldInt;
struct sigaction g_oldTerm;

void OnSignal(int) {
    const int saved = errno;
    g_signalled = true;
    const char byte = 1;
    // A full pipe already holds a wake-up.
    [[maybe_unused]] ssize_t n = write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

TQuitOnSignals::TQuitOnSignals(std::function<void()> quit) : quit_(std::move(quit)) {
    g_signalled = false;
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated, [this] {
        char buf[16];
        while (read(g_pipe[0], buf, sizeof buf) > 0) {
        }
        if (quit_) quit_();
    });
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, &g_oldInt);
    sigaction(SIGTERM, &sa, &g_oldTerm);
}

TQuitOnSignals::~TQuitOnSignals() {
    if (!notifier_) return;
    sigaction(SIGINT, &g_oldInt, nullptr);
    sigaction(SIGTERM, &g_oldTerm, nullptr);
    delete notifier_;
    close(g_pipe[0]);
    close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

bool TQuitOnSignals::Signalled() const {
    return g_signalled;
}
