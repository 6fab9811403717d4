// The desktop sink against a D-Bus daemon of the test's own, on which the
// test itself is the notification service: what a desktop would show.
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QThread>
#include <QVariantMap>

#include "alerts/desktop_sink.h"

namespace {

// Qt's D-Bus wants an application object, made in the main thread before
// any test and gone before main returns.
class TQtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { app_ = std::make_unique<QCoreApplication>(argc_, argv_); }
    void TearDown() override { app_.reset(); }

  private:
    int argc_ = 1;
    char name_[32] = "tp_alerts_sink_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QCoreApplication> app_;
};
[[maybe_unused]] ::testing::Environment* const g_qt =
    ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

// A notification as the service received it.
struct TShown {
    std::string App, Summary, Body;
    int Urgency = -1;
    bool UrgencyByte = false;  // sent as a D-Bus byte, as the standard has it
};

// org.freedesktop.Notifications of the test: takes every notification,
// and says it reads markup in the body.
class TNotificationService : public QDBusVirtualObject {
  public:
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() == "GetCapabilities") {
            connection.send(message.createReply(QStringList{"body", "body-markup"}));
            return true;
        }
        if (message.member() != "Notify") return false;
        const QList<QVariant> args = message.arguments();
        TShown shown;
        shown.App = args.value(0).toString().toStdString();
        shown.Summary = args.value(3).toString().toStdString();
        shown.Body = args.value(4).toString().toStdString();
        const QVariantMap hints = qdbus_cast<QVariantMap>(args.value(6));
        const QVariant urgency = hints.value("urgency");
        shown.Urgency = urgency.isValid() ? urgency.toInt() : -1;
        shown.UrgencyByte = urgency.metaType().id() == QMetaType::UChar;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            shown_.push_back(shown);
        }
        connection.send(message.createReply(QVariant::fromValue(7u)));
        return true;
    }
    QString introspect(const QString&) const override { return {}; }
    std::vector<TShown> Shown() {
        std::lock_guard<std::mutex> lock(mutex_);
        return shown_;
    }

  private:
    std::mutex mutex_;
    std::vector<TShown> shown_;
};

class DesktopSink : public ::testing::Test {
  protected:
    void SetUp() override {
        daemon_.start(DBUS_DAEMON_PROGRAM, {"--session", "--print-address", "--nofork"});
        ASSERT_TRUE(daemon_.waitForStarted(10000));
        while (!daemon_.canReadLine())
            ASSERT_TRUE(daemon_.waitForReadyRead(10000)) << "dbus-daemon gave no address";
        address_ = daemon_.readLine().trimmed().toStdString();
        ASSERT_FALSE(address_.empty());
        // The service answers on a thread of its own: the sink's calls
        // block the test's.
        thread_.start();
        service_.moveToThread(&thread_);
    }
    void TearDown() override {
        if (!serviceBus_.isEmpty()) QDBusConnection::disconnectFromBus(serviceBus_);
        thread_.quit();
        thread_.wait();
        daemon_.kill();
        daemon_.waitForFinished(10000);
    }
    // Puts the service on the bus under its standard name.
    void OfferService() {
        serviceBus_ = "notification-service";
        QDBusConnection bus =
            QDBusConnection::connectToBus(QString::fromStdString(address_), serviceBus_);
        ASSERT_TRUE(bus.isConnected()) << bus.lastError().message().toStdString();
        ASSERT_TRUE(bus.registerVirtualObject("/org/freedesktop/Notifications", &service_));
        ASSERT_TRUE(bus.registerService("org.freedesktop.Notifications"));
    }

    QProcess daemon_;
    std::string address_;
    QThread thread_;
    TNotificationService service_;
    QString serviceBus_;
};

TAlert Alert(TAlertKind kind, bool cleared, std::string text, std::string callLine = {}) {
    TAlert alert;
    alert.Key = "k";
    alert.Kind = kind;
    alert.Cleared = cleared;
    alert.Site = "Kiev-A";
    alert.Text = std::move(text);
    alert.CallLine = std::move(callLine);
    alert.At = 1772704800;
    return alert;
}

