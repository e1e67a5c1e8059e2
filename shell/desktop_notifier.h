#pragma once
// Desktop notifications through the desktop's notification service (org.freedesktop.Notifications
// on the session bus). Each notification replaces the one shown before; a click on it (its
// default action) runs a callback. Without the service nothing is shown and nothing is reported.
#include <functional>
#include <utility>

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace korinbo {

// The desktop's session bus, or a bus that is not connected where the environment names none:
// starting a bus of our own would only carry notifications that no one sees.
QDBusConnection DesktopSessionBus();

class DesktopNotifier : public QObject {
  Q_OBJECT

 public:
  // The program hands in the session bus; tests a private one.
  explicit DesktopNotifier(QDBusConnection bus, QObject* parent = nullptr);

  // Summary and body as plain text; the body is escaped where the service reads markup.
  void Notify(const QString& summary, const QString& body);
  void SetOnActivated(std::function<void()> on_activated) { on_activated_ = std::move(on_activated); }
  // The service's number for the notification on screen; 0 for none.
  uint shown_id() const { return shown_id_; }

 private slots:
  void ActionInvoked(uint id, const QString& action_key);
  void NotificationClosed(uint id, uint reason);

 private:
  QDBusConnection bus_;
  uint shown_id_ = 0;
  std::function<void()> on_activated_;
};

}  // namespace korinbo
