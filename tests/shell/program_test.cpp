// The program as a whole: the hotkey moves the window between screen and tray, "環境設定" stands in
// for the main window, and what the dialog sets reaches the next fetch and the settings file.
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

#include "global_hotkey.h"
#include "korinbo/codepage.h"
#include "korinbo/file_io.h"
#include "korinbo/httpd/server.h"
#include "korinbo/test/temp_dir.h"
#include "main_window.h"
#include "program.h"
#include "settings_dialog.h"
#include "tray_residency.h"

namespace korinbo {

class ProgramTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::TempDir> dir_;

  std::unique_ptr<Program> Make() {
    auto program = std::make_unique<Program>(dir_->path(), dir_->path() / "korinbo.ini");
    program->window().SetMessageBoxHook([](MainWindow::BoxKind, const QString&, const QString&) {});
    program->Start();
    return program;
  }

 private slots:
  void init() { dir_ = std::make_unique<test::TempDir>(); }
  void cleanup() { dir_.reset(); }

  void TheHotkeyHidesTheWindowAndBringsItBack() {
    auto program = Make();
    QVERIFY(QTest::qWaitForWindowExposed(&program->window()));
    program->hotkey().HotKeyPressed(1);
    QVERIFY(program->tray().HiddenInTray());
    QTRY_VERIFY(!program->window().isVisible() || program->window().isMinimized());
    program->hotkey().HotKeyPressed(1);
    QVERIFY(!program->tray().HiddenInTray());
    QVERIFY(!program->tray().TrayIconShown());
    QTRY_VERIFY(program->window().isVisible() && !program->window().isMinimized());
  }

  void TheSettingsDialogStandsInForTheMainWindow() {
    auto program = Make();
    QVERIFY(QTest::qWaitForWindowExposed(&program->window()));
    program->window().settings_action()->trigger();
    QTRY_VERIFY(program->dialog().isVisible());
    QVERIFY(!program->window().isVisible());
    QVERIFY(!program->tray().HiddenInTray());
    program->dialog().Button2Click();
    QTRY_VERIFY(program->window().isVisible());
    QVERIFY(!program->dialog().isVisible());
  }

  // A proxy chosen in the dialog carries the next fetch, and shutdown writes it.
  void AProxyChosenInTheDialogCarriesTheNextFetch() {
    httpd::Server server;
    httpd::Proxy proxy;
    server.Route("/p", httpd::Response::Text("<ul><li><a href=\"1.html\">one</a></li></ul>"));
    dir_->Write("newsurl/c_s.txt", "url=" + server.Url("/p") + "\r\nanc_form=<a href=\"([^\"]*)\">([^<]*)</a>\r\n"
                                   "jump_url=$1\r\ncaptions=$2\r\n");
    {
      auto program = Make();
      program->window().settings_action()->trigger();
      auto* use_proxy = program->dialog().findChild<QRadioButton*>(QStringLiteral("RadioButton3"));
      auto* server_field = program->dialog().findChild<QLineEdit*>(QStringLiteral("Edit1"));
      QVERIFY(use_proxy != nullptr && server_field != nullptr);
      use_proxy->click();
      server_field->setText(QString::fromStdString(proxy.HostPort()));
      program->dialog().Button1Click();
      QCOMPARE(QString::fromStdString(program->window().settings().UseProxy.text()), QStringLiteral("PROXY"));

      QTreeWidget* tree = program->window().site_tree();
      QTreeWidgetItem* site = nullptr;
      for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        if (tree->topLevelItem(i)->text(0) == QStringLiteral("c")) site = tree->topLevelItem(i)->child(0);
      }
      QVERIFY(site != nullptr);
      tree->setCurrentItem(site);
      program->window().FetchSelectedSiteCommand();
      QCOMPARE(program->window().headline_list()->topLevelItemCount(), 2);
      QCOMPARE(proxy.RequestCount(), std::size_t{1});
      QCOMPARE(QString::fromStdString(proxy.Requests()[0].Header("User-Agent").value_or("")),
               QStringLiteral("Korinbo"));
    }
    const std::string ini = ReadFileBytes(dir_->path() / "korinbo.ini").value_or("");
    QVERIFY(ini.find("UseProxy=PROXY") != std::string::npos);
    QVERIFY(ini.find("ProxyName=" + proxy.HostPort()) != std::string::npos);
  }

  void ClosingFromTheTrayEndsTheProgramAndWritesTheSettings() {
    auto program = Make();
    QVERIFY(QTest::qWaitForWindowExposed(&program->window()));
    program->tray().HideToTray();
    program->tray().Exit2Click();
    QVERIFY(!program->tray().TrayIconShown());
    program.reset();
    QVERIFY(std::filesystem::exists(dir_->path() / "korinbo.ini"));
  }
};

}  // namespace korinbo

QTEST_MAIN(korinbo::ProgramTest)
#include "program_test.moc"
