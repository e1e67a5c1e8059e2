#include "main_window.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <utility>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QWindow>

#include "browser.h"
#include "input_blocker.h"
#include "korinbo/codepage.h"
#include "korinbo/errors.h"
#include "korinbo/file_io.h"
#include "korinbo/history.h"
#include "qt_text.h"
#include "site_editor.h"
#include "tree_items.h"

namespace korinbo {
namespace {

constexpr int kMaxFontSize = 400;  // larger sizes from a damaged settings file are not applied

// The program's own Japanese texts, converted once.
QString Ui(std::string_view utf8) { return ToQString(Sjis(utf8)); }

void ExpandWithDescendants(QTreeWidgetItem* item) {
  std::vector<QTreeWidgetItem*> stack{item};
  while (!stack.empty()) {
    QTreeWidgetItem* current = stack.back();
    stack.pop_back();
    current->setExpanded(true);
    for (int i = 0; i < current->childCount(); ++i) stack.push_back(current->child(i));
  }
}

bool IsEnterKey(const QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  const int key = static_cast<const QKeyEvent*>(event)->key();
  return key == Qt::Key_Return || key == Qt::Key_Enter;
}

// An application-wide filter that hands events to a function: the wheel rule must see wheel
// events over any part of the window before the part itself does.
class EventHook : public QObject {
 public:
  EventHook(QObject* parent, std::function<bool(QObject*, QEvent*)> hook)
      : QObject(parent), hook_(std::move(hook)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override { return hook_(watched, event); }

 private:
  std::function<bool(QObject*, QEvent*)> hook_;
};

// The font dialog lists only the faces the system has, so a face known by another name (the
// substituted "ＭＳ Ｐゴシック") is offered as the face that draws it, and confirming that face keeps
// the name.
std::optional<QFont> AskForFont(QWidget* parent, const QFont& initial) {
  QFont shown = initial;
  const QString drawn_by = QFontInfo(initial).family();
  shown.setFamilies({drawn_by});
  bool ok = false;
#ifdef Q_OS_WIN
  const QFontDialog::FontDialogOptions options;
#else
  // Qt's own dialog, which speaks the language of the translations the program loaded.
  const QFontDialog::FontDialogOptions options = QFontDialog::DontUseNativeDialog;
#endif
  QFont chosen = QFontDialog::getFont(&ok, shown, parent, QString(), options);
  if (!ok) return std::nullopt;
  if (chosen.family() == drawn_by) chosen.setFamilies({initial.family()});
  return chosen;
}

// The status bar after a fetch stopped with Esc, since its title reads as that of a complete one.
QString StoppedFetchText(const HeadlineFetch::DownloadReport& report) {
  const QString received =
      report.site_count > 0
          ? QStringLiteral("%1/%2").arg(report.sites_received).arg(report.site_count) + Ui("サイト受信")
          : QString::number(report.bytes_received) + Ui("バイト受信");
  return Ui("中断しました（") + received + Ui("）");
}

// A node named by the texts from its root down, each with its place among the siblings of equal
// text, so that it can be found again in a tree built anew.
using NodePath = std::vector<std::pair<std::string, int>>;

NodePath PathOf(QTreeWidgetItem* item) {
  NodePath path;
  for (; item != nullptr; item = item->parent()) {
    const QTreeWidgetItem* parent =
        item->parent() != nullptr ? item->parent() : item->treeWidget()->invisibleRootItem();
    const std::string text = MainWindow::ItemText(item);
    int equal_before = 0;
    for (int i = 0, at = parent->indexOfChild(item); i < at; ++i) {
      if (MainWindow::ItemText(parent->child(i)) == text) ++equal_before;
    }
    path.emplace_back(text, equal_before);
  }
  std::reverse(path.begin(), path.end());
  return path;
}

QTreeWidgetItem* ItemAt(const QTreeWidget& tree, const NodePath& path) {
  QTreeWidgetItem* item = tree.invisibleRootItem();
  for (const auto& [text, equal_before] : path) {
    QTreeWidgetItem* found = nullptr;
    for (int i = 0, left = equal_before; i < item->childCount() && found == nullptr; ++i) {
      if (MainWindow::ItemText(item->child(i)) == text && left-- == 0) found = item->child(i);
    }
    if (found == nullptr) return nullptr;
    item = found;
  }
  return item;
}

// What the user made of the tree: the open nodes and the selected one.
struct TreeState {
  std::vector<NodePath> expanded;
  std::optional<NodePath> selected;
};

TreeState StateOf(QTreeWidget& tree) {
  TreeState state;
  for (QTreeWidgetItemIterator it(&tree); *it != nullptr; ++it) {
    if ((*it)->isExpanded()) state.expanded.push_back(PathOf(*it));
  }
  if (QTreeWidgetItem* selected = tree.selectedItems().value(0)) state.selected = PathOf(selected);
  return state;
}

void Restore(QTreeWidget& tree, const TreeState& state) {
  tree.collapseAll();
  for (const NodePath& path : state.expanded) {
    if (QTreeWidgetItem* item = ItemAt(tree, path)) item->setExpanded(true);
  }
  QTreeWidgetItem* selected = state.selected ? ItemAt(tree, *state.selected) : nullptr;
  tree.setCurrentItem(selected);
  if (selected == nullptr) {
    tree.clearSelection();
    return;
  }
  tree.scrollToItem(selected);
}

SiteTree SiteTreeWithoutFavourites(const std::filesystem::path& start_dir, std::string_view last_news) {
  SiteTree tree;
  tree.AddRoot(FavouritesRootText());
  AddSiteFolderToTree(tree, start_dir, last_news);
  return tree;
}

}  // namespace

void InstallFontSubstitutes() {
  const QStringList families = QFontDatabase::families();
  const QString face = QStringLiteral("IPAPGothic");
  for (const QString& name : {Ui("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic")}) {
    if (!families.contains(name) && QFont::substitutes(name).isEmpty()) QFont::insertSubstitution(name, face);
  }
}

MainWindow::MainWindow(std::filesystem::path start_dir, std::filesystem::path settings_file, QWidget* parent)
    : QMainWindow(parent),
      start_dir_(std::move(start_dir)),
      settings_file_(std::move(settings_file)) {
  InstallFontSubstitutes();
  QFont window_font(Ui("ＭＳ Ｐゴシック"));
  window_font.setPixelSize(12);
  setFont(window_font);
  font_dialog_font_ = QFont(Ui("ＭＳ Ｐゴシック"), 9);

  setWindowTitle(QStringLiteral("Korinbo"));

  tree_ = new QTreeWidget();
  tree_->setColumnCount(1);
  tree_->setHeaderHidden(true);
  tree_->setIndentation(19);
  tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);
  tree_->setContextMenuPolicy(Qt::PreventContextMenu);
  tree_->viewport()->setMouseTracking(true);

