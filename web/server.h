// tallyphon-web's server: HTTP, or HTTPS with a certificate, through
// libmicrohttpd; logins with sessions kept in memory, the pages of
// web/html.h, and the database read with a reader's connection.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "web/page.h"

// Where the server listens: a numeric IPv4 address, or IPv6 in brackets,
// and a port ("127.0.0.1:8450", "[::1]:8450"; port 0: any free one).
struct TListenAddress {
    sockaddr_storage Address{};
    bool V6 = false;
    // Whether only this machine can reach it (127.0.0.0/8 or ::1).
    bool Loopback() const;
};
// Reads text into out; the reason when it is no such address, else empty.
std::string ParseListen(const std::string& text, TListenAddress& out);

struct TWebOptions {
    std::string ConnInfo;  // a reader's connection string
    TListenAddress Listen;
    // PEM; both empty: plain HTTP, which Start allows on a loopback
    // address only.
    std::string CertPem, KeyPem;
    // A session unused this long ends.
    std::chrono::seconds IdleTimeout = std::chrono::hours(8);
    // The clock of sessions, login limits and the audit's pruning; empty:
    // steady_clock.
    std::function<std::chrono::steady_clock::time_point()> Clock;
    // A connection that sends nothing for this long is closed (whole
    // seconds, at least one).
    std::chrono::seconds ConnectionTimeout{30};
    // A request whose headers and body have not all come this long after
    // it began is cut off, however steadily its bytes trickle in.
    std::chrono::seconds RequestTimeout{120};
    // Chart.js, served as /chart.js; read once by Start. A file that
    // cannot be read leaves the charts undrawn, their tables still shown.
    std::string ChartJsPath = "/usr/share/javascript/chart.js/chart.min.js";
    // What the pages take the time of day from; empty: time().
    std::function<std::time_t()> WallClock;
    // When "Офисы" marks an office silent.
    TOfficeWatch Watch;
};

class TWebServer {
  public:
    explicit TWebServer(TWebOptions options);
    ~TWebServer();  // stops the server, waiting for the requests it serves
    TWebServer(const TWebServer&) = delete;
    TWebServer& operator=(const TWebServer&) = delete;

    // Starts listening; empty when it does, else why not.
    std::string Start();
    // The port listened on, once started.
    uint16_t Port() const;

    struct TImpl;

  private:
    std::unique_ptr<TImpl> impl_;
};
