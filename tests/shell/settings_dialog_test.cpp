// The settings dialog: its frame and controls, the buttons chosen from the settings, the proxy
// field's state and colour, what OK stores and Cancel keeps, and every way out showing the main
// window again.
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionButton>
#include <QtTest>

#include <memory>
#include <string>

#include "key_combination_edit.h"
#include "korinbo/codepage.h"
#include "korinbo/settings.h"
#include "korinbo/shortcut.h"
#include "main_window.h"
#include "settings_dialog.h"

namespace korinbo {
namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// The colour the field is drawn with, away from its frame and text.
QColor PaintedBackground(QLineEdit* edit) {
  const QImage image = edit->grab().toImage();
  return image.pixelColor(image.width() - 6, image.height() / 2);
}

}  // namespace

class SettingsDialogTest : public QObject {
  Q_OBJECT

  Settings settings_;
  int hidings_ = 0;
  int showings_ = 0;

  std::unique_ptr<SettingsDialog> Make() {
    hidings_ = 0;
    showings_ = 0;
    return std::make_unique<SettingsDialog>(
        settings_, [this] { ++hidings_; }, [this] { ++showings_; });
  }
  std::unique_ptr<SettingsDialog> Opened() {
    auto dialog = Make();
    dialog->N10Click();
    if (!QTest::qWaitForWindowExposed(dialog.get())) qWarning("dialog not exposed");
    return dialog;
  }

 private slots:
  // The program draws "ＭＳ Ｐゴシック" with a Japanese face where the system has none of that name.
  void initTestCase() { InstallFontSubstitutes(); }
  void init() { settings_ = Settings(); }

