// The background check of the favourites: its timer driven by the test, when it may begin, and a
// whole check through the program against a loopback server, with the counts in the tree, the
// tray icon's tooltip, the notification on a stub notification service, the click on it, and the
// start directory byte for byte as it was.
#include <QApplication>
#include <QDialog>
#include <QTreeWidget>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>
#include <memory>
#include <optional>
#include <string>

#include "auto_check.h"
#include "korinbo/codepage.h"
#include "korinbo/file_io.h"
#include "korinbo/httpd/server.h"
#include "korinbo/test/temp_dir.h"
#include "main_window.h"
#include "private_bus.h"
#include "program.h"
#include "settings_dialog.h"
#include "site_health_marks.h"
#include "tray_residency.h"
#include "tree_items.h"

namespace korinbo {
namespace {

using httpd::Response;
using httpd::Server;
using namespace std::chrono_literals;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// A page of headlines "見出し<link>" between <ul> and </ul>, in Shift_JIS.
std::string Page(const std::vector<std::string>& links) {
  std::string page = "<html><ul>\r\n";
  for (const auto& link : links) {
    page += "<li><a href=\"" + link + "\">" + Sjis("見出し") + link + "</a></li>\r\n";
  }
  return page + "</ul></html>\r\n";
}

using test::Find;

int Count(const QTreeWidgetItem* item) { return item->data(0, SiteHealthMarks::kNewCountRole).toInt(); }
bool Warned(const QTreeWidgetItem* item) { return item->data(0, SiteHealthMarks::kWarningRole).toBool(); }

}  // namespace

class AutoCheckTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::TempDir> dir_;
  std::unique_ptr<Server> server_;

