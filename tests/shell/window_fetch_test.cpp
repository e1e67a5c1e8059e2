// Fetching into the window from a loopback server: the tree's bindings and menus start the fetch,
// the list, title and status bar show it, message and error boxes report it, and Esc stops it (and
// the status bar says so).
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "korinbo/codepage.h"
#include "korinbo/file_io.h"
#include "korinbo/httpd/server.h"
#include "korinbo/test/site_file.h"
#include "korinbo/test/temp_dir.h"
#include "main_window.h"
#include "qt_text.h"
#include "tree_items.h"

namespace korinbo {
namespace {

using httpd::Response;
using httpd::Server;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

struct Box {
  MainWindow::BoxKind kind;
  QString caption;
  QString text;
};

// A page of `count` headlines "見出しN" linking to "aN.html", in Shift_JIS.
std::string Page(int count) {
  std::string page = "<html><body><p>" + Sjis("ナビ") + "</p><ul>\r\n";
  for (int i = 1; i <= count; ++i) {
    page += "<li><a href=\"a" + std::to_string(i) + ".html\">" + Sjis("見出し") + std::to_string(i) +
            "</a></li>\r\n";
  }
  return page + "</ul></body></html>\r\n";
}

using test::Find;

}  // namespace

class WindowFetchTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::TempDir> dir_;
  std::unique_ptr<Server> server_;
  std::vector<Box> boxes_;

  // A site file; names and values are UTF-8 here and Shift_JIS on disk.
  void Site(const std::string& category, const std::string& site, const std::string& url,
            const std::string& anc_form = "<li><a href=\"([^\"]*)\">([^<]*)</a></li>") {
    test::WriteSite(*dir_, category, site, {.url = url, .anc_form = anc_form});
  }

  std::unique_ptr<MainWindow> Show(bool hook_boxes = true) {
    auto window = std::make_unique<MainWindow>(dir_->path(), dir_->path() / "korinbo.ini");
    if (hook_boxes) {
      window->SetMessageBoxHook(
          [this](MainWindow::BoxKind kind, const QString& caption, const QString& text) {
            boxes_.push_back({kind, caption, text});
          });
    }
    window->SetUrlOpener([](const QUrl&) {});
    window->RunShowing();
    if (!QTest::qWaitForWindowExposed(window.get())) qWarning("window not exposed");
    window->site_tree()->expandAll();
    return window;
  }

  static void DoubleClick(MainWindow& window, QTreeWidgetItem* item) {
    QTreeWidget* tree = window.site_tree();
    tree->scrollToItem(item);
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
    // The fetch runs once the tree has handled the click.
    QCoreApplication::processEvents();
  }

  static QStringList Captions(const MainWindow& window) {
    QStringList captions;
    for (int i = 0; i < window.headline_list()->topLevelItemCount(); ++i) {
      captions << window.headline_list()->topLevelItem(i)->text(0);
    }
    return captions;
  }

  static QList<int> Icons(const MainWindow& window) {
    QList<int> icons;
    for (int i = 0; i < window.headline_list()->topLevelItemCount(); ++i) icons << window.RowIcon(i);
    return icons;
  }

 private slots:
  void init() {
    dir_ = std::make_unique<test::TempDir>();
    server_ = std::make_unique<Server>();
    boxes_.clear();
  }
  void cleanup() {
    server_.reset();
    dir_.reset();
  }

