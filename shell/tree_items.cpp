#include "tree_items.h"

#include <QTreeWidgetItem>
#include <QVariant>

#include "qt_text.h"

namespace korinbo {

QByteArray ToBytes(std::string_view sjis) { return QByteArray(sjis.data(), static_cast<qsizetype>(sjis.size())); }

std::string ItemBytes(const QTreeWidgetItem* item, int column) {
  if (item == nullptr) return std::string();
  const QByteArray bytes = item->data(column, kBytesRole).toByteArray();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QTreeWidgetItem* NewTreeItem(std::string_view sjis) {
  auto* item = new QTreeWidgetItem();
  item->setText(0, ToQString(sjis));
  item->setData(0, kBytesRole, ToBytes(sjis));
  return item;
}

int ItemLevel(const QTreeWidgetItem* item) {
  int level = 0;
  for (const QTreeWidgetItem* parent = item->parent(); parent != nullptr; parent = parent->parent()) ++level;
  return level;
}

}  // namespace korinbo