  list_ = new QTreeWidget();
  list_->setColumnCount(3);
  list_->setHeaderLabels({Ui("見出し"), Ui("備考"), QStringLiteral("URL")});
  list_->setRootIsDecorated(false);
  list_->setItemsExpandable(false);
  list_->setUniformRowHeights(true);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setAllColumnsShowFocus(true);
  list_->setIconSize(QSize(kListImageSize, kListImageSize));
  list_->setContextMenuPolicy(Qt::PreventContextMenu);
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionsMovable(false);
  list_->viewport()->setMouseTracking(true);

  splitter_ = new QSplitter(Qt::Horizontal);
  splitter_->addWidget(tree_);
  splitter_->addWidget(list_);
  splitter_->setHandleWidth(3);
  // The tree keeps its width when the window is resized; the list takes the rest.
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);
  setCentralWidget(splitter_);

  status_ = new QLabel();
  statusBar()->addWidget(status_, 1);

  CreateMenus();
  CreateContextMenus();

  for (QObject* watched : {static_cast<QObject*>(tree_), static_cast<QObject*>(tree_->viewport()),
                           static_cast<QObject*>(list_), static_cast<QObject*>(list_->viewport())}) {
    watched->installEventFilter(this);
  }
  wheel_hook_ =
      new EventHook(this, [this](QObject* watched, QEvent* event) { return HandleWheel(watched, event); });
  qApp->installEventFilter(wheel_hook_);
  connect(list_, &QTreeWidget::itemSelectionChanged, this, &MainWindow::ShowSelectedRemark);

