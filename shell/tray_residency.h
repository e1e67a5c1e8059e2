#pragma once
// The main window's stay in the notification area: the tray icon, its menu and the two flags that
// say where the window is. The window itself is reached through callbacks.
#include <functional>
#include <memory>

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>

#include "korinbo/settings.h"

class QAction;
class QMenu;

namespace korinbo {

// The program's icon, for the tray and the window, drawn from its SVG at the usual sizes.
QIcon KorinboIcon();

// The title-bar commands that TaskWay may turn into hiding to the tray.
enum class SystemCommand { kMinimise, kClose, kOther };

// True when the command hides the window to the tray: minimise with "Min", close with "Stop";
// otherwise the command takes its default handling.
bool HidesToTray(TaskWayMode task_way, SystemCommand command);

class TrayResidency : public QObject {
  Q_OBJECT

 public:
  // run_showing: a showing of the main window (shown, the showing steps, raised, active);
  // close_main_window: closes it, which ends the program. Without run_showing the window is only
  // shown, raised and activated.
  TrayResidency(QWidget* main_window, std::function<void()> run_showing,
                std::function<void()> close_main_window, QObject* parent = nullptr);
  ~TrayResidency() override;
  TrayResidency(const TrayResidency&) = delete;
  TrayResidency& operator=(const TrayResidency&) = delete;

  bool TrayIconShown() const { return tray_icon_shown_; }
  bool HiddenInTray() const { return hidden_in_tray_; }

  void AddTrayIcon();
  void DeleteTrayIcon();
  // Where the desktop has no notification area the window is minimised instead of hidden, so that
  // the taskbar still leads back to it; the flags are set the same.
  void HideToTray();
  void RestoreFromTray();

  // The tray menu's "元に戻す" and "閉じる".
  void Undo1Click();
  void Exit2Click();
  // The main window is being closed.
  void FormClose();
  // The global hotkey (the index is not examined): back from the tray, or into it.
  void HotKeyEvent(int index);
  // A title-bar command under the TaskWay given: true when it was handled here by hiding to the
  // tray, false when the window should take its default handling.
  bool HandleSystemCommand(TaskWayMode task_way, SystemCommand command);

  // The icon's tooltip: "Korinbo（新着 N件）" while the background check counts N > 0 new
  // headlines, else "Korinbo".
  void SetNewCount(int count);

  // A click on the icon: the left button restores, the right one pops up the menu at the pointer.
  void TrayIconActivated(QSystemTrayIcon::ActivationReason reason);

  QSystemTrayIcon* tray_icon() const { return tray_icon_.get(); }
  QMenu* tray_menu() const { return tray_menu_.get(); }

 private:
  QPointer<QWidget> main_window_;
  std::function<void()> run_showing_;
  std::function<void()> close_main_window_;
  bool tray_icon_shown_ = false;
  bool hidden_in_tray_ = false;
  std::unique_ptr<QMenu> tray_menu_;
  std::unique_ptr<QSystemTrayIcon> tray_icon_;
};

}  // namespace korinbo
