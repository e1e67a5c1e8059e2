#pragma once
// A note in the settings dialog's hotkey group where this desktop gives the program no global
// hotkey: the desktop's own shortcut settings can run "korinbo --toggle" instead. The group's
// controls keep their places; the note takes the free room beside the key field.
#include <QLabel>
#include <QPointer>

class QGroupBox;

namespace korinbo {

class GlobalHotKey;

class HotkeyNote : public QLabel {
  Q_OBJECT

 public:
  HotkeyNote(GlobalHotKey& hotkey, QGroupBox* hotkey_group);

 private:
  void Update();

  QPointer<GlobalHotKey> hotkey_;
};

}  // namespace korinbo