  images_ = LoadListImages(start_dir_);
  fetch_window_ = std::make_unique<FetchWindowAdapter>(
      FetchWindowAdapter::Parts{this, tree_, list_, &settings_, start_dir_,
                                [this](std::string_view text) { ShowBox(BoxKind::kMessage, text); },
                                [this] { return blocker_ != nullptr && blocker_->escape_pressed(); }},
      images_);
  fetch_ = std::make_unique<HeadlineFetch>(*fetch_window_, downloader_);
  LoadAndPlace();
}

MainWindow::~MainWindow() {
  try {
    Shutdown();
  } catch (...) {
    // A failing message box hook must not escape a destructor.
  }
  // The panes go while this object is still whole: their last signals and events must not reach
  // a window that is half destroyed.
  delete wheel_hook_;
  disconnect(list_, nullptr, this, nullptr);
  for (QObject* watched : {static_cast<QObject*>(tree_), static_cast<QObject*>(tree_->viewport()),
                           static_cast<QObject*>(list_), static_cast<QObject*>(list_->viewport())}) {
    watched->removeEventFilter(this);
  }
  delete splitter_;
}

void MainWindow::CreateMenus() {
  QMenu* file_menu = menuBar()->addMenu(Ui("ファイル(&F)"));
  QAction* exit_action = file_menu->addAction(Ui("終了(&X)"));
  exit_action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  connect(exit_action, &QAction::triggered, this, &QWidget::close);
  QAction* reload_action = file_menu->addAction(Ui("ニュースサイトの再読込"));
  reload_action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  connect(reload_action, &QAction::triggered, this, &MainWindow::Reload);
  QAction* new_site_action = file_menu->addAction(Ui("新しいサイト定義..."));
  connect(new_site_action, &QAction::triggered, this, &MainWindow::NewSite);

  QMenu* tools_menu = menuBar()->addMenu(Ui("ツール(&T)"));
  // Two actions owning one shortcut would make Qt fire neither; Ctrl+Q belongs to "終了(&X)",
  // and the text after the tab only shows it in the menu.
  settings_action_ = tools_menu->addAction(Ui("環境設定") + QStringLiteral("\tCtrl+Q"));
  QAction* browser_action = tools_menu->addAction(Ui("使用するブラウザの変更"));
  browser_action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
  connect(browser_action, &QAction::triggered, this, &MainWindow::ChooseBrowser);
  default_browser_action_ = tools_menu->addAction(Ui("標準ブラウザで開く"));
  default_browser_action_->setCheckable(true);
  default_browser_action_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
  connect(default_browser_action_, &QAction::triggered, this, &MainWindow::UseDefaultBrowser);
  QAction* font_action = tools_menu->addAction(Ui("フォントの変更"));
  font_action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
  connect(font_action, &QAction::triggered, this, &MainWindow::ChooseFont);
  topmost_action_ = tools_menu->addAction(Ui("最前面表示"));
  topmost_action_->setCheckable(true);
  topmost_action_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
  connect(topmost_action_, &QAction::triggered, this, &MainWindow::ToggleTopmost);
}

