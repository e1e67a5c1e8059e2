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

FetchWindowAdapter::FetchWindowAdapter(Parts parts, const ListImages& images) : parts_(std::move(parts)) {
  for (std::size_t i = 0; i < icons_.size(); ++i) icons_[i] = QIcon(images[i]);
}

FetchWindowAdapter::~FetchWindowAdapter() { qDeleteAll(unlisted_); }

int FetchWindowAdapter::RowCount() const {
  return parts_.list->topLevelItemCount() + static_cast<int>(unlisted_.size());
}

BytesItem* FetchWindowAdapter::Row(int row) const {
  const int listed = parts_.list->topLevelItemCount();
  QTreeWidgetItem* item = nullptr;
  if (row >= 0 && row < listed) {
    item = parts_.list->topLevelItem(row);
  } else if (row >= listed && row < RowCount()) {
    item = unlisted_[row - listed];
  }
  return item != nullptr && item->type() == BytesItem::kType ? static_cast<BytesItem*>(item) : nullptr;
}

void FetchWindowAdapter::ShowProgress() {
  if (!unlisted_.isEmpty()) {
    parts_.list->addTopLevelItems(unlisted_);
    unlisted_.clear();
  }
  if (QTreeWidgetItem* selected = Row(std::exchange(selected_row_, -1))) {
    parts_.list->setCurrentItem(selected);
    parts_.list->scrollToItem(selected);
  }
  if (const std::optional<TreeNode> node = std::exchange(selected_node_, std::nullopt)) {
    if (*node) {
      parts_.tree->setCurrentItem(AsItem(*node));
    } else {
      parts_.tree->clearSelection();
    }
  }
  if (const std::optional<std::string> title = std::exchange(title_, std::nullopt)) {
    parts_.window->setWindowTitle(ToQString(*title));
  }
}

bool FetchWindowAdapter::WhileFetching() {
  if (!since_served_.isValid() ||
      since_served_.nsecsElapsed() >= std::chrono::nanoseconds(serve_interval_).count()) {
    ShowProgress();
    QCoreApplication::processEvents();
    since_served_.start();
  }
  return parts_.stop_requested && parts_.stop_requested();
}

TreeNode FetchWindowAdapter::SelectedNode() {
  return selected_node_ ? *selected_node_ : TreeNode::Of(parts_.tree->selectedItems().value(0));
}

int FetchWindowAdapter::NodeLevel(TreeNode node) { return node ? ItemLevel(AsItem(node)) : 0; }

std::string FetchWindowAdapter::NodeText(TreeNode node) { return ItemBytes(AsItem(node)); }

std::string FetchWindowAdapter::ParentText(TreeNode node) {
  return node ? ItemBytes(AsItem(node)->parent()) : std::string();
}

int FetchWindowAdapter::ChildCount(TreeNode root) { return root ? AsItem(root)->childCount() : 0; }

TreeNode FetchWindowAdapter::ChildAt(TreeNode root, int index) {
  return root ? TreeNode::Of(AsItem(root)->child(index)) : TreeNode();
}

void FetchWindowAdapter::SelectNode(TreeNode node) { selected_node_ = node; }

void FetchWindowAdapter::ClearList() {
  qDeleteAll(unlisted_);
  unlisted_.clear();
  selected_row_ = -1;
  parts_.list->clear();
}

int FetchWindowAdapter::AppendRow(std::string_view caption) {
  unlisted_.append(new BytesItem(std::string(caption), icons_));
  return RowCount() - 1;
}

void FetchWindowAdapter::AppendRows(std::vector<HeadlineRow> rows) {
  unlisted_.reserve(unlisted_.size() + static_cast<qsizetype>(rows.size()));
  for (HeadlineRow& row : rows) {
    auto* item = new BytesItem(std::move(row.caption), icons_);
    item->SetColumn(1, std::move(row.remark));
    item->SetColumn(2, std::move(row.link));
    if (row.icon >= 0 && row.icon < static_cast<int>(icons_.size())) item->SetImage(row.icon);
    unlisted_.append(item);
  }
}

void FetchWindowAdapter::SetRemark(int row, std::string_view remark) {
  if (BytesItem* item = Row(row)) item->SetColumn(1, std::string(remark));
}

void FetchWindowAdapter::SetLink(int row, std::string_view link) {
  if (BytesItem* item = Row(row)) item->SetColumn(2, std::string(link));
}

void FetchWindowAdapter::SetIcon(int row, int icon) {
  BytesItem* item = Row(row);
  if (item != nullptr && icon >= 0 && icon < static_cast<int>(icons_.size())) item->SetImage(icon);
}

void FetchWindowAdapter::SelectRow(int row) {
  if (row >= 0 && row < RowCount()) selected_row_ = row;
}

void FetchWindowAdapter::SetTitle(std::string_view title) { title_ = title; }

void FetchWindowAdapter::ShowMessage(std::string_view text) {
  ShowProgress();
  parts_.show_message(text);
}

}  // namespace korinbo
