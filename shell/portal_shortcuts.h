#pragma once
// Global shortcuts through the desktop portal, for Wayland, where no program may grab keys: a
// session with the portal, the hotkeys bound in it with the Shortcut setting as the preferred
// trigger (the desktop may ask the user, who decides), and the portal's Activated signal.
#include <cstdint>
#include <functional>
#include <map>

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include "korinbo/shortcut.h"

namespace korinbo {

class PortalShortcuts : public QObject {
  Q_OBJECT

 public:
  enum class State {
    kProbing,      // asking the portal whether it has global shortcuts
    kAvailable,
    kUnavailable,  // no portal, or one without global shortcuts
  };

  // Tells the portal the program's desktop entry id, then asks for its global shortcuts.
  PortalShortcuts(QDBusConnection bus, const QString& app_id, QObject* parent = nullptr);
  ~PortalShortcuts() override;
  PortalShortcuts(const PortalShortcuts&) = delete;
  PortalShortcuts& operator=(const PortalShortcuts&) = delete;

  State state() const { return state_; }
  // The combination wanted under the identifier; 0 withdraws it. The same value again changes
  // nothing; another one is bound in a new session, since the portal binds a session only once.
  void Bind(int id, TShortCut shortcut);

 signals:
  void Activated(int id);
  void StateChanged(korinbo::PortalShortcuts::State state);

 private slots:
  void OnActivated(const QDBusObjectPath& session, const QString& shortcut_id, qulonglong timestamp,
                   const QVariantMap& options);

 private:
  void SetState(State state);
  void StartSession();
  void BindInSession(const QString& session, unsigned generation);
  // Calls a portal method whose answer comes as the Response signal of a request object; the
  // signal is watched on the predicted path before the call, so that it cannot be missed.
  void CallWithResponse(const QString& method, QVariantList arguments, QVariantMap options,
                        std::function<void(unsigned response, const QVariantMap& results)> on_response);
  void CloseSession();

  QDBusConnection bus_;
  State state_ = State::kProbing;
  std::map<int, TShortCut> wanted_;
  std::map<int, TShortCut> bound_;
  // What the last session was made for: a user who declined the desktop's dialog is not asked
  // again at every showing, only for another combination.
  std::map<int, TShortCut> tried_;
  QString session_;
  unsigned generation_ = 0;  // a new session makes the answers of the earlier ones stale
  bool busy_ = false;        // a session is being made and bound
  unsigned next_token_ = 0;
};

// The shortcut as the portal's trigger text ("CTRL+ALT+k"); empty for a key without a name.
QString PortalTrigger(TShortCut shortcut);

}  // namespace korinbo