  // A site file "国内_NAME.txt"; names and values are UTF-8 here and Shift_JIS on disk.
  void Site(const std::string& name, const std::string& url) {
    dir_->Write("newsurl/" + Sjis("国内_" + name) + ".txt",
                Sjis("url=" + url +
                     "\r\nstr_start=<ul>\r\nstr_end=</ul>\r\nanc_form=<li><a href=\"([^\"]*)\">([^<]*)</a></li>"
                     "\r\njump_url=$1\r\ncaptions=$2\r\n"));
  }
  std::map<std::filesystem::path, std::string> Files() const {
    std::map<std::filesystem::path, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_->path())) {
      if (entry.is_regular_file()) files[entry.path()] = ReadFileBytes(entry.path()).value_or("");
    }
    return files;
  }
  std::unique_ptr<Program> Make(QDBusConnection bus = QDBusConnection(QString())) {
    auto program = std::make_unique<Program>(dir_->path(), dir_->path() / "korinbo.ini", std::move(bus));
    program->window().SetMessageBoxHook([](MainWindow::BoxKind, const QString&, const QString&) {});
    program->Start();
    program->window().site_tree()->expandAll();
    return program;
  }
  // One check, run now and awaited; the check is turned on for it if it is off.
  static bool RunCheck(Program& program) {
    if (!program.auto_check().on()) program.auto_check().Configure(true, 30);
    program.auto_check().Tick();
    if (!program.auto_check().running()) return false;
    return QTest::qWaitFor([&program] { return !program.auto_check().running(); }, 20000);
  }

 private slots:
  void init() {
    dir_ = std::make_unique<test::TempDir>();
    server_ = std::make_unique<Server>();
  }
  void cleanup() {
    server_.reset();
    dir_.reset();
  }

  // The timer runs only while the check is on, every N minutes; it starts again only when the
  // minutes change; while a check may not begin it comes back every few seconds.
  void TheTimerFollowsTheSettingsAndRetriesWhileACheckMayNotBegin() {
    SiteHealth health;
    int asked = 0;
    bool may_begin = false;
    AutoCheck check(
        health,
        [&]() -> std::optional<AutoCheck::Job> {
          ++asked;
          if (!may_begin) return std::nullopt;
          return AutoCheck::Job{dir_->path(), {}, {}};
        },
        {});
    QVERIFY(!check.timer().isActive());
    check.Tick();
    QCOMPARE(asked, 0);

    check.Configure(true, 30);
    QVERIFY(check.timer().isActive());
    QCOMPARE(check.timer().interval(), 30 * 60 * 1000);
    const int timer_id = check.timer().timerId();
    check.Configure(true, 30);
    QCOMPARE(check.timer().timerId(), timer_id);
    check.Configure(true, 5);
    QCOMPARE(check.timer().interval(), 5 * 60 * 1000);

    check.Tick();
    QCOMPARE(asked, 1);
    QVERIFY(!check.running());
    QCOMPARE(check.timer().interval(), AutoCheck::kRetryMs);
    may_begin = true;
    check.Tick();
    QCOMPARE(asked, 2);
    QCOMPARE(check.timer().interval(), 5 * 60 * 1000);
    QTRY_VERIFY(!check.running());

    check.Configure(false, 5);
    QVERIFY(!check.timer().isActive());
    check.Tick();
    QCOMPARE(asked, 2);
  }

  // A check never runs twice at once, and the window's event loop runs on while it waits.
  void ACheckRunsOnceAtATimeBesideTheWindow() {
    std::atomic<bool> release{false};
    server_->Route("/held", [&release](const httpd::Request&) {
      while (!release) std::this_thread::sleep_for(5ms);
      return Response::Text(Page({"http://x/1"}));
    });
    Site("毎日", server_->Url("/held"));
    SiteHealth health;
    int asked = 0;
    int checked = 0;
    AutoCheck check(
        health,
        [&]() -> std::optional<AutoCheck::Job> {
          ++asked;
          return AutoCheck::Job{dir_->path(), {Sjis("国内_毎日.txt")}, {}};
        },
        [&](const std::vector<AutoCheck::Fresh>& fresh) {
          ++checked;
          QCOMPARE(fresh.size(), std::size_t{1});
        });
    check.Configure(true, 30);
    check.Tick();
    QVERIFY(check.running());
    QVERIFY(server_->WaitForRequests(1, 10s));
    check.Tick();
    QCOMPARE(asked, 1);
    bool delivered = false;
    QTimer::singleShot(0, [&delivered] { delivered = true; });
    QTRY_VERIFY(delivered);
    QVERIFY(check.running());
    release = true;
    QTRY_VERIFY(!check.running());
    QCOMPARE(checked, 1);
    QCOMPARE(health.NewCount(Sjis("国内_毎日.txt")), 1);
  }

  // Quitting during a check ends it at once: the object goes without waiting for the server.
  void DestroyingEndsARunningCheckAtOnce() {
    Response silent;
    silent.fault = httpd::Fault::kNeverAnswer;
    server_->Route("/silent", silent);
    Site("毎日", server_->Url("/silent"));
    SiteHealth health;
    int checked = 0;
    auto check = std::make_unique<AutoCheck>(
        health, [&] { return std::optional<AutoCheck::Job>(AutoCheck::Job{dir_->path(), {Sjis("国内_毎日.txt")}, {}}); },
        [&](const std::vector<AutoCheck::Fresh>&) { ++checked; });
    check->Configure(true, 30);
    check->Tick();
    QVERIFY(server_->WaitForRequests(1, 10s));
    QElapsedTimer took;
    took.start();
    check.reset();
    QVERIFY2(took.elapsed() < 2000, qPrintable(QString::number(took.elapsed())));
    QCoreApplication::processEvents();
    QCOMPARE(checked, 0);
  }

  // No check begins while a fetch runs, the settings dialog is open, or a modal box is.
  void NoCheckBeginsWhileTheUserIsBusy() {
    auto program = Make();
    QVERIFY(program->CheckJob().has_value());

    program->dialog().N10Click();
    QVERIFY(!program->CheckJob().has_value());
    program->dialog().Button2Click();
    QVERIFY(program->CheckJob().has_value());

    QDialog box(&program->window());
    box.setModal(true);
    box.show();
    QTRY_VERIFY(QApplication::activeModalWidget() == &box);
    QVERIFY(!program->CheckJob().has_value());
    box.hide();

    Response slow = Response::Text(Page({"http://x/1"}));
    slow.delay = 500ms;
    server_->Route("/slow", slow);
    Site("毎日", server_->Url("/slow"));
    program->window().Reload();
    program->window().site_tree()->setCurrentItem(Find(program->window().site_tree(), U("国内"), U("毎日")));
    std::optional<bool> during_fetch;
    QTimer::singleShot(100, [&] { during_fetch = program->CheckJob().has_value(); });
    program->window().FetchSelectedSiteCommand();
    QCOMPARE(during_fetch, std::optional<bool>(false));
  }

  // A whole check: the favourites' counts beside their names and summed on the root, the tooltip,
  // the notification of what was not new before, nothing written; a click on the notification
  // brings the window back from the tray and fetches the first favourite with news, which clears
  // its count.
  void ACheckCountsNotifiesAndTheClickFetches() {
    test::PrivateNotificationBus stub;
    QVERIFY(!stub.address().empty());
    server_->Route("/m", Response::Text(Page({"http://x/m1", "http://x/m2", "http://x/m3"})));
    server_->Route("/y", Response::Text(Page({"http://x/y1"})));
    server_->Route("/n", Response::Text(Page({"http://x/seen"})));
    Site("毎日", server_->Url("/m"));
    Site("読売", server_->Url("/y"));
    Site("日経", server_->Url("/n"));
    dir_->Write("favolite.txt", Sjis("国内_日経\r\n国内_毎日\r\n国内_読売\r\n"));
    dir_->Write("logdata.txt", "http://x/seen\r\nhttp://x/m3\r\n");
    dir_->Write("visitdata.txt", "http://x/m2\r\n");
    dir_->Write("korinbo.ini", "[Form]\r\nAutoCheck=True\r\nAutoCheckMinutes=10\r\n");

    auto program = Make(stub.bus());
    QCOMPARE(program->auto_check().timer().interval(), 10 * 60 * 1000);
    program->tray().HideToTray();
    const auto before = Files();
    QVERIFY(RunCheck(*program));
    QCOMPARE(Files(), before);

    QTreeWidget* tree = program->window().site_tree();
    QCOMPARE(Count(Find(tree, U("お気に入り"), U("国内_日経"))), 0);
    QCOMPARE(Count(Find(tree, U("お気に入り"), U("国内_毎日"))), 1);
    QCOMPARE(Count(Find(tree, U("お気に入り"), U("国内_読売"))), 1);
    QCOMPARE(Count(Find(tree, U("お気に入り"), QString())), 2);
    // The category's own nodes are the same sites.
    QCOMPARE(Count(Find(tree, U("国内"), U("毎日"))), 1);
    QCOMPARE(Count(Find(tree, U("国内"), QString())), 2);
    QCOMPARE(Find(tree, U("国内"), U("毎日"))->text(0), U("毎日"));
    QCOMPARE(program->tray().tray_icon()->toolTip(), U("Korinbo（新着 2件）"));

    QTRY_COMPARE(stub.NotifyCalls().size(), 1);
    QVariantList notify = stub.NotifyCalls().at(0);
    QCOMPARE(notify.at(3).toString(), U("新着 2件"));
    QCOMPARE(notify.at(4).toString(), U("毎日: 見出しhttp://x/m1\n読売: 見出しhttp://x/y1"));

    // Nothing has changed: no second notification.
    QVERIFY(RunCheck(*program));
    QCOMPARE(Count(Find(tree, U("お気に入り"), QString())), 2);
    // One new headline appears.
    server_->Route("/y", Response::Text(Page({"http://x/y2", "http://x/y1"})));
    QVERIFY(RunCheck(*program));
    QTRY_COMPARE(stub.NotifyCalls().size(), 2);
    notify = stub.NotifyCalls().at(1);
    QCOMPARE(notify.at(3).toString(), U("新着 1件"));
    QCOMPARE(notify.at(4).toString(), U("読売: 見出しhttp://x/y2"));
    QCOMPARE(program->tray().tray_icon()->toolTip(), U("Korinbo（新着 3件）"));

    // The stub numbers its notifications from 1, and the second replaced the first.
    QCOMPARE(notify.at(1).toUInt(), 1u);
    stub.EmitActionInvoked(1, QStringLiteral("default"));
    QTRY_VERIFY(!program->tray().HiddenInTray());
    QTRY_VERIFY(program->window().isVisible() && !program->window().isMinimized());
    QTRY_COMPARE(program->window().windowTitle(), U("国内_毎日 取得完了（3個）"));
    tree = program->window().site_tree();
    QCOMPARE(Count(Find(tree, U("お気に入り"), U("国内_毎日"))), 0);
    QCOMPARE(Count(Find(tree, U("お気に入り"), QString())), 2);
    QCOMPARE(program->tray().tray_icon()->toolTip(), U("Korinbo（新着 2件）"));
  }

  // A site that yields nothing carries a warning with its outcome and time, and so does its root,
  // after a fetch as after a check; a site neither fetched nor checked carries nothing.
  void ABrokenSiteShowsWhy() {
    server_->Route("/m", Response::Text("<html><ol></ol></html>"));
    Site("毎日", server_->Url("/m"));
    Site("読売", server_->Url("/m"));
    Site("日経", server_->Url("/m"));
    dir_->Write("favolite.txt", Sjis("国内_毎日\r\n"));
    auto program = Make();
    QTreeWidget* tree = program->window().site_tree();
    tree->setCurrentItem(Find(tree, U("国内"), U("読売")));
    program->window().FetchSelectedSiteCommand();
    QCOMPARE(program->window().windowTitle(), U("読売 取得完了（0個）"));
    QVERIFY(Warned(Find(tree, U("国内"), U("読売"))));
    QVERIFY(!Warned(Find(tree, U("国内"), U("毎日"))));

    QVERIFY(RunCheck(*program));
    for (QTreeWidgetItem* item : {Find(tree, U("お気に入り"), U("国内_毎日")), Find(tree, U("国内"), U("毎日")),
                                  Find(tree, U("国内"), U("読売"))}) {
      QVERIFY(Warned(item));
      QVERIFY2(item->toolTip(0).startsWith(U("見出しなし（str_start と str_end が見つかりません）  ")),
               qPrintable(item->toolTip(0)));
      QVERIFY(item->toolTip(0).contains(QDate::currentDate().toString(QStringLiteral("yyyy/MM/dd"))));
    }
    QTreeWidgetItem* root = Find(tree, U("国内"), QString());
    QVERIFY(Warned(root));
    QCOMPARE(root->toolTip(0).count(QLatin1Char('\n')), 1);
    QVERIFY(root->toolTip(0).contains(U("毎日: 見出しなし")));
    QVERIFY(root->toolTip(0).contains(U("読売: 見出しなし")));
    QVERIFY(!Warned(Find(tree, U("国内"), U("日経"))));
    QVERIFY(Find(tree, U("国内"), U("日経"))->toolTip(0).isEmpty());
    // A rebuild of the tree keeps the marks; a site that works again loses its mark.
    server_->Route("/m", Response::Text(Page({"http://x/1"})));
    program->window().Reload();
    tree = program->window().site_tree();
    QVERIFY(Warned(Find(tree, U("国内"), U("毎日"))));
    tree->setCurrentItem(Find(tree, U("国内"), U("毎日")));
    program->window().FetchSelectedSiteCommand();
    QVERIFY(!Warned(Find(tree, U("国内"), U("毎日"))));
    QVERIFY(Find(tree, U("国内"), U("毎日"))->toolTip(0).startsWith(U("見出し 1件  ")));
    QVERIFY(!Warned(Find(tree, U("お気に入り"), U("国内_毎日"))));
    QCOMPARE(Find(tree, U("国内"), QString())->toolTip(0).count(QLatin1Char('\n')), 0);
  }
};

}  // namespace korinbo

QTEST_MAIN(korinbo::AutoCheckTest)
#include "auto_check_test.moc"
