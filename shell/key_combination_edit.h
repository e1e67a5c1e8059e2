#pragma once
// The settings dialog's hotkey field: it takes the key combination the user presses while it has
// the focus and shows it as the settings file writes it ("Ctrl+Alt+A").
#include <optional>

#include <QLineEdit>

#include "korinbo/shortcut.h"

class QKeyEvent;

namespace korinbo {

// The field's own form of a combination: a key code and the flags below.
inline constexpr unsigned kHotKeyFlagShift = 1;
inline constexpr unsigned kHotKeyFlagControl = 2;
inline constexpr unsigned kHotKeyFlagAlt = 4;
inline constexpr unsigned kHotKeyFlagExtended = 8;
inline constexpr ModifierBits kHotKeyFlagBits = {kHotKeyFlagShift, kHotKeyFlagControl, kHotKeyFlagAlt};

struct HotKeyFieldValue {
  unsigned key_code = 0;  // 0-255
  unsigned flags = 0;
  bool operator==(const HotKeyFieldValue&) const = default;
};

// Setting the field: the value's low byte and its modifier bits.
HotKeyFieldValue ToHotKeyField(TShortCut value);
// Reading it: the key code plus the modifier bits; the extended flag is dropped, so bits 8-12 of
// the result are always zero.
TShortCut FromHotKeyField(HotKeyFieldValue field);

// The Windows virtual-key code of a Qt key (keypad keys when the keypad modifier is set, shifted
// punctuation as on a US keyboard); nullopt for a key without one, the modifier keys included.
std::optional<unsigned> QtKeyToVirtualKey(int qt_key, Qt::KeyboardModifiers modifiers);

// The combinations the field refuses: none of Ctrl and Alt, that is no modifier or Shift alone.
bool IsRefusedCombination(unsigned flags);

class KeyCombinationEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit KeyCombinationEdit(QWidget* parent = nullptr);

  // Shows the value as it is, without the field's rules; bits 8-12 are not kept.
  void SetShortCut(TShortCut value);
  TShortCut ShortCut() const { return FromHotKeyField(field_); }

 signals:
  // The user pressed a combination (a refused one gives 0).
  void ShortCutEdited(korinbo::TShortCut value);

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void ShowValue();
  void ShowPendingModifiers(Qt::KeyboardModifiers modifiers);

  HotKeyFieldValue field_;
  // Modifiers are held and no key has completed the combination yet.
  bool pending_ = false;
};

}  // namespace korinbo
