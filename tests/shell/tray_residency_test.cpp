// Tray residency on the test's X display: first without a notification area, then with a real tray
// host (trayer) that the test starts. The icon comes and goes with the window, a real click on it
// restores the window, the right button pops up the tray menu at the pointer, and TaskWay decides
// which title-bar command hides the window.
#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QMenu>
#include <QProcess>
#include <QWidget>
#include <QWindow>
#include <QtTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <optional>

#include "korinbo/test/xdotool.h"
#include "tray_residency.h"

namespace korinbo {
namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

bool ClickAt(const QPoint& global, int button) {
  return test::Xdotool(
      {"mousemove", std::to_string(global.x()), std::to_string(global.y()), "click", std::to_string(button)});
}

// The program's icons in the notification area: the top-level widgets Qt embeds into the tray.
int EmbeddedIcons() {
  int count = 0;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (QLatin1String(widget->metaObject()->className()) == QLatin1String("QSystemTrayIconSys") &&
        widget->isVisible()) {
      ++count;
    }
  }
  return count;
}

// The centre of the embedded icon on the screen, asked of the X server: Qt does not learn where the
// tray host has put the icon.
std::optional<QPoint> IconCentre() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (QLatin1String(widget->metaObject()->className()) != QLatin1String("QSystemTrayIconSys") ||
        !widget->isVisible()) {
      continue;
    }
    // Clicks reach it once the tray host has mapped it.
    if (widget->windowHandle() == nullptr || !widget->windowHandle()->isExposed()) return std::nullopt;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    std::optional<QPoint> centre;
    if (xcb_connection_has_error(connection) == 0) {
      const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
      const auto window = static_cast<xcb_window_t>(widget->winId());
      xcb_translate_coordinates_reply_t* reply = xcb_translate_coordinates_reply(
          connection, xcb_translate_coordinates(connection, window, root, 0, 0), nullptr);
      if (reply != nullptr) {
        centre = QPoint(reply->dst_x + widget->width() / 2, reply->dst_y + widget->height() / 2);
        std::free(reply);
      }
    }
    xcb_disconnect(connection);
    return centre;
  }
  return std::nullopt;
}

}  // namespace

class TrayResidencyTest : public QObject {
  Q_OBJECT

  std::unique_ptr<QProcess> tray_host_;

  // The main window of a test, with the counts of its showings and closings.
  struct Window {
    QWidget widget;
    int showings = 0;
    int closings = 0;
    TrayResidency tray;
    Window()
        : tray(
              &widget,
              [this] {
                ++showings;
                widget.show();
                widget.raise();
                widget.activateWindow();
              },
              [this] { ++closings; }) {
      widget.setGeometry(200, 200, 320, 200);
    }
    bool Shown() {
      tray.RestoreFromTray();
      showings = 0;
      return QTest::qWaitForWindowExposed(&widget);
    }
    bool OnScreen() const { return widget.isVisible() && !widget.isMinimized(); }
  };