void MainWindow::CreateContextMenus() {
  category_menu_ = new QMenu(this);
  QAction* category_fetch = category_menu_->addAction(Ui("このカテゴリ内を一括取得"));
  connect(category_fetch, &QAction::triggered, this, &MainWindow::FetchCategoryCommand);
  QAction* category_new_site = category_menu_->addAction(Ui("新しいサイト定義..."));
  connect(category_new_site, &QAction::triggered, this, &MainWindow::NewSiteInSelectedCategory);

  site_menu_ = new QMenu(this);
  QAction* site_fetch = site_menu_->addAction(Ui("このニュースを取得する"));
  connect(site_fetch, &QAction::triggered, this, &MainWindow::FetchSelectedSiteCommand);
  add_favourite_action_ = site_menu_->addAction(Ui("お気に入りに追加"));
  connect(add_favourite_action_, &QAction::triggered, this, &MainWindow::AddFavourite);
  remove_favourite_action_ = site_menu_->addAction(Ui("お気に入りから削除"));
  connect(remove_favourite_action_, &QAction::triggered, this, &MainWindow::RemoveFavourite);
  QAction* edit_site = site_menu_->addAction(Ui("サイト定義を編集..."));
  connect(edit_site, &QAction::triggered, this, &MainWindow::EditSelectedSite);
}

void MainWindow::LoadAndPlace() {
  WorkArea area;
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect available = screen->availableGeometry();
    area = WorkArea{available.left(), available.top(), available.left() + available.width(),
                    available.top() + available.height()};
  }
  LoadedSettings loaded = LoadSettings(settings_file_, area);
  settings_ = std::move(loaded.settings);
  const WindowGeometry geometry = PlaceWindow(loaded.geometry, area);
  // Top and Left place the outer frame (move() does); Width and Height are the frame's too, which
  // is known only once the window manager has framed the window.
  move(geometry.Left, geometry.Top);
  resize(geometry.Width, geometry.Height);
  pending_outer_size_ = QSize(geometry.Width, geometry.Height);
  pending_tree_width_ = geometry.LvWidth;
  list_->setColumnWidth(0, geometry.Lv2Col0);
  list_->setColumnWidth(1, geometry.Lv2Col1);
  list_->setColumnWidth(2, geometry.Lv2Col2);
}

bool MainWindow::event(QEvent* event) {
  const bool handled = QMainWindow::event(event);
  switch (event->type()) {
    case QEvent::Show:
      if (pending_tree_width_) {
        // The splitter has its final width only now; sizes set earlier would be rescaled.
        const int width = *pending_tree_width_;
        pending_tree_width_.reset();
        splitter_->setSizes({width, std::max(0, splitter_->width() - splitter_->handleWidth() - width)});
      }
      AdjustToOuterFrame();
      break;
    case QEvent::Move:
    case QEvent::Resize:
      AdjustToOuterFrame();
      break;
    default:
      break;
  }
  return handled;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // Only the window manager's close is spontaneous; "終了(&X)" closes through close().
  if (event->spontaneous() && title_bar_hook_ && title_bar_hook_(TitleBarCommand::kClose)) {
    event->ignore();
    return;
  }
  if (closing_hook_) closing_hook_();
  event->accept();
}

void MainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || !title_bar_hook_) return;
  const auto* change = static_cast<QWindowStateChangeEvent*>(event);
  if (!isMinimized() || change->oldState().testFlag(Qt::WindowMinimized)) return;
  // Not from inside the state change itself: the hook may hide the window.
  QMetaObject::invokeMethod(
      this, [this] { title_bar_hook_(TitleBarCommand::kMinimise); }, Qt::QueuedConnection);
}

void MainWindow::AdjustToOuterFrame() {
  if (!pending_outer_size_ || !isVisible() || windowHandle() == nullptr) return;
  const QMargins frame = windowHandle()->frameMargins();
  if (frame.isNull()) return;
  const QSize outer = *pending_outer_size_;
  pending_outer_size_.reset();
  resize(outer.width() - frame.left() - frame.right(), outer.height() - frame.top() - frame.bottom());
}

