// Desktop notifications through a stub notification service on a private session bus: what the
// Notify call carries, one notification replacing the last, and the click coming back.
#include <QtTest>

#include "desktop_notifier.h"
#include "private_bus.h"

namespace korinbo {

class DesktopNotifierTest : public QObject {
  Q_OBJECT

 private slots:
  // The stub reads body markup, so the body's own "<" and "&" reach it escaped.
  void NotifyCarriesTheTextsAndTheDefaultAction() {
    test::PrivateNotificationBus stub;
    QVERIFY(!stub.address().empty());
    DesktopNotifier notifier(stub.bus());
    notifier.Notify(QString::fromUtf8("新着 2件"), QString::fromUtf8("毎日: 見出し<1> & 2\n日経: 三"));
    QTRY_COMPARE(stub.NotifyCalls().size(), 1);
    const QVariantList args = stub.NotifyCalls().at(0);
    QCOMPARE(args.size(), 8);
    QCOMPARE(args.at(0).toString(), QStringLiteral("Korinbo"));
    QCOMPARE(args.at(1).toUInt(), 0u);
    QCOMPARE(args.at(3).toString(), QString::fromUtf8("新着 2件"));
    QCOMPARE(args.at(4).toString(), QString::fromUtf8("毎日: 見出し&lt;1&gt; &amp; 2\n日経: 三"));
    QCOMPARE(args.at(5).toStringList(), (QStringList{QStringLiteral("default"), QString::fromUtf8("開く")}));
    QCOMPARE(args.at(7).toInt(), -1);
    QTRY_COMPARE(notifier.shown_id(), 1u);
  }

  // A second notification replaces the first while it is on screen, not once it has been closed.
  void ANotificationReplacesTheOneOnScreen() {
    test::PrivateNotificationBus stub;
    QVERIFY(!stub.address().empty());
    DesktopNotifier notifier(stub.bus());
    notifier.Notify(QStringLiteral("a"), QStringLiteral("1"));
    QTRY_COMPARE(notifier.shown_id(), 1u);
    notifier.Notify(QStringLiteral("b"), QStringLiteral("2"));
    QTRY_COMPARE(stub.NotifyCalls().size(), 2);
    QCOMPARE(stub.NotifyCalls().at(1).at(1).toUInt(), 1u);

    stub.EmitNotificationClosed(1);
    QTRY_COMPARE(notifier.shown_id(), 0u);
    notifier.Notify(QStringLiteral("c"), QStringLiteral("3"));
    QTRY_COMPARE(stub.NotifyCalls().size(), 3);
    QCOMPARE(stub.NotifyCalls().at(2).at(1).toUInt(), 0u);
  }

  // Only the default action of the notification on screen runs the callback. The signals arrive in
  // order, so once the matching one has been seen the one before it has been ignored.
  void TheDefaultActionOfTheShownNotificationRunsTheCallback_data() {
    QTest::addColumn<uint>("id");
    QTest::addColumn<QString>("action");
    QTest::newRow("another action") << 1u << QStringLiteral("other");
    QTest::newRow("another notification") << 7u << QStringLiteral("default");
  }
  void TheDefaultActionOfTheShownNotificationRunsTheCallback() {
    QFETCH(uint, id);
    QFETCH(QString, action);
    test::PrivateNotificationBus stub;
    QVERIFY(!stub.address().empty());
    DesktopNotifier notifier(stub.bus());
    int clicks = 0;
    notifier.SetOnActivated([&clicks] { ++clicks; });
    notifier.Notify(QStringLiteral("a"), QStringLiteral("1"));
    QTRY_COMPARE(notifier.shown_id(), 1u);
    stub.EmitActionInvoked(id, action);
    stub.EmitActionInvoked(1, QStringLiteral("default"));
    QTRY_COMPARE(clicks, 1);
    QCoreApplication::processEvents();
    QCOMPARE(clicks, 1);
  }
};

}  // namespace korinbo

QTEST_MAIN(korinbo::DesktopNotifierTest)
#include "desktop_notifier_test.moc"