  bool StartTrayHost() {
    if (tray_host_) return QSystemTrayIcon::isSystemTrayAvailable();
    tray_host_ = std::make_unique<QProcess>();
    tray_host_->start(QStringLiteral("trayer"),
                      {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                       QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                       QStringLiteral("--width"), QStringLiteral("240"), QStringLiteral("--heighttype"),
                       QStringLiteral("pixel"), QStringLiteral("--height"), QStringLiteral("32")});
    if (!tray_host_->waitForStarted(10000)) return false;
    return QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 15000);
  }

 private slots:
  void cleanupTestCase() {
    if (tray_host_) {
      tray_host_->terminate();
      if (!tray_host_->waitForFinished(5000)) {
        tray_host_->kill();
        tray_host_->waitForFinished(5000);
      }
    }
  }

  void TitleBarCommands_data() {
    QTest::addColumn<QString>("task_way");
    QTest::addColumn<int>("command");
    QTest::addColumn<bool>("hides");
    const int minimise = int(SystemCommand::kMinimise);
    const int close = int(SystemCommand::kClose);
    const int other = int(SystemCommand::kOther);
    QTest::newRow("Min, other") << QStringLiteral("Min") << other << false;
    QTest::newRow("Stop, other") << QStringLiteral("Stop") << other << false;
    QTest::newRow("min, minimise") << QStringLiteral("min") << minimise << false;
    QTest::newRow("MIN, minimise") << QStringLiteral("MIN") << minimise << false;
    QTest::newRow("Min with a blank") << QStringLiteral("Min ") << minimise << false;
    QTest::newRow("empty, minimise") << QString() << minimise << false;
    QTest::newRow("empty, close") << QString() << close << false;
  }
  void TitleBarCommands() {
    QFETCH(QString, task_way);
    QFETCH(int, command);
    QFETCH(bool, hides);
    const QByteArray bytes = task_way.toLatin1();
    QCOMPARE(HidesToTray(Keyword<TaskWayMode>(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())))
                             .mode(),
                         SystemCommand(command)),
             hides);
  }

  void ProgramIconIsDrawn() {
    const QIcon icon = KorinboIcon();
    QVERIFY(!icon.isNull());
    for (int size : {16, 32, 64}) {
      const QImage image = icon.pixmap(size, size).toImage();
      QCOMPARE(image.size(), QSize(size, size));
      // Opaque in the middle, transparent in the rounded corner.
      QCOMPARE(image.pixelColor(size / 2, size / 2).alpha(), 255);
      QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
    }
  }

  void TooltipSaysTheNewCount_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("tooltip");
    QTest::newRow("none") << 0 << QStringLiteral("Korinbo");
    QTest::newRow("one") << 1 << U("Korinbo（新着 1件）");
    QTest::newRow("many") << 1234 << U("Korinbo（新着 1234件）");
  }
  void TooltipSaysTheNewCount() {
    QFETCH(int, count);
    QFETCH(QString, tooltip);
    Window window;
    window.tray.SetNewCount(7);
    window.tray.SetNewCount(count);
    QCOMPARE(window.tray.tray_icon()->toolTip(), tooltip);
  }

  // Runs first, before the tray host: with nowhere to hide, hiding minimises and the window
  // remains reachable; the flags say what the state table says.
  void WithoutTrayHostHidingMinimises() {
    if (QSystemTrayIcon::isSystemTrayAvailable()) QSKIP("a tray host is already on this display");
    Window window;
    QVERIFY(window.Shown());
    window.tray.HideToTray();
    QVERIFY(window.widget.isVisible());
    QVERIFY(window.widget.isMinimized());
    QVERIFY(window.tray.HiddenInTray());
    QVERIFY(window.tray.TrayIconShown());
    // The hotkey brings it back.
    window.tray.HotKeyEvent(1);
    QVERIFY(window.OnScreen());
    QVERIFY(!window.tray.HiddenInTray());
    QVERIFY(!window.tray.TrayIconShown());
    QCOMPARE(window.showings, 1);
  }

  void WithoutTrayHostMinWayMinimises() {
    if (QSystemTrayIcon::isSystemTrayAvailable()) QSKIP("a tray host is already on this display");
    Window window;
    QVERIFY(window.Shown());
    QVERIFY(window.tray.HandleSystemCommand(TaskWayMode::kMin, SystemCommand::kMinimise));
    QVERIFY(window.widget.isMinimized());
    QVERIFY(window.widget.isVisible());
    QVERIFY(window.tray.HiddenInTray());
  }

  void TrayHostStarts() { QVERIFY2(StartTrayHost(), "trayer did not provide a notification area"); }

  void HidingShowsTheIconAndAClickRestores() {
    QVERIFY(StartTrayHost());
    Window window;
    QVERIFY(window.Shown());
    QCOMPARE(EmbeddedIcons(), 0);
    window.tray.HideToTray();
    QVERIFY(!window.widget.isVisible());
    QVERIFY(window.tray.HiddenInTray());
    QVERIFY(window.tray.TrayIconShown());
    QVERIFY(window.tray.tray_icon()->isVisible());
    QCOMPARE(window.tray.tray_icon()->toolTip(), QStringLiteral("Korinbo"));
    QTRY_COMPARE_WITH_TIMEOUT(EmbeddedIcons(), 1, 10000);
    std::optional<QPoint> centre;
    QTRY_VERIFY_WITH_TIMEOUT((centre = IconCentre()) && centre->x() > 0, 10000);

    // A real left click on the icon in the tray host.
    QVERIFY(ClickAt(*centre, 1));
    QTRY_VERIFY_WITH_TIMEOUT(window.widget.isVisible(), 10000);
    QCOMPARE(window.showings, 1);
    QVERIFY(!window.tray.HiddenInTray());
    QVERIFY(!window.tray.TrayIconShown());
    QVERIFY(!window.tray.tray_icon()->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(EmbeddedIcons(), 0, 10000);
  }

  void HidingTwiceAddsOneIcon() {
    QVERIFY(StartTrayHost());
    Window window;
    QVERIFY(window.Shown());
    window.tray.HideToTray();
    window.tray.HideToTray();
    QTRY_COMPARE_WITH_TIMEOUT(EmbeddedIcons(), 1, 10000);
    QVERIFY(window.tray.TrayIconShown());
    QVERIFY(window.tray.HiddenInTray());
    window.tray.RestoreFromTray();
    QTRY_COMPARE_WITH_TIMEOUT(EmbeddedIcons(), 0, 10000);
    QVERIFY(!window.tray.tray_icon()->isVisible());
  }

  void RestoringWithoutAnIconDeletesNothing() {
    QVERIFY(StartTrayHost());
    Window window;
    QVERIFY(window.Shown());
    window.tray.RestoreFromTray();
    QCOMPARE(window.showings, 1);
    QVERIFY(window.OnScreen());
    QVERIFY(!window.tray.TrayIconShown());
    QVERIFY(!window.tray.HiddenInTray());
    QVERIFY(!window.tray.tray_icon()->isVisible());
    window.tray.DeleteTrayIcon();
    QVERIFY(!window.tray.TrayIconShown());
  }

  // The right button: the tray menu at the pointer, "元に戻す" then "閉じる".
  void RightClickPopsUpTheMenu() {
    QVERIFY(StartTrayHost());
    Window window;
    QVERIFY(window.Shown());
    window.tray.HideToTray();
    std::optional<QPoint> centre;
    QTRY_VERIFY_WITH_TIMEOUT((centre = IconCentre()) && centre->x() > 0, 10000);
    QMenu* menu = window.tray.tray_menu();
    const QList<QAction*> actions = menu->actions();
    QCOMPARE(actions.size(), 2);
    QCOMPARE(actions[0]->text(), U("元に戻す"));
    QCOMPARE(actions[1]->text(), U("閉じる"));

    const QPoint at = *centre;
    QVERIFY(ClickAt(at, 3));
    QTRY_VERIFY_WITH_TIMEOUT(menu->isVisible(), 10000);
    // Placed with its corner at the pointer, moved only as far as the screen's edge demands.
    QTRY_COMPARE_WITH_TIMEOUT(QCursor::pos(), at, 10000);
    const QRect screen = menu->screen()->geometry();
    QCOMPARE(menu->geometry().top(), at.y());
    QCOMPARE(menu->geometry().left(), std::min(at.x(), screen.right() + 1 - menu->width()));
    QVERIFY(!window.widget.isVisible());
    QCOMPARE(window.showings, 0);
    menu->hide();

    // Right click in the middle of the screen, as the activation signal reports it.
    QCursor::setPos(400, 300);
    QTRY_COMPARE_WITH_TIMEOUT(QCursor::pos(), QPoint(400, 300), 10000);
    emit window.tray.tray_icon()->activated(QSystemTrayIcon::Context);
    QTRY_VERIFY_WITH_TIMEOUT(menu->isVisible(), 10000);
    QCOMPARE(menu->geometry().topLeft(), QPoint(400, 300));
    actions[0]->trigger();
    menu->hide();
    QVERIFY(window.OnScreen());
    QCOMPARE(window.showings, 1);
    QVERIFY(!window.tray.TrayIconShown());
    QCOMPARE(window.closings, 0);
  }

  void CloseFromTheMenu() {
    QVERIFY(StartTrayHost());
    Window window;
    QVERIFY(window.Shown());
    window.tray.HideToTray();
    window.tray.tray_menu()->actions()[1]->trigger();
    QCOMPARE(window.closings, 1);
    QCOMPARE(window.showings, 0);
    // The window's closing removes the icon.
    window.tray.FormClose();
    QVERIFY(!window.tray.TrayIconShown());
    QVERIFY(!window.tray.tray_icon()->isVisible());
  }

  // Other activations (double and middle clicks) do nothing.
  void OtherActivationsDoNothing() {
    QVERIFY(StartTrayHost());
    Window window;
    QVERIFY(window.Shown());
    window.tray.HideToTray();
    emit window.tray.tray_icon()->activated(QSystemTrayIcon::MiddleClick);
    emit window.tray.tray_icon()->activated(QSystemTrayIcon::DoubleClick);
    QVERIFY(!window.widget.isVisible());
    QVERIFY(window.tray.HiddenInTray());
    QVERIFY(!window.tray.tray_menu()->isVisible());
    emit window.tray.tray_icon()->activated(QSystemTrayIcon::Trigger);
    QVERIFY(window.OnScreen());
  }

  void TaskWayDecidesWhatHides_data() {
    QTest::addColumn<QString>("task_way");
    QTest::addColumn<int>("command");
    QTest::addColumn<bool>("hides");
    QTest::newRow("Min, minimise") << QStringLiteral("Min") << int(SystemCommand::kMinimise) << true;
    QTest::newRow("Min, close") << QStringLiteral("Min") << int(SystemCommand::kClose) << false;
    QTest::newRow("Stop, close") << QStringLiteral("Stop") << int(SystemCommand::kClose) << true;
    QTest::newRow("Stop, minimise") << QStringLiteral("Stop") << int(SystemCommand::kMinimise) << false;
    QTest::newRow("stop, close") << QStringLiteral("stop") << int(SystemCommand::kClose) << false;
    QTest::newRow("stop, minimise") << QStringLiteral("stop") << int(SystemCommand::kMinimise) << false;
  }
  void TaskWayDecidesWhatHides() {
    QFETCH(QString, task_way);
    QFETCH(int, command);
    QFETCH(bool, hides);
    QVERIFY(StartTrayHost());
    Window window;
    QVERIFY(window.Shown());
    const QByteArray bytes = task_way.toLatin1();
    QCOMPARE(window.tray.HandleSystemCommand(Keyword<TaskWayMode>(bytes.toStdString()).mode(), SystemCommand(command)),
             hides);
    QCOMPARE(window.widget.isVisible(), !hides);
    QCOMPARE(window.tray.TrayIconShown(), hides);
    QCOMPARE(window.tray.HiddenInTray(), hides);
    QVERIFY(!window.widget.isMinimized());
  }

  // The hotkey: on screen to the tray, again back on screen and in front.
  void HotKeyMovesTheWindowBothWays() {
    QVERIFY(StartTrayHost());
    Window window;
    QVERIFY(window.Shown());
    window.tray.HotKeyEvent(1);
    QVERIFY(!window.widget.isVisible());
    QVERIFY(window.tray.HiddenInTray());
    QTRY_COMPARE_WITH_TIMEOUT(EmbeddedIcons(), 1, 10000);
    window.tray.HotKeyEvent(5);
    QVERIFY(window.OnScreen());
    QCOMPARE(window.showings, 1);
    QVERIFY(!window.tray.TrayIconShown());
    QVERIFY(!window.tray.HiddenInTray());
  }

  // While the settings dialog stands in for the window: the hotkey adds the icon and the flag with
  // the window still hidden, the dialog's showing keeps the icon, and the next hotkey removes it.
  void HotKeyWhileTheSettingsDialogIsOpen() {
    QVERIFY(StartTrayHost());
    Window window;
    QVERIFY(window.Shown());
    window.widget.hide();  // opening the settings dialog
    window.tray.HotKeyEvent(1);
    QVERIFY(!window.widget.isVisible());
    QVERIFY(window.tray.HiddenInTray());
    QVERIFY(window.tray.TrayIconShown());
    window.widget.show();  // the dialog closes and shows the window
    QVERIFY(window.tray.TrayIconShown());
    QVERIFY(window.tray.tray_icon()->isVisible());
    window.tray.HotKeyEvent(1);
    QVERIFY(window.OnScreen());
    QVERIFY(!window.tray.TrayIconShown());
    QVERIFY(!window.tray.HiddenInTray());
  }

  // Without a showing of its own the window is still shown, raised and activated.
  void RestoreWithoutShowingCallback() {
    QVERIFY(StartTrayHost());
    QWidget widget;
    widget.setGeometry(200, 200, 300, 200);
    int closings = 0;
    TrayResidency tray(&widget, nullptr, [&closings] { ++closings; });
    tray.HideToTray();
    QVERIFY(!widget.isVisible());
    tray.RestoreFromTray();
    QVERIFY(widget.isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(widget.isActiveWindow(), 10000);
    TrayResidency no_close(&widget, nullptr, nullptr);
    no_close.Exit2Click();
    QVERIFY(!widget.isVisible());
  }
};

}  // namespace korinbo

QTEST_MAIN(korinbo::TrayResidencyTest)
#include "tray_residency_test.moc"