WindowGeometry MainWindow::CurrentGeometry() const {
  WindowGeometry geometry;
  const QRect frame = frameGeometry();
  geometry.Top = frame.top();
  geometry.Left = frame.left();
  geometry.Width = pending_outer_size_ && !isVisible() ? pending_outer_size_->width() : frame.width();
  geometry.Height = pending_outer_size_ && !isVisible() ? pending_outer_size_->height() : frame.height();
  geometry.LvWidth = pending_tree_width_ ? *pending_tree_width_ : splitter_->sizes().value(0);
  geometry.Lv2Col0 = list_->columnWidth(0);
  geometry.Lv2Col1 = list_->columnWidth(1);
  geometry.Lv2Col2 = list_->columnWidth(2);
  return geometry;
}

void MainWindow::RunShowing() {
  RunShowingSteps();
  if (isMinimized()) {
    showNormal();
  } else {
    show();
  }
  raise();
  activateWindow();
}

void MainWindow::RunShowingSteps() {
  RegisterGlobalHotkey();
  if (settings_.AlwaysTop == AlwaysTopMode::kTrue) {
    topmost_action_->setChecked(true);
    SetTopmost(true);
  }
  Reload();
  tree_->setFocus(Qt::OtherFocusReason);
  ApplyListFonts();
}

void MainWindow::RegisterGlobalHotkey() {
  if (register_hotkey_) register_hotkey_();
}

void MainWindow::Shutdown() {
  if (shut_down_) return;
  shut_down_ = true;
  try {
    SaveSettings(settings_file_, settings_, CurrentGeometry());
  } catch (const std::exception& error) {
    ShowError(error.what());
    return;
  }
  WriteFavourites();
}

void MainWindow::Reload() {
  if (settings_.ExecName.empty()) default_browser_action_->setChecked(true);
  RebuildSiteTree();
}

void MainWindow::ChooseBrowser() {
  const std::optional<QString> chosen =
      browser_dialog_hook_ ? browser_dialog_hook_() : AskForBrowserProgram(this);
  if (!chosen) return;
  settings_.ExecName = ToSjis(*chosen);
  default_browser_action_->setChecked(false);
}

void MainWindow::UseDefaultBrowser() {
  default_browser_action_->setChecked(true);
  settings_.ExecName.clear();
}

void MainWindow::ChooseFont() {
  const std::optional<QFont> chosen =
      font_dialog_hook_ ? font_dialog_hook_(font_dialog_font_) : AskForFont(this, font_dialog_font_);
  if (!chosen) return;
  font_dialog_font_ = *chosen;
  settings_.FontName = ToSjis(chosen->family());
  if (chosen->pointSize() > 0) settings_.FontSize = chosen->pointSize();
  ApplyListFonts();
}

void MainWindow::ApplyListFonts() {
  QFont font(ToQString(settings_.FontName));
  const bool usable = settings_.FontSize > 0 && settings_.FontSize <= kMaxFontSize;
  font.setPointSize(usable ? settings_.FontSize : Settings().FontSize);
  tree_->setFont(font);
  list_->setFont(font);
}

void MainWindow::ToggleTopmost() {
  static const QString kOn = Ui("最前面ON");
  static const QString kOff = Ui("最前面OFF");
  if (settings_.AlwaysTop != AlwaysTopMode::kTrue) {
    settings_.AlwaysTop = AlwaysTopMode::kTrue;
    SetTopmost(true);
    topmost_action_->setChecked(true);
    status_->setText(kOn);
  } else {
    settings_.AlwaysTop = AlwaysTopMode::kFalse;
    SetTopmost(false);
    topmost_action_->setChecked(false);
    status_->setText(kOff);
  }
}

void MainWindow::SetTopmost(bool topmost) {
  if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == topmost) return;
  const bool visible = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, topmost);
  // Changing the flag hides the window; showing it again is no showing of the window.
  if (visible) show();
}

void MainWindow::FetchSelectedSiteCommand() { RunFetch(&HeadlineFetch::FetchSelectedSite); }

void MainWindow::FetchCategoryCommand() { RunFetch(&HeadlineFetch::FetchCategory); }

