// The hotkey field: its value against the shortcut value, the Qt keys it knows, the combinations it
// refuses, and the keys it leaves to the dialog or takes from the window's shortcuts.
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QWidget>
#include <QtTest>

#include <optional>

#include "key_combination_edit.h"
#include "korinbo/shortcut.h"

Q_DECLARE_METATYPE(std::optional<unsigned>)

namespace korinbo {

class KeyCombinationEditTest : public QObject {
  Q_OBJECT

  static void Press(QWidget* widget, int key, Qt::KeyboardModifiers modifiers) {
    QTest::keyClick(widget, static_cast<Qt::Key>(key), modifiers);
  }
  // One event alone; QTest's own press and release also press and release the modifiers.
  static void Send(QWidget* widget, QEvent::Type type, int key, Qt::KeyboardModifiers modifiers) {
    QKeyEvent event(type, key, modifiers);
    QApplication::sendEvent(widget, &event);
  }

 private slots:
  void SettingTheField_data() {
    QTest::addColumn<int>("value");
    QTest::addColumn<unsigned>("key_code");
    QTest::addColumn<unsigned>("flags");
    QTest::newRow("Ctrl+Alt+A") << 49217 << 0x41u << (kHotKeyFlagControl | kHotKeyFlagAlt);
    QTest::newRow("Shift+Alt+F12") << 0xA07B << 0x7Bu << (kHotKeyFlagShift | kHotKeyFlagAlt);
    QTest::newRow("Shift alone") << 0x2041 << 0x41u << kHotKeyFlagShift;
    QTest::newRow("bits 8-12 dropped") << (0x1F00 | 0x4041) << 0x41u << kHotKeyFlagControl;
    QTest::newRow("key code only") << 0x0070 << 0x70u << 0u;
    QTest::newRow("no hotkey") << 0 << 0u << 0u;
  }
  void SettingTheField() {
    QFETCH(int, value);
    QFETCH(unsigned, key_code);
    QFETCH(unsigned, flags);
    const HotKeyFieldValue field = ToHotKeyField(static_cast<TShortCut>(value));
    QCOMPARE(field.key_code, key_code);
    QCOMPARE(field.flags, flags);
  }

  void ReadingTheField_data() {
    QTest::addColumn<unsigned>("key_code");
    QTest::addColumn<unsigned>("flags");
    QTest::addColumn<int>("value");
    QTest::newRow("Ctrl+Alt+A") << 0x41u << (kHotKeyFlagControl | kHotKeyFlagAlt) << 49217;
    QTest::newRow("extended flag dropped") << 0x2Eu << (kHotKeyFlagControl | kHotKeyFlagExtended) << 0x402E;
    QTest::newRow("only the low byte") << 0x141u << kHotKeyFlagAlt << 0x8041;
    QTest::newRow("nothing") << 0u << 0u << 0;
  }
  void ReadingTheField() {
    QFETCH(unsigned, key_code);
    QFETCH(unsigned, flags);
    QFETCH(int, value);
    QCOMPARE(int{FromHotKeyField({key_code, flags})}, value);
  }

  // Every value comes back as it went in, but for bits 8-12, which the field never holds.
  void EveryValueSurvivesTheField() {
    for (unsigned value = 0; value <= 0xFFFF; ++value) {
      const auto back = FromHotKeyField(ToHotKeyField(static_cast<TShortCut>(value)));
      if (back != (value & ~0x1F00u)) QFAIL(qPrintable(QStringLiteral("value %1").arg(value)));
    }
  }

