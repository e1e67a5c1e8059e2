#pragma once
// The items of the site tree and the headline list. Each keeps the Shift_JIS bytes its columns were
// made from: the shown text is a lossy conversion and must never flow back into file names or links.
#include <array>
#include <string>
#include <string_view>

#include <QByteArray>
#include <QIcon>
#include <QTreeWidgetItem>
#include <Qt>

namespace korinbo {

inline constexpr int kBytesRole = Qt::UserRole;
// A headline row's icon index (0 new, 1 unread, 2 read).
inline constexpr int kIconRole = Qt::UserRole + 1;

QByteArray ToBytes(std::string_view sjis);
// A column's bytes; empty for no item.
std::string ItemBytes(const QTreeWidgetItem* item, int column = 0);
// An item that keeps each column's bytes and makes its shown text, and its image, only when the
// view asks for them: most items of a long list or a large tree are never shown. A headline row
// has three columns, an image and tooltips; a site tree node one column.
class BytesItem : public QTreeWidgetItem {
 public:
  static constexpr int kType = UserType;
  using Images = std::array<QIcon, 3>;

  explicit BytesItem(std::string first_column);
  // A headline row, whose image index chooses among `images` (which must outlive it).
  BytesItem(std::string caption, const Images& images);

  void SetColumn(int column, std::string bytes);
  void SetImage(int image);  // an index into the images; -1 for none

  QVariant data(int column, int role) const override;

 private:
  std::array<std::string, 3> columns_;
  int image_ = -1;
  const Images* images_ = nullptr;  // rows only
};

// A site tree node showing the text.
QTreeWidgetItem* NewTreeItem(std::string_view sjis);
// 0 for a root.
int ItemLevel(const QTreeWidgetItem* item);

}  // namespace korinbo
