#pragma once
// The whole program: the main window with its tray residency and global hotkey, and the settings
// dialog, wired together. main() makes one; tests make one per case.
#include <filesystem>
#include <memory>

namespace korinbo {

class GlobalHotKey;
class MainWindow;
class SettingsDialog;
class TrayResidency;

class Program {
 public:
  // Creates the main window (which reads the settings file), then the settings dialog, hidden.
  Program(const std::filesystem::path& start_dir, const std::filesystem::path& settings_file);
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
  SettingsDialog& dialog() { return *dialog_; }

 private:
  std::unique_ptr<MainWindow> window_;
  GlobalHotKey* hotkey_ = nullptr;  // a child of the main window
  std::unique_ptr<TrayResidency> tray_;
  std::unique_ptr<SettingsDialog> dialog_;
};

}  // namespace korinbo