  void QtKeys_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<std::optional<unsigned>>("expected");
    const int none = Qt::NoModifier;
    const int keypad = Qt::KeypadModifier;
    using K = std::optional<unsigned>;
    QTest::newRow("A") << int{Qt::Key_A} << none << K{0x41};
    QTest::newRow("0") << int{Qt::Key_0} << none << K{0x30};
    QTest::newRow("keypad 0") << int{Qt::Key_0} << keypad << K{0x60};
    QTest::newRow("F1") << int{Qt::Key_F1} << none << K{0x70};
    QTest::newRow("F24") << int{Qt::Key_F24} << none << K{0x87};
    QTest::newRow("F25") << int{Qt::Key_F25} << none << K{};
    QTest::newRow("BkSp") << int{Qt::Key_Backspace} << none << K{0x08};
    QTest::newRow("Backtab") << int{Qt::Key_Backtab} << none << K{0x09};
    QTest::newRow("Return") << int{Qt::Key_Return} << none << K{0x0D};
    QTest::newRow("keypad Enter") << int{Qt::Key_Enter} << keypad << K{0x0D};
    QTest::newRow("Esc") << int{Qt::Key_Escape} << none << K{0x1B};
    QTest::newRow("Space") << int{Qt::Key_Space} << none << K{0x20};
    QTest::newRow("PgUp") << int{Qt::Key_PageUp} << none << K{0x21};
    QTest::newRow("Home") << int{Qt::Key_Home} << none << K{0x24};
    QTest::newRow("Left") << int{Qt::Key_Left} << none << K{0x25};
    QTest::newRow("Del") << int{Qt::Key_Delete} << none << K{0x2E};
    QTest::newRow("keypad Del without Num Lock") << int{Qt::Key_Delete} << keypad << K{0x2E};
    QTest::newRow("keypad 5 without Num Lock") << int{Qt::Key_Clear} << keypad << K{0x0C};
    QTest::newRow("keypad *") << int{Qt::Key_Asterisk} << keypad << K{0x6A};
    QTest::newRow("keypad +") << int{Qt::Key_Plus} << keypad << K{0x6B};
    QTest::newRow("keypad -") << int{Qt::Key_Minus} << keypad << K{0x6D};
    QTest::newRow("keypad .") << int{Qt::Key_Period} << keypad << K{0x6E};
    QTest::newRow("keypad /") << int{Qt::Key_Slash} << keypad << K{0x6F};
    QTest::newRow(";") << int{Qt::Key_Semicolon} << none << K{0xBA};
    QTest::newRow("Shift+; is :") << int{Qt::Key_Colon} << none << K{0xBA};
    QTest::newRow("=") << int{Qt::Key_Equal} << none << K{0xBB};
    QTest::newRow("Shift+= is +") << int{Qt::Key_Plus} << none << K{0xBB};
    QTest::newRow(",") << int{Qt::Key_Comma} << none << K{0xBC};
    QTest::newRow("/") << int{Qt::Key_Slash} << none << K{0xBF};
    QTest::newRow("[") << int{Qt::Key_BracketLeft} << none << K{0xDB};
    QTest::newRow("backslash") << int{Qt::Key_Backslash} << none << K{0xDC};
    QTest::newRow("Shift+1 is !") << int{Qt::Key_Exclam} << none << K{'1'};
    QTest::newRow("Shift+2 is @") << int{Qt::Key_At} << none << K{'2'};
    QTest::newRow("Shift+8 is *") << int{Qt::Key_Asterisk} << none << K{'8'};
    QTest::newRow("Ctrl key") << int{Qt::Key_Control} << none << K{};
    QTest::newRow("unknown") << int{Qt::Key_unknown} << none << K{};
  }
  void QtKeys() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(std::optional<unsigned>, expected);
    QCOMPARE(QtKeyToVirtualKey(key, Qt::KeyboardModifiers(modifiers)), expected);
  }

  void PressedCombinations_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    const int ctrl_alt = Qt::ControlModifier | Qt::AltModifier;
    QTest::newRow("Ctrl+Alt+A") << int{Qt::Key_A} << ctrl_alt << 49217 << QStringLiteral("Ctrl+Alt+A");
    QTest::newRow("Shift+Alt+F12") << int{Qt::Key_F12} << int{Qt::ShiftModifier | Qt::AltModifier} << 0xA07B
                                   << QStringLiteral("Shift+Alt+F12");
    QTest::newRow("Ctrl+Q") << int{Qt::Key_Q} << int{Qt::ControlModifier} << 0x4051
                            << QStringLiteral("Ctrl+Q");
    QTest::newRow("Alt+Del") << int{Qt::Key_Delete} << int{Qt::AltModifier} << 0x802E
                             << QStringLiteral("Alt+Del");
    QTest::newRow("Ctrl+Enter") << int{Qt::Key_Return} << int{Qt::ControlModifier} << 0x400D
                                << QStringLiteral("Ctrl+Enter");
    QTest::newRow("Alt+Esc") << int{Qt::Key_Escape} << int{Qt::AltModifier} << 0x801B
                             << QStringLiteral("Alt+Esc");
    QTest::newRow("Ctrl+Shift+1 as !") << int{Qt::Key_Exclam} << int{Qt::ControlModifier | Qt::ShiftModifier}
                                       << 0x6031 << QStringLiteral("Shift+Ctrl+1");
    QTest::newRow("Ctrl+keypad 5") << int{Qt::Key_5} << int{Qt::ControlModifier | Qt::KeypadModifier}
                                   << 0x4065 << QStringLiteral("Ctrl+5");
    QTest::newRow("no modifier") << int{Qt::Key_A} << int{Qt::NoModifier} << 0 << QString();
    QTest::newRow("Shift alone") << int{Qt::Key_A} << int{Qt::ShiftModifier} << 0 << QString();
    QTest::newRow("Shift+F5") << int{Qt::Key_F5} << int{Qt::ShiftModifier} << 0 << QString();
    QTest::newRow("plain Delete") << int{Qt::Key_Delete} << int{Qt::NoModifier} << 0 << QString();
  }
  // Pressed into a field that held another hotkey, which the new combination replaces.
  void PressedCombinations() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, value);
    QFETCH(QString, text);
    KeyCombinationEdit edit;
    edit.SetShortCut(0xC05A);  // Ctrl+Alt+Z
    QSignalSpy edited(&edit, &KeyCombinationEdit::ShortCutEdited);
    Press(&edit, key, Qt::KeyboardModifiers(modifiers));
    QCOMPARE(int{edit.ShortCut()}, value);
    QCOMPARE(edit.text(), text);
    QCOMPARE(edited.count(), 1);
    QCOMPARE(edited.at(0).at(0).value<TShortCut>(), TShortCut(value));
  }

  void HeldModifiersShowUntilReleased() {
    KeyCombinationEdit edit;
    edit.SetShortCut(49217);
    Send(&edit, QEvent::KeyPress, Qt::Key_Control, Qt::NoModifier);
    QCOMPARE(edit.text(), QStringLiteral("Ctrl+"));
    Send(&edit, QEvent::KeyPress, Qt::Key_Shift, Qt::ControlModifier);
    QCOMPARE(edit.text(), QStringLiteral("Shift+Ctrl+"));
    QCOMPARE(int{edit.ShortCut()}, 49217);
    Send(&edit, QEvent::KeyRelease, Qt::Key_Shift, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(edit.text(), QStringLiteral("Ctrl+"));
    Send(&edit, QEvent::KeyRelease, Qt::Key_Control, Qt::ControlModifier);
    QCOMPARE(edit.text(), QStringLiteral("Ctrl+Alt+A"));
    QCOMPARE(int{edit.ShortCut()}, 49217);
    // Leaving the field with a modifier still held shows the value again.
    Send(&edit, QEvent::KeyPress, Qt::Key_Alt, Qt::NoModifier);
    QCOMPARE(edit.text(), QStringLiteral("Alt+"));
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(&edit, &out);
    QCOMPARE(edit.text(), QStringLiteral("Ctrl+Alt+A"));
  }

  // Letting go of the modifiers after the key keeps the combination on show.
  void CombinationStaysAfterTheModifiersAreReleased() {
    KeyCombinationEdit edit;
    Send(&edit, QEvent::KeyPress, Qt::Key_Control, Qt::NoModifier);
    Send(&edit, QEvent::KeyPress, Qt::Key_Alt, Qt::ControlModifier);
    Send(&edit, QEvent::KeyPress, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
    Send(&edit, QEvent::KeyRelease, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
    Send(&edit, QEvent::KeyRelease, Qt::Key_Alt, Qt::ControlModifier | Qt::AltModifier);
    QCOMPARE(edit.text(), QStringLiteral("Ctrl+Alt+K"));
    Send(&edit, QEvent::KeyRelease, Qt::Key_Control, Qt::ControlModifier);
    QCOMPARE(edit.text(), QStringLiteral("Ctrl+Alt+K"));
    QCOMPARE(int{edit.ShortCut()}, 0xC04B);
  }

  void KeyWithoutCodeChangesNothing() {
    KeyCombinationEdit edit;
    edit.SetShortCut(49217);
    QSignalSpy edited(&edit, &KeyCombinationEdit::ShortCutEdited);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_VolumeUp, Qt::ControlModifier | Qt::AltModifier);
    QApplication::sendEvent(&edit, &press);
    QCOMPARE(int{edit.ShortCut()}, 49217);
    QCOMPARE(edit.text(), QStringLiteral("Ctrl+Alt+A"));
    QCOMPARE(edited.count(), 0);
  }

  // Plain Tab, Enter and Esc go on to the window; typing, pasting and the field's editing keys
  // never change the value.
  void DialogKeysPassAndTextCannotBeTyped() {
    KeyCombinationEdit edit;
    edit.SetShortCut(49217);
    for (int key : {int{Qt::Key_Return}, int{Qt::Key_Enter}, int{Qt::Key_Escape}}) {
      QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
      QApplication::sendEvent(&edit, &press);
      QVERIFY2(!press.isAccepted(), qPrintable(QString::number(key)));
    }
    QCOMPARE(int{edit.ShortCut()}, 49217);
    QKeyEvent paste(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier, QStringLiteral("v"));
    QApplication::sendEvent(&edit, &paste);
    QCOMPARE(int{edit.ShortCut()}, 0x4056);
    QCOMPARE(edit.text(), QStringLiteral("Ctrl+V"));
    QTest::keyClicks(&edit, QStringLiteral("abc"));
    QCOMPARE(int{edit.ShortCut()}, 0);
    QCOMPARE(edit.text(), QString());
  }

  // A window's shortcut on the same combination does not fire while the field takes it.
  void WindowShortcutsDoNotTakeTheCombination() {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* edit = new KeyCombinationEdit(&window);
    layout->addWidget(edit);
    QAction action(&window);
    action.setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    window.addAction(&action);
    QSignalSpy triggered(&action, &QAction::triggered);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Q, Qt::ControlModifier);
    QCOMPARE(triggered.count(), 0);
    QCOMPARE(int{edit->ShortCut()}, 0x4051);
    // The same shortcut elsewhere in the window still works.
    window.setFocus();
    edit->clearFocus();
    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    QCOMPARE(triggered.count(), 1);
  }
};

}  // namespace korinbo

QTEST_MAIN(korinbo::KeyCombinationEditTest)
#include "key_combination_edit_test.moc"
