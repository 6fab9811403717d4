// Connections to the database that another thread can end: the connecting
// is abandoned and the running statement cancelled, whatever the server
// does, so that a stop never waits on the server.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include <pqxx/connection>

// Shared by the thread that uses a connection and one that may end its
// waiting.
class TDbInterrupt {
  public:
    TDbInterrupt() = default;
    ~TDbInterrupt();
    TDbInterrupt(const TDbInterrupt&) = delete;
    TDbInterrupt& operator=(const TDbInterrupt&) = delete;

    // Abandons a connect in progress (and any begun until Reset) and asks
    // the server to cancel the running statement. Returns at once: libpq's
    // cancel request, which waits for the server, runs on a thread of its
    // own.
    void Cancel();
    // Shuts the connection's socket down, for a server that does not act on
    // the cancel request: whatever waits on it fails at once.
    void Sever();
    bool Cancelled() const { return cancelled_; }
    void Reset() { cancelled_ = false; }

    // For the connection: what Cancel and Sever act on while it is open.
    void Attach(pqxx::connectionpolicy::handle connection);
    void Detach();

  private:
    std::mutex mutex_;
    std::shared_ptr<void> cancel_;  // libpq's PGcancel of the open connection
    int socket_ = -1;
    std::atomic<bool> cancelled_{false};
};

// Connects with PQconnectStart and PQconnectPoll, watching interrupt.
class TInterruptibleConnect : public pqxx::connectionpolicy {
  public:
    TInterruptibleConnect(const std::string& connInfo, TDbInterrupt* interrupt)
        : pqxx::connectionpolicy(connInfo), interrupt_(interrupt) {}
    handle do_startconnect(handle connection) override;
    handle do_disconnect(handle connection) noexcept override;

  private:
    TDbInterrupt* interrupt_;
};

// A pqxx connection made with libpq's non-blocking connect, which ends when
// interrupt is cancelled or connect_timeout passes. A failure throws
// pqxx::broken_connection with a text that holds no password (see
// CheckConnInfo and HidePassword).
class TDbConnection : public pqxx::connection_base {
  public:
    explicit TDbConnection(const std::string& connInfo, TDbInterrupt* interrupt = nullptr);
    ~TDbConnection();
    TDbConnection(const TDbConnection&) = delete;
    TDbConnection& operator=(const TDbConnection&) = delete;

  private:
    // Made after the base, which only keeps a reference to it, as pqxx's
    // own connection classes do.
    TInterruptibleConnect policy_;
};