TEST_F(DesktopSink, ShowsEachAlertWithItsWordsAndUrgency) {
    TDesktopSink sink(address_);
    const TAlert cost = Alert(TAlertKind::Cost, false, "Звонок стоил 512,00 руб. <от 500>",
                              "05-03-2026 10:00:00   00:02:05   101(2101)   3   84951234567");
    // A bus without the service: told, and tried again once it is there.
    const std::string refused = sink.Deliver(cost);
    EXPECT_NE(refused.find("нет службы уведомлений"), std::string::npos) << refused;
    OfferService();
    EXPECT_EQ(sink.Deliver(cost), "");
    EXPECT_EQ(sink.Deliver(Alert(TAlertKind::Buffer, false, "Буфер АТС заполнен на 85%")), "");
    EXPECT_EQ(sink.Deliver(Alert(TAlertKind::Buffer, true, "Буфер АТС заполнен на 20%")), "");
    // The program delivers from a thread of its own.
    std::string fromThread = "not run";
    std::thread([&] {
        fromThread = sink.Deliver(Alert(TAlertKind::Silent, false, "АТС молчит 10 мин"));
    }).join();
    EXPECT_EQ(fromThread, "");

    const std::vector<TShown> shown = service_.Shown();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0].App, "Tallyphon");
    EXPECT_EQ(shown[0].Summary, "Дорогой звонок");
    // The service reads markup: the text's "<" stays text.
    EXPECT_EQ(shown[0].Body,
              "Звонок стоил 512,00 руб. &lt;от 500&gt;\n"
              "05-03-2026 10:00:00   00:02:05   101(2101)   3   84951234567");
    EXPECT_EQ(shown[0].Urgency, 1);
    EXPECT_TRUE(shown[0].UrgencyByte);
    EXPECT_EQ(shown[1].Summary, "Буфер АТС заполняется");
    EXPECT_EQ(shown[1].Body, "Буфер АТС заполнен на 85%");
    EXPECT_EQ(shown[1].Urgency, 2);
    EXPECT_EQ(shown[2].Summary, "Буфер АТС заполняется — снято");
    EXPECT_EQ(shown[2].Urgency, 1);
    EXPECT_EQ(shown[3].Summary, "АТС не отвечает");
    EXPECT_EQ(shown[3].Urgency, 2);

    // The bus gone, the sink says so rather than waiting.
    daemon_.kill();
    ASSERT_TRUE(daemon_.waitForFinished(10000));
    const std::string gone = sink.Deliver(cost);
    EXPECT_NE(gone, "");
    EXPECT_EQ(service_.Shown().size(), 4u);
}

TEST_F(DesktopSink, NoSessionBusIsTold) {
    const std::string saved = std::getenv("DBUS_SESSION_BUS_ADDRESS")
                                  ? std::getenv("DBUS_SESSION_BUS_ADDRESS")
                                  : "",
                      runtime =
                          std::getenv("XDG_RUNTIME_DIR") ? std::getenv("XDG_RUNTIME_DIR") : "";
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    unsetenv("XDG_RUNTIME_DIR");
    const std::string none = TDesktopSink().Deliver(Alert(TAlertKind::Held, false, "x"));
    if (!saved.empty()) setenv("DBUS_SESSION_BUS_ADDRESS", saved.c_str(), 1);
    if (!runtime.empty()) setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    EXPECT_NE(none.find("нет сеансовой шины D-Bus"), std::string::npos) << none;
    // A bus whose socket is not there.
    const std::string unreachable = TDesktopSink("unix:path=/nonexistent/tallyphon-bus")
                                        .Deliver(Alert(TAlertKind::Held, false, "x"));
    EXPECT_NE(unreachable.find("сеансовая шина D-Bus недоступна"), std::string::npos)
        << unreachable;
}

}  // namespace