  void DoubleClickFetchesTheSiteIntoTheList() {
    server_->Route("/m.html", Response::Text(Page(3)));
    const std::string url = server_->Url("/m.html");
    Site("国内", "毎日", url);
    const std::string base = url.substr(0, url.rfind('/') + 1);
    dir_->Write("visitdata.txt", base + "a2.html\r\n");
    dir_->Write("logdata.txt", base + "a3.html\r\n");
    auto window = Show();
    DoubleClick(*window, Find(window->site_tree(), U("国内"), U("毎日")));

    QCOMPARE(Captions(*window), (QStringList{U("【毎日】"), U("見出し1"), U("見出し2"), U("見出し3")}));
    QCOMPARE(Icons(*window), (QList<int>{2, 0, 2, 1}));
    QCOMPARE(window->RowText(0, 1), Sjis("元ページ"));
    QCOMPARE(window->RowText(0, 2), url);
    QCOMPARE(window->RowText(1, 2), base + "a1.html");
    QCOMPARE(window->RowText(2, 1), Sjis("備考a2.html"));
    QCOMPARE(window->windowTitle(), U("毎日 取得完了（3個）"));
    QCOMPARE(window->status_text(), U("元ページ"));
    QCOMPARE(window->settings().LastNews, Sjis("国内_毎日.txt"));
    QVERIFY(boxes_.empty());

    QTreeWidget* list = window->headline_list();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->topLevelItem(2)).center());
    QCOMPARE(window->status_text(), U("備考a2.html"));
  }

  void EnterFetchesTheSelectedSite() {
    server_->Route("/y.html", Response::Text(Page(2)));
    Site("国内", "読売", server_->Url("/y.html"));
    auto window = Show();
    window->site_tree()->setCurrentItem(Find(window->site_tree(), U("国内"), U("読売")));
    window->site_tree()->setFocus();
    QTest::keyClick(window->site_tree(), Qt::Key_Return);
    QCOMPARE(Captions(*window), (QStringList{U("【読売】"), U("見出し1"), U("見出し2")}));
    QCOMPARE(Icons(*window), (QList<int>{2, 0, 0}));
    QCOMPARE(window->windowTitle(), U("読売 取得完了（2個）"));
  }

  void TheTitleShowsTheProgressWhileTheDownloadRuns() {
    Response slow = Response::Text(Page(1));
    slow.delay = std::chrono::milliseconds(600);
    server_->Route("/slow.html", slow);
    Site("国内", "毎日", server_->Url("/slow.html"));
    auto window = Show();
    QStringList seen;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] { seen << window->windowTitle(); });
    watch.start(50);
    window->site_tree()->setCurrentItem(Find(window->site_tree(), U("国内"), U("毎日")));
    window->FetchSelectedSiteCommand();
    watch.stop();
    QVERIFY2(seen.contains(U("接続中...")), qPrintable(seen.join(u',')));
    QCOMPARE(window->windowTitle(), U("毎日 取得完了（1個）"));
  }

  void SiteMenuAndCategoryMenuFetch() {
    // Two folders, so that the two sites' links differ.
    server_->Route("/m/index.html", Response::Text(Page(2)));
    server_->Route("/y/index.html", Response::Text(Page(3)));
    Site("国内", "毎日", server_->Url("/m/index.html"));
    Site("国内", "読売", server_->Url("/y/index.html"));
    auto window = Show();
    QTreeWidget* tree = window->site_tree();

    QTreeWidgetItem* yomiuri = Find(tree, U("国内"), U("読売"));
    QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, tree->visualItemRect(yomiuri).center());
    QVERIFY(window->site_menu()->isVisible());
    window->site_menu()->hide();
    window->site_menu()->actions().at(0)->trigger();
    QCOMPARE(Captions(*window).value(0), U("【読売】"));
    QCOMPARE(window->windowTitle(), U("読売 取得完了（3個）"));

    QTreeWidgetItem* root = Find(tree, U("国内"), QString());
    QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, tree->visualItemRect(root).center());
    QVERIFY(window->category_menu()->isVisible());
    window->category_menu()->hide();
    window->category_menu()->actions().at(0)->trigger();
    QCOMPARE(Captions(*window).size(), 7);
    QCOMPARE(Captions(*window).value(0), U("【毎日】"));
    QCOMPARE(Captions(*window).value(3), U("【読売】"));
    QCOMPARE(window->windowTitle(), U("全取得完了（5個）"));
    QCOMPARE(window->headline_fetch().fetch_mode(), FetchMode::kSingle);
    // The links of the earlier fetch of 読売 are known by now.
    QCOMPARE(Icons(*window), (QList<int>{2, 0, 0, 2, 1, 1, 1}));
  }

  void UrlMessagesLeaveTheListAsItWas() {
    server_->Route("/m.html", Response::Text(Page(1)));
    Site("国内", "毎日", server_->Url("/m.html"));
    Site("国内", "空", "");
    Site("国内", "暗号", "https://127.0.0.1/");
    auto window = Show();
    DoubleClick(*window, Find(window->site_tree(), U("国内"), U("毎日")));
    QCOMPARE(Captions(*window).size(), 2);

    DoubleClick(*window, Find(window->site_tree(), U("国内"), U("空")));
    QCOMPARE(boxes_.size(), std::size_t{1});
    QCOMPARE(boxes_[0].kind, MainWindow::BoxKind::kMessage);
    QCOMPARE(boxes_[0].text, U("URLを入力してください。"));
    QCOMPARE(boxes_[0].caption, ProgramTitle(QCoreApplication::applicationFilePath()));
    QCOMPARE(Captions(*window).size(), 2);
    QCOMPARE(window->settings().LastNews, Sjis("国内_空.txt"));

    DoubleClick(*window, Find(window->site_tree(), U("国内"), U("暗号")));
    QCOMPARE(boxes_.size(), std::size_t{2});
    QCOMPARE(boxes_[1].kind, MainWindow::BoxKind::kMessage);
    QCOMPARE(boxes_[1].text, U("URLはhttp://から入力してください。"));
    QCOMPARE(Captions(*window).value(0), U("【毎日】"));
    QCOMPARE(window->windowTitle(), U("毎日 取得完了（1個）"));
  }

  void PatternErrorGoesToTheErrorBoxWithTheHeaderRowLeft() {
    server_->Route("/m.html", Response::Text(Page(2)));
    Site("国内", "毎日", server_->Url("/m.html"), "<li>(");
    auto window = Show();
    DoubleClick(*window, Find(window->site_tree(), U("国内"), U("毎日")));
    QCOMPARE(boxes_.size(), std::size_t{1});
    QCOMPARE(boxes_[0].kind, MainWindow::BoxKind::kError);
    QVERIFY(!boxes_[0].text.isEmpty());
    QCOMPARE(Captions(*window), QStringList{U("【毎日】")});
    QCOMPARE(window->windowTitle(), U("変換中..."));
    QVERIFY(!window->fetch_running());
  }

  void BoxesAreRealMessageBoxesWithTheProgramTitle() {
    server_->Route("/m.html", Response::Text(Page(2)));
    Site("国内", "毎日", server_->Url("/m.html"), "(");
    Site("国内", "空", "");
    auto window = Show(false);
    struct Seen {
      QString title, text;
      QMessageBox::Icon icon = QMessageBox::NoIcon;
    };
    std::vector<Seen> seen;
    QTimer closer;
    connect(&closer, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      seen.push_back({box->windowTitle(), box->text(), box->icon()});
      box->button(QMessageBox::Ok)->click();
    });
    closer.start(50);
    DoubleClick(*window, Find(window->site_tree(), U("国内"), U("空")));
    DoubleClick(*window, Find(window->site_tree(), U("国内"), U("毎日")));
    closer.stop();
    QCOMPARE(seen.size(), std::size_t{2});
    QCOMPARE(seen[0].title, ProgramTitle(QCoreApplication::applicationFilePath()));
    QCOMPARE(seen[0].text, U("URLを入力してください。"));
    QCOMPARE(seen[0].icon, QMessageBox::NoIcon);
    QCOMPARE(seen[1].title, ProgramTitle(QCoreApplication::applicationFilePath()));
    QCOMPARE(seen[1].icon, QMessageBox::Critical);
  }

  void EscStopsAFetchThatNeverGetsAnAnswerAndNothingElseGetsIn() {
    Response silent;
    silent.fault = httpd::Fault::kNeverAnswer;
    server_->Route("/never.html", silent);
    Site("国内", "毎日", server_->Url("/never.html"));
    auto window = Show();
    window->headline_fetch().SetDownloadLimits(std::chrono::seconds(60), std::chrono::seconds(60));
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    window->site_tree()->setCurrentItem(Find(window->site_tree(), U("国内"), U("毎日")));

    bool pressed = false;
    QStringList titles;
    QTimer::singleShot(300, window.get(), [&] {
      titles << window->windowTitle();
      // Input during the fetch reaches nothing: neither the exit shortcut nor the tree.
      QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier);
      QTest::keyClick(window->site_tree(), Qt::Key_Return);
      QTest::keyClick(window->site_tree(), Qt::Key_Escape);
      pressed = true;
    });
    QElapsedTimer elapsed;
    elapsed.start();
    window->FetchSelectedSiteCommand();
    QVERIFY(pressed);
    QVERIFY2(elapsed.elapsed() < 30000, "the fetch waited for its time-out");
    QCOMPARE(titles, QStringList{U("接続中...")});
    QVERIFY(window->isVisible());
    QCOMPARE(Captions(*window), QStringList{U("【毎日】")});
    QCOMPARE(window->windowTitle(), U("毎日 取得完了（0個）"));
    QVERIFY(std::filesystem::exists(dir_->path() / "getdata.txt"));
    QVERIFY(boxes_.empty());
    QCOMPARE(window->status_text(), U("中断しました（0バイト受信）"));

    // Input reaches the window again after the fetch.
    QTest::keyClick(window->site_tree(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(window->status_text(), U("最前面ON"));
  }

  void EscSaysInTheStatusBarHowManyBytesArrived() {
    const std::string page = Page(20);
    Response trickle = Response::Text(page);
    trickle.fault = httpd::Fault::kTrickle;
    trickle.trickle_interval = std::chrono::milliseconds(5);
    server_->Route("/t.html", trickle);
    Site("国内", "毎日", server_->Url("/t.html"));
    auto window = Show();
    window->site_tree()->setCurrentItem(Find(window->site_tree(), U("国内"), U("毎日")));
    // Some bytes have arrived by then, not all: one comes every 5 ms.
    QTimer::singleShot(400, window.get(),
                       [&window] { QTest::keyClick(window->site_tree(), Qt::Key_Escape); });
    window->FetchSelectedSiteCommand();
    const QRegularExpressionMatch stopped =
        QRegularExpression(U("^中断しました（(\\d+)バイト受信）$")).match(window->status_text());
    QVERIFY2(stopped.hasMatch(), qPrintable(window->status_text()));
    const qsizetype bytes = stopped.captured(1).toLongLong();
    QVERIFY2(bytes > 0 && bytes < static_cast<qsizetype>(page.size()), qPrintable(stopped.captured(1)));
    QCOMPARE(static_cast<std::size_t>(bytes), window->headline_fetch().last_download().bytes_received);
  }

  void EscSaysInTheStatusBarHowManySitesArrived() {
    server_->Route("/m.html", Response::Text(Page(2)));
    Response silent;
    silent.fault = httpd::Fault::kNeverAnswer;
    server_->Route("/never.html", silent);
    Site("国内", "毎日", server_->Url("/m.html"));
    Site("国内", "読売", server_->Url("/never.html"));
    auto window = Show();
    window->headline_fetch().SetDownloadLimits(std::chrono::seconds(60), std::chrono::seconds(60));
    window->site_tree()->setCurrentItem(Find(window->site_tree(), U("国内"), QString()));
    // Esc once the second site's header row is listed, that is while its page downloads.
    QTimer esc;
    connect(&esc, &QTimer::timeout, window.get(), [&] {
      if (!Captions(*window).contains(U("【読売】"))) return;
      esc.stop();
      QTest::keyClick(window->site_tree(), Qt::Key_Escape);
    });
    esc.start(20);
    QElapsedTimer elapsed;
    elapsed.start();
    window->FetchCategoryCommand();
    QVERIFY2(elapsed.elapsed() < 30000, "the fetch waited for its time-out");
    QCOMPARE(window->windowTitle(), U("全取得完了（2個）"));
    QCOMPARE(window->status_text(), U("中断しました（1/2サイト受信）"));

    // A fetch that runs to its end shows the header row's remark again.
    window->site_tree()->setCurrentItem(Find(window->site_tree(), U("国内"), U("毎日")));
    window->FetchSelectedSiteCommand();
    QCOMPARE(window->status_text(), U("元ページ"));
  }

  // The event loop is served between sites, so that the list grows site by site, and Esc is seen
  // once the pages have arrived and no download is awaited any more.
  void TheListGrowsSiteBySiteAndEscIsSeenAfterThePagesArrived() {
    server_->Route("/a.html", Response::Text(Page(2)));
    for (const char* site : {"毎日", "読売", "朝日"}) Site("国内", site, server_->Url("/a.html"));
    auto window = Show();
    window->fetch_window().SetServeInterval(std::chrono::milliseconds(0));
    window->site_tree()->setCurrentItem(Find(window->site_tree(), U("国内"), QString()));
    QList<int> counts;  // the list's row counts as the timer saw them
    bool escaped = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, window.get(), [&] {
      const int rows = window->headline_list()->topLevelItemCount();
      if (counts.isEmpty() || counts.back() != rows) counts << rows;
      if (rows == 6 && !escaped) {
        escaped = true;
        QTest::keyClick(window->site_tree(), Qt::Key_Escape);
      }
    });
    watch.start(0);
    window->FetchCategoryCommand();
    watch.stop();
    // A header row and two headlines for each site.
    QVERIFY2(counts.contains(3) && counts.contains(6), qPrintable(QString::number(counts.size())));
    QVERIFY(escaped);
    QVERIFY2(window->status_text().startsWith(U("中断しました")), qPrintable(window->status_text()));
  }

  void ARebuildAskedForDuringAFetchWaitsForItsEnd() {
    Response slow = Response::Text(Page(1));
    slow.delay = std::chrono::milliseconds(400);
    server_->Route("/m.html", slow);
    server_->Route("/y.html", Response::Text(Page(1)));
    Site("国内", "毎日", server_->Url("/m.html"));
    Site("国内", "読売", server_->Url("/y.html"));
    auto window = Show();
    window->site_tree()->setCurrentItem(Find(window->site_tree(), U("国内"), QString()));
    QTimer::singleShot(100, window.get(), [&] { window->RunShowingSteps(); });
    window->FetchCategoryCommand();
    QCOMPARE(window->windowTitle(), U("全取得完了（2個）"));
    QCOMPARE(Captions(*window).size(), 4);
    QCOMPARE(window->site_tree()->topLevelItemCount(), 2);
  }
};

}  // namespace korinbo

QTEST_MAIN(korinbo::WindowFetchTest)
#include "window_fetch_test.moc"
