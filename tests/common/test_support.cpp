#include "tests/common/test_support.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace testing_support {

TTempDir::TTempDir(const std::string& under) {
    const std::filesystem::path parent =
        under.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(under);
    std::string pattern = (parent / "tallyphon-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("no temporary directory");
    path_ = pattern;
}

TTempDir::~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string InMemory() {
    return ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ZipMember(const std::string& archive, const std::string& member) {
    // Quoted for the shell: the names come from the tests' own directories.
    const std::string command = "unzip -p '" + archive + "' '" + member + "' 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return {};
    std::string bytes;
    char buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        bytes.append(buf, n);
    return ::pclose(pipe) == 0 ? bytes : std::string();
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

void MakeLink(const std::string& target, const std::string& link, unsigned owner) {
    if (::symlink(target.c_str(), link.c_str()) != 0 ||
        ::lchown(link.c_str(), owner, static_cast<gid_t>(-1)) != 0)
        throw std::runtime_error("cannot make the link " + link);
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

long long ElapsedMs(const std::function<void()>& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 t0)
        .count();
}

TNotifySocket::TNotifySocket(const std::string& path)
    : fd_(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    if (fd_ < 0 || bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot bind " + path);
    setenv("NOTIFY_SOCKET", path.c_str(), 1);
}

TNotifySocket::~TNotifySocket() {
    unsetenv("NOTIFY_SOCKET");
    close(fd_);
}

std::vector<std::string> TNotifySocket::Receive() {
    std::vector<std::string> datagrams;
    char datagram[512];
    ssize_t n;
    while ((n = recv(fd_, datagram, sizeof datagram, MSG_DONTWAIT)) > 0)
        datagrams.emplace_back(datagram, static_cast<size_t>(n));
    return datagrams;
}

size_t CountOf(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1))
        ++n;
    return n;
}

}  // namespace testing_support
