#include "alerts/desktop_sink.h"

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include "alerts/alert_words.h"

namespace {

const char* const kService = "org.freedesktop.Notifications";
const char* const kPath = "/org/freedesktop/Notifications";
const char* const kInterface = "org.freedesktop.Notifications";

// The session bus's address as libdbus would find it, but never by
// starting a bus of its own (its autolaunch runs dbus-launch on X11).
std::string SessionBusAddress() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address) return address;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) return {};
    const std::string socket = std::string(runtime) + "/bus";
    struct stat st {};
    if (stat(socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return {};
    return "unix:path=" + socket;
}

// text with what the notification markup gives a meaning as entities.
QString Escaped(const QString& text) {
    return text.toHtmlEscaped();
}

std::string OneLine(QString text) {
    text.replace('\n', ' ').replace('\r', ' ');
    return text.trimmed().toStdString();
}

}  // namespace

TNotification NotificationOf(const TAlert& alert) {
    TNotification n;
    n.Summary = AlertKindTitle(alert.Kind);
    if (alert.Cleared) n.Summary += " — снято";
    n.Body = alert.Text;
    if (!alert.CallLine.empty()) n.Body += (n.Body.empty() ? "" : "\n") + alert.CallLine;
    const bool grave = alert.Kind == TAlertKind::Buffer || alert.Kind == TAlertKind::Held ||
                       alert.Kind == TAlertKind::Silent;
    n.Urgency = grave && !alert.Cleared ? 2 : 1;
    return n;
}

TDesktopSink::TDesktopSink(std::string busAddress, std::chrono::milliseconds timeout)
    : busAddress_(std::move(busAddress)), timeoutMs_(static_cast<int>(timeout.count())) {}

TDesktopSink::~TDesktopSink() {
    std::lock_guard<std::mutex> lock(mutex_);
    Disconnect();
}

void TDesktopSink::Disconnect() {
    if (name_.isEmpty()) return;
    QDBusConnection::disconnectFromBus(name_);
    name_.clear();
}

std::string TDesktopSink::Connect() {
    if (!name_.isEmpty() && QDBusConnection(name_).isConnected()) return {};
    Disconnect();
    const std::string address = busAddress_.empty() ? SessionBusAddress() : busAddress_;
    if (address.empty())
        return "нет сеансовой шины D-Bus (не задан DBUS_SESSION_BUS_ADDRESS): уведомления на "
               "рабочем столе не показываются";
    // Each sink has a connection of its own, whatever else the program
    // keeps open on the bus.
    static std::atomic<unsigned> serial{0};
    const QString name = QString("tallyphon-alerts-%1").arg(++serial);
    QDBusConnection connection =
        QDBusConnection::connectToBus(QString::fromStdString(address), name);
    if (!connection.isConnected()) {
        const std::string why = OneLine(connection.lastError().message());
        QDBusConnection::disconnectFromBus(name);
        return "сеансовая шина D-Bus недоступна: " + why;
    }
    name_ = name;
    // A service that reads markup in the body would take a "<" of a
    // dialled number or a text for a tag.
    QDBusMessage ask =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, "GetCapabilities");
    const QDBusMessage caps = connection.call(ask, QDBus::Block, timeoutMs_);
    markup_ = caps.type() == QDBusMessage::ReplyMessage && !caps.arguments().isEmpty() &&
              caps.arguments().first().toStringList().contains("body-markup");
    return {};
}

std::string TDesktopSink::Deliver(const TAlert& alert) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::string why = Connect(); !why.empty()) return why;
    const TNotification n = NotificationOf(alert);
    const QString body = QString::fromStdString(n.Body);
    QVariantMap hints;
    hints.insert("urgency", QVariant::fromValue<uchar>(n.Urgency));
    QDBusMessage notify = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
    notify << QString("Tallyphon") << 0u << QString() << QString::fromStdString(n.Summary)
           << (markup_ ? Escaped(body) : body) << QStringList() << hints << -1;
    QDBusConnection connection(name_);
    const QDBusMessage reply = connection.call(notify, QDBus::Block, timeoutMs_);
    if (reply.type() == QDBusMessage::ReplyMessage) return {};
    const std::string why = OneLine(reply.errorMessage());
    // The service asked again after a while may have changed (a desktop
    // logged into anew); a bus gone is connected to anew.
    Disconnect();
    if (reply.errorName() == "org.freedesktop.DBus.Error.ServiceUnknown")
        return "на рабочем столе нет службы уведомлений (" + std::string(kService) + "): " + why;
    return "служба уведомлений рабочего стола не приняла уведомление: " + why;
}
