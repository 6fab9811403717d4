// Alerts on the desktop: a notification through the freedesktop.org
// notification service (org.freedesktop.Notifications) on the session's
// D-Bus, which every Linux desktop runs.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include <QString>

#include "alerts/alert.h"

// What the notification of an alert shows.
struct TNotification {
    std::string Summary;  // the kind's title, "… — снято" when cleared
    std::string Body;     // the alert's text, then the call's line when there is one
    // The notification's urgency hint: 1 normal, 2 critical (the exchange's
    // buffer filling, the reading held or the exchange silent, as raised).
    uint8_t Urgency = 1;
};
TNotification NotificationOf(const TAlert& alert);

class TDesktopSink : public IAlertSink {
  public:
    // busAddress is the D-Bus address of the session bus; empty: the
    // session's own, DBUS_SESSION_BUS_ADDRESS or else $XDG_RUNTIME_DIR/bus,
    // looked for anew whenever no connection is open. Each call on the bus
    // waits timeout at most. Needs a QCoreApplication, made before the
    // first Deliver and gone only after the sink (Qt's D-Bus runs on a
    // thread of its own that the application's object stops).
    explicit TDesktopSink(std::string busAddress = {},
                          std::chrono::milliseconds timeout = std::chrono::seconds(5));
    ~TDesktopSink() override;
    TDesktopSink(const TDesktopSink&) = delete;
    TDesktopSink& operator=(const TDesktopSink&) = delete;

    // Shows the alert as the app "Tallyphon"; empty when the service took
    // it, else why not (UTF-8, one line): no session bus, the bus out of
    // reach, no notification service on it, or its error. A connection
    // the bus closed is opened again on the next call. Safe to call from
    // any thread.
    std::string Deliver(const TAlert& alert) override;

  private:
    // Opens the connection unless open; empty when open, else why not.
    std::string Connect();
    void Disconnect();

    std::mutex mutex_;
    const std::string busAddress_;
    const int timeoutMs_;
    QString name_;         // Qt's name of the connection while one is open
    bool markup_ = false;  // the service reads the body as markup
};
