#pragma once
// The whole program: the main window with its tray residency and global hotkey, the settings
// dialog, and the background check of the favourites with its marks in the tree, its count in the
// tray icon's tooltip and its desktop notifications, wired together. main() makes one; tests make
// one per case.
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include <QDBusConnection>

#include "auto_check.h"
#include "desktop_notifier.h"
#include "korinbo/site_health.h"

namespace korinbo {

class GlobalHotKey;
class MainWindow;
class SettingsDialog;
class SiteHealthMarks;
class TrayResidency;

class Program {
 public:
  // Creates the main window (which reads the settings file); the settings dialog is made when
  // first opened.
  // Notifications go to the notification service on `notification_bus`.
  Program(const std::filesystem::path& start_dir, const std::filesystem::path& settings_file,
          QDBusConnection notification_bus = DesktopSessionBus());
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // The first showing of the main window.
  void Start();
  // Requests of a later start for the same start directory: the window (or the settings dialog
  // standing in for it) brought forward, from the tray too; or hidden and back as the hotkey does.
  void BringForward();
  void Toggle();

  MainWindow& window() { return *window_; }
  TrayResidency& tray() { return *tray_; }
  GlobalHotKey& hotkey() { return *hotkey_; }
  // The settings dialog, made on the first call.
  SettingsDialog& dialog();
  AutoCheck& auto_check() { return *auto_check_; }
  SiteHealth& health() { return health_; }

  // The background check's job: the favourites with the settings of this moment, or nullopt while
  // a fetch runs or the settings dialog or a modal box is open.
  std::optional<AutoCheck::Job> CheckJob();
  // A click on the notification: the window back (from the tray too), and a fetch of the first
  // favourite with new headlines.
  void OpenNews();

 private:
  bool DialogShown() const;
  void RefreshMarks();
  void Checked(const std::vector<AutoCheck::Fresh>& fresh);

  SiteHealth health_;
  std::unique_ptr<MainWindow> window_;
  GlobalHotKey* hotkey_ = nullptr;  // a child of the main window
  std::unique_ptr<TrayResidency> tray_;
  std::unique_ptr<SettingsDialog> dialog_;
  std::unique_ptr<SiteHealthMarks> marks_;
  std::unique_ptr<DesktopNotifier> notifier_;
  std::unique_ptr<AutoCheck> auto_check_;
};

}  // namespace korinbo
