#include "korinbo/in_memory_window.h"

namespace korinbo {

InMemoryWindow::InMemoryWindow(std::filesystem::path start_dir, std::string use_proxy, std::string proxy_name,
                     std::function<void(std::string_view)> show_message)
    : start_dir_(std::move(start_dir)),
      use_proxy_(std::move(use_proxy)),
      proxy_name_(std::move(proxy_name)),
      show_message_(std::move(show_message)) {}

std::string InMemoryWindow::ParentText(Node node) {
  const SiteTreeNode* parent = AsTreeNode(node)->parent;
  return parent != nullptr ? parent->text : std::string();
}

FetchWindow::Node InMemoryWindow::ChildAt(Node root, int index) {
  auto& children = AsTreeNode(root)->children;
  return index >= 0 && static_cast<std::size_t>(index) < children.size() ? children[Index(index)].get() : nullptr;
}

int InMemoryWindow::AppendRow(std::string_view caption) {
  HeadlineRow row;
  row.caption = caption;
  rows_.push_back(std::move(row));
  return static_cast<int>(rows_.size() - 1);
}

}  // namespace korinbo
