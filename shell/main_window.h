#pragma once
// The main window: the site tree on the left, the headline list on the right, the status bar, the
// menus and the bindings. It hands the headline fetch its facilities and owns the start-up and
// shutdown sequence (settings file, favourites file).
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <QFont>
#include <QMainWindow>
#include <QString>
#include <QUrl>

#include "fetch_window_adapter.h"
#include "korinbo/download.h"
#include "korinbo/fetch.h"
#include "korinbo/settings.h"
#include "korinbo/site_tree.h"
#include "list_images.h"

class QAction;
class QLabel;
class QMenu;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;

namespace korinbo {

class InputBlocker;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // Creation: fetch mode "single", the start directory, the title, the list images (with the
  // start directory's icon files), then the settings file and the window's placement.
  MainWindow(std::filesystem::path start_dir, std::filesystem::path settings_file, QWidget* parent = nullptr);
  // Shutdown: the settings file, then the favourites file.
  ~MainWindow() override;

  // A showing of the window (at start-up, back from the tray, back from the settings dialog):
  // the showing steps, then the window on screen, raised and active. Un-minimising and the re-show
  // that the topmost flag causes are no showings.
  void RunShowing();
  // The showing steps alone: the hotkey registration, topmost, reload, focus to the tree, fonts.
  void RunShowingSteps();
  // The settings file, then the favourites file; an error in either goes to the error box (after a
  // settings error the favourites file is left alone). Runs once; the destructor calls it.
  void Shutdown();

  // Menu commands.
  void Reload();
  void ChooseBrowser();
  void UseDefaultBrowser();
  void ChooseFont();
  void ToggleTopmost();

  // Bindings.
  void FetchSelectedSiteCommand();
  void FetchCategoryCommand();
  void OpenSelectedHeadline();

  // The site tree and its favourites. A rebuild keeps the open nodes and the selected one, matched
  // by their texts; the first one opens the tree at LastNews instead.
  void RebuildSiteTree();
  void AddFavourite();
  void RemoveFavourite();
  // Throws FileError when the favourites file cannot be written.
  void SaveFavourites();
  // SaveFavourites with its error in the error box: at shutdown, and whenever a favourite is added
  // or removed, so that the next rebuild of the tree shows the favourites as the user left them.
  void WriteFavourites();
  // The tree's context menus: the right button selects the node under the pointer (viewport
  // coordinates) and pops up the category or the site menu.
  void TreeMouseDown(Qt::MouseButton button, const QPoint& pos);

  // The window "サイト定義" (shell/site_editor.h) for the selected site's file, for a new site in
  // the selected category, or for a new site in none. After a save the favourites follow a renamed
  // file, and the tree shows and selects the site.
  void EditSelectedSite();
  void NewSiteInSelectedCategory();
  void NewSite();
  void SiteDefinitionSaved(const std::string& old_file, const std::string& new_file);

  // The process-wide settings, which the settings dialog reads and changes.
  Settings& settings() { return settings_; }
  const std::filesystem::path& start_directory() const { return start_dir_; }
  HeadlineFetch& headline_fetch() { return *fetch_; }
  // The window as the fetch sees it.
  FetchWindowAdapter& fetch_window() { return *fetch_window_; }

  // "環境設定": shown with Ctrl+Q beside it, which belongs to "終了(&X)"; nothing is connected yet.
  QAction* settings_action() const { return settings_action_; }

  // The first of the showing steps; empty until a global hotkey is wired in.
  void SetHotkeyRegistration(std::function<void()> register_hotkey) {
    register_hotkey_ = std::move(register_hotkey);
  }
  // The title bar's minimise and close, which tray residency may take over: the hook returns true
  // when it has handled the command, and the window then neither closes nor stays minimised by
  // itself. Closing from the menu is no title-bar command and always closes.
  enum class TitleBarCommand { kMinimise, kClose };
  void SetTitleBarHook(std::function<bool(TitleBarCommand)> hook) { title_bar_hook_ = std::move(hook); }
  // Runs when the window closes (the program then ends), before the settings are written.
  void SetClosingHook(std::function<void()> hook) { closing_hook_ = std::move(hook); }

