#include "tree_items.h"

#include <utility>

#include <QVariant>

#include "qt_text.h"

namespace korinbo {

QByteArray ToBytes(std::string_view sjis) { return QByteArray(sjis.data(), static_cast<qsizetype>(sjis.size())); }

std::string ItemBytes(const QTreeWidgetItem* item, int column) {
  if (item == nullptr) return std::string();
  const QByteArray bytes = item->data(column, kBytesRole).toByteArray();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

BytesItem::BytesItem(std::string first_column) : QTreeWidgetItem(kType), columns_{std::move(first_column), {}, {}} {}

BytesItem::BytesItem(std::string caption, const Images& images) : BytesItem(std::move(caption)) {
  images_ = &images;
}

void BytesItem::SetColumn(int column, std::string bytes) {
  columns_.at(static_cast<std::size_t>(column)) = std::move(bytes);
  emitDataChanged();
}

void BytesItem::SetImage(int image) {
  image_ = image;
  emitDataChanged();
}

QVariant BytesItem::data(int column, int role) const {
  if (column < 0 || column >= static_cast<int>(columns_.size())) return QTreeWidgetItem::data(column, role);
  const std::string& bytes = columns_[static_cast<std::size_t>(column)];
  switch (role) {
    case Qt::DisplayRole:
      return ToQString(bytes);
    case Qt::ToolTipRole:
      if (images_ != nullptr) return ToQString(bytes);
      break;
    case kBytesRole:
      return ToBytes(bytes);
    case Qt::DecorationRole:
      if (images_ != nullptr && column == 0 && image_ >= 0) return (*images_)[static_cast<std::size_t>(image_)];
      break;
    case kIconRole:
      if (column == 0 && image_ >= 0) return image_;
      break;
    default:
      break;
  }
  return QTreeWidgetItem::data(column, role);
}

QTreeWidgetItem* NewTreeItem(std::string_view sjis) { return new BytesItem(std::string(sjis)); }

int ItemLevel(const QTreeWidgetItem* item) {
  int level = 0;
  for (const QTreeWidgetItem* parent = item->parent(); parent != nullptr; parent = parent->parent()) ++level;
  return level;
}

}  // namespace korinbo
