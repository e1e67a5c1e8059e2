#pragma once
// The site tree's contents and its building rule, without any GUI: the window's tree and the
// command-line tool both build from this.
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace korinbo {

inline constexpr std::string_view kSiteFolderName = "newsurl";
inline constexpr std::string_view kFavouritesFileName = "favolite.txt";
// "お気に入り" in Shift_JIS.
const std::string& FavouritesRootText();

// The site file's name for a level-1 node: a favourite ("国内_毎日") names its file itself, any
// other site is its category, "_" and its name.
std::string SiteFileNameOf(std::string_view parent_text, std::string_view node_text);

struct SiteTreeNode {
  std::string text;
  SiteTreeNode* parent = nullptr;
  std::vector<std::unique_ptr<SiteTreeNode>> children;

  SiteTreeNode* AddChild(std::string child_text);
  int Level() const;
};

struct SiteTree {
  std::vector<std::unique_ptr<SiteTreeNode>> roots;  // roots[0] is the favourites root
  SiteTreeNode* last_news_node = nullptr;  // to select (its ancestors expanded), or none

  SiteTreeNode* AddRoot(std::string text);
  // The nodes in tree order: each root followed by its descendants, depth first.
  std::vector<SiteTreeNode*> InTreeOrder() const;
};

// The site files' names in the site folder, as Shift_JIS texts, in ascending byte order of their
// names on disk. A missing folder gives none.
std::vector<std::string> ListSiteFiles(const std::filesystem::path& site_folder);

// The tree as the window shows it: the favourites root with the lines of the favourites file, then
// the sites of the site folder by the matching rule; last_news_node is the site whose file name
// equals last_news.
SiteTree BuildSiteTree(const std::filesystem::path& start_dir, std::string_view last_news);

// Applies one site file name to the tree by the matching rule (every node in tree order whose text
// equals the category gains the site). Returns the node that was added last.
SiteTreeNode* AddSiteToTree(SiteTree& tree, std::string_view site_file_name);

// The sites of the site folder below start_dir added to the tree by the matching rule, in
// ascending byte order of the file names; the site whose file name equals last_news becomes
// last_news_node. BuildSiteTree is the favourites root, its entries, then this.
void AddSiteFolderToTree(SiteTree& tree, const std::filesystem::path& start_dir, std::string_view last_news);

// The favourites file's text for the favourites root's children.
std::string FavouritesFileText(const SiteTree& tree);

}  // namespace korinbo
