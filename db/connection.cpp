#include "db/connection.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <libpq-fe.h>
#include <pqxx/except>

#include "db/db_config.h"

namespace {

// How often a connect in progress looks whether it was abandoned.
constexpr int kConnectTickMs = 50;

// The connect_timeout libpq takes from the string or the environment; 0:
// none. As libpq, a timeout under 2 s counts as 2 s.
int ConnectTimeout(PGconn* connection) {
    int seconds = 0;
    PQconninfoOption* options = PQconninfo(connection);
    for (PQconninfoOption* o = options; o && o->keyword; ++o)
        if (std::string(o->keyword) == "connect_timeout" && o->val) seconds = std::atoi(o->val);
    PQconninfoFree(options);
    return seconds <= 0 ? 0 : std::max(seconds, 2);
}

}  // namespace

TDbInterrupt::~TDbInterrupt() {
    Detach();
}

void TDbInterrupt::Cancel() {
    cancelled_ = true;
    std::shared_ptr<void> cancel;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cancel = cancel_;
    }
    if (!cancel) return;
    // PQcancel waits for the server to close its end, which a server that
    // stopped answering never does: the stop must not wait with it.
    std::thread([cancel] {
        char error[256];
        PQcancel(static_cast<PGcancel*>(cancel.get()), error, sizeof error);
    }).detach();
}

void TDbInterrupt::Sever() {
    std::lock_guard<std::mutex> lock(mutex_);
    // The socket stays open until Detach: no other file can take its number.
    if (socket_ >= 0) shutdown(socket_, SHUT_RDWR);
}

void TDbInterrupt::Attach(pqxx::connectionpolicy::handle connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    cancel_.reset(PQgetCancel(connection),
                  [](void* c) { PQfreeCancel(static_cast<PGcancel*>(c)); });
    socket_ = PQsocket(connection);
}

void TDbInterrupt::Detach() {
    std::lock_guard<std::mutex> lock(mutex_);
    cancel_.reset();
    socket_ = -1;
}

pqxx::connectionpolicy::handle TInterruptibleConnect::do_startconnect(handle connection) {
    if (connection) return connection;
    const std::string refused = CheckConnInfo(options());
    if (!refused.empty()) throw pqxx::broken_connection(refused);
    if (interrupt_ && interrupt_->Cancelled())
        throw pqxx::broken_connection("подключение к базе данных прервано");
    PGconn* c = PQconnectStart(options().c_str());
    if (!c) throw std::bad_alloc();
    const auto fail = [&](const std::string& why) {
        PQfinish(c);
        throw pqxx::broken_connection(why);
    };
    if (PQstatus(c) == CONNECTION_BAD) fail(HidePassword(PQerrorMessage(c), options()));
    const int timeout = ConnectTimeout(c);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout);
    for (PostgresPollingStatusType state = PGRES_POLLING_WRITING; state != PGRES_POLLING_OK;) {
        if (state == PGRES_POLLING_FAILED) fail(HidePassword(PQerrorMessage(c), options()));
        pollfd socket{PQsocket(c),
                      static_cast<short>(state == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
        for (;;) {
            const int ready = poll(&socket, 1, kConnectTickMs);
            if (ready > 0 || (ready < 0 && errno != EINTR)) break;
            if (interrupt_ && interrupt_->Cancelled()) fail("подключение к базе данных прервано");
            // Non-blocking, libpq leaves connect_timeout to its caller.
            if (timeout > 0 && std::chrono::steady_clock::now() >= deadline)
                fail("сервер базы данных не ответил за " + std::to_string(timeout) +
                     " с (connect_timeout)");
        }
        state = PQconnectPoll(c);
    }
    if (interrupt_) interrupt_->Attach(c);
    return c;
}

pqxx::connectionpolicy::handle TInterruptibleConnect::do_disconnect(handle connection) noexcept {
    if (interrupt_) interrupt_->Detach();
    return pqxx::connectionpolicy::do_disconnect(connection);
}

TDbConnection::TDbConnection(const std::string& connInfo, TDbInterrupt* interrupt)
    : pqxx::connection_base(policy_), policy_(connInfo, interrupt) {
    init();
}

TDbConnection::~TDbConnection() {
    close();
}
