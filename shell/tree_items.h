#pragma once
// The items of the site tree and the headline list. Each keeps the Shift_JIS bytes its columns were
// made from: the shown text is a lossy conversion and must never flow back into file names or links.
#include <string>
#include <string_view>

#include <QByteArray>
#include <Qt>

class QTreeWidgetItem;

namespace korinbo {

inline constexpr int kBytesRole = Qt::UserRole;
// A headline row's icon index (0 new, 1 unread, 2 read).
inline constexpr int kIconRole = Qt::UserRole + 1;

QByteArray ToBytes(std::string_view sjis);
// A column's bytes; empty for no item.
std::string ItemBytes(const QTreeWidgetItem* item, int column = 0);
// A site tree node showing the text.
QTreeWidgetItem* NewTreeItem(std::string_view sjis);
// 0 for a root.
int ItemLevel(const QTreeWidgetItem* item);

}  // namespace korinbo
