#include "korinbo/site_tree.h"

#include <algorithm>
#include <system_error>
#include <unordered_map>

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

std::string SiteFileNameOf(std::string_view parent_text, std::string_view node_text) {
  std::string name;
  if (parent_text != FavouritesRootText()) {
    name.append(parent_text);
    name += '_';
  }
  name.append(node_text);
  name += ".txt";
  return name;
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

namespace {

// The matching rule by its definition: the nodes in tree order are visited at positions 0 to N-1,
// N the count before the visit, each position taken by the node there at the moment; a child added
// during the visit takes a position too and pushes the later nodes one further back.
template <typename OnAdded>
SiteTreeNode* AddSiteByVisit(SiteTree& tree, const SiteFileName& split, OnAdded&& on_added) {
  std::vector<SiteTreeNode*> order = tree.InTreeOrder();
  const std::size_t visited_positions = order.size();
  SiteTreeNode* added = nullptr;
  for (std::size_t position = 0; position < visited_positions; ++position) {
    SiteTreeNode* node = order[position];
    if (node->text != split.category) continue;
    const std::size_t child_position = position + SubtreeSize(node);
    added = node->AddChild(split.site);
    on_added(added);
    order.insert(order.begin() + static_cast<std::ptrdiff_t>(child_position), added);
  }
  if (added == nullptr) {
    SiteTreeNode* root = tree.AddRoot(split.category);
    on_added(root);
    added = root->AddChild(split.site);
    on_added(added);
  }
  return added;
}

SiteFileName SplitFileName(std::string_view site_file_name) {
  return SplitSiteFileName(site_file_name.substr(0, site_file_name.size() - kSiteFileSuffix.size()));
}

// Applies the matching rule for many files in time that grows with their number. Where at most
// one node carries the category's text and the site is named otherwise (every usual folder), that
// node is the only one visited that matches, and nothing added can match: the site goes to it, or
// to a new root. Only other files walk the tree by the rule's definition.
class SiteAdder {
 public:
  explicit SiteAdder(SiteTree& tree) : tree_(tree) {
    for (SiteTreeNode* node : tree.InTreeOrder()) Count(node);
  }

  SiteTreeNode* Add(std::string_view site_file_name) {
    const SiteFileName split = SplitFileName(site_file_name);
    const auto found = by_text_.find(split.category);
    const std::size_t matches = found == by_text_.end() ? 0 : found->second.count;
    if (matches > 1 || split.site == split.category) {
      return AddSiteByVisit(tree_, split, [this](SiteTreeNode* node) { Count(node); });
    }
    SiteTreeNode* parent = matches == 1 ? found->second.node : tree_.AddRoot(split.category);
    if (matches == 0) Count(parent);
    SiteTreeNode* added = parent->AddChild(split.site);
    Count(added);
    return added;
  }

 private:
  struct Nodes {
    std::size_t count = 0;
    SiteTreeNode* node = nullptr;  // the node, while it is the only one
  };
  // The keys view the nodes' texts, which never change or move.
  void Count(SiteTreeNode* node) {
    Nodes& nodes = by_text_[node->text];
    if (++nodes.count == 1) nodes.node = node;
  }

  SiteTree& tree_;
  std::unordered_map<std::string_view, Nodes> by_text_;
};

}  // namespace

SiteTreeNode* AddSiteToTree(SiteTree& tree, std::string_view site_file_name) {
  return AddSiteByVisit(tree, SplitFileName(site_file_name), [](SiteTreeNode*) {});
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
  SiteAdder adder(tree);
  for (const auto& name : ListSiteFiles(start_dir / std::string(kSiteFolderName))) {
    adder.Add(name);
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
