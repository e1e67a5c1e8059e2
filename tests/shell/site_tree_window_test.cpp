// The window's site tree: built from a site folder and the favourites file, its context menus,
// the favourites written as they change, and the open nodes kept across rebuilds.
#include <QAction>
#include <QMenu>
#include <QTreeWidget>
#include <QtTest>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "korinbo/codepage.h"
#include "korinbo/file_io.h"
#include "korinbo/test/temp_dir.h"
#include "main_window.h"
#include "qt_text.h"

namespace korinbo {
namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// A start directory with its site folder, favourites file and settings file.
class StartDir {
 public:
  const std::filesystem::path& path() const { return dir_.path(); }
  std::filesystem::path ini() const { return dir_.path() / "korinbo.ini"; }
  // name: the file name as the file system spells it.
  void Site(const std::string& name) {
    dir_.Write(std::filesystem::path("newsurl") / name, "url=http://127.0.0.1:9/\r\n");
  }
  void Favourites(std::string_view bytes) { dir_.Write("favolite.txt", bytes); }
  void Settings(std::string_view utf8) { dir_.Write("korinbo.ini", Sjis(utf8)); }
  std::string FavouritesFile() const {
    return ReadFileBytes(dir_.path() / "favolite.txt").value_or("<missing>");
  }

 private:
  test::TempDir dir_;
};

// The tree as text: roots joined by "|", children in brackets ("国内[毎日,読売]").
QString Render(const QTreeWidgetItem* item) {
  QString text = item->text(0);
  if (item->parent() == nullptr || item->childCount() > 0) {
    QStringList children;
    for (int i = 0; i < item->childCount(); ++i) children << Render(item->child(i));
    text += u'[' + children.join(u',') + u']';
  }
  return text;
}

QString Render(const QTreeWidget* tree) {
  QStringList roots;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) roots << Render(tree->topLevelItem(i));
  return roots.join(u'|');
}

// "国内/毎日": the first root of that text and its first child of that text.
QTreeWidgetItem* Find(const QTreeWidget* tree, const QString& where) {
  const QStringList parts = where.split(u'/');
  for (int i = 0; i < tree->topLevelItemCount(); ++i) {
    QTreeWidgetItem* root = tree->topLevelItem(i);
    if (root->text(0) != parts[0]) continue;
    if (parts.size() == 1) return root;
    for (int j = 0; j < root->childCount(); ++j) {
      if (root->child(j)->text(0) == parts[1]) return root->child(j);
    }
  }
  return nullptr;
}

QStringList VisibleActions(const QMenu* menu) {
  QStringList texts;
  for (const QAction* action : menu->actions()) {
    if (action->isVisible()) texts << action->text();
  }
  return texts;
}

}  // namespace

class SiteTreeWindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<MainWindow> Open(const StartDir& dir) {
    auto window = std::make_unique<MainWindow>(dir.path(), dir.ini());
    window->SetMessageBoxHook(
        [this](MainWindow::BoxKind, const QString&, const QString& text) { boxes_ << text; });
    return window;
  }
  std::unique_ptr<MainWindow> Show(const StartDir& dir) {
    auto window = Open(dir);
    window->RunShowing();
    if (!QTest::qWaitForWindowExposed(window.get())) qWarning("window not exposed");
    return window;
  }
  void RightClick(MainWindow& window, QTreeWidgetItem* item) {
    QTreeWidget* tree = window.site_tree();
    tree->scrollToItem(item);
    QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, tree->visualItemRect(item).center());
  }
  void CloseMenus(MainWindow& window) {
    window.category_menu()->hide();
    window.site_menu()->hide();
  }

  QStringList boxes_;

 private slots:
  void init() { boxes_.clear(); }

  void ThreeFilesGiveTwoCategories() {
    StartDir dir;
    dir.Site("国内_毎日.txt");
    dir.Site("経済_日経.txt");
    dir.Site("国内_読売.txt");
    auto window = Show(dir);
    QCOMPARE(Render(window->site_tree()), U("お気に入り[]|国内[毎日,読売]|経済[日経]"));
    QVERIFY(boxes_.isEmpty());
  }

  void NewsTxtGivesAnEmptyRootWithAnEmptyChild() {
    StartDir dir;
    dir.Site("news.txt");
    auto window = Show(dir);
    QCOMPARE(Render(window->site_tree()), U("お気に入り[]|[]"));
    QCOMPARE(window->site_tree()->topLevelItem(1)->childCount(), 1);
  }

  void NodesKeepTheirBytesWhateverTheirDisplay() {
    StartDir dir;
    dir.Site(Sjis("国内_産経.txt"));      // a folder copied from Windows: Shift_JIS names
    dir.Site(std::string("\x82_x.txt"));  // a lone lead byte cannot be shown
    auto window = Show(dir);
    QTreeWidgetItem* sankei = Find(window->site_tree(), U("国内/産経"));
    QVERIFY(sankei != nullptr);
    QCOMPARE(MainWindow::ItemText(sankei), Sjis("産経"));
    QTreeWidgetItem* broken = nullptr;
    for (int i = 0; i < window->site_tree()->topLevelItemCount(); ++i) {
      if (MainWindow::ItemText(window->site_tree()->topLevelItem(i)) == "\x82")
        broken = window->site_tree()->topLevelItem(i);
    }
    QVERIFY2(broken != nullptr, "the root of the undisplayable category lost its bytes");
    QCOMPARE(window->fetch_window().NodeText(TreeNode::Of(broken->child(0))), std::string("x"));
    QCOMPARE(window->fetch_window().ParentText(TreeNode::Of(broken->child(0))), std::string("\x82"));
  }

  void LastNewsSelectsItsSiteAndExpandsTheCategory() {
    StartDir dir;
    dir.Site("国内_毎日.txt");
    dir.Site("国内_読売.txt");
    dir.Site("経済_日経.txt");
    dir.Settings("[Form]\r\nLastNews=国内_読売.txt\r\n");
    auto window = Show(dir);
    QTreeWidgetItem* selected = window->site_tree()->selectedItems().value(0);
    QVERIFY(selected != nullptr);
    QCOMPARE(selected, Find(window->site_tree(), U("国内/読売")));
    QVERIFY(Find(window->site_tree(), U("国内"))->isExpanded());
    QVERIFY(!Find(window->site_tree(), U("経済"))->isExpanded());
    QCOMPARE(window->fetch_window().SelectedNode().As<QTreeWidgetItem>(), selected);
  }

  void LastNewsWithoutItsFileSelectsNothing() {
    StartDir dir;
    dir.Site("国内_毎日.txt");
    dir.Settings("[Form]\r\nLastNews=国内_産経.txt\r\n");
    auto window = Show(dir);
    QVERIFY(window->site_tree()->selectedItems().isEmpty());
    QVERIFY(!Find(window->site_tree(), U("国内"))->isExpanded());
  }

  void FavouritesFileWithATrailingLineEndGivesOneEntry() {
    StartDir dir;
    dir.Site("経済_日経.txt");
    dir.Favourites(Sjis("経済_日経\r\n"));
    auto window = Show(dir);
    QCOMPARE(Render(window->site_tree()), U("お気に入り[経済_日経]|経済[日経]"));
  }

  void FavouritesFileKeepsItsEmptyLines() {
    StartDir dir;
    dir.Favourites(Sjis("国内_毎日\r\n\r\n経済_日経"));
    auto window = Show(dir);
    QCOMPARE(Render(window->site_tree()), U("お気に入り[国内_毎日,,経済_日経]"));
  }

  void CategoryNamedLikeTheFavouritesRootJoinsIt() {
    StartDir dir;
    dir.Site("お気に入り_朝日.txt");
    dir.Favourites(Sjis("国内_毎日\r\n"));
    auto window = Show(dir);
    QCOMPARE(Render(window->site_tree()), U("お気に入り[国内_毎日,朝日]"));
  }

  void SiteNamedLikeItsCategoryGainsChildren() {
    StartDir dir;
    dir.Site("a_a.txt");
    dir.Site("a_b.txt");
    auto window = Show(dir);
    QCOMPARE(Render(window->site_tree()), U("お気に入り[]|a[a[b],b]"));
  }

  void MissingSiteFolderLeavesTheFavouritesAlone() {
    StartDir dir;
    dir.Favourites(Sjis("国内_毎日\r\n"));
    auto window = Show(dir);
    QCOMPARE(Render(window->site_tree()), U("お気に入り[国内_毎日]"));
    QVERIFY(boxes_.isEmpty());
  }

  void RightClickOnACategoryShowsTheCategoryMenu() {
    StartDir dir;
    dir.Site("国内_毎日.txt");
    auto window = Show(dir);
    QTreeWidgetItem* root = Find(window->site_tree(), U("国内"));
    RightClick(*window, root);
    QCOMPARE(window->site_tree()->selectedItems().value(0), root);
    QVERIFY(window->category_menu()->isVisible());
    QVERIFY(!window->site_menu()->isVisible());
    QCOMPARE(VisibleActions(window->category_menu()),
             (QStringList{U("このカテゴリ内を一括取得"), U("新しいサイト定義...")}));
    CloseMenus(*window);
  }

  void RightClickOnASiteOffersToAddIt() {
    StartDir dir;
    dir.Site("国内_毎日.txt");
    dir.Favourites(Sjis("国内_毎日\r\n"));
    auto window = Show(dir);
    window->site_tree()->expandAll();
    RightClick(*window, Find(window->site_tree(), U("国内/毎日")));
    QVERIFY(window->site_menu()->isVisible());
    QVERIFY(!window->category_menu()->isVisible());
    QCOMPARE(VisibleActions(window->site_menu()),
             (QStringList{U("このニュースを取得する"), U("お気に入りに追加"), U("サイト定義を編集...")}));
    CloseMenus(*window);

    // The same menu for a favourite: removing instead of adding.
    RightClick(*window, Find(window->site_tree(), U("お気に入り/国内_毎日")));
    QVERIFY(window->site_menu()->isVisible());
    QCOMPARE(VisibleActions(window->site_menu()),
             (QStringList{U("このニュースを取得する"), U("お気に入りから削除"), U("サイト定義を編集...")}));
    CloseMenus(*window);
  }

  void RightClickBesideTheNodesWithNothingSelectedShowsNothing() {
    StartDir dir;
    dir.Site("国内_毎日.txt");
    auto window = Show(dir);
    window->site_tree()->clearSelection();
    QTest::mouseClick(window->site_tree()->viewport(), Qt::RightButton, {},
                      QPoint(5, window->site_tree()->viewport()->height() - 5));
    QVERIFY(!window->category_menu()->isVisible());
    QVERIFY(!window->site_menu()->isVisible());
  }

  void RightClickBesideTheNodesUsesTheSelectedNode() {
    StartDir dir;
    dir.Site("国内_毎日.txt");
    auto window = Show(dir);
    window->site_tree()->setCurrentItem(Find(window->site_tree(), U("国内")));
    QTest::mouseClick(window->site_tree()->viewport(), Qt::RightButton, {},
                      QPoint(5, window->site_tree()->viewport()->height() - 5));
    QVERIFY(window->category_menu()->isVisible());
    CloseMenus(*window);
  }

  void OtherButtonsShowNoMenu() {
    StartDir dir;
    dir.Site("国内_毎日.txt");
    auto window = Show(dir);
    QTreeWidgetItem* root = Find(window->site_tree(), U("国内"));
    QTest::mouseClick(window->site_tree()->viewport(), Qt::LeftButton, {},
                      window->site_tree()->visualItemRect(root).center());
    QTest::mouseClick(window->site_tree()->viewport(), Qt::MiddleButton, {},
                      window->site_tree()->visualItemRect(root).center());
    QVERIFY(!window->category_menu()->isVisible());
    QVERIFY(!window->site_menu()->isVisible());
  }

  void AddingTwiceGivesTwoEntriesThatARebuildKeeps() {
    StartDir dir;
    dir.Site("国内_毎日.txt");
    auto window = Show(dir);
    window->site_tree()->setCurrentItem(Find(window->site_tree(), U("国内/毎日")));
    window->AddFavourite();
    window->AddFavourite();
    QCOMPARE(Render(window->site_tree()), U("お気に入り[国内_毎日,国内_毎日]|国内[毎日]"));
    QCOMPARE(dir.FavouritesFile(), Sjis("国内_毎日\r\n国内_毎日\r\n"));
    window->Reload();
    QCOMPARE(Render(window->site_tree()), U("お気に入り[国内_毎日,国内_毎日]|国内[毎日]"));
  }

  // Back from the tray or the settings dialog, the tree is built anew from the files.
  void FavouritesAddedOrRemovedSurviveAShowing() {
    StartDir dir;
    dir.Site("国内_毎日.txt");
    dir.Site("経済_日経.txt");
    dir.Favourites(Sjis("経済_日経\r\n"));
    auto window = Show(dir);
    window->site_tree()->expandAll();
    RightClick(*window, Find(window->site_tree(), U("国内/毎日")));
    window->site_menu()->actions().at(1)->trigger();
    CloseMenus(*window);
    window->hide();
    window->RunShowing();
    QCOMPARE(Render(window->site_tree()), U("お気に入り[経済_日経,国内_毎日]|国内[毎日]|経済[日経]"));

    window->site_tree()->expandAll();
    RightClick(*window, Find(window->site_tree(), U("お気に入り/経済_日経")));
    window->site_menu()->actions().at(2)->trigger();
    CloseMenus(*window);
    QCOMPARE(dir.FavouritesFile(), Sjis("国内_毎日\r\n"));
    window->hide();
    window->RunShowing();
    QCOMPARE(Render(window->site_tree()), U("お気に入り[国内_毎日]|国内[毎日]|経済[日経]"));
    QVERIFY(boxes_.isEmpty());
  }

  // The change stays in the tree, and shutdown tries again.
  void AFavouriteThatCannotBeWrittenIsReportedAtOnce() {
    StartDir dir;
    dir.Site("国内_毎日.txt");
    auto window = Show(dir);
    std::filesystem::create_directories(dir.path() / "favolite.txt" / "inside");
    window->site_tree()->setCurrentItem(Find(window->site_tree(), U("国内/毎日")));
    window->AddFavourite();
    QCOMPARE(boxes_.size(), 1);
    QVERIFY2(boxes_[0].contains(U("を作成できません")), qPrintable(boxes_[0]));
    QCOMPARE(Render(window->site_tree()), U("お気に入り[国内_毎日]|国内[毎日]"));
    std::filesystem::remove_all(dir.path() / "favolite.txt");
    window.reset();
    QCOMPARE(dir.FavouritesFile(), Sjis("国内_毎日\r\n"));
  }

  // Removing a node that is no favourite changes nothing on disk.
  void RemovingASiteNodeLeavesTheFavouritesFileAlone() {
    StartDir dir;
    dir.Site("国内_毎日.txt");
    dir.Favourites(Sjis("経済_日経\r\n"));
    auto window = Show(dir);
    std::filesystem::remove(dir.path() / "favolite.txt");
    window->site_tree()->setCurrentItem(Find(window->site_tree(), U("国内/毎日")));
    window->RemoveFavourite();
    QCOMPARE(Render(window->site_tree()), U("お気に入り[経済_日経]|国内[]"));
    QVERIFY(!std::filesystem::exists(dir.path() / "favolite.txt"));
  }

  void OpenCategoriesAndTheSelectionSurviveARebuild() {
    StartDir dir;
    for (const char* name : {"国内_毎日.txt", "国内_読売.txt", "経済_日経.txt", "スポーツ_報知.txt"})
      dir.Site(name);
    dir.Favourites(Sjis("国内_毎日\r\n国内_毎日\r\n"));
    dir.Settings("[Form]\r\nLastNews=国内_読売.txt\r\n");
    auto window = Show(dir);
    QTreeWidget* tree = window->site_tree();
    QVERIFY(Find(tree, U("国内"))->isExpanded());
    Find(tree, U("国内"))->setExpanded(false);
    Find(tree, U("経済"))->setExpanded(true);
    Find(tree, U("お気に入り"))->setExpanded(true);
    // The second of two equal favourites.
    tree->setCurrentItem(Find(tree, U("お気に入り"))->child(1));
    auto open_roots = [tree] {
      QStringList open;
      for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        if (tree->topLevelItem(i)->isExpanded()) open << tree->topLevelItem(i)->text(0);
      }
      return open;
    };
    const QStringList expected{U("お気に入り"), U("経済")};
    QCOMPARE(open_roots(), expected);

    window->Reload();
    QCOMPARE(open_roots(), expected);
    QCOMPARE(tree->selectedItems().value(0), Find(tree, U("お気に入り"))->child(1));

    tree->setCurrentItem(Find(tree, U("経済/日経")));
    window->hide();
    window->RunShowing();
    QCOMPARE(open_roots(), expected);
    QCOMPARE(tree->selectedItems().value(0), Find(tree, U("経済/日経")));

    // A selected site whose file is gone leaves nothing selected; the open categories stay open.
    std::filesystem::remove(dir.path() / "newsurl" / "経済_日経.txt");
    dir.Site("経済_日銀.txt");
    window->Reload();
    QCOMPARE(open_roots(), expected);
    QVERIFY(tree->selectedItems().isEmpty());
    QCOMPARE(window->fetch_window().SelectedNode().As<QTreeWidgetItem>(), static_cast<QTreeWidgetItem*>(nullptr));
  }

  // Two nodes "b": the site under the category "a", and the child the site "a" gained.
  void NodesOfEqualTextAreToldApartByTheirPath() {
    StartDir dir;
    dir.Site("a_a.txt");
    dir.Site("a_b.txt");
    auto window = Show(dir);
    QTreeWidget* tree = window->site_tree();
    QCOMPARE(Render(tree), U("お気に入り[]|a[a[b],b]"));
    tree->expandAll();
    tree->setCurrentItem(Find(tree, U("a/a"))->child(0));
    window->Reload();
    QTreeWidgetItem* inner = Find(tree, U("a/a"));
    QVERIFY(inner->isExpanded());
    QCOMPARE(tree->selectedItems().value(0), inner->child(0));
  }

  void AddingFromTheSiteMenuIsSavedAtShutdown() {
    StartDir dir;
    dir.Site("国内_毎日.txt");
    auto window = Show(dir);
    window->site_tree()->expandAll();
    for (int i = 0; i < 2; ++i) {
      RightClick(*window, Find(window->site_tree(), U("国内/毎日")));
      QVERIFY(window->site_menu()->isVisible());
      window->site_menu()->actions().at(1)->trigger();
      CloseMenus(*window);
    }
    window.reset();
    QCOMPARE(dir.FavouritesFile(), Sjis("国内_毎日\r\n国内_毎日\r\n"));
    QVERIFY(boxes_.isEmpty());
  }

  void AddingNeedsASiteNode() {
    StartDir dir;
    dir.Site("国内_毎日.txt");
    auto window = Show(dir);
    window->site_tree()->setCurrentItem(Find(window->site_tree(), U("国内")));
    window->AddFavourite();
    QCOMPARE(Render(window->site_tree()), U("お気に入り[]|国内[毎日]"));
  }

  void RemovingAFavouriteIsSavedAtShutdown() {
    StartDir dir;
    dir.Favourites(Sjis("国内_毎日\r\n経済_日経\r\n"));
    auto window = Show(dir);
    window->site_tree()->expandAll();
    RightClick(*window, Find(window->site_tree(), U("お気に入り/国内_毎日")));
    window->site_menu()->actions().at(2)->trigger();
    CloseMenus(*window);
    QCOMPARE(Render(window->site_tree()), U("お気に入り[経済_日経]"));
    window.reset();
    QCOMPARE(dir.FavouritesFile(), Sjis("経済_日経\r\n"));
  }

  void RemovingTheLastFavouriteWritesAnEmptyFile() {
    StartDir dir;
    dir.Favourites(Sjis("国内_毎日\r\n"));
    auto window = Show(dir);
    window->site_tree()->setCurrentItem(Find(window->site_tree(), U("お気に入り/国内_毎日")));
    window->RemoveFavourite();
    window.reset();
    QCOMPARE(dir.FavouritesFile(), std::string());
  }

  void AWindowNeverShownLeavesTheFavouritesFileAlone() {
    StartDir dir;
    dir.Favourites(Sjis("国内_毎日\r\n"));
    Open(dir).reset();
    QCOMPARE(dir.FavouritesFile(), Sjis("国内_毎日\r\n"));
    QVERIFY(std::filesystem::exists(dir.ini()));
  }

  void AFavouritesFileThatCannotBeWrittenIsReported() {
    StartDir dir;
    dir.Favourites(Sjis("国内_毎日\r\n"));
    auto window = Show(dir);
    std::filesystem::remove(dir.path() / "favolite.txt");
    std::filesystem::create_directories(dir.path() / "favolite.txt" / "inside");
    window.reset();
    QCOMPARE(boxes_.size(), 1);
    QVERIFY2(boxes_[0].contains(U("を作成できません")), qPrintable(boxes_[0]));
    QVERIFY(boxes_[0].contains(U("favolite.txt")));
    QVERIFY(std::filesystem::is_directory(dir.path() / "favolite.txt" / "inside"));
  }
};

}  // namespace korinbo

QTEST_MAIN(korinbo::SiteTreeWindowTest)
#include "site_tree_window_test.moc"
