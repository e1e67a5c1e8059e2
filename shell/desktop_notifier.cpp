#include "desktop_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace korinbo {
namespace {

QString Service() { return QStringLiteral("org.freedesktop.Notifications"); }
QString ObjectPath() { return QStringLiteral("/org/freedesktop/Notifications"); }

QDBusMessage Call(const QString& method) {
  return QDBusMessage::createMethodCall(Service(), ObjectPath(), Service(), method);
}

}  // namespace

QDBusConnection DesktopSessionBus() {
  if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return QDBusConnection(QString());
  return QDBusConnection::sessionBus();
}

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {
  if (!bus_.isConnected()) return;
  bus_.connect(Service(), ObjectPath(), Service(), QStringLiteral("ActionInvoked"), this,
               SLOT(ActionInvoked(uint, QString)));
  bus_.connect(Service(), ObjectPath(), Service(), QStringLiteral("NotificationClosed"), this,
               SLOT(NotificationClosed(uint, uint)));
}

void DesktopNotifier::Notify(const QString& summary, const QString& body) {
  if (!bus_.isConnected()) return;
  // Asked each time, so that a service started (or replaced) later is read right. Nothing here
  // waits: a slow or missing service must not hold up the window.
  auto* capabilities = new QDBusPendingCallWatcher(bus_.asyncCall(Call(QStringLiteral("GetCapabilities"))), this);
  connect(capabilities, &QDBusPendingCallWatcher::finished, this, [this, summary, body](QDBusPendingCallWatcher* call) {
    call->deleteLater();
    const QDBusPendingReply<QStringList> reply = *call;
    if (reply.isError()) return;
    const bool markup = reply.value().contains(QStringLiteral("body-markup"));
    QDBusMessage notify = Call(QStringLiteral("Notify"));
    notify << QStringLiteral("Korinbo") << shown_id_ << QString() << summary << (markup ? body.toHtmlEscaped() : body)
           << QStringList{QStringLiteral("default"), QString::fromUtf8("開く")} << QVariantMap() << -1;
    auto* sent = new QDBusPendingCallWatcher(bus_.asyncCall(notify), this);
    connect(sent, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* answer) {
      answer->deleteLater();
      const QDBusPendingReply<uint> id = *answer;
      if (!id.isError()) shown_id_ = id.value();
    });
  });
}

void DesktopNotifier::ActionInvoked(uint id, const QString& action_key) {
  if (id == 0 || id != shown_id_ || action_key != QStringLiteral("default")) return;
  if (on_activated_) on_activated_();
}

void DesktopNotifier::NotificationClosed(uint id, uint /*reason*/) {
  if (id == shown_id_) shown_id_ = 0;
}

}  // namespace korinbo