  void Frame() {
    auto dialog = Make();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), U("環境設定"));
    QVERIFY(!dialog->isModal());
    QVERIFY(dialog->isWindow());
    QCOMPARE(dialog->size(), QSize(354, 449));
    QCOMPARE(dialog->minimumSize(), QSize(354, 449));
    QCOMPARE(dialog->maximumSize(), QSize(354, 449));
    const Qt::WindowFlags flags = dialog->windowFlags();
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(flags & Qt::WindowTitleHint);
    QCOMPARE(dialog->font().family(), U("ＭＳ Ｐゴシック"));
    QCOMPARE(dialog->font().pixelSize(), 12);
    QCOMPARE(dialog->palette().color(QPalette::Window), QGuiApplication::palette().color(QPalette::Button));
    QCOMPARE(showings_, 0);
    QCOMPARE(hidings_, 0);
  }

  void Controls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("caption");
    const QString top = QStringLiteral("SettingsDialog");
    QTest::newRow("GroupBox1") << QStringLiteral("GroupBox1") << top << QRect(8, 8, 297, 145)
                               << U("プロキシ");
    QTest::newRow("RadioButton1") << QStringLiteral("RadioButton1") << QStringLiteral("GroupBox1")
                                  << QRect(16, 16, 105, 25) << U("直接接続");
    QTest::newRow("RadioButton2") << QStringLiteral("RadioButton2") << QStringLiteral("GroupBox1")
                                  << QRect(16, 40, 169, 17) << U("IEの設定にあわせる");
    QTest::newRow("RadioButton3") << QStringLiteral("RadioButton3") << QStringLiteral("GroupBox1")
                                  << QRect(16, 72, 105, 17) << U("プロキシを使う");
    QTest::newRow("Edit1") << QStringLiteral("Edit1") << QStringLiteral("GroupBox1") << QRect(16, 93, 257, 20)
                           << QString();
    QTest::newRow("Label2") << QStringLiteral("Label2") << QStringLiteral("GroupBox1")
                            << QRect(16, 120, 187, 12) << U("※Server:Portの形式で書いてください");
    QTest::newRow("GroupBox2") << QStringLiteral("GroupBox2") << top << QRect(8, 160, 297, 57)
                               << U("ホットキー");
    QTest::newRow("HotKey1") << QStringLiteral("HotKey1") << QStringLiteral("GroupBox2")
                             << QRect(24, 24, 105, 17) << QString();
    QTest::newRow("GroupBox3") << QStringLiteral("GroupBox3") << top << QRect(8, 232, 297, 97)
                               << U("タスクトレイ動作");
    QTest::newRow("RadioButton4") << QStringLiteral("RadioButton4") << QStringLiteral("GroupBox3")
                                  << QRect(16, 24, 257, 33) << U("閉じる→閉じる、最小化→タスクトレイに常駐");
    QTest::newRow("RadioButton5") << QStringLiteral("RadioButton5") << QStringLiteral("GroupBox3")
                                  << QRect(16, 56, 257, 33) << U("閉じる→タスクトレイに常駐、最小化→最小化");
    QTest::newRow("Button1") << QStringLiteral("Button1") << top << QRect(8, 336, 65, 25) << U("OK");
    QTest::newRow("Button2") << QStringLiteral("Button2") << top << QRect(80, 336, 73, 25) << U("キャンセル");
    QTest::newRow("GroupBox4") << QStringLiteral("GroupBox4") << top << QRect(8, 368, 297, 73) << U("自動取得");
    QTest::newRow("CheckBox1") << QStringLiteral("CheckBox1") << QStringLiteral("GroupBox4")
                               << QRect(16, 20, 257, 17) << U("お気に入りを定期的に確認する");
    QTest::newRow("SpinBox1") << QStringLiteral("SpinBox1") << QStringLiteral("GroupBox4")
                              << QRect(16, 42, 65, 20) << QString();
    QTest::newRow("Label3") << QStringLiteral("Label3") << QStringLiteral("GroupBox4") << QRect(88, 46, 60, 12)
                            << U("分ごと");
  }
  void Controls() {
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    QFETCH(QString, caption);
    settings_.ProxyName.clear();
    auto dialog = Make();
    auto* widget = dialog->findChild<QWidget*>(name);
    QVERIFY(widget != nullptr);
    QCOMPARE(widget->parentWidget()->objectName(), parent);
    QCOMPARE(widget->pos(), geometry.topLeft());
    // The label's text needs more room than that in the fonts Linux has; it grows as far as it asks.
    if (name == QStringLiteral("Label2")) {
      QVERIFY(widget->width() > geometry.width());
      QCOMPARE(widget->size(), geometry.size().expandedTo(widget->sizeHint()));
    } else if (name == QStringLiteral("Label3")) {
      QCOMPARE(widget->size(), geometry.size().expandedTo(widget->sizeHint()));
    } else {
      QCOMPARE(widget->size(), geometry.size());
    }
    QString text;
    if (auto* box = qobject_cast<QGroupBox*>(widget)) text = box->title();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) text = button->text();
    if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) text = edit->text();
    QCOMPARE(text, caption);
  }

  // Measured in the dialog's font as the program draws it: every caption has the room its text needs.
  void CaptionsFitTheirText_data() {
    QTest::addColumn<QString>("name");
    for (const char* name : {"Label2", "RadioButton1", "RadioButton2", "RadioButton3", "RadioButton4",
                             "RadioButton5", "Button1", "Button2", "CheckBox1", "Label3"}) {
      QTest::newRow(name) << QString::fromLatin1(name);
    }
  }
  void CaptionsFitTheirText() {
    QFETCH(QString, name);
    auto dialog = Make();
    auto* widget = dialog->findChild<QWidget*>(name);
    QVERIFY(widget != nullptr);
    const QFontMetrics metrics(widget->font());
    QString text;
    QRect room;
    if (auto* label = qobject_cast<QLabel*>(widget)) {
      text = label->text();
      room = label->contentsRect();
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
      text = button->text();
      QStyleOptionButton option;
      option.initFrom(button);
      option.text = text;
      const QStyle::SubElement contents = qobject_cast<QRadioButton*>(button) != nullptr ? QStyle::SE_RadioButtonContents
                                          : qobject_cast<QCheckBox*>(button) != nullptr  ? QStyle::SE_CheckBoxContents
                                                                                         : QStyle::SE_PushButtonContents;
      room = button->style()->subElementRect(contents, &option, button);
    }
    QVERIFY(!text.isEmpty());
    QVERIFY2(
        metrics.horizontalAdvance(text) <= room.width(),
        qPrintable(QStringLiteral("%1 wide in %2").arg(metrics.horizontalAdvance(text)).arg(room.width())));
    QVERIFY2(metrics.height() <= room.height(),
             qPrintable(QStringLiteral("%1 high in %2").arg(metrics.height()).arg(room.height())));
    QVERIFY(widget->parentWidget()->rect().contains(widget->geometry()));
  }

  // The focus chain runs Button1, Button2, then through the boxes in order, and round again.
  void TabOrder() {
    auto dialog = Make();
    const std::vector<QWidget*> expected = {
        dialog->button2(),       dialog->edit1(),         dialog->radio_button1(),
        dialog->radio_button2(), dialog->radio_button3(), dialog->hot_key1(),
        dialog->radio_button4(), dialog->radio_button5(), dialog->check_box1(),
        dialog->spin_box1(),     dialog->button1()};
    QWidget* at = dialog->button1();
    for (QWidget* next : expected) {
      // A spin box's own line edit follows it in the chain.
      do {
        at = at->nextInFocusChain();
      } while (!(at->focusPolicy() & Qt::TabFocus) || qobject_cast<QSpinBox*>(at->parentWidget()) != nullptr);
      QCOMPARE(at->objectName(), next->objectName());
    }
  }

  // The Tab key visits the selected button of a radio group, the first one where none is selected,
  // and Backtab the same way back.
  void TabKeyVisitsTheSelectedButtons() {
    settings_.UseProxy = Keyword<ProxyMode>("PROXY");
    settings_.TaskWay = Keyword<TaskWayMode>("nothing");
    auto dialog = Opened();
    dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
    const std::vector<QWidget*> forward = {dialog->button2(),       dialog->edit1(),
                                           dialog->radio_button3(), dialog->hot_key1(),
                                           dialog->radio_button4(), dialog->check_box1(),
                                           dialog->button1()};
    dialog->button1()->setFocus();
    QCOMPARE(QApplication::focusWidget(), dialog->button1());
    for (QWidget* next : forward) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget()->objectName(), next->objectName());
    }
    const std::vector<QWidget*> back = {dialog->check_box1(), dialog->radio_button4(), dialog->hot_key1(),
                                        dialog->radio_button3(), dialog->edit1()};
    for (QWidget* next : back) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
      QCOMPARE(QApplication::focusWidget()->objectName(), next->objectName());
    }
  }

  void ProxyAtStart() {
    settings_.UseProxy = Keyword<ProxyMode>("PROXY");
    auto dialog = Make();
    QVERIFY(dialog->radio_button3()->isChecked());
    QVERIFY(!dialog->radio_button1()->isChecked());
    QVERIFY(!dialog->radio_button2()->isChecked());
    QVERIFY(dialog->edit1()->isEnabled());
    QCOMPARE(dialog->edit1()->palette().color(QPalette::Base), SettingsDialog::EnabledFieldColour());
    QCOMPARE(PaintedBackground(dialog->edit1()), SettingsDialog::EnabledFieldColour());
  }

  void DirectOrPreconfigAtStart_data() {
    QTest::addColumn<QString>("use_proxy");
    QTest::addColumn<int>("selected");
    QTest::newRow("DIRECT") << QStringLiteral("DIRECT") << 1;
    QTest::newRow("PRECONFIG") << QStringLiteral("PRECONFIG") << 2;
  }
  void DirectOrPreconfigAtStart() {
    QFETCH(QString, use_proxy);
    QFETCH(int, selected);
    // The two looks must differ on this desktop for the test to tell them apart.
    QVERIFY(SettingsDialog::DisabledFieldColour() != SettingsDialog::EnabledFieldColour());
    settings_.UseProxy = Keyword<ProxyMode>(use_proxy.toStdString());
    auto dialog = Make();
    QCOMPARE(dialog->radio_button1()->isChecked(), selected == 1);
    QCOMPARE(dialog->radio_button2()->isChecked(), selected == 2);
    QVERIFY(!dialog->radio_button3()->isChecked());
    QVERIFY(!dialog->edit1()->isEnabled());
    QCOMPARE(dialog->edit1()->palette().color(QPalette::Base), SettingsDialog::DisabledFieldColour());
    QCOMPARE(PaintedBackground(dialog->edit1()), SettingsDialog::DisabledFieldColour());
  }

  // The two looks are the desktop's menu and window colours, whatever the style would draw.
  void FieldColoursComeFromTheDesktopPalette() {
    const QPalette application = QApplication::palette();
    const QPalette menus = QApplication::palette("QMenu");
    QPalette window_colours = application;
    window_colours.setColor(QPalette::Base, QColor(0xff, 0xf8, 0xe0));
    QApplication::setPalette(window_colours);
    QPalette menu_colours = window_colours;
    menu_colours.setColor(QPalette::Button, QColor(0xb0, 0xc4, 0xde));
    QApplication::setPalette(menu_colours, "QMenu");
    struct Restore {
      QPalette application, menus;
      ~Restore() {
        QApplication::setPalette(application);
        QApplication::setPalette(menus, "QMenu");
      }
    } restore{application, menus};

    QCOMPARE(SettingsDialog::EnabledFieldColour(), QColor(0xff, 0xf8, 0xe0));
    QCOMPARE(SettingsDialog::DisabledFieldColour(), QColor(0xb0, 0xc4, 0xde));
    auto dialog = Opened();
    QCOMPARE(PaintedBackground(dialog->edit1()), QColor(0xb0, 0xc4, 0xde));
    QTest::mouseClick(dialog->radio_button3(), Qt::LeftButton);
    QCOMPARE(PaintedBackground(dialog->edit1()), QColor(0xff, 0xf8, 0xe0));
    QTest::mouseClick(dialog->radio_button2(), Qt::LeftButton);
    QCOMPARE(PaintedBackground(dialog->edit1()), QColor(0xb0, 0xc4, 0xde));
  }

  // The field follows the buttons, by click or by the arrow keys, and its text stays.
  void ProxyFieldFollowsTheButtons() {
    settings_.ProxyName = "proxy.example:8080";
    auto dialog = Opened();
    QCOMPARE(dialog->edit1()->text(), QStringLiteral("proxy.example:8080"));
    QTest::mouseClick(dialog->radio_button3(), Qt::LeftButton);
    QVERIFY(dialog->radio_button3()->isChecked());
    QVERIFY(dialog->edit1()->isEnabled());
    QCOMPARE(PaintedBackground(dialog->edit1()), SettingsDialog::EnabledFieldColour());
    QTest::mouseClick(dialog->radio_button2(), Qt::LeftButton);
    QVERIFY(!dialog->edit1()->isEnabled());
    QCOMPARE(PaintedBackground(dialog->edit1()), SettingsDialog::DisabledFieldColour());
    // An arrow key moves among the buttons only from the focus of an active window.
    dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
    dialog->radio_button2()->setFocus();
    QTest::keyClick(dialog->radio_button2(), Qt::Key_Down);
    QVERIFY(dialog->radio_button3()->isChecked());
    QVERIFY(dialog->edit1()->isEnabled());
    QTest::mouseClick(dialog->radio_button1(), Qt::LeftButton);
    QVERIFY(!dialog->edit1()->isEnabled());
    QCOMPARE(dialog->edit1()->palette().color(QPalette::Base), SettingsDialog::DisabledFieldColour());
    QCOMPARE(dialog->edit1()->text(), QStringLiteral("proxy.example:8080"));
  }

  // Values other than the exact ones select nothing, and OK leaves them as they are.
  void UnknownValuesSelectNothingAndStay() {
    settings_.UseProxy = Keyword<ProxyMode>("proxy");
    settings_.TaskWay = Keyword<TaskWayMode>("min");
    auto dialog = Opened();
    for (QRadioButton* button : {dialog->radio_button1(), dialog->radio_button2(), dialog->radio_button3(),
                                 dialog->radio_button4(), dialog->radio_button5()}) {
      QVERIFY2(!button->isChecked(), qPrintable(button->objectName()));
    }
    QVERIFY(!dialog->edit1()->isEnabled());
    QTest::mouseClick(dialog->button1(), Qt::LeftButton);
    QCOMPARE(settings_.UseProxy.text(), std::string("proxy"));
    QCOMPARE(settings_.TaskWay.text(), std::string("min"));
  }

  void TaskWayAtStartAndOk_data() {
    QTest::addColumn<QString>("task_way");
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("click");
    QTest::addColumn<QString>("stored");
    QTest::newRow("Min to Stop") << QStringLiteral("Min") << 4 << 5 << QStringLiteral("Stop");
    QTest::newRow("Stop to Min") << QStringLiteral("Stop") << 5 << 4 << QStringLiteral("Min");
    QTest::newRow("STOP to Min") << QStringLiteral("STOP") << 0 << 4 << QStringLiteral("Min");
  }
  void TaskWayAtStartAndOk() {
    QFETCH(QString, task_way);
    QFETCH(int, selected);
    QFETCH(int, click);
    QFETCH(QString, stored);
    settings_.TaskWay = Keyword<TaskWayMode>(task_way.toStdString());
    auto dialog = Opened();
    QCOMPARE(dialog->radio_button4()->isChecked(), selected == 4);
    QCOMPARE(dialog->radio_button5()->isChecked(), selected == 5);
    if (click == 4) QTest::mouseClick(dialog->radio_button4(), Qt::LeftButton);
    if (click == 5) QTest::mouseClick(dialog->radio_button5(), Qt::LeftButton);
    QTest::mouseClick(dialog->button1(), Qt::LeftButton);
    QCOMPARE(QString::fromStdString(settings_.TaskWay.text()), stored);
  }

  void OkStoresTheProxyMode_data() {
    QTest::addColumn<int>("click");
    QTest::addColumn<QString>("stored");
    QTest::newRow("直接接続") << 1 << QStringLiteral("DIRECT");
    QTest::newRow("IEの設定にあわせる") << 2 << QStringLiteral("PRECONFIG");
    QTest::newRow("プロキシを使う") << 3 << QStringLiteral("PROXY");
  }
  void OkStoresTheProxyMode() {
    QFETCH(int, click);
    QFETCH(QString, stored);
    settings_.UseProxy = Keyword<ProxyMode>("nothing yet");
    auto dialog = Opened();
    QRadioButton* buttons[] = {dialog->radio_button1(), dialog->radio_button2(), dialog->radio_button3()};
    QTest::mouseClick(buttons[click - 1], Qt::LeftButton);
    QTest::mouseClick(dialog->button1(), Qt::LeftButton);
    QCOMPARE(QString::fromStdString(settings_.UseProxy.text()), stored);
  }

  // The field's text is stored in every mode, also while the field is disabled.
  void OkWithDirectStoresTheFieldsText() {
    settings_.UseProxy = Keyword<ProxyMode>("PROXY");
    settings_.ProxyName = "old.example:80";
    auto dialog = Opened();
    dialog->edit1()->selectAll();
    dialog->edit1()->insert(U("新しい.example:3128"));
    QTest::mouseClick(dialog->radio_button1(), Qt::LeftButton);
    QVERIFY(!dialog->edit1()->isEnabled());
    QTest::mouseClick(dialog->button1(), Qt::LeftButton);
    QCOMPARE(settings_.UseProxy.text(), std::string("DIRECT"));
    QCOMPARE(settings_.ProxyName, Sjis("新しい.example:3128"));
  }

  // The server stored is in the field from the start, so that OK keeps it; bytes the field cannot
  // show survive an OK that leaves the field alone.
  void ProxyServerIsKept_data() {
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("shown");
    QTest::newRow("server and port") << QByteArray("proxy.example:8080")
                                     << QStringLiteral("proxy.example:8080");
    QTest::newRow("Shift_JIS") << QByteArray::fromStdString(Sjis("社内プロキシ:8080"))
                               << U("社内プロキシ:8080");
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("not Shift_JIS") << QByteArray("host\x81:80") << QString();
  }
  void ProxyServerIsKept() {
    QFETCH(QByteArray, stored);
    QFETCH(QString, shown);
    settings_.ProxyName = stored.toStdString();
    auto dialog = Opened();
    if (!shown.isNull() || stored.isEmpty()) QCOMPARE(dialog->edit1()->text(), shown);
    QTest::mouseClick(dialog->button1(), Qt::LeftButton);
    QCOMPARE(QByteArray::fromStdString(settings_.ProxyName), stored);
    // Opened and confirmed again, still the same.
    dialog->N10Click();
    QTest::mouseClick(dialog->button1(), Qt::LeftButton);
    QCOMPARE(QByteArray::fromStdString(settings_.ProxyName), stored);
  }

  // "False", the value before any server was set, is shown as no server, and OK stores none.
  void DefaultProxyNameShowsNoServer_data() {
    QTest::addColumn<QByteArray>("use_proxy");
    QTest::newRow("DIRECT") << QByteArray("DIRECT");
    QTest::newRow("PROXY") << QByteArray("PROXY");
  }
  void DefaultProxyNameShowsNoServer() {
    QFETCH(QByteArray, use_proxy);
    settings_.UseProxy = Keyword<ProxyMode>(use_proxy.toStdString());
    settings_.ProxyName = "False";
    auto dialog = Opened();
    QCOMPARE(dialog->edit1()->text(), QString());
    QTest::mouseClick(dialog->radio_button3(), Qt::LeftButton);
    QTest::mouseClick(dialog->button1(), Qt::LeftButton);
    QCOMPARE(settings_.UseProxy.text(), std::string("PROXY"));
    QCOMPARE(settings_.ProxyName, std::string());

    dialog->N10Click();
    dialog->edit1()->insert(QStringLiteral("proxy.example:8080"));
    QTest::mouseClick(dialog->button1(), Qt::LeftButton);
    QCOMPARE(settings_.ProxyName, std::string("proxy.example:8080"));
  }

  void HotkeyShownAndStoredAgain() {
    settings_.Shortcut = 49217;
    auto dialog = Opened();
    QCOMPARE(dialog->hot_key1()->text(), QStringLiteral("Ctrl+Alt+A"));
    QCOMPARE(int{dialog->hot_key1()->ShortCut()}, 49217);
    settings_.Shortcut = 0;
    QTest::mouseClick(dialog->button1(), Qt::LeftButton);
    QCOMPARE(int{settings_.Shortcut}, 49217);
  }

  void NoHotkeyStoresZero() {
    settings_.Shortcut = 49217;
    auto dialog = Opened();
    // A key without a modifier is refused: the field then holds no hotkey.
    QTest::keyClick(dialog->hot_key1(), Qt::Key_B);
    QCOMPARE(dialog->hot_key1()->text(), QString());
    QTest::mouseClick(dialog->button1(), Qt::LeftButton);
    QCOMPARE(int{settings_.Shortcut}, 0);
    QCOMPARE(FormatShortCut(settings_.Shortcut), std::string());
  }

  void NewHotkeyIsStored() {
    auto dialog = Opened();
    QCOMPARE(dialog->hot_key1()->text(), QString());
    QTest::keyClick(dialog->hot_key1(), Qt::Key_F12, Qt::ShiftModifier | Qt::AltModifier);
    QTest::mouseClick(dialog->button1(), Qt::LeftButton);
    QCOMPARE(int{settings_.Shortcut}, 0xA07B);
    QCOMPARE(FormatShortCut(settings_.Shortcut), std::string("Shift+Alt+F12"));
  }

  // Only the hotkey field is loaded at each opening; the buttons keep what they showed, also a
  // choice abandoned with Cancel, which a later OK stores.
  void CancelKeepsTheChangedButtonForTheNextOpening() {
    settings_.UseProxy = Keyword<ProxyMode>("DIRECT");
    settings_.Shortcut = 49217;
    auto dialog = Opened();
    QTest::mouseClick(dialog->radio_button3(), Qt::LeftButton);
    QTest::keyClick(dialog->hot_key1(), Qt::Key_Q, Qt::ControlModifier);
    QTest::mouseClick(dialog->button2(), Qt::LeftButton);
    QCOMPARE(settings_.UseProxy.text(), std::string("DIRECT"));
    QCOMPARE(int{settings_.Shortcut}, 49217);

    settings_.UseProxy = Keyword<ProxyMode>("PRECONFIG");
    dialog->N10Click();
    QVERIFY(dialog->radio_button3()->isChecked());
    QVERIFY(dialog->edit1()->isEnabled());
    QCOMPARE(dialog->hot_key1()->text(), QStringLiteral("Ctrl+Alt+A"));
    QTest::mouseClick(dialog->button1(), Qt::LeftButton);
    QCOMPARE(settings_.UseProxy.text(), std::string("PROXY"));
  }

  // The background check's controls come from the settings at creation, the minutes only while
  // the check is on; OK stores them, Cancel keeps the settings and the next opening shows the change.
  void AutoCheckAtStartOkAndCancel_data() {
    QTest::addColumn<QByteArray>("auto_check");
    QTest::addColumn<bool>("checked");
    QTest::newRow("True") << QByteArray("True") << true;
    QTest::newRow("False") << QByteArray("False") << false;
    QTest::newRow("true") << QByteArray("true") << false;
  }
  void AutoCheckAtStartOkAndCancel() {
    QFETCH(QByteArray, auto_check);
    QFETCH(bool, checked);
    settings_.AutoCheck = auto_check.toStdString();
    settings_.AutoCheckMinutes = 45;
    auto dialog = Opened();
    QCOMPARE(dialog->check_box1()->isChecked(), checked);
    QCOMPARE(dialog->spin_box1()->isEnabled(), checked);
    QCOMPARE(dialog->spin_box1()->value(), 45);
    QCOMPARE(dialog->spin_box1()->minimum(), 5);
    QCOMPARE(dialog->spin_box1()->maximum(), 1440);

    QTest::mouseClick(dialog->check_box1(), Qt::LeftButton);
    QCOMPARE(dialog->spin_box1()->isEnabled(), !checked);
    dialog->spin_box1()->setValue(90);
    QTest::mouseClick(dialog->button2(), Qt::LeftButton);
    QCOMPARE(QByteArray::fromStdString(settings_.AutoCheck), auto_check);
    QCOMPARE(settings_.AutoCheckMinutes, 45);

    dialog->N10Click();
    QCOMPARE(dialog->check_box1()->isChecked(), !checked);
    QTest::mouseClick(dialog->button1(), Qt::LeftButton);
    QCOMPARE(settings_.AutoCheck, std::string(checked ? "False" : "True"));
    QCOMPARE(settings_.AutoCheckMinutes, 90);
  }

  // Every way out hides the dialog and shows the main window once.
  void EveryWayOutShowsTheMainWindow_data() {
    QTest::addColumn<QString>("way");
    QTest::addColumn<bool>("stores");
    QTest::newRow("OK") << QStringLiteral("OK") << true;
    QTest::newRow("Enter") << QStringLiteral("Enter") << true;
    QTest::newRow("Enter in the hotkey field") << QStringLiteral("Enter in the hotkey field") << true;
    QTest::newRow("Cancel") << QStringLiteral("Cancel") << false;
    QTest::newRow("Esc") << QStringLiteral("Esc") << false;
    QTest::newRow("Esc in the hotkey field") << QStringLiteral("Esc in the hotkey field") << false;
    QTest::newRow("close button") << QStringLiteral("close") << false;
  }
  void EveryWayOutShowsTheMainWindow() {
    QFETCH(QString, way);
    QFETCH(bool, stores);
    settings_.TaskWay = Keyword<TaskWayMode>("Min");
    auto dialog = Opened();
    dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
    QTest::mouseClick(dialog->radio_button5(), Qt::LeftButton);
    if (way == QStringLiteral("OK")) {
      QTest::mouseClick(dialog->button1(), Qt::LeftButton);
    } else if (way == QStringLiteral("Enter")) {
      QTest::keyClick(dialog->radio_button5(), Qt::Key_Return);
    } else if (way == QStringLiteral("Enter in the hotkey field")) {
      dialog->hot_key1()->setFocus();
      QTest::keyClick(dialog->hot_key1(), Qt::Key_Return);
    } else if (way == QStringLiteral("Cancel")) {
      QTest::mouseClick(dialog->button2(), Qt::LeftButton);
    } else if (way == QStringLiteral("Esc")) {
      QTest::keyClick(dialog->radio_button5(), Qt::Key_Escape);
    } else if (way == QStringLiteral("Esc in the hotkey field")) {
      dialog->hot_key1()->setFocus();
      QTest::keyClick(dialog->hot_key1(), Qt::Key_Escape);
    } else {
      // The window manager's close, as the title bar's button sends it.
      QCloseEvent close;
      QApplication::sendEvent(dialog.get(), &close);
      QVERIFY(close.isAccepted());
    }
    QVERIFY(!dialog->isVisible());
    QCOMPARE(showings_, 1);
    QCOMPARE(hidings_, 1);
    QCOMPARE(settings_.TaskWay.text(), std::string(stores ? "Stop" : "Min"));
    QCOMPARE(int{settings_.Shortcut}, 0);
  }

  // The dialog closing while it is not on screen, as at the program's end, shows nothing.
  void ClosingAHiddenDialogShowsNothing() {
    auto dialog = Make();
    dialog->close();
    QCOMPARE(showings_, 0);
  }
};

}  // namespace korinbo

QTEST_MAIN(korinbo::SettingsDialogTest)
#include "settings_dialog_test.moc"
