#pragma once
// A private session bus for one test with a stub notification service on it: dbus-daemon and
// python3-dbusmock's notification template. The stub records every call and emits the signals a
// test asks for through its org.freedesktop.DBus.Mock interface.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QTest>
#include <QVariantList>

#include <optional>
#include <string>

#include "korinbo/test/child_process.h"
#include "korinbo/test/scoped_env.h"
#include "korinbo/test/temp_dir.h"

namespace korinbo::test {

class PrivateNotificationBus {
 public:
  static constexpr const char* kConnectionName = "korinbo-test-private-bus";

  // Empty address() when the bus or the stub did not come up.
  PrivateNotificationBus() {
    dir_.Write("bus.conf",
               "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>session</type><listen>unix:dir=" + dir_.path().string() +
                   "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                   "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                   "<allow own=\"*\"/></policy></busconfig>\n");
    // Their standard error goes to the pipe as well: a program left behind must not hold the test's.
    daemon_ = ChildProcess::Start({"/usr/bin/dbus-daemon", "--config-file=" + (dir_.path() / "bus.conf").string(),
                                   "--nofork", "--print-address=1"},
                                  true);
    if (!daemon_) return;
    std::optional<std::string> address;
    do {
      address = daemon_->ReadLine(std::chrono::seconds(10));
    } while (address && !address->starts_with("unix:"));
    if (!address) return;
    {
      ScopedEnv env;
      env.Set("DBUS_SESSION_BUS_ADDRESS", *address);
      stub_ = ChildProcess::Start({"/usr/bin/python3", "-m", "dbusmock", "--template", "notification_daemon"}, true);
    }
    bus_ = QDBusConnection::connectToBus(QString::fromStdString(*address), QString::fromLatin1(kConnectionName));
    const QDeadlineTimer deadline(10000);
    while (bus_.isConnected() && !deadline.hasExpired()) {
      if (bus_.interface()->isServiceRegistered(Service())) {
        address_ = *address;
        return;
      }
      QTest::qWait(20);
    }
  }
  ~PrivateNotificationBus() {
    bus_ = QDBusConnection(QString());
    QDBusConnection::disconnectFromBus(QString::fromLatin1(kConnectionName));
  }
  PrivateNotificationBus(const PrivateNotificationBus&) = delete;
  PrivateNotificationBus& operator=(const PrivateNotificationBus&) = delete;

  const std::string& address() const { return address_; }
  QDBusConnection bus() const { return bus_; }
  static QString Service() { return QStringLiteral("org.freedesktop.Notifications"); }

  // The arguments of every Notify call the stub received, oldest first.
  QList<QVariantList> NotifyCalls() const {
    QList<QVariantList> calls;
    const QDBusMessage reply = Mock(QStringLiteral("GetMethodCalls"), {QStringLiteral("Notify")});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return calls;
    const QDBusArgument list = reply.arguments().at(0).value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
      qulonglong time = 0;
      QVariantList args;
      list.beginStructure();
      list >> time >> args;
      list.endStructure();
      calls << args;
    }
    list.endArray();
    return calls;
  }

  // The service's signals, as a desktop sends them when the user acts on a notification.
  void EmitActionInvoked(uint id, const QString& action) const {
    Mock(QStringLiteral("EmitSignal"), {Service(), QStringLiteral("ActionInvoked"), QStringLiteral("us"),
                                        QVariant::fromValue(QVariantList{id, action})});
  }
  void EmitNotificationClosed(uint id) const {
    Mock(QStringLiteral("EmitSignal"), {Service(), QStringLiteral("NotificationClosed"), QStringLiteral("uu"),
                                        QVariant::fromValue(QVariantList{id, 2u})});
  }

 private:
  QDBusMessage Mock(const QString& method, const QVariantList& args) const {
    QDBusMessage call = QDBusMessage::createMethodCall(Service(), QStringLiteral("/org/freedesktop/Notifications"),
                                                       QStringLiteral("org.freedesktop.DBus.Mock"), method);
    call.setArguments(args);
    return bus_.call(call);
  }

  TempDir dir_;
  std::optional<ChildProcess> daemon_;
  std::optional<ChildProcess> stub_;
  QDBusConnection bus_{QString()};
  std::string address_;
};

}  // namespace korinbo::test