void MainWindow::RunFetch(bool (HeadlineFetch::*fetch)()) {
  if (blocker_) return;  // one fetch at a time
  blocker_ = std::make_unique<InputBlocker>();
  try {
    ((*fetch_).*fetch)();
  } catch (const std::exception& error) {
    fetch_window_->ShowProgress();
    ShowError(error.what());
  }
  fetch_window_->ShowProgress();
  // Input that queued up while the fetch ran is dropped as well.
  QCoreApplication::processEvents();
  blocker_.reset();
  if (const HeadlineFetch::DownloadReport& report = fetch_->last_download(); report.stopped) {
    status_->setText(StoppedFetchText(report));
  }
  if (rebuild_after_fetch_) {
    rebuild_after_fetch_ = false;
    RebuildSiteTree();
  }
  emit FetchEnded();
}

void MainWindow::OpenSelectedHeadline() {
  QTreeWidgetItem* row = list_->selectedItems().value(0);
  if (row == nullptr) return;
  const std::string link = ItemBytes(row, 2);
  try {
    fetch_->RecordVisit(link);
  } catch (const std::exception& error) {
    ShowError(error.what());
    return;
  }
  fetch_window_->SetIcon(list_->indexOfTopLevelItem(row), kIconRead);
  const QString link_text = ToQString(link);
  if (!settings_.ExecName.empty()) {
    StartBrowser(ToQString(settings_.ExecName), link_text, PathToQString(start_dir_));
    return;
  }
  const QUrl url = LinkUrl(link_text);
  if (url_opener_) {
    url_opener_(url);
  } else {
    QDesktopServices::openUrl(url);
  }
}

void MainWindow::RebuildSiteTree() {
  // The running fetch holds nodes of the tree; the rebuild waits for its end.
  if (blocker_) {
    rebuild_after_fetch_ = true;
    return;
  }
  SiteTree model;
  try {
    model = BuildSiteTree(start_dir_, settings_.LastNews);
    favourites_loaded_ = true;
  } catch (const std::exception& error) {
    favourites_loaded_ = false;
    ShowError(error.what());
    model = SiteTreeWithoutFavourites(start_dir_, settings_.LastNews);
  }
  // The LastNews rule opens the tree at start-up; later builds keep what the user made of it.
  const std::optional<TreeState> kept =
      tree_built_ ? std::optional<TreeState>(StateOf(*tree_)) : std::nullopt;
  FillTree(model);
  if (kept) Restore(*tree_, *kept);
  tree_built_ = true;
  emit SiteTreeChanged();
}

void MainWindow::FillTree(const SiteTree& model) {
  tree_->clear();
  QTreeWidgetItem* last_news = nullptr;
  // Built apart from the tree and given to it at once: each item added to a shown tree costs a
  // round of the view's bookkeeping.
  QList<QTreeWidgetItem*> roots;
  std::vector<std::pair<const SiteTreeNode*, QTreeWidgetItem*>> pending;
  for (const auto& root : model.roots) {
    QTreeWidgetItem* item = NewTreeItem(root->text);
    roots.append(item);
    pending.emplace_back(root.get(), item);
  }
  while (!pending.empty()) {
    const auto [node, item] = pending.back();
    pending.pop_back();
    if (node == model.last_news_node) last_news = item;
    for (const auto& child : node->children) {
      QTreeWidgetItem* child_item = NewTreeItem(child->text);
      item->addChild(child_item);
      pending.emplace_back(child.get(), child_item);
    }
  }
  tree_->addTopLevelItems(roots);
  if (last_news == nullptr) return;
  if (QTreeWidgetItem* parent = last_news->parent()) {
    ExpandWithDescendants(parent);
    for (QTreeWidgetItem* above = parent->parent(); above != nullptr; above = above->parent()) {
      above->setExpanded(true);
    }
  }
  tree_->setCurrentItem(last_news);
  tree_->scrollToItem(last_news);
}

void MainWindow::AddFavourite() {
  QTreeWidgetItem* node = SelectedItem();
  QTreeWidgetItem* favourites = tree_->topLevelItem(0);
  if (node == nullptr || favourites == nullptr || ItemLevel(node) != 1) return;
  favourites->addChild(NewTreeItem(ItemText(node->parent()) + '_' + ItemText(node)));
  WriteFavourites();
  emit SiteTreeChanged();
}

