#include "fetch_window_adapter.h"

#include <utility>

#include <QCoreApplication>
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <QWidget>

#include "tree_items.h"
#include "qt_text.h"

namespace korinbo {
namespace {

QTreeWidgetItem* AsItem(TreeNode node) { return node.As<QTreeWidgetItem>(); }

}  // namespace

// A headline row that keeps its three fields as the fetch made them and its icon as an index, and
// makes its shown texts, tooltips included, and its icon only when the list asks for them: most
// rows of a long list are never shown.
class FetchWindowAdapter::HeadlineItem : public QTreeWidgetItem {
 public:
  HeadlineItem(std::string caption, const std::array<QIcon, 3>& icons)
      : QTreeWidgetItem(UserType), fields_{std::move(caption), {}, {}}, icons_(icons) {}

  void SetField(int column, std::string field) {
    fields_[static_cast<std::size_t>(column)] = std::move(field);
    emitDataChanged();
  }
  void SetIcon(int icon) {
    icon_ = icon;
    emitDataChanged();
  }

  QVariant data(int column, int role) const override {
    if (column < 0 || column >= static_cast<int>(fields_.size())) return QTreeWidgetItem::data(column, role);
    const std::string& field = fields_[static_cast<std::size_t>(column)];
    switch (role) {
      case Qt::DisplayRole:
      case Qt::ToolTipRole:
        return ToQString(field);
      case kBytesRole:
        return ToBytes(field);
      case Qt::DecorationRole:
        if (column == 0 && icon_ >= 0) return icons_[static_cast<std::size_t>(icon_)];
        break;
      case kIconRole:
        if (column == 0 && icon_ >= 0) return icon_;
        break;
      default:
        break;
    }
    return QTreeWidgetItem::data(column, role);
  }

 private:
  std::array<std::string, 3> fields_;  // caption, remark, link
  int icon_ = -1;                      // none until the fetch gives one
  const std::array<QIcon, 3>& icons_;
};

FetchWindowAdapter::FetchWindowAdapter(Parts parts, const ListImages& images) : parts_(std::move(parts)) {
  for (std::size_t i = 0; i < icons_.size(); ++i) icons_[i] = QIcon(images[i]);
}

FetchWindowAdapter::~FetchWindowAdapter() { qDeleteAll(unlisted_); }

int FetchWindowAdapter::RowCount() const {
  return parts_.list->topLevelItemCount() + static_cast<int>(unlisted_.size());
}

FetchWindowAdapter::HeadlineItem* FetchWindowAdapter::Row(int row) const {
  const int listed = parts_.list->topLevelItemCount();
  QTreeWidgetItem* item = nullptr;
  if (row >= 0 && row < listed) {
    item = parts_.list->topLevelItem(row);
  } else if (row >= listed && row < RowCount()) {
    item = unlisted_[row - listed];
  }
  return item != nullptr && item->type() == QTreeWidgetItem::UserType ? static_cast<HeadlineItem*>(item) : nullptr;
}

void FetchWindowAdapter::ShowRows() {
  if (!unlisted_.isEmpty()) {
    parts_.list->addTopLevelItems(unlisted_);
    unlisted_.clear();
  }
  if (QTreeWidgetItem* selected = Row(std::exchange(selected_row_, -1))) {
    parts_.list->setCurrentItem(selected);
    parts_.list->scrollToItem(selected);
  }
}

bool FetchWindowAdapter::WhileFetching() {
  if (!since_served_.isValid() ||
      since_served_.nsecsElapsed() >= std::chrono::nanoseconds(serve_interval_).count()) {
    ShowRows();
    QCoreApplication::processEvents();
    since_served_.start();
  }
  return parts_.stop_requested && parts_.stop_requested();
}

TreeNode FetchWindowAdapter::SelectedNode() { return TreeNode::Of(parts_.tree->selectedItems().value(0)); }

int FetchWindowAdapter::NodeLevel(TreeNode node) { return node ? ItemLevel(AsItem(node)) : 0; }

std::string FetchWindowAdapter::NodeText(TreeNode node) { return ItemBytes(AsItem(node)); }

std::string FetchWindowAdapter::ParentText(TreeNode node) {
  return node ? ItemBytes(AsItem(node)->parent()) : std::string();
}

int FetchWindowAdapter::ChildCount(TreeNode root) { return root ? AsItem(root)->childCount() : 0; }

TreeNode FetchWindowAdapter::ChildAt(TreeNode root, int index) {
  return root ? TreeNode::Of(AsItem(root)->child(index)) : TreeNode();
}

void FetchWindowAdapter::SelectNode(TreeNode node) {
  if (!node) {
    parts_.tree->clearSelection();
    return;
  }
  parts_.tree->setCurrentItem(AsItem(node));
}

void FetchWindowAdapter::ClearList() {
  qDeleteAll(unlisted_);
  unlisted_.clear();
  selected_row_ = -1;
  parts_.list->clear();
}

int FetchWindowAdapter::AppendRow(std::string_view caption) {
  unlisted_.append(new HeadlineItem(std::string(caption), icons_));
  return RowCount() - 1;
}

void FetchWindowAdapter::AppendRows(std::vector<HeadlineRow> rows) {
  unlisted_.reserve(unlisted_.size() + static_cast<qsizetype>(rows.size()));
  for (HeadlineRow& row : rows) {
    auto* item = new HeadlineItem(std::move(row.caption), icons_);
    item->SetField(1, std::move(row.remark));
    item->SetField(2, std::move(row.link));
    if (row.icon >= 0 && row.icon < static_cast<int>(icons_.size())) item->SetIcon(row.icon);
    unlisted_.append(item);
  }
}

void FetchWindowAdapter::SetRemark(int row, std::string_view remark) {
  if (HeadlineItem* item = Row(row)) item->SetField(1, std::string(remark));
}

void FetchWindowAdapter::SetLink(int row, std::string_view link) {
  if (HeadlineItem* item = Row(row)) item->SetField(2, std::string(link));
}

void FetchWindowAdapter::SetIcon(int row, int icon) {
  HeadlineItem* item = Row(row);
  if (item != nullptr && icon >= 0 && icon < static_cast<int>(icons_.size())) item->SetIcon(icon);
}

void FetchWindowAdapter::SelectRow(int row) {
  if (row >= 0 && row < RowCount()) selected_row_ = row;
}

void FetchWindowAdapter::SetTitle(std::string_view title) { parts_.window->setWindowTitle(ToQString(title)); }

void FetchWindowAdapter::ShowMessage(std::string_view text) {
  ShowRows();
  parts_.show_message(text);
}

}  // namespace korinbo
