#include "base/sd_notify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "base/fd.h"

namespace sd {

bool Notify(const std::string& state) {
    const char* name = std::getenv("NOTIFY_SOCKET");
    if (!name || !*name) return false;
    const size_t length = std::strlen(name);
    sockaddr_un address{};
    if ((name[0] != '/' && name[0] != '@') || length >= sizeof(address.sun_path)) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name, length);
    // An abstract name has a zero byte where the '@' stands.
    if (name[0] == '@') address.sun_path[0] = '\0';
    TFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket.IsOpen()) return false;
    const socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
    return sendto(socket.Get(), state.data(), state.size(), MSG_NOSIGNAL,
                  reinterpret_cast<const sockaddr*>(&address),
                  size) == static_cast<ssize_t>(state.size());
}

}  // namespace sd
