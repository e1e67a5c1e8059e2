#include "program.h"

#include <QAction>
#include <QCoreApplication>
#include <QTimer>

#include "global_hotkey.h"
#include "hotkey_note.h"
#include "main_window.h"
#include "settings_dialog.h"
#include "site_folder_guide.h"
#include "tray_residency.h"

namespace korinbo {

Program::Program(const std::filesystem::path& start_dir, const std::filesystem::path& settings_file)
    : window_(std::make_unique<MainWindow>(start_dir, settings_file)) {
  MainWindow& window = *window_;
  window.setWindowIcon(KorinboIcon());
  new SiteFolderGuide(window.headline_list(), window.site_tree(), start_dir);

  hotkey_ = new GlobalHotKey(&window);
  tray_ = std::make_unique<TrayResidency>(
      &window, [&window] { window.RunShowing(); }, [&window] { window.close(); });
  hotkey_->SetOnHotKey([this](GlobalHotKey&, int index) { tray_->HotKeyEvent(index); });
  // Every showing registers the hotkey first, under identifier 1.
  window.SetHotkeyRegistration([this, &window] { hotkey_->RegisterShortCut(1, window.settings().Shortcut); });
  window.SetTitleBarHook([this, &window](MainWindow::TitleBarCommand command) {
    return tray_->HandleSystemCommand(window.settings().TaskWay, command == MainWindow::TitleBarCommand::kMinimise
                                                                      ? SystemCommand::kMinimise
                                                                      : SystemCommand::kClose);
  });
  window.SetClosingHook([this] {
    tray_->FormClose();
    // Closing ends the program also when the window was hidden in the tray, where no visible
    // window is left to end the event loop by closing.
    QTimer::singleShot(0, QCoreApplication::instance(), [] { QCoreApplication::quit(); });
  });

  dialog_ = std::make_unique<SettingsDialog>(
      window.settings(), [&window] { window.hide(); }, [&window] { window.RunShowing(); });
  new HotkeyNote(*hotkey_, dialog_->group_box2());
  QObject::connect(window.settings_action(), &QAction::triggered, dialog_.get(), [this] { dialog_->N10Click(); });
}

Program::~Program() {
  // The dialog first, then the tray, then the window (which writes the settings and favourites).
  dialog_.reset();
  tray_.reset();
  window_.reset();
}

void Program::Start() { window_->RunShowing(); }

void Program::BringForward() {
  if (tray_->HiddenInTray()) {
    tray_->RestoreFromTray();
    return;
  }
  QWidget* shown = dialog_->isVisible() ? static_cast<QWidget*>(dialog_.get()) : window_.get();
  if (shown->isMinimized()) shown->showNormal();
  shown->raise();
  shown->activateWindow();
}

void Program::Toggle() { hotkey_->HotKeyPressed(1); }

}  // namespace korinbo
