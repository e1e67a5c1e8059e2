#include "korinbo/in_memory_window.h"

namespace korinbo {

InMemoryWindow::InMemoryWindow(std::filesystem::path start_dir, ProxyMode use_proxy, std::string proxy_name,
                               std::function<void(std::string_view)> show_message)
    : start_dir_(std::move(start_dir)),
      use_proxy_(use_proxy),
      proxy_name_(std::move(proxy_name)),
      show_message_(std::move(show_message)) {}

std::string InMemoryWindow::ParentText(TreeNode node) {
  const SiteTreeNode* parent = node.As<SiteTreeNode>()->parent;
  return parent != nullptr ? parent->text : std::string();
}

TreeNode InMemoryWindow::ChildAt(TreeNode root, int index) {
  auto& children = root.As<SiteTreeNode>()->children;
  return index >= 0 && static_cast<std::size_t>(index) < children.size() ? TreeNode::Of(children[Index(index)].get())
                                                                          : TreeNode();
}

void InMemoryWindow::AppendRows(std::vector<HeadlineRow> rows) {
  rows_.insert(rows_.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
}

int InMemoryWindow::AppendRow(std::string_view caption) {
  HeadlineRow row;
  row.caption = caption;
  rows_.push_back(std::move(row));
  return static_cast<int>(rows_.size() - 1);
}

}  // namespace korinbo
