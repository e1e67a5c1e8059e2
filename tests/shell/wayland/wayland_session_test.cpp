// The window as a Wayland client (run by run_in_wayland_session.sh): the hotkey bound through the
// desktop portal's global shortcuts, its Activated signal hiding and restoring the window, a
// changed Shortcut bound again, the tray icon registered with the StatusNotifierWatcher and
// restoring the window when the desktop activates it, and the settings dialog's note where the
// portal has no global shortcuts.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusVariant>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QtTest>

#include <memory>

#include "global_hotkey.h"
#include "korinbo/test/temp_dir.h"
#include "main_window.h"
#include "program.h"
#include "settings_dialog.h"
#include "start_options.h"
#include "tray_residency.h"

namespace korinbo {
namespace {

constexpr int kLimit = 30000;  // ms; the machine may be busy
const QString kStubService = QStringLiteral("org.freedesktop.portal.Desktop");

QDBusMessage CallStub(const QString& method, const QVariantList& arguments = {}) {
  QDBusMessage call = QDBusMessage::createMethodCall(kStubService, QStringLiteral("/stub"),
                                                     QStringLiteral("org.korinbo.test.DesktopStub"), method);
  call.setArguments(arguments);
  return QDBusConnection::sessionBus().call(call);
}

// The shortcuts of the portal's live session by id, with their preferred triggers.
QMap<QString, QString> Bindings() {
  const QDBusMessage reply = CallStub(QStringLiteral("Bindings"));
  if (reply.type() != QDBusMessage::ReplyMessage) return {};
  QMap<QString, QString> bindings;
  const QDBusArgument argument = reply.arguments().value(0).value<QDBusArgument>();
  argument >> bindings;
  return bindings;
}

bool Activate(const QString& shortcut_id) {
  const QDBusMessage reply = CallStub(QStringLiteral("Activate"), {shortcut_id});
  return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
}

QStringList TrayItems() {
  QDBusMessage get = QDBusMessage::createMethodCall(QStringLiteral("org.kde.StatusNotifierWatcher"),
                                                    QStringLiteral("/StatusNotifierWatcher"),
                                                    QStringLiteral("org.freedesktop.DBus.Properties"),
                                                    QStringLiteral("Get"));
  get << QStringLiteral("org.kde.StatusNotifierWatcher") << QStringLiteral("RegisteredStatusNotifierItems");
  const QDBusReply<QDBusVariant> reply = QDBusConnection::sessionBus().call(get);
  return reply.isValid() ? reply.value().variant().toStringList() : QStringList();
}

}  // namespace

class WaylandSessionTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::TempDir> dir_;

  std::unique_ptr<Program> Make(const char* shortcut) {
    dir_->Write("korinbo.ini", std::string("[Form]\r\nShortcut=") + shortcut + "\r\n");
    auto program = std::make_unique<Program>(dir_->path(), dir_->path() / "korinbo.ini");
    program->window().SetMessageBoxHook([](MainWindow::BoxKind, const QString&, const QString&) {});
    program->Start();
    return program;
  }

 private slots:
  void initTestCase() {
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("wayland"));
    QGuiApplication::setDesktopFileName(QString::fromUtf8(kDesktopEntryId));
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    QVERIFY(bus != nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(bus->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher")).value(),
                             kLimit);
    QTRY_VERIFY_WITH_TIMEOUT(bus->isServiceRegistered(kStubService).value(), kLimit);
  }
  void init() { dir_ = std::make_unique<test::TempDir>(); }
  void cleanup() { dir_.reset(); }

  void ThePortalsActivatedSignalHidesAndRestoresTheWindow() {
    auto program = Make("Ctrl+Alt+K");
    QVERIFY(QTest::qWaitForWindowExposed(&program->window(), kLimit));
    QVERIFY(program->hotkey().Available());
    QTRY_COMPARE_WITH_TIMEOUT(Bindings(),
                              (QMap<QString, QString>{{QStringLiteral("hotkey-1"), QStringLiteral("CTRL+ALT+k")}}),
                              kLimit);
    QCOMPARE(CallStub(QStringLiteral("AppId")).arguments().value(0).toString(), QString::fromUtf8(kDesktopEntryId));

    QVERIFY(Activate(QStringLiteral("hotkey-1")));
    QTRY_VERIFY_WITH_TIMEOUT(program->tray().HiddenInTray(), kLimit);
    QVERIFY(!program->window().isVisible());
    // The tray icon is a StatusNotifierItem, registered with the watcher while the window is away.
    QTRY_COMPARE_WITH_TIMEOUT(TrayItems().size(), 1, kLimit);

    QVERIFY(Activate(QStringLiteral("hotkey-1")));
    QTRY_VERIFY_WITH_TIMEOUT(!program->tray().HiddenInTray(), kLimit);
    QVERIFY(QTest::qWaitForWindowExposed(&program->window(), kLimit));
    QTRY_VERIFY_WITH_TIMEOUT(TrayItems().isEmpty(), kLimit);
  }

