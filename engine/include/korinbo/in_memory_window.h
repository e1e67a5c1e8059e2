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
  InMemoryWindow(std::filesystem::path start_dir, std::string use_proxy, std::string proxy_name,
            std::function<void(std::string_view)> show_message);

  SiteTree& tree() { return tree_; }
  const std::vector<HeadlineRow>& rows() const { return rows_; }
  const std::string& title() const { return title_; }
  const std::string& last_news() const { return last_news_; }
  int selected_row() const { return selected_row_; }
  void Select(SiteTreeNode* node) { selected_ = node; }

  Node SelectedNode() override { return selected_; }
  int NodeLevel(Node node) override { return AsTreeNode(node)->Level(); }
  std::string NodeText(Node node) override { return AsTreeNode(node)->text; }
  std::string ParentText(Node node) override;
  int ChildCount(Node root) override { return static_cast<int>(AsTreeNode(root)->children.size()); }
  Node ChildAt(Node root, int index) override;
  void SelectNode(Node node) override { selected_ = AsTreeNode(node); }

  void ClearList() override {
    rows_.clear();
    selected_row_ = -1;
  }
  int AppendRow(std::string_view caption) override;
  void SetRemark(int row, std::string_view remark) override { rows_.at(Index(row)).remark = remark; }
  void SetLink(int row, std::string_view link) override { rows_.at(Index(row)).link = link; }
  void SetIcon(int row, int icon) override { rows_.at(Index(row)).icon = icon; }
  void SelectRow(int row) override { selected_row_ = row; }

  void SetTitle(std::string_view title) override { title_ = title; }
  void ShowMessage(std::string_view text) override { show_message_(text); }

  std::string UseProxy() override { return use_proxy_; }
  std::string ProxyName() override { return proxy_name_; }
  void SetLastNews(std::string_view file_name) override { last_news_ = file_name; }
  std::filesystem::path StartDirectory() override { return start_dir_; }

 private:
  static SiteTreeNode* AsTreeNode(Node node) { return const_cast<SiteTreeNode*>(static_cast<const SiteTreeNode*>(node)); }
  static std::size_t Index(int row) { return static_cast<std::size_t>(row); }

  std::filesystem::path start_dir_;
  std::string use_proxy_;
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
