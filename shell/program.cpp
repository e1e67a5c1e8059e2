#include "program.h"

#include <QAction>
#include <QApplication>
#include <QStringList>
#include <QTimer>
#include <QTreeWidget>

#include "desktop_notifier.h"
#include "global_hotkey.h"
#include "hotkey_note.h"
#include "korinbo/site_definition.h"
#include "korinbo/site_tree.h"
#include "main_window.h"
#include "qt_text.h"
#include "settings_dialog.h"
#include "site_folder_guide.h"
#include "site_health_marks.h"
#include "tray_residency.h"

namespace korinbo {

namespace {

constexpr int kNotifiedLines = 5;

void ConfigureFromSettings(AutoCheck& auto_check, const Settings& settings) {
  auto_check.Configure(settings.AutoCheck == "True", settings.AutoCheckMinutes);
}

// The site's name in a notification: "毎日" for "国内_毎日.txt".
QString SiteName(std::string_view file_name) {
  const std::string_view base = file_name.substr(0, file_name.size() - std::string_view(".txt").size());
  const SiteFileName split = SplitSiteFileName(base);
  return ToQString(split.site.empty() ? base : split.site);
}

}  // namespace

Program::Program(const std::filesystem::path& start_dir, const std::filesystem::path& settings_file,
                 QDBusConnection notification_bus)
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
    return tray_->HandleSystemCommand(window.settings().TaskWay.mode(), command == MainWindow::TitleBarCommand::kMinimise
                                                                      ? SystemCommand::kMinimise
                                                                      : SystemCommand::kClose);
  });
  window.SetClosingHook([this] {
    tray_->FormClose();
    // Closing ends the program also when the window was hidden in the tray, where no visible
    // window is left to end the event loop by closing.
    QTimer::singleShot(0, QCoreApplication::instance(), [] { QCoreApplication::quit(); });
  });

  QObject::connect(window.settings_action(), &QAction::triggered, &window, [this] { dialog().N10Click(); });

  window.headline_fetch().SetSiteHealth(&health_);
  marks_ = std::make_unique<SiteHealthMarks>(window.site_tree(), health_);
  QObject::connect(&window, &MainWindow::SiteTreeChanged, &window, [this] { RefreshMarks(); });
  QObject::connect(&window, &MainWindow::FetchEnded, &window, [this] { RefreshMarks(); });
  notifier_ = std::make_unique<DesktopNotifier>(std::move(notification_bus));
  notifier_->SetOnActivated([this] { OpenNews(); });
  auto_check_ = std::make_unique<AutoCheck>(
      health_, [this] { return CheckJob(); }, [this](const std::vector<AutoCheck::Fresh>& fresh) { Checked(fresh); });
  ConfigureFromSettings(*auto_check_, window.settings());
}

Program::~Program() {
  // A running check ends first. Then the dialog, the tray, and the window (which writes the
  // settings and favourites).
  auto_check_.reset();
  notifier_.reset();
  marks_.reset();
  dialog_.reset();
  tray_.reset();
  window_.reset();
}

void Program::Start() { window_->RunShowing(); }

SettingsDialog& Program::dialog() {
  if (dialog_) return *dialog_;
  MainWindow& window = *window_;
  dialog_ = std::make_unique<SettingsDialog>(
      window.settings(), [&window] { window.hide(); },
      [this, &window] {
        ConfigureFromSettings(*auto_check_, window.settings());
        window.RunShowing();
      });
  new HotkeyNote(*hotkey_, dialog_->group_box2());
  return *dialog_;
}

bool Program::DialogShown() const { return dialog_ && dialog_->isVisible(); }

std::optional<AutoCheck::Job> Program::CheckJob() {
  MainWindow& window = *window_;
  if (window.fetch_running() || DialogShown() || QApplication::activeModalWidget() != nullptr) {
    return std::nullopt;
  }
  AutoCheck::Job job;
  job.start_dir = window.start_directory();
  if (const QTreeWidgetItem* favourites = window.site_tree()->topLevelItem(0)) {
    for (int i = 0; i < favourites->childCount(); ++i) {
      job.file_names.push_back(SiteFileNameOf(FavouritesRootText(), MainWindow::ItemText(favourites->child(i))));
    }
  }
  job.options.use_proxy = window.settings().UseProxy.mode();
  job.options.proxy_name = window.settings().ProxyName;
  return job;
}

void Program::RefreshMarks() {
  if (!marks_) return;
  marks_->Apply();
  tray_->SetNewCount(marks_->FavouritesNewCount());
}

void Program::Checked(const std::vector<AutoCheck::Fresh>& fresh) {
  RefreshMarks();
  if (fresh.empty()) return;
  QStringList lines;
  for (const AutoCheck::Fresh& headline : fresh) {
    if (lines.size() == kNotifiedLines) break;
    lines << SiteName(headline.file_name) + QStringLiteral(": ") + ToQString(headline.headline.caption);
  }
  notifier_->Notify(QString::fromUtf8("新着 %1件").arg(fresh.size()), lines.join(QLatin1Char('\n')));
}

void Program::OpenNews() {
  MainWindow& window = *window_;
  BringForward();
  // The dialog stands in for the window until it is closed.
  if (DialogShown()) return;
  // Out of the notification service's signal, so that the fetch runs from the event loop.
  QTimer::singleShot(0, &window, [this, &window] {
    QTreeWidgetItem* site = marks_->FirstFavouriteWithNews();
    if (site == nullptr || window.fetch_running()) return;
    window.site_tree()->setCurrentItem(site);
    window.FetchSelectedSiteCommand();
  });
}

void Program::BringForward() {
  if (tray_->HiddenInTray()) {
    tray_->RestoreFromTray();
    return;
  }
  QWidget* shown = DialogShown() ? static_cast<QWidget*>(dialog_.get()) : window_.get();
  if (shown->isMinimized()) shown->showNormal();
  shown->raise();
  shown->activateWindow();
}

void Program::Toggle() { hotkey_->HotKeyPressed(1); }

}  // namespace korinbo