  // Replaceable for tests: the message boxes, the browser and font dialogs, and the default browser.
  enum class BoxKind { kMessage, kError };
  using MessageBoxHook = std::function<void(BoxKind kind, const QString& caption, const QString& text)>;
  using BrowserDialogHook = std::function<std::optional<QString>()>;
  using FontDialogHook = std::function<std::optional<QFont>(const QFont& initial)>;
  using UrlOpener = std::function<void(const QUrl& url)>;
  void SetMessageBoxHook(MessageBoxHook hook) { message_box_hook_ = std::move(hook); }
  void SetBrowserDialogHook(BrowserDialogHook hook) { browser_dialog_hook_ = std::move(hook); }
  void SetFontDialogHook(FontDialogHook hook) { font_dialog_hook_ = std::move(hook); }
  void SetUrlOpener(UrlOpener opener) { url_opener_ = std::move(opener); }

  // The parts of the window, for the program's wiring and for tests.
  QTreeWidget* site_tree() const { return tree_; }
  QTreeWidget* headline_list() const { return list_; }
  QSplitter* splitter() const { return splitter_; }
  QMenu* category_menu() const { return category_menu_; }
  QMenu* site_menu() const { return site_menu_; }
  QString status_text() const;
  const ListImages& list_images() const { return images_; }
  // A headline row's icon index, or -1 without one.
  int RowIcon(int row) const;
  // A row's or a node's Shift_JIS texts as the fetch made them (column 0 caption, 1 remark, 2 link).
  std::string RowText(int row, int column) const;
  static std::string ItemText(const QTreeWidgetItem* item);
  // The geometry that shutdown saves: the outer frame, the tree pane's width and the column widths.
  WindowGeometry CurrentGeometry() const;
  bool fetch_running() const { return blocker_ != nullptr; }

 signals:
  // The tree was built anew or a favourite added or removed; a fetch has ended. The tree's marks
  // follow both.
  void SiteTreeChanged();
  void FetchEnded();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  enum class Pane { kNone, kTree, kList };

  void CreateMenus();
  void CreateContextMenus();
  void LoadAndPlace();
  void RegisterGlobalHotkey();
  void SetTopmost(bool topmost);
  void ApplyListFonts();
  void FillTree(const SiteTree& model);
  void RunFetch(bool (HeadlineFetch::*fetch)());
  void OpenSiteEditor(const std::optional<std::string>& file_name, const std::string& category);
  void ShowBox(BoxKind kind, std::string_view text);
  void ShowError(std::string_view text) { ShowBox(BoxKind::kError, text); }
  void AdjustToOuterFrame();
  bool HandleWheel(QObject* watched, QEvent* event);
  void ShowSelectedRemark();
  QTreeWidgetItem* SelectedItem() const;
  QTreeWidgetItem* RowItem(int row) const;

  std::filesystem::path start_dir_;
  std::filesystem::path settings_file_;
  Settings settings_;

  Downloader downloader_;
  std::unique_ptr<FetchWindowAdapter> fetch_window_;  // once the tree and the list exist
  std::unique_ptr<HeadlineFetch> fetch_;
  std::unique_ptr<InputBlocker> blocker_;  // while a fetch runs
  bool rebuild_after_fetch_ = false;

  QTreeWidget* tree_ = nullptr;
  QTreeWidget* list_ = nullptr;
  QSplitter* splitter_ = nullptr;
  QObject* wheel_hook_ = nullptr;
  QLabel* status_ = nullptr;
  QMenu* category_menu_ = nullptr;
  QMenu* site_menu_ = nullptr;
  QAction* add_favourite_action_ = nullptr;
  QAction* remove_favourite_action_ = nullptr;
  QAction* settings_action_ = nullptr;
  QAction* default_browser_action_ = nullptr;
  QAction* topmost_action_ = nullptr;
  ListImages images_;

  Pane last_pane_ = Pane::kNone;
  QFont font_dialog_font_;                   // the font dialog's own memory, never loaded from the settings
  std::optional<int> pending_tree_width_;    // applied once the window is laid out
  std::optional<QSize> pending_outer_size_;  // Width and Height are the outer frame's
  // Only a favourites file that was read may be replaced at shutdown: one that could not be read
  // (or a tree never built) would otherwise be overwritten with an empty list.
  bool favourites_loaded_ = false;
  bool tree_built_ = false;  // the first build opens the tree by LastNews, later ones as it was
  bool shut_down_ = false;

  std::function<void()> register_hotkey_;
  std::function<bool(TitleBarCommand)> title_bar_hook_;
  std::function<void()> closing_hook_;
  MessageBoxHook message_box_hook_;
  BrowserDialogHook browser_dialog_hook_;
  FontDialogHook font_dialog_hook_;
  UrlOpener url_opener_;
};

// Maps "ＭＳ Ｐゴシック" and "MS PGothic" to a Japanese face where the system lacks them.
void InstallFontSubstitutes();

}  // namespace korinbo
