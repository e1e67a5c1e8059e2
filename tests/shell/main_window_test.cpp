// The main window from start-up to shutdown: placement from the settings file, the menus and
// their shortcuts, topmost, browser and font commands, opening headlines, the wheel rule, and the
// settings and favourites files written at the end.
#include <QtTest/qtestspontaneevent.h>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QTimer>
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

struct Box {
  MainWindow::BoxKind kind;
  QString text;
};

QAction* FindAction(const MainWindow& window, const QString& text) {
  for (QAction* menu : window.menuBar()->actions()) {
    if (menu->menu() == nullptr) continue;
    for (QAction* action : menu->menu()->actions()) {
      if (action->text() == text || action->text().startsWith(text + u'\t')) return action;
    }
  }
  return nullptr;
}

QRect ScreenArea() { return QGuiApplication::primaryScreen()->availableGeometry(); }

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::TempDir> dir_;
  std::vector<Box> boxes_;
  std::vector<QUrl> opened_;

  std::filesystem::path Ini() const { return dir_->path() / "korinbo.ini"; }
  void Settings(std::string_view utf8) { dir_->Write("korinbo.ini", Sjis(utf8)); }
  std::string File(const std::filesystem::path& path) const {
    return ReadFileBytes(path).value_or("<missing>");
  }

  std::unique_ptr<MainWindow> Open(std::filesystem::path ini = {}) {
    auto window = std::make_unique<MainWindow>(dir_->path(), ini.empty() ? Ini() : ini);
    window->SetMessageBoxHook([this](MainWindow::BoxKind kind, const QString&, const QString& text) {
      boxes_.push_back({kind, text});
    });
    window->SetUrlOpener([this](const QUrl& url) { opened_.push_back(url); });
    return window;
  }
  std::unique_ptr<MainWindow> Show(std::filesystem::path ini = {}) {
    auto window = Open(std::move(ini));
    window->RunShowing();
    if (!QTest::qWaitForWindowExposed(window.get())) qWarning("window not exposed");
    return window;
  }
  // The window manager's close: a spontaneous close event, unlike close().
  static void TitleBarClose(MainWindow& window) {
    QCloseEvent close;
    QSpontaneKeyEvent::setSpontaneous(&close);
    QCoreApplication::instance()->notify(&window, &close);  // sendEvent would clear the flag
    if (close.isAccepted()) window.hide();
  }
  // Rows as the fetch makes them, listed as at the fetch's next chance.
  static int Row(MainWindow& window, std::string_view caption_utf8, std::string_view link) {
    FetchWindowAdapter& rows = window.fetch_window();
    const int row = rows.AppendRow(Sjis(caption_utf8));
    rows.SetRemark(row, Sjis("備考"));
    rows.SetLink(row, link);
    rows.SetIcon(row, kIconNew);
    rows.ShowProgress();
    return row;
  }
  static void SelectRow(MainWindow& window, int row) {
    window.fetch_window().SelectRow(row);
    window.fetch_window().ShowProgress();
  }

 private slots:
  void init() {
    dir_ = std::make_unique<test::TempDir>();
    boxes_.clear();
    opened_.clear();
  }
  void cleanup() { dir_.reset(); }

  void StartsAtTheWorkAreaCornerWithoutASettingsFile() {
    auto window = Show();
    QCOMPARE(window->windowTitle(), U("Korinbo"));
    QTRY_COMPARE(window->frameGeometry(), QRect(ScreenArea().topLeft(), QSize(638, 350)));
    QCOMPARE(window->splitter()->sizes().value(0), 177);
    QCOMPARE(window->splitter()->handleWidth(), 3);
    for (int column = 0; column < 3; ++column) QCOMPARE(window->headline_list()->columnWidth(column), 200);
    QCOMPARE(window->site_tree()->font().family(), U("ＭＳ Ｐゴシック"));
    QCOMPARE(window->site_tree()->font().pointSize(), 10);
    QCOMPARE(window->headline_list()->font().pointSize(), 10);
    QCOMPARE(window->font().pixelSize(), 12);
    QCOMPARE(window->settings().UseProxy.text(), std::string("DIRECT"));
    QCOMPARE(window->settings().ProxyName, std::string("False"));
    QCOMPARE(window->settings().TaskWay.text(), std::string("Min"));
    QCOMPARE(window->settings().Shortcut, TShortCut{0});
    QVERIFY(window->site_tree()->hasFocus() || QApplication::focusWidget() == nullptr);
    QCOMPARE(window->focusWidget(), static_cast<QWidget*>(window->site_tree()));

    window.reset();
    const std::string ini = File(Ini());
    for (const char* key : {"Top=", "Left=", "Width=638", "Height=350", "LvWidth=177", "Lv2Col0=200",
                            "Lv2Col1=200", "Lv2Col2=200", "FontSize=10", "LastNews=", "FontName=",
                            "ProxyName=False", "UseProxy=DIRECT", "TaskWay=Min", "Shortcut=", "ExecName="}) {
      QVERIFY2(ini.find(key) != std::string::npos, key);
    }
    QVERIFY(ini.find("AlwaysTop") == std::string::npos);
  }

  void StartsWhereTheSettingsFileSays() {
    Settings(
        "[Form]\r\nTop=40\r\nLeft=30\r\nWidth=500\r\nHeight=300\r\nLvWidth=150\r\nLv2Col0=120\r\nLv2Col1="
        "90\r\n"
        "Lv2Col2=260\r\nFontName=IPAGothic\r\nFontSize=12\r\n[File]\r\nExecName=/bin/true\r\n");
    auto window = Show();
    const QPoint corner = ScreenArea().topLeft();
    QTRY_COMPARE(window->frameGeometry(),
                 QRect(std::max(30, corner.x()), std::max(40, corner.y()), 500, 300));
    QCOMPARE(window->splitter()->sizes().value(0), 150);
    QCOMPARE(window->headline_list()->columnWidth(0), 120);
    QCOMPARE(window->headline_list()->columnWidth(1), 90);
    QCOMPARE(window->headline_list()->columnWidth(2), 260);
    QCOMPARE(window->site_tree()->font().family(), U("IPAGothic"));
    QCOMPARE(window->headline_list()->font().pointSize(), 12);
    QVERIFY(!FindAction(*window, U("標準ブラウザで開く"))->isChecked());

    // The pane sizes are read back from the widgets at shutdown.
    window->splitter()->setSizes({210, window->splitter()->width() - 213});
    window->headline_list()->setColumnWidth(1, 111);
    window.reset();
    const std::string ini = File(Ini());
    QVERIFY(ini.find("LvWidth=210") != std::string::npos);
    QVERIFY(ini.find("Lv2Col1=111") != std::string::npos);
    QVERIFY(ini.find("Width=500") != std::string::npos);
  }

  void PlacementKeepsTheWindowReachable() {
    Settings("[Form]\r\nLeft=50000\r\nTop=-50\r\n");
    auto window = Show();
    QTRY_COMPARE(window->frameGeometry().topLeft(), ScreenArea().topLeft());
  }

  void DamagedSettingsDoNotBreakTheWindow() {
    Settings("[Form]\r\nWidth=-5\r\nHeight=99999999\r\nLvWidth=-40\r\nLv2Col0=-3\r\nFontSize=2000000000\r\n");
    auto window = Show();
    QVERIFY(window->isVisible());
    QVERIFY(window->headline_list()->columnWidth(0) >= 0);
    QCOMPARE(window->site_tree()->font().pointSize(), 10);
    QCOMPARE(window->settings().FontSize, 2000000000);  // kept as the file holds it
  }

  void ShutdownWritesTheSettingsThenTheFavourites() {
    dir_->Write("newsurl/国内_毎日.txt", "url=http://127.0.0.1:9/\r\n");
    auto window = Show();
    window->move(ScreenArea().topLeft() + QPoint(60, 70));
    QTRY_COMPARE(window->frameGeometry().topLeft(), ScreenArea().topLeft() + QPoint(60, 70));
    window->site_tree()->expandAll();
    window->site_tree()->setCurrentItem(window->site_tree()->topLevelItem(1)->child(0));
    window->AddFavourite();
    window.reset();
    const std::string ini = File(Ini());
    QVERIFY(ini.find("Top=" + std::to_string(ScreenArea().top() + 70)) != std::string::npos);
    QVERIFY(ini.find("Left=" + std::to_string(ScreenArea().left() + 60)) != std::string::npos);
    QCOMPARE(File(dir_->path() / "favolite.txt"), Sjis("国内_毎日\r\n"));
    QVERIFY(boxes_.empty());
  }

  void ASettingsFileThatCannotBeWrittenLeavesTheFavouritesAlone() {
    dir_->Write("newsurl/国内_毎日.txt", "url=http://127.0.0.1:9/\r\n");
    dir_->Write("favolite.txt", Sjis("経済_日経\r\n"));
    dir_->Write("blocker", "a file, so no folder can be made here");
    auto window = Show(dir_->path() / "blocker" / "korinbo.ini");
    // The tree's favourites now differ from the file's (a favourite gone without a write): shutdown
    // would write them.
    delete window->site_tree()->topLevelItem(0)->child(0);
    window.reset();
    QCOMPARE(boxes_.size(), std::size_t{1});
    QCOMPARE(boxes_[0].kind, MainWindow::BoxKind::kError);
    QVERIFY2(boxes_[0].text.contains(U("に書き込めません")), qPrintable(boxes_[0].text));
    QCOMPARE(File(dir_->path() / "favolite.txt"), Sjis("経済_日経\r\n"));
  }

  void SettingsItemShowsCtrlQWithoutTakingIt() {
    auto window = Open();
    QCOMPARE(window->settings_action()->text(), U("環境設定\tCtrl+Q"));
    QVERIFY(window->settings_action()->shortcut().isEmpty());
    const QStringList menus{window->menuBar()->actions().value(0)->text(),
                            window->menuBar()->actions().value(1)->text()};
    QCOMPARE(menus, (QStringList{U("ファイル(&F)"), U("ツール(&T)")}));
  }

  void CtrlQEndsTheProgram() {
    auto window = Show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QTimer::singleShot(0, window.get(),
                       [&window] { QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier); });
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(20000);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!window->isVisible());
  }

  void CtrlATwiceLeavesTheWindowNormal() {
    dir_->Write("newsurl/国内_毎日.txt", "url=http://127.0.0.1:9/\r\n");
    Settings("[Form]\r\nAlwaysTop=False\r\n");
    auto window = Show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    // A site that only a rebuild would show.
    dir_->Write("newsurl/経済_日経.txt", "url=http://127.0.0.1:9/\r\n");
    QAction* topmost = FindAction(*window, U("最前面表示"));

    QTest::keyClick(window->site_tree(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(window->status_text(), U("最前面ON"));
    QVERIFY(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(topmost->isChecked());
    QCOMPARE(window->settings().AlwaysTop.text(), std::string("True"));
    QVERIFY(window->isVisible());
    QCOMPARE(window->site_tree()->topLevelItemCount(), 2);

    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window->site_tree(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(window->status_text(), U("最前面OFF"));
    QVERIFY(!window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!topmost->isChecked());
    QCOMPARE(window->settings().AlwaysTop.text(), std::string("False"));
    QVERIFY(window->isVisible());
    QCOMPARE(window->site_tree()->topLevelItemCount(), 2);
  }

  void TitleBarCloseMayBeTakenOverButTheMenuAlwaysCloses() {
    auto window = Show();
    bool take_over = true;
    std::vector<MainWindow::TitleBarCommand> commands;
    int closings = 0;
    window->SetTitleBarHook([&](MainWindow::TitleBarCommand command) {
      commands.push_back(command);
      return take_over;
    });
    window->SetClosingHook([&closings] { ++closings; });

    TitleBarClose(*window);
    QVERIFY(window->isVisible());
    QCOMPARE(commands, std::vector<MainWindow::TitleBarCommand>{MainWindow::TitleBarCommand::kClose});
    QCOMPARE(closings, 0);

    FindAction(*window, U("終了(&X)"))->trigger();
    QVERIFY(!window->isVisible());
    QCOMPARE(commands.size(), std::size_t{1});
    QCOMPARE(closings, 1);

    window->RunShowing();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    take_over = false;
    TitleBarClose(*window);
    QVERIFY(!window->isVisible());
    QCOMPARE(closings, 2);
  }

  void MinimisingTellsTheHook() {
    auto window = Show();
    std::vector<MainWindow::TitleBarCommand> commands;
    window->SetTitleBarHook([&](MainWindow::TitleBarCommand command) {
      commands.push_back(command);
      return true;
    });
    window->showMinimized();
    QTRY_COMPARE(commands, std::vector<MainWindow::TitleBarCommand>{MainWindow::TitleBarCommand::kMinimise});
    window->showNormal();
    QTest::qWait(20);
    QCOMPARE(commands.size(), std::size_t{1});
  }

  void AlwaysTopFromTheFileIsAppliedAtTheShowingAndNeverWritten() {
    Settings("[Form]\r\nAlwaysTop=True\r\n");
    auto window = Show();
    QVERIFY(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(FindAction(*window, U("最前面表示"))->isChecked());
    window->ToggleTopmost();
    QVERIFY(!window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    window.reset();
    QVERIFY(File(Ini()).find("AlwaysTop=True") != std::string::npos);
  }

  void EveryShowingRunsTheShowingSteps() {
    int registrations = 0;
    auto window = Open();
    window->SetHotkeyRegistration([&registrations] { ++registrations; });
    window->RunShowing();
    QCOMPARE(registrations, 1);
    dir_->Write("newsurl/国内_毎日.txt", "url=http://127.0.0.1:9/\r\n");
    window->hide();
    window->RunShowing();
    QCOMPARE(registrations, 2);
    QCOMPARE(window->site_tree()->topLevelItemCount(), 2);
    // Un-minimising is no showing.
    window->showMinimized();
    window->showNormal();
    QCOMPARE(registrations, 2);
  }

  void DefaultBrowserItemFollowsExecName() {
    auto window = Show();
    QAction* item = FindAction(*window, U("標準ブラウザで開く"));
    QVERIFY(item->isChecked());

    window->SetBrowserDialogHook([]() -> std::optional<QString> { return std::nullopt; });
    window->ChooseBrowser();
    QVERIFY(item->isChecked());
    QCOMPARE(window->settings().ExecName, std::string());

    window->SetBrowserDialogHook([]() -> std::optional<QString> { return U("/opt/ブラウザ/run"); });
    window->ChooseBrowser();
    QVERIFY(!item->isChecked());
    QCOMPARE(window->settings().ExecName, Sjis("/opt/ブラウザ/run"));
    window->Reload();
    QVERIFY(!item->isChecked());

    item->trigger();
    QVERIFY(item->isChecked());
    QCOMPARE(window->settings().ExecName, std::string());
    item->trigger();  // a second time it stays checked
    QVERIFY(item->isChecked());
  }

  void FontDialogKeepsItsOwnFont() {
    Settings("[Form]\r\nFontName=IPAGothic\r\nFontSize=14\r\n");
    auto window = Show();
    std::vector<QFont> offered;
    std::optional<QFont> answer = QFont(U("IPAPGothic"), 15);
    window->SetFontDialogHook([&](const QFont& initial) {
      offered.push_back(initial);
      return answer;
    });
    window->ChooseFont();
    QCOMPARE(offered.size(), std::size_t{1});
    QCOMPARE(offered[0].family(), U("ＭＳ Ｐゴシック"));
    QCOMPARE(offered[0].pointSize(), 9);
    QCOMPARE(window->settings().FontName, std::string("IPAPGothic"));
    QCOMPARE(window->settings().FontSize, 15);
    QCOMPARE(window->site_tree()->font().pointSize(), 15);
    QCOMPARE(window->headline_list()->font().family(), U("IPAPGothic"));

    answer.reset();
    window->ChooseFont();
    QCOMPARE(offered.size(), std::size_t{2});
    QCOMPARE(offered[1].family(), U("IPAPGothic"));
    QCOMPARE(offered[1].pointSize(), 15);
    QCOMPARE(window->settings().FontSize, 15);
  }

  void ConfirmingTheFontDialogUnchangedKeepsTheStartFont() {
    auto window = Show();
    const QString drawn_before = QFontInfo(window->site_tree()->font()).family();
    window->SetFontDialogHook([](const QFont& initial) { return std::optional<QFont>(initial); });
    window->ChooseFont();
    QCOMPARE(window->settings().FontName, Sjis("ＭＳ Ｐゴシック"));
    QCOMPARE(window->settings().FontSize, 9);
    for (const QWidget* pane :
         {static_cast<QWidget*>(window->site_tree()), static_cast<QWidget*>(window->headline_list())}) {
      QCOMPARE(pane->font().family(), U("ＭＳ Ｐゴシック"));
      QCOMPARE(pane->font().pointSize(), 9);
      QCOMPARE(QFontInfo(pane->font()).family(), drawn_before);
    }
  }

  // The real dialog: it lists only installed faces, so the start font shows as the face drawing it.
  void TheFontDialogShowsTheStartFontAsTheFaceThatDrawsIt() {
    auto window = Show();
    const QString japanese_face = QFontInfo(QFont(U("ＭＳ Ｐゴシック"))).family();
    QVERIFY2(QFontDatabase::writingSystems(japanese_face).contains(QFontDatabase::Japanese),
             qPrintable(japanese_face));
    std::vector<QFont> shown;
    auto confirm_with = [&](std::optional<QFont> change) {
      QTimer::singleShot(0, window.get(), [&shown, change] {
        auto* dialog = qobject_cast<QFontDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        shown.push_back(dialog->currentFont());
        if (change) dialog->setCurrentFont(*change);
        dialog->accept();
      });
      window->ChooseFont();
    };

    confirm_with(std::nullopt);
    QCOMPARE(shown.size(), std::size_t{1});
    QCOMPARE(shown[0].family(), japanese_face);
    QCOMPARE(shown[0].pointSize(), 9);
    QCOMPARE(window->settings().FontName, Sjis("ＭＳ Ｐゴシック"));
    QCOMPARE(window->settings().FontSize, 9);
    QCOMPARE(window->site_tree()->font().family(), U("ＭＳ Ｐゴシック"));

    // Another face is stored by its own name and is where the dialog starts next time.
    confirm_with(QFont(U("DejaVu Sans"), 11));
    QCOMPARE(window->settings().FontName, std::string("DejaVu Sans"));
    QCOMPARE(window->settings().FontSize, 11);
    confirm_with(std::nullopt);
    QCOMPARE(shown.size(), std::size_t{3});
    QCOMPARE(shown[2].family(), U("DejaVu Sans"));
    QCOMPARE(shown[2].pointSize(), 11);
    QCOMPARE(window->settings().FontName, std::string("DejaVu Sans"));
  }

  void JapaneseFacesAreSubstituted() {
    auto window = Open();
    const QStringList families = QFontDatabase::families();
    for (const QString& name : {U("ＭＳ Ｐゴシック"), U("MS PGothic")}) {
      if (families.contains(name)) continue;
      QVERIFY(QFont::substitutes(name).contains(U("IPAPGothic"), Qt::CaseInsensitive));
    }
  }

  void SelectingARowShowsItsRemark() {
    auto window = Show();
    QTreeWidget* list = window->headline_list();
    const int first = window->fetch_window().AppendRow(Sjis("一"));
    window->fetch_window().SetRemark(first, Sjis("最初"));
    const int second = window->fetch_window().AppendRow(Sjis("二"));
    window->fetch_window().SetRemark(second, Sjis("二番目"));
    window->fetch_window().SetIcon(second, kIconUnread);
    SelectRow(*window, second);
    QCOMPARE(window->status_text(), U("二番目"));
    QCOMPARE(window->RowIcon(second), 1);
    QCOMPARE(list->topLevelItem(second)->toolTip(1), U("二番目"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->topLevelItem(first)).center());
    QCOMPARE(window->status_text(), U("最初"));
    window->fetch_window().SetIcon(first, 7);  // no such image: ignored
    QCOMPARE(window->RowIcon(first), -1);
  }

  // A browser program that writes its working directory and its arguments to its own name + ".args".
  std::filesystem::path RecordingBrowser(const std::filesystem::path& name) {
    const auto script =
        dir_->Write(name,
                    "#!/bin/sh\n{ pwd; for a in \"$@\"; do printf '<%s>\\n' \"$a\"; done; } > \"$0.part\"\n"
                    "mv \"$0.part\" \"$0.args\"\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    return script;
  }

  void OpeningStartsTheChosenBrowserWithTheLinkAsOneArgument() {
    const auto script = RecordingBrowser("browser.sh");
    Settings("[File]\r\nExecName=" + script.string() + "\r\n");
    auto window = Show();
    const std::string link = "http://news.example/a b\"c'd;touch pwned;$(touch pwned2)`touch pwned3`";
    const int row = Row(*window, "見出し", link);
    SelectRow(*window, row);
    window->OpenSelectedHeadline();
    QCOMPARE(window->RowIcon(row), 2);
    QCOMPARE(File(dir_->path() / "visitdata.txt"), link + "\r\n");
    const auto args = dir_->path() / "browser.sh.args";
    QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::exists(args), 10000);
    QCOMPARE(File(args), dir_->path().string() + "\n<" + link + ">\n");
    for (const char* name : {"pwned", "pwned2", "pwned3"})
      QVERIFY(!std::filesystem::exists(dir_->path() / name));
    QVERIFY(opened_.empty());
  }

  // "%D" stands for the start directory.
  void EveryFormOfTheBrowserCommandStartsTheBrowser_data() {
    QTest::addColumn<QString>("exec_name");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("arguments");  // as the program got them, each in <>
    QTest::newRow("plain path") << U("%D/browser.sh") << U("browser.sh") << U("<%L>");
    QTest::newRow("path with arguments")
        << U("%D/browser.sh --new-tab") << U("browser.sh") << U("<--new-tab><%L>");
    QTest::newRow("quoted path with a blank")
        << U("\"%D/my browser/browser.sh\"") << U("my browser/browser.sh") << U("<%L>");
    QTest::newRow("quoted path plus arguments")
        << U("'%D/my browser/browser.sh' --new-tab -P \"a b\"") << U("my browser/browser.sh")
        << U("<--new-tab><-P><a b><%L>");
  }
  void EveryFormOfTheBrowserCommandStartsTheBrowser() {
    QFETCH(QString, exec_name);
    QFETCH(QString, program);
    QFETCH(QString, arguments);
    RecordingBrowser("browser.sh");
    RecordingBrowser("my browser/browser.sh");
    auto window = Show();
    const QString folder = PathToQString(dir_->path());
    window->settings().ExecName = ToSjis(exec_name.replace(U("%D"), folder));
    const std::string link = "http://news.example/a b;$HOME";
    SelectRow(*window, Row(*window, "見出し", link));
    window->OpenSelectedHeadline();
    const auto args = dir_->path() / PathFromQString(program + U(".args"));
    QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::exists(args), 10000);
    QString got = ToQString(File(args));
    got.remove(u'\n');
    QCOMPARE(got, folder + arguments.replace(U("%L"), ToQString(link)));
    QVERIFY(opened_.empty());
  }

  void OpeningTwiceLeavesOneLineInTheVisitLog() {
    auto window = Show();
    const int row = Row(*window, "見出し", "http://news.example/1.html");
    SelectRow(*window, row);
    window->OpenSelectedHeadline();
    window->OpenSelectedHeadline();
    QCOMPARE(File(dir_->path() / "visitdata.txt"), std::string("http://news.example/1.html\r\n"));
    QCOMPARE(opened_.size(), std::size_t{2});
    QCOMPARE(opened_[0], QUrl(U("http://news.example/1.html")));
  }

  void EnterAndDoubleClickOpenTheSelectedRow() {
    auto window = Show();
    QTreeWidget* list = window->headline_list();
    Row(*window, "一", "http://news.example/1.html");
    const int second = Row(*window, "二", "http://news.example/2.html");
    SelectRow(*window, second);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(opened_.size(), std::size_t{1});
    QCOMPARE(opened_.back(), QUrl(U("http://news.example/2.html")));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                       list->visualItemRect(list->topLevelItem(0)).center());
    QTRY_COMPARE(opened_.size(), std::size_t{2});
    QCOMPARE(opened_.back(), QUrl(U("http://news.example/1.html")));
    QCOMPARE(window->RowIcon(0), 2);
  }

  void OpeningWithoutASelectedRowDoesNothing() {
    auto window = Show();
    Row(*window, "一", "http://news.example/1.html");
    window->headline_list()->clearSelection();
    window->OpenSelectedHeadline();
    QVERIFY(opened_.empty());
    QVERIFY(!std::filesystem::exists(dir_->path() / "visitdata.txt"));
  }

  void AVisitLogThatCannotBeWrittenStopsTheOpening() {
    std::filesystem::create_directories(dir_->path() / "visitdata.txt" / "inside");
    auto window = Show();
    const int row = Row(*window, "一", "http://news.example/1.html");
    SelectRow(*window, row);
    window->OpenSelectedHeadline();
    QCOMPARE(boxes_.size(), std::size_t{1});
    QCOMPARE(boxes_[0].kind, MainWindow::BoxKind::kError);
    QCOMPARE(window->RowIcon(row), 0);
    QVERIFY(opened_.empty());
  }

  void FirstWheelTurnOverAnUnfocusedPaneOnlyMovesTheFocus() {
    auto window = Show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QTreeWidget* list = window->headline_list();
    for (int i = 0; i < 300; ++i) window->fetch_window().AppendRow(Sjis("見出し") + std::to_string(i));
    window->fetch_window().ShowProgress();
    window->site_tree()->setFocus();
    QVERIFY(window->site_tree()->hasFocus());

    const QPointF at(20, 20);
    QMouseEvent move(QEvent::MouseMove, at, list->viewport()->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &move);
    auto wheel = [&] {
      QWheelEvent event(at, list->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                        Qt::NoModifier, Qt::NoScrollPhase, false);
      QApplication::sendEvent(list->viewport(), &event);
    };
    wheel();
    QVERIFY(list->hasFocus());
    QCOMPARE(list->verticalScrollBar()->value(), 0);
    wheel();
    QVERIFY(list->verticalScrollBar()->value() > 0);
  }
};

}  // namespace korinbo

QTEST_MAIN(korinbo::MainWindowTest)
#include "main_window_test.moc"
