#include "hotkey_note.h"

#include <QFont>
#include <QGroupBox>

#include "global_hotkey.h"

namespace korinbo {

HotkeyNote::HotkeyNote(GlobalHotKey& hotkey, QGroupBox* hotkey_group) : QLabel(hotkey_group), hotkey_(&hotkey) {
  setObjectName(QStringLiteral("HotkeyNote"));
  setText(QString::fromUtf8("この環境では使えません。\nkorinbo --toggle を\nデスクトップのキーに割り当て"));
  setToolTip(QString::fromUtf8(
      "このデスクトップにはグローバルホットキーの仕組みがありません。"
      "デスクトップのショートカット設定でコマンド「korinbo --toggle」をキーに割り当てると、"
      "そのキーで同じようにウィンドウを隠したり戻したりできます。"));
  QFont small = font();
  small.setPixelSize(11);
  setFont(small);
  setGeometry(136, 14, 156, 40);
  setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  connect(&hotkey, &GlobalHotKey::AvailabilityChanged, this, &HotkeyNote::Update);
  Update();
}

void HotkeyNote::Update() { setVisible(hotkey_ && !hotkey_->Available()); }

}  // namespace korinbo
