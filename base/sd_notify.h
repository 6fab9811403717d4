// Tells the service manager how the program stands, as sd_notify does:
// one datagram to the socket named by NOTIFY_SOCKET (a path, or an
// abstract name when it begins with '@'). Without NOTIFY_SOCKET nothing is
// sent, so a program not started by systemd behaves as ever.
#pragma once

#include <string>

namespace sd {

// Sends state ("READY=1", "STATUS=...", "WATCHDOG=1", several separated by
// '\n'); true when it was sent.
bool Notify(const std::string& state);

}  // namespace sd
