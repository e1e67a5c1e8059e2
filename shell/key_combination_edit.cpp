#include "key_combination_edit.h"

#include <QFocusEvent>
#include <QKeyEvent>

#include "qt_text.h"

namespace korinbo {
namespace {

struct KeyPair {
  int qt_key;
  unsigned key_code;
};

// clang-format off
constexpr KeyPair kKeypadKeys[] = {
    {Qt::Key_Asterisk, 0x6A}, {Qt::Key_Plus, 0x6B}, {Qt::Key_Minus, 0x6D}, {Qt::Key_Period, 0x6E},
    {Qt::Key_Comma, 0x6E}, {Qt::Key_Slash, 0x6F}, {Qt::Key_Enter, 0x0D}, {Qt::Key_Clear, 0x0C},
};

constexpr KeyPair kKeys[] = {
    {Qt::Key_Backspace, 0x08}, {Qt::Key_Tab, 0x09}, {Qt::Key_Backtab, 0x09}, {Qt::Key_Clear, 0x0C},
    {Qt::Key_Return, 0x0D}, {Qt::Key_Enter, 0x0D}, {Qt::Key_Pause, 0x13}, {Qt::Key_Escape, 0x1B},
    {Qt::Key_Space, 0x20}, {Qt::Key_PageUp, 0x21}, {Qt::Key_PageDown, 0x22}, {Qt::Key_End, 0x23},
    {Qt::Key_Home, 0x24}, {Qt::Key_Left, 0x25}, {Qt::Key_Up, 0x26}, {Qt::Key_Right, 0x27},
    {Qt::Key_Down, 0x28}, {Qt::Key_Print, 0x2C}, {Qt::Key_Insert, 0x2D}, {Qt::Key_Delete, 0x2E},
    {Qt::Key_Menu, 0x5D}, {Qt::Key_ScrollLock, 0x91},
    // Punctuation, unshifted and shifted, as a US keyboard has it.
    {Qt::Key_Semicolon, 0xBA}, {Qt::Key_Colon, 0xBA}, {Qt::Key_Equal, 0xBB}, {Qt::Key_Plus, 0xBB},
    {Qt::Key_Comma, 0xBC}, {Qt::Key_Less, 0xBC}, {Qt::Key_Minus, 0xBD}, {Qt::Key_Underscore, 0xBD},
    {Qt::Key_Period, 0xBE}, {Qt::Key_Greater, 0xBE}, {Qt::Key_Slash, 0xBF}, {Qt::Key_Question, 0xBF},
    {Qt::Key_QuoteLeft, 0xC0}, {Qt::Key_AsciiTilde, 0xC0}, {Qt::Key_BracketLeft, 0xDB},
    {Qt::Key_BraceLeft, 0xDB}, {Qt::Key_Backslash, 0xDC}, {Qt::Key_Bar, 0xDC},
    {Qt::Key_BracketRight, 0xDD}, {Qt::Key_BraceRight, 0xDD}, {Qt::Key_Apostrophe, 0xDE},
    {Qt::Key_QuoteDbl, 0xDE},
    // The digits' shifted symbols.
    {Qt::Key_ParenRight, '0'}, {Qt::Key_Exclam, '1'}, {Qt::Key_At, '2'}, {Qt::Key_NumberSign, '3'},
    {Qt::Key_Dollar, '4'}, {Qt::Key_Percent, '5'}, {Qt::Key_AsciiCircum, '6'}, {Qt::Key_Ampersand, '7'},
    {Qt::Key_Asterisk, '8'}, {Qt::Key_ParenLeft, '9'},
};
// clang-format on

template <std::size_t N>
std::optional<unsigned> Find(const KeyPair (&pairs)[N], int qt_key) {
  for (const KeyPair& pair : pairs) {
    if (pair.qt_key == qt_key) return pair.key_code;
  }
  return std::nullopt;
}

bool IsModifierKey(int key) {
  switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
      return true;
    default:
      return false;
  }
}

unsigned FlagsOf(Qt::KeyboardModifiers modifiers) {
  constexpr ModifierBits kQtBits = {Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier};
  return MapModifiers(static_cast<unsigned>(modifiers.toInt()), kQtBits, kHotKeyFlagBits);
}

Qt::KeyboardModifiers ModifierOfKey(int key) {
  switch (key) {
    case Qt::Key_Shift:
      return Qt::ShiftModifier;
    case Qt::Key_Control:
      return Qt::ControlModifier;
    case Qt::Key_Alt:
      return Qt::AltModifier;
    default:
      return Qt::NoModifier;
  }
}

// Plain Tab, Enter and Esc belong to the dialog (focus, OK, Cancel); with Ctrl or Alt they are keys
// of a combination like any other.
bool BelongsToDialog(const QKeyEvent* event) {
  if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) return false;
  switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      return true;
    default:
      return false;
  }
}

}  // namespace