void MainWindow::RemoveFavourite() {
  QTreeWidgetItem* node = SelectedItem();
  if (node == nullptr) return;
  const bool favourite = node->parent() != nullptr && node->parent() == tree_->topLevelItem(0);
  delete node;
  if (favourite) WriteFavourites();
  emit SiteTreeChanged();
}

void MainWindow::WriteFavourites() {
  try {
    SaveFavourites();
  } catch (const std::exception& error) {
    ShowError(error.what());
  }
}

void MainWindow::SaveFavourites() {
  if (!favourites_loaded_) return;
  SiteTree favourites;
  SiteTreeNode* root = favourites.AddRoot(FavouritesRootText());
  if (const QTreeWidgetItem* shown = tree_->topLevelItem(0)) {
    for (int i = 0; i < shown->childCount(); ++i) root->AddChild(ItemText(shown->child(i)));
  }
  ReplaceFileAtomically(PathInDirectory(start_dir_, kFavouritesFileName), FavouritesFileText(favourites));
}

void MainWindow::TreeMouseDown(Qt::MouseButton button, const QPoint& pos) {
  if (button != Qt::RightButton) return;
  if (QTreeWidgetItem* under = tree_->itemAt(pos)) tree_->setCurrentItem(under);
  QTreeWidgetItem* selected = SelectedItem();
  if (selected == nullptr) return;
  const QPoint at = tree_->viewport()->mapToGlobal(pos);
  const int level = ItemLevel(selected);
  if (level == 0) {
    category_menu_->popup(at);
  } else if (level == 1) {
    const bool favourite = selected->parent() == tree_->topLevelItem(0);
    add_favourite_action_->setVisible(!favourite);
    remove_favourite_action_->setVisible(favourite);
    site_menu_->popup(at);
  }
}

void MainWindow::EditSelectedSite() {
  const QTreeWidgetItem* node = SelectedItem();
  if (node == nullptr || ItemLevel(node) != 1) return;
  OpenSiteEditor(SiteFileNameOf(ItemText(node->parent()), ItemText(node)), std::string());
}

void MainWindow::NewSiteInSelectedCategory() {
  const QTreeWidgetItem* root = SelectedItem();
  if (root == nullptr || ItemLevel(root) != 0) return;
  // The favourites root is no category.
  OpenSiteEditor(std::nullopt, root == tree_->topLevelItem(0) ? std::string() : ItemText(root));
}

void MainWindow::NewSite() { OpenSiteEditor(std::nullopt, std::string()); }

void MainWindow::OpenSiteEditor(const std::optional<std::string>& file_name, const std::string& category) {
  DownloadOptions download;
  download.use_proxy = settings_.UseProxy.mode();
  download.proxy_name = settings_.ProxyName;
  auto* editor = new SiteEditor(start_dir_, download, images_, this);
  editor->setAttribute(Qt::WA_DeleteOnClose);
  if (file_name) {
    editor->OpenSiteFile(*file_name);
  } else {
    editor->StartNewSite(category);
  }
  editor->SetSavedHook([this](const std::string& old_file, const std::string& new_file) {
    SiteDefinitionSaved(old_file, new_file);
  });
  editor->open();
}

