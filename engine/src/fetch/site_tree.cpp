#include "korinbo/site_tree.h"

#include <algorithm>
#include <system_error>

#include "korinbo/codepage.h"
#include "korinbo/file_io.h"
#include "korinbo/site_definition.h"

namespace korinbo {
namespace {

constexpr std::string_view kSiteFileSuffix = ".txt";

void AppendInTreeOrder(SiteTreeNode* node, std::vector<SiteTreeNode*>& order) {
  // Iterative, so that no tree shape can exhaust the stack.
  std::vector<SiteTreeNode*> stack{node};
  while (!stack.empty()) {
    SiteTreeNode* current = stack.back();
    stack.pop_back();
    order.push_back(current);
    for (auto it = current->children.rbegin(); it != current->children.rend(); ++it) stack.push_back(it->get());
  }
}

std::size_t SubtreeSize(const SiteTreeNode* node) {
  std::size_t size = 0;
  std::vector<const SiteTreeNode*> stack{node};
  while (!stack.empty()) {
    const SiteTreeNode* current = stack.back();
    stack.pop_back();
    ++size;
    for (const auto& child : current->children) stack.push_back(child.get());
  }
  return size;
}

}  // namespace

const std::string& FavouritesRootText() {
  static const std::string text = Sjis("お気に入り");
  return text;
}

SiteTreeNode* SiteTreeNode::AddChild(std::string child_text) {
  auto child = std::make_unique<SiteTreeNode>();
  child->text = std::move(child_text);
  child->parent = this;
  children.push_back(std::move(child));
  return children.back().get();
}

int SiteTreeNode::Level() const {
  int level = 0;
  for (const SiteTreeNode* node = parent; node != nullptr; node = node->parent) ++level;
  return level;
}

SiteTreeNode* SiteTree::AddRoot(std::string text) {
  auto root = std::make_unique<SiteTreeNode>();
  root->text = std::move(text);
  roots.push_back(std::move(root));
  return roots.back().get();
}

std::vector<SiteTreeNode*> SiteTree::InTreeOrder() const {
  std::vector<SiteTreeNode*> order;
  for (const auto& root : roots) AppendInTreeOrder(root.get(), order);
  return order;
}

std::vector<std::string> ListSiteFiles(const std::filesystem::path& site_folder) {
  std::vector<std::string> native_names;
  std::error_code error;
  std::filesystem::directory_iterator it(site_folder, error);
  if (error) return {};
  for (const std::filesystem::directory_iterator end; it != end; it.increment(error)) {
    if (error) break;
    std::string name = it->path().filename().native();
    if (name.size() >= kSiteFileSuffix.size() &&
        std::string_view(name).substr(name.size() - kSiteFileSuffix.size()) == kSiteFileSuffix) {
      native_names.push_back(std::move(name));
    }
  }
  std::sort(native_names.begin(), native_names.end());  // byte order of the names on disk
  std::vector<std::string> names;
  names.reserve(native_names.size());
  for (const auto& name : native_names) names.push_back(SjisFromNativeName(name));
  return names;
}

SiteTreeNode* AddSiteToTree(SiteTree& tree, std::string_view site_file_name) {
  const std::string_view base_name = site_file_name.substr(0, site_file_name.size() - kSiteFileSuffix.size());
  const SiteFileName split = SplitSiteFileName(base_name);

  // Every node present before the visit is visited at its position in tree order; a child added
  // during the visit takes a position too and pushes the later nodes one further back.
  std::vector<SiteTreeNode*> order = tree.InTreeOrder();
  const std::size_t visited_positions = order.size();
  SiteTreeNode* added = nullptr;
  for (std::size_t position = 0; position < visited_positions; ++position) {
    SiteTreeNode* node = order[position];
    if (node->text != split.category) continue;
    const std::size_t child_position = position + SubtreeSize(node);
    added = node->AddChild(split.site);
    order.insert(order.begin() + static_cast<std::ptrdiff_t>(child_position), added);
  }
  if (added == nullptr) added = tree.AddRoot(split.category)->AddChild(split.site);
  return added;
}

SiteTree BuildSiteTree(const std::filesystem::path& start_dir, std::string_view last_news) {
  SiteTree tree;
  SiteTreeNode* favourites = tree.AddRoot(FavouritesRootText());
  if (const auto text = ReadFileBytes(PathInDirectory(start_dir, kFavouritesFileName))) {
    for (auto& line : SplitLines(*text)) favourites->AddChild(std::move(line));
  }
  AddSiteFolderToTree(tree, start_dir, last_news);
  return tree;
}

void AddSiteFolderToTree(SiteTree& tree, const std::filesystem::path& start_dir, std::string_view last_news) {
  for (const auto& name : ListSiteFiles(start_dir / std::string(kSiteFolderName))) {
    AddSiteToTree(tree, name);
    if (name == last_news) {
      // The tree's last node: with the names in ascending order, the site just added.
      SiteTreeNode* last = tree.roots.back().get();
      while (!last->children.empty()) last = last->children.back().get();
      tree.last_news_node = last;
    }
  }
}

std::string FavouritesFileText(const SiteTree& tree) {
  std::vector<std::string> lines;
  if (!tree.roots.empty()) {
    for (const auto& child : tree.roots.front()->children) lines.push_back(child->text);
  }
  return JoinLines(lines);
}

}  // namespace korinbo
