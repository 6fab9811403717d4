#include "alerts/alert_mail.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/fd.h"

extern char** environ;

namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(std::string_view bytes) {
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
        out += kBase64[(v >> 18) & 63];
        out += kBase64[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kBase64[(v >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kBase64[v & 63] : '=';
    }
    return out;
}

// The date as RFC 5322 writes it, whatever the locale.
std::string MailDate(std::time_t t) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    struct tm tm {};
    gmtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d +0000", days[tm.tm_wday],
                  tm.tm_mday, months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                  tm.tm_sec);
    return buf;
}

// The key as the left side of a Message-ID: letters, digits and "-._"
// kept, anything else as "=XX".
std::string IdPart(const std::string& key) {
    std::string out;
    for (const char c : key) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
            c == '-' || c == '.' || c == '_') {
            out += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "=%02X", u);
            out += hex;
        }
    }
    return out;
}

// Text without line breaks, for a header or one line of the body.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    return text;
}

}  // namespace

std::string EncodedSubject(const std::string& text) {
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = std::min(text.size(), pos + 45);
        while (end < text.size() && end > pos + 1 &&
               (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            --end;
        if (!out.empty()) out += "\n ";
        out += "=?UTF-8?B?" + Base64(std::string_view(text).substr(pos, end - pos)) + "?=";
        pos = end;
    }
    return out;
}

std::string MailHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || !name[0]) return "localhost";
    return name;
}

std::string ComposeAlertMail(const std::vector<const TAlert*>& alerts, const std::string& to,
                             const std::string& host, std::time_t now) {
    const TAlert& first = *alerts.front();
    std::string subject = "Tallyphon: ";
    if (alerts.size() == 1)
        subject += OneLine(first.Text);
    else
        subject += std::to_string(alerts.size()) + " оповещений «" + AlertKindName(first.Kind) +
                   "»: " + OneLine(first.Text);
    std::string m;
    m += "From: Tallyphon <tallyphon@" + host + ">\n";
    m += "To: " + to + "\n";
    m += "Subject: " + EncodedSubject(subject) + "\n";
    m += "Message-ID: <" + IdPart(first.Key) + "." + std::to_string(alerts.size()) + "@tallyphon." +
         host + ">\n";
    m += "Date: " + MailDate(now) + "\n";
    m += "MIME-Version: 1.0\n";
    m += "Content-Type: text/plain; charset=UTF-8\n";
    m += "Content-Transfer-Encoding: 8bit\n";
    m += "Auto-Submitted: auto-generated\n\n";
    m += alerts.size() == 1
             ? "Оповещение программы Tallyphon.\n\n"
             : "Оповещения программы Tallyphon (" + std::to_string(alerts.size()) + ").\n\n";
    for (const TAlert* a : alerts) {
        char when[96];
        struct tm tm {};
        const std::time_t at = a->At;
        localtime_r(&at, &tm);
        std::snprintf(when, sizeof when, "%02d.%02d.%04d %02d:%02d:%02d", tm.tm_mday, tm.tm_mon + 1,
                      tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
        m += std::string(when) + (a->Site.empty() ? "" : ", офис " + OneLine(a->Site)) + "\n";
        m += OneLine(a->Text) + "\n";
        if (!a->CallLine.empty()) m += "Строка журнала звонков:\n" + OneLine(a->CallLine) + "\n";
        m += "\n";
    }
    return m;
}

std::string RunSendmail(const std::string& sendmail, const std::string& message,
                        const std::atomic<bool>& stop, std::chrono::milliseconds timeout) {
    int in[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0) return std::string("pipe: ") + std::strerror(errno);
    TFd inRead(in[0]), inWrite(in[1]);
    if (pipe2(err, O_CLOEXEC) != 0) return std::string("pipe: ") + std::strerror(errno);
    TFd errRead(err[0]), errWrite(err[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inRead.Get(), 0);
    posix_spawn_file_actions_adddup2(&actions, errWrite.Get(), 1);
    posix_spawn_file_actions_adddup2(&actions, errWrite.Get(), 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, dflt;
    sigemptyset(&none);
    sigemptyset(&dflt);
    sigaddset(&dflt, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &dflt);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::string a0 = sendmail, a1 = "-t", a2 = "-oi";
    char* argv[] = {a0.data(), a1.data(), a2.data(), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, sendmail.c_str(), &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (spawned != 0) return "не удалось запустить " + sendmail + ": " + std::strerror(spawned);
    inRead.Close();
    errWrite.Close();
    fcntl(inWrite.Get(), F_SETFL, O_NONBLOCK);
    fcntl(errRead.Get(), F_SETFL, O_NONBLOCK);

    // SIGPIPE of a sendmail that ends without reading must not end the
    // program: blocked on this thread, and taken back if it came.
    sigset_t pipeSet, old;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSet, &old);
    size_t written = 0;
    std::string said;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool timedOut = false;
    int status = 0;
    pid_t got = 0;
    while (errRead.IsOpen() || got == 0) {
        if (stop.load() || std::chrono::steady_clock::now() >= deadline) {
            timedOut = true;
            break;
        }
        pollfd fds[2] = {{errRead.Get(), POLLIN, 0}, {inWrite.Get(), POLLOUT, 0}};
        if (poll(fds, 2, 50) < 0 && errno != EINTR) break;
        if (inWrite.IsOpen() && fds[1].revents) {
            const ssize_t n =
                write(inWrite.Get(), message.data() + written, message.size() - written);
            if (n > 0) written += static_cast<size_t>(n);
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == message.size())
                inWrite.Close();
        }
        if (errRead.IsOpen() && fds[0].revents) {
            char buf[512];
            const ssize_t n = read(errRead.Get(), buf, sizeof buf);
            if (n > 0 && said.size() < 2000) said.append(buf, static_cast<size_t>(n));
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) errRead.Close();
        }
        // A sendmail that ended is done with, whoever else keeps its
        // standard error open.
        if (got == 0 && (got = waitpid(pid, &status, WNOHANG)) != 0) break;
    }
    inWrite.Close();
    for (char buf[512]; errRead.IsOpen() && said.size() < 2000;) {
        const ssize_t n = read(errRead.Get(), buf, sizeof buf);
        if (n <= 0) break;
        said.append(buf, static_cast<size_t>(n));
    }
    timespec zero{0, 0};
    while (sigtimedwait(&pipeSet, nullptr, &zero) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);

    if (got == 0) {
        kill(pid, SIGKILL);
        timedOut = true;
        while ((got = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
        }
    }
    if (got < 0) return std::string("waitpid: ") + std::strerror(errno);
    while (!said.empty() && (said.back() == '\n' || said.back() == '\r'))
        said.pop_back();
    for (char& c : said)
        if (c == '\n' || c == '\r') c = ' ';
    if (timedOut) return sendmail + " не ответил вовремя";
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && written == message.size()) return "";
    std::string why = sendmail;
    if (WIFEXITED(status))
        why += " завершился с кодом " + std::to_string(WEXITSTATUS(status));
    else if (WIFSIGNALED(status))
        why += " прерван сигналом " + std::to_string(WTERMSIG(status));
    if (!said.empty()) why += ": " + said.substr(0, 300);
    return why;
}
