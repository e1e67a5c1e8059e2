#pragma once
// The fetch's window facilities without a window: the site tree is the tree the window would
// build, rows and the title are kept in memory, message boxes go to a callback. The command-line
// tool and the tests fetch through it.
#include <functional>
#include <string>
#include <vector>

#include "korinbo/fetch.h"
#include "korinbo/site_tree.h"

namespace korinbo {

class InMemoryWindow : public FetchWindow {
 public:
  InMemoryWindow(std::filesystem::path start_dir, ProxyMode use_proxy, std::string proxy_name,
                 std::function<void(std::string_view)> show_message);

  SiteTree& tree() { return tree_; }
  const std::vector<HeadlineRow>& rows() const { return rows_; }
  const std::string& title() const { return title_; }
  const std::string& last_news() const { return last_news_; }
  int selected_row() const { return selected_row_; }
  void Select(SiteTreeNode* node) { selected_ = node; }

  TreeNode SelectedNode() override { return TreeNode::Of(selected_); }
  int NodeLevel(TreeNode node) override { return node.As<SiteTreeNode>()->Level(); }
  std::string NodeText(TreeNode node) override { return node.As<SiteTreeNode>()->text; }
  std::string ParentText(TreeNode node) override;
  int ChildCount(TreeNode root) override { return static_cast<int>(root.As<SiteTreeNode>()->children.size()); }
  TreeNode ChildAt(TreeNode root, int index) override;
  void SelectNode(TreeNode node) override { selected_ = node.As<SiteTreeNode>(); }

  void ClearList() override {
    rows_.clear();
    selected_row_ = -1;
  }
  int AppendRow(std::string_view caption) override;
  void SetRemark(int row, std::string_view remark) override { rows_.at(Index(row)).remark = remark; }
  void SetLink(int row, std::string_view link) override { rows_.at(Index(row)).link = link; }
  void SetIcon(int row, int icon) override { rows_.at(Index(row)).icon = icon; }
  void SelectRow(int row) override { selected_row_ = row; }
  void AppendRows(std::vector<HeadlineRow> rows) override;

  void SetTitle(std::string_view title) override { title_ = title; }
  void ShowMessage(std::string_view text) override { show_message_(text); }

  ProxyMode UseProxy() override { return use_proxy_; }
  std::string ProxyName() override { return proxy_name_; }
  void SetLastNews(std::string_view file_name) override { last_news_ = file_name; }
  std::filesystem::path StartDirectory() override { return start_dir_; }

 private:
  static std::size_t Index(int row) { return static_cast<std::size_t>(row); }

  std::filesystem::path start_dir_;
  ProxyMode use_proxy_;
  std::string proxy_name_;
  std::function<void(std::string_view)> show_message_;
  SiteTree tree_;
  SiteTreeNode* selected_ = nullptr;
  std::vector<HeadlineRow> rows_;
  std::string title_ = "Korinbo";
  std::string last_news_;
  int selected_row_ = -1;
};

}  // namespace korinbo
