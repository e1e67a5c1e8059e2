#pragma once
// The main window as the headline fetch sees it: its site tree, headline list, title, message box
// and settings. The fetch runs on the GUI thread, so the window stays alive only through the
// chances the fetch gives it (WhileFetching): there the window catches up with the fetch (the rows
// made since the last chance are listed at once, the selections and the title set) and the event
// loop is served, at most every few milliseconds, so that painting and listing cost little beside
// the fetch itself. What the user sees at each chance is what doing each step at once would have
// shown.
#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QElapsedTimer>
#include <QList>

#include "korinbo/fetch.h"
#include "korinbo/settings.h"
#include "list_images.h"
#include "tree_items.h"

class QTreeWidget;
class QWidget;

namespace korinbo {

class FetchWindowAdapter : public FetchWindow {
 public:
  struct Parts {
    QWidget* window;  // carries the title
    QTreeWidget* tree;
    QTreeWidget* list;
    Settings* settings;
    std::filesystem::path start_dir;
    std::function<void(std::string_view)> show_message;
    std::function<bool()> stop_requested;  // Esc
  };
  FetchWindowAdapter(Parts parts, const ListImages& images);
  ~FetchWindowAdapter() override;
  FetchWindowAdapter(const FetchWindowAdapter&) = delete;
  FetchWindowAdapter& operator=(const FetchWindowAdapter&) = delete;

  // Lists the rows made since the last chance, selects the row and the node the fetch selected
  // last and sets its title: at each chance, before a message box, and when the fetch ends.
  void ShowProgress();
  // How long the fetch may work between two servings of the event loop (tests take 0: every chance).
  void SetServeInterval(std::chrono::milliseconds interval) { serve_interval_ = interval; }

  TreeNode SelectedNode() override;
  int NodeLevel(TreeNode node) override;
  std::string NodeText(TreeNode node) override;
  std::string ParentText(TreeNode node) override;
  int ChildCount(TreeNode root) override;
  TreeNode ChildAt(TreeNode root, int index) override;
  void SelectNode(TreeNode node) override;
  void ClearList() override;
  int AppendRow(std::string_view caption) override;
  void SetRemark(int row, std::string_view remark) override;
  void SetLink(int row, std::string_view link) override;
  void SetIcon(int row, int icon) override;
  void SelectRow(int row) override;
  void AppendRows(std::vector<HeadlineRow> rows) override;
  void SetTitle(std::string_view title) override;
  void ShowMessage(std::string_view text) override;
  ProxyMode UseProxy() override { return parts_.settings->UseProxy.mode(); }
  std::string ProxyName() override { return parts_.settings->ProxyName; }
  void SetLastNews(std::string_view file_name) override { parts_.settings->LastNews = file_name; }
  std::filesystem::path StartDirectory() override { return parts_.start_dir; }
  // Serves the event loop when the serve interval has passed; true once Esc was pressed.
  bool WhileFetching() override;

 private:
  BytesItem* Row(int row) const;
  int RowCount() const;

  Parts parts_;
  BytesItem::Images icons_;  // shared by every row
  // What waits for the next chance.
  QList<QTreeWidgetItem*> unlisted_;       // rows, in order
  int selected_row_ = -1;                  // -1: none asked for
  std::optional<TreeNode> selected_node_;  // the empty node clears the selection
  std::optional<std::string> title_;
  QElapsedTimer since_served_;
  std::chrono::milliseconds serve_interval_{15};
};

}  // namespace korinbo
