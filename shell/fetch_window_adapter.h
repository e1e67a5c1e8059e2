#pragma once
// The main window as the headline fetch sees it: its site tree, headline list, title, message box
// and settings. The fetch runs on the GUI thread, so the window stays alive only through the
// chances the fetch gives it (WhileFetching): there the rows made since the last chance are listed
// at once and the event loop is served, at most every few milliseconds, so that painting and
// listing cost little beside the fetch itself. What the user sees at each chance is what listing
// each row at once would have shown.
#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <QElapsedTimer>
#include <QIcon>
#include <QList>

#include "korinbo/fetch.h"
#include "korinbo/settings.h"
#include "list_images.h"

class QTreeWidget;
class QTreeWidgetItem;
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

  // Lists the rows made since the last chance and selects the row the fetch selected last: at each
  // chance, before a message box, and when the fetch ends.
  void ShowRows();
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
  class HeadlineItem;
  HeadlineItem* Row(int row) const;
  int RowCount() const;

  Parts parts_;
  std::array<QIcon, 3> icons_;  // shared by every row
  QList<QTreeWidgetItem*> unlisted_;  // made since the last chance, in order
  int selected_row_ = -1;             // to select at the next chance; -1: none asked for
  QElapsedTimer since_served_;
  std::chrono::milliseconds serve_interval_{15};
};

}  // namespace korinbo