  void AChangedShortcutIsBoundInANewSession() {
    auto program = Make("Ctrl+Alt+K");
    QTRY_COMPARE_WITH_TIMEOUT(Bindings().value(QStringLiteral("hotkey-1")), QStringLiteral("CTRL+ALT+k"),
                              kLimit);
    const uint closed_before = CallStub(QStringLiteral("Sessions")).arguments().value(1).toUInt();
    program->window().settings().Shortcut = ParseShortCut("Shift+Ctrl+F5");
    program->window().RunShowing();
    QTRY_COMPARE_WITH_TIMEOUT(Bindings().value(QStringLiteral("hotkey-1")),
                              QStringLiteral("CTRL+SHIFT+F5"), kLimit);
    QCOMPARE(CallStub(QStringLiteral("Sessions")).arguments().value(1).toUInt(), closed_before + 1);
    // The same value at the next showing binds nothing again.
    const uint sessions = CallStub(QStringLiteral("Sessions")).arguments().value(0).toUInt();
    program->window().RunShowing();
    QTest::qWait(200);
    QCOMPARE(CallStub(QStringLiteral("Sessions")).arguments().value(0).toUInt(), sessions);
  }

  // A user who cancels the desktop's dialog is asked again only for another combination.
  void ADeclinedBindingIsNotAskedForAgainAtEveryShowing() {
    QCOMPARE(CallStub(QStringLiteral("SetDecline"), {true}).type(), QDBusMessage::ReplyMessage);
    const uint sessions_before = CallStub(QStringLiteral("Sessions")).arguments().value(0).toUInt();
    const uint answers_before = CallStub(QStringLiteral("Answered")).arguments().value(0).toUInt();
    auto program = Make("Ctrl+Alt+J");
    // Two answers: the session, then the declined binding.
    QTRY_COMPARE_WITH_TIMEOUT(CallStub(QStringLiteral("Answered")).arguments().value(0).toUInt(), answers_before + 2,
                              kLimit);
    QCoreApplication::processEvents();
    QCOMPARE(CallStub(QStringLiteral("Sessions")).arguments().value(0).toUInt(), sessions_before + 1);
    program->window().RunShowing();
    program->window().RunShowing();
    QTest::qWait(200);
    QCOMPARE(CallStub(QStringLiteral("Sessions")).arguments().value(0).toUInt(), sessions_before + 1);
    QVERIFY(Bindings().isEmpty());
    QCOMPARE(CallStub(QStringLiteral("SetDecline"), {false}).type(), QDBusMessage::ReplyMessage);
    program->window().settings().Shortcut = ParseShortCut("Ctrl+Alt+M");
    program->window().RunShowing();
    QTRY_COMPARE_WITH_TIMEOUT(Bindings().value(QStringLiteral("hotkey-1")), QStringLiteral("CTRL+ALT+m"), kLimit);
  }

  void ActivatingTheTrayIconRestoresTheWindow() {
    auto program = Make("");
    QVERIFY(QTest::qWaitForWindowExposed(&program->window(), kLimit));
    program->tray().HideToTray();
    QVERIFY(!program->window().isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(TrayItems().size(), 1, kLimit);
    // The tray menu goes with the item, for the desktop to draw.
    QDBusMessage menu = QDBusMessage::createMethodCall(TrayItems().front(), QStringLiteral("/StatusNotifierItem"),
                                                       QStringLiteral("org.freedesktop.DBus.Properties"),
                                                       QStringLiteral("Get"));
    menu << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("Menu");
    const QDBusPendingCall menu_path = QDBusConnection::sessionBus().asyncCall(menu);
    QTRY_VERIFY_WITH_TIMEOUT(menu_path.isFinished(), kLimit);
    const QDBusPendingReply<QDBusVariant> menu_reply = menu_path;
    QVERIFY2(!menu_reply.isError(), qPrintable(menu_reply.error().message()));
    QCOMPARE(menu_reply.value().variant().value<QDBusObjectPath>().path(), QStringLiteral("/MenuBar"));
    QDBusMessage activate = QDBusMessage::createMethodCall(TrayItems().front(), QStringLiteral("/StatusNotifierItem"),
                                                           QStringLiteral("org.kde.StatusNotifierItem"),
                                                           QStringLiteral("Activate"));
    activate << 0 << 0;
    // Asynchronous: this process serves the item, and answers only from its event loop.
    const QDBusPendingCall answer = QDBusConnection::sessionBus().asyncCall(activate);
    QTRY_VERIFY_WITH_TIMEOUT(answer.isFinished(), kLimit);
    QVERIFY2(!answer.isError(), qPrintable(answer.error().message()));
    QTRY_VERIFY_WITH_TIMEOUT(!program->tray().HiddenInTray(), kLimit);
    QVERIFY(QTest::qWaitForWindowExposed(&program->window(), kLimit));
  }

  void WithoutGlobalShortcutsTheDialogPointsToToggle() {
    QCOMPARE(CallStub(QStringLiteral("SetGlobalShortcuts"), {false}).type(), QDBusMessage::ReplyMessage);
    auto program = Make("Ctrl+Alt+K");
    QTRY_VERIFY_WITH_TIMEOUT(!program->hotkey().Available(), kLimit);
    auto* note = program->dialog().group_box2()->findChild<QLabel*>(QStringLiteral("HotkeyNote"));
    QVERIFY(note != nullptr);
    program->dialog().N10Click();
    QTRY_VERIFY_WITH_TIMEOUT(note->isVisible(), kLimit);
    QVERIFY(note->text().contains(QStringLiteral("korinbo --toggle")));
    program->dialog().Button2Click();
    QCOMPARE(CallStub(QStringLiteral("SetGlobalShortcuts"), {true}).type(), QDBusMessage::ReplyMessage);
  }
};

}  // namespace korinbo

QTEST_MAIN(korinbo::WaylandSessionTest)
#include "wayland_session_test.moc"