void MainWindow::SiteDefinitionSaved(const std::string& old_file, const std::string& new_file) {
  auto base_name = [](const std::string& file) {
    return file.substr(0, file.size() - std::min<std::size_t>(4, file.size()));
  };
  if (!old_file.empty() && old_file != new_file) {
    bool renamed = false;
    if (QTreeWidgetItem* favourites = tree_->topLevelItem(0)) {
      for (int i = 0; i < favourites->childCount(); ++i) {
        QTreeWidgetItem* favourite = favourites->child(i);
        if (ItemText(favourite) != base_name(old_file) || favourite->type() != BytesItem::kType) continue;
        static_cast<BytesItem*>(favourite)->SetColumn(0, base_name(new_file));
        renamed = true;
      }
    }
    if (renamed) WriteFavourites();
    if (settings_.LastNews == old_file) settings_.LastNews = new_file;
  }
  RebuildSiteTree();
  const SiteFileName names = SplitSiteFileName(base_name(new_file));
  for (int i = 1; i < tree_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* root = tree_->topLevelItem(i);
    if (ItemText(root) != names.category) continue;
    for (int j = 0; j < root->childCount(); ++j) {
      if (ItemText(root->child(j)) != names.site) continue;
      root->setExpanded(true);
      tree_->setCurrentItem(root->child(j));
      tree_->scrollToItem(root->child(j));
      return;
    }
  }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (watched == tree_->viewport()) {
    if (type == QEvent::MouseMove) {
      last_pane_ = Pane::kTree;
    } else if (type == QEvent::MouseButtonPress) {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() == Qt::RightButton) {
        TreeMouseDown(mouse->button(), mouse->position().toPoint());
        return true;
      }
    } else if (type == QEvent::MouseButtonDblClick &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
      // After the tree has handled the click, so that the node under the pointer is the selected one.
      QMetaObject::invokeMethod(this, &MainWindow::FetchSelectedSiteCommand, Qt::QueuedConnection);
    }
  } else if (watched == tree_) {
    if (IsEnterKey(event)) {
      FetchSelectedSiteCommand();
      return true;
    }
  } else if (watched == list_->viewport()) {
    if (type == QEvent::MouseMove) {
      last_pane_ = Pane::kList;
    } else if (type == QEvent::MouseButtonDblClick &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
      QMetaObject::invokeMethod(this, &MainWindow::OpenSelectedHeadline, Qt::QueuedConnection);
    }
  } else if (watched == list_) {
    if (IsEnterKey(event)) {
      OpenSelectedHeadline();
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

bool MainWindow::HandleWheel(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::Wheel || !watched->isWidgetType()) return false;
  if (static_cast<QWidget*>(watched)->window() != this) return false;
  QWidget* pane = nullptr;
  if (last_pane_ == Pane::kTree) pane = tree_;
  if (last_pane_ == Pane::kList) pane = list_;
  // The first turn over an unfocused pane only moves the focus there.
  if (pane == nullptr || pane->hasFocus()) return false;
  pane->setFocus(Qt::MouseFocusReason);
  event->accept();
  return true;
}

void MainWindow::ShowSelectedRemark() {
  if (const QTreeWidgetItem* row = list_->selectedItems().value(0)) status_->setText(row->text(1));
}

QString MainWindow::status_text() const { return status_->text(); }

void MainWindow::ShowBox(BoxKind kind, std::string_view text) {
  InputBlocker::Suspension suspension(blocker_.get());
  const QString caption = ProgramTitle(QCoreApplication::applicationFilePath());
  const QString message = ToQString(text);
  if (message_box_hook_) {
    message_box_hook_(kind, caption, message);
    return;
  }
  QMessageBox box(kind == BoxKind::kError ? QMessageBox::Critical : QMessageBox::NoIcon, caption, message,
                  QMessageBox::Ok, shut_down_ ? nullptr : this);
  box.exec();
}

QTreeWidgetItem* MainWindow::SelectedItem() const { return tree_->selectedItems().value(0); }

QTreeWidgetItem* MainWindow::RowItem(int row) const { return row < 0 ? nullptr : list_->topLevelItem(row); }

int MainWindow::RowIcon(int row) const {
  const QTreeWidgetItem* item = RowItem(row);
  if (item == nullptr) return -1;
  const QVariant icon = item->data(0, kIconRole);
  return icon.isValid() ? icon.toInt() : -1;
}

std::string MainWindow::RowText(int row, int column) const { return ItemBytes(RowItem(row), column); }

std::string MainWindow::ItemText(const QTreeWidgetItem* item) { return ItemBytes(item); }

}  // namespace korinbo
