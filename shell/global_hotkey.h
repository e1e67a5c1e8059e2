#pragma once
// A system-wide hotkey: a key combination that reaches the program whichever window has the focus.
// On X11 it is a key grab on the root window through the connection Qt already holds; on Wayland
// it is bound through the desktop portal's global shortcuts where the portal has them; elsewhere
// (the offscreen platform, Wayland without them) every registration fails.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include "korinbo/shortcut.h"

class QWindow;

namespace korinbo {

class PortalShortcuts;

class GlobalHotKey : public QObject, public QAbstractNativeEventFilter {
  Q_OBJECT

 public:
  using HotKeyHandler = std::function<void(GlobalHotKey& sender, int index)>;
  // Receives the Shift_JIS text of a failure raised by the handler.
  using ErrorReport = std::function<void(const std::string& text)>;

  // The owner is the window brought to the front before the handler runs; the component is its
  // child and goes with it.
  explicit GlobalHotKey(QWidget* owner);
  ~GlobalHotKey() override;
  GlobalHotKey(const GlobalHotKey&) = delete;
  GlobalHotKey& operator=(const GlobalHotKey&) = delete;

  // Bring the owner to the front before the handler runs (true from construction).
  bool Activate() const { return activate_; }
  void SetActivate(bool activate) { activate_ = activate; }

  const HotKeyHandler& OnHotKey() const { return on_hot_key_; }
  void SetOnHotKey(HotKeyHandler handler) { on_hot_key_ = std::move(handler); }

  // Replaces the error message box, for the program's own report or for tests.
  void SetErrorReport(ErrorReport report) { error_report_ = std::move(report); }

  // Grabs the combination under the identifier; true when it is held. A different value under an
  // identifier already in use withdraws the earlier combination first, whether or not the new one
  // can be had; the same value again changes nothing. Fails for a combination another client
  // holds, one held under another identifier, a key without an X key, and without X11.
  bool RegisterShortCut(int id, TShortCut shortcut);

  // False where no registration can ever work (no X11, no portal with global shortcuts); true
  // while the portal is still being asked.
  bool Available() const;

  // A registered combination was pressed. With a handler: raises and activates the owner when
  // Activate, then runs the handler; a failure it raises goes to the error report. Without a
  // handler nothing happens.
  virtual void HotKeyPressed(int index);

  bool nativeEventFilter(const QByteArray& event_type, void* message, qintptr* result) override;

 signals:
  void AvailabilityChanged();

 private:
  struct Grab;
  void Ungrab(const Grab& grab);
  void ReportError(const std::string& text);
  // Asks the server for the time through a property change on the receiver window.
  bool RequestTimestamp();

  QPointer<QWidget> owner_;
  bool activate_ = true;
  HotKeyHandler on_hot_key_;
  ErrorReport error_report_;
  // By identifier; a failed registration leaves no entry.
  std::map<int, std::unique_ptr<Grab>> grabs_;
  // A never-shown window of our own. A press goes to the handler only after a property change on
  // it has come back, which hands Qt a current server time: the owner's activation then counts as
  // following the key press (X refuses a focus change older than the last one).
  std::unique_ptr<QWindow> receiver_;
  std::uint32_t timestamp_atom_ = 0;
  std::deque<int> waiting_;  // the pressed identifiers whose property change is on its way
  PortalShortcuts* portal_ = nullptr;  // a child, on Wayland
};

// The X keysym of a Windows virtual-key code (US layout for punctuation); 0 for a code without one.
unsigned VirtualKeyToKeysym(unsigned key_code);

}  // namespace korinbo