HotKeyFieldValue ToHotKeyField(TShortCut value) {
  HotKeyFieldValue field;
  field.key_code = value & 0xFFu;
  field.flags = MapModifiers(value, kShortCutModifierBits, kHotKeyFlagBits);
  return field;
}

TShortCut FromHotKeyField(HotKeyFieldValue field) {
  return static_cast<TShortCut>((field.key_code & 0xFFu) |
                                MapModifiers(field.flags, kHotKeyFlagBits, kShortCutModifierBits));
}

std::optional<unsigned> QtKeyToVirtualKey(int qt_key, Qt::KeyboardModifiers modifiers) {
  if (modifiers & Qt::KeypadModifier) {
    if (qt_key >= Qt::Key_0 && qt_key <= Qt::Key_9) return 0x60u + static_cast<unsigned>(qt_key - Qt::Key_0);
    if (auto code = Find(kKeypadKeys, qt_key)) return code;
  }
  if (qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z) return static_cast<unsigned>(qt_key);
  if (qt_key >= Qt::Key_0 && qt_key <= Qt::Key_9) return static_cast<unsigned>(qt_key);
  if (qt_key >= Qt::Key_F1 && qt_key <= Qt::Key_F24)
    return 0x70u + static_cast<unsigned>(qt_key - Qt::Key_F1);
  return Find(kKeys, qt_key);
}

bool IsRefusedCombination(unsigned flags) { return (flags & (kHotKeyFlagControl | kHotKeyFlagAlt)) == 0; }

KeyCombinationEdit::KeyCombinationEdit(QWidget* parent) : QLineEdit(parent) {
  // Typed text, pasting, dropping and the input method have no place in a key field.
  setAttribute(Qt::WA_InputMethodEnabled, false);
  setContextMenuPolicy(Qt::NoContextMenu);
  setAcceptDrops(false);
  setDragEnabled(false);
  static const QString none = QString::fromUtf8("なし");
  setPlaceholderText(none);
  ShowValue();
}

void KeyCombinationEdit::SetShortCut(TShortCut value) {
  field_ = ToHotKeyField(value);
  ShowValue();
}

void KeyCombinationEdit::ShowValue() {
  pending_ = false;
  setText(ToQString(FormatShortCut(ShortCut())));
}

void KeyCombinationEdit::ShowPendingModifiers(Qt::KeyboardModifiers modifiers) {
  const unsigned flags = FlagsOf(modifiers);
  if (flags == 0) {
    ShowValue();
    return;
  }
  pending_ = true;
  setText(ToQString(ModifierText(FromHotKeyField({0, flags}))));
}

bool KeyCombinationEdit::event(QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride) {
    // Every combination comes here as a key press, not as some window's shortcut.
    auto* key = static_cast<QKeyEvent*>(event);
    if (!BelongsToDialog(key)) {
      key->accept();
      return true;
    }
    key->ignore();
    return true;
  }
  return QLineEdit::event(event);
}

void KeyCombinationEdit::keyPressEvent(QKeyEvent* event) {
  if (BelongsToDialog(event)) {
    event->ignore();
    return;
  }
  event->accept();
  if (IsModifierKey(event->key())) {
    ShowPendingModifiers(event->modifiers() | ModifierOfKey(event->key()));
    return;
  }
  const std::optional<unsigned> key_code = QtKeyToVirtualKey(event->key(), event->modifiers());
  if (!key_code) {
    ShowValue();
    return;
  }
  const unsigned flags = FlagsOf(event->modifiers());
  field_ = IsRefusedCombination(flags) ? HotKeyFieldValue{} : HotKeyFieldValue{*key_code, flags};
  ShowValue();
  emit ShortCutEdited(ShortCut());
}

void KeyCombinationEdit::keyReleaseEvent(QKeyEvent* event) {
  event->accept();
  if (pending_ && IsModifierKey(event->key())) {
    // The released key may still be counted in the event's modifiers.
    ShowPendingModifiers(event->modifiers() & ~ModifierOfKey(event->key()));
  }
}

void KeyCombinationEdit::focusOutEvent(QFocusEvent* event) {
  ShowValue();
  QLineEdit::focusOutEvent(event);
}

}  // namespace korinbo
