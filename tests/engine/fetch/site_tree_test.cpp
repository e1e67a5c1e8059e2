// The site tree's building rule, without a window.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "korinbo/codepage.h"
#include "korinbo/fetch.h"
#include "korinbo/site_tree.h"
#include "korinbo/test/temp_dir.h"

namespace korinbo {
namespace {

class SiteTreeTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directory(dir_ / "newsurl"); }
  void Touch(const std::string& utf8_name) { std::ofstream(dir_ / "newsurl" / utf8_name) << "url =http://x/\r\n"; }

  // The tree as indented UTF-8 lines, one per node in tree order.
  static std::string Outline(const SiteTree& tree) {
    std::string outline;
    for (const SiteTreeNode* node : tree.InTreeOrder()) {
      outline += std::string(static_cast<std::size_t>(node->Level()) * 2, ' ') + Cp932ToUtf8Lossy(node->text) + "\n";
    }
    return outline;
  }

  test::TempDir temp_;
  const std::filesystem::path dir_ = temp_.path();
};

TEST_F(SiteTreeTest, GroupsSitesUnderTheirCategoriesAfterTheFavourites) {
  for (const char* name : {"経済_日経.txt", "国内_読売.txt", "国内_毎日.txt", "readme.md"}) Touch(name);
  const SiteTree tree = BuildSiteTree(dir_, "");
  // Ascending byte order of the UTF-8 names: 国 (E5 9B BD) before 経 (E7 B5 8C), 毎 before 読.
  EXPECT_EQ(Outline(tree), "お気に入り\n国内\n  毎日\n  読売\n経済\n  日経\n");
  EXPECT_EQ(tree.last_news_node, nullptr);
}

TEST_F(SiteTreeTest, ANameWithoutUnderscoreGivesEmptyTexts) {
  Touch("news.txt");
  EXPECT_EQ(Outline(BuildSiteTree(dir_, "")), "お気に入り\n\n  \n");
}

TEST_F(SiteTreeTest, LastNewsSelectsItsSite) {
  for (const char* name : {"国内_毎日.txt", "国内_読売.txt", "経済_日経.txt"}) Touch(name);
  const SiteTree tree = BuildSiteTree(dir_, Sjis("国内_読売.txt"));
  ASSERT_NE(tree.last_news_node, nullptr);
  EXPECT_EQ(tree.last_news_node->text, Sjis("読売"));
  EXPECT_EQ(tree.last_news_node->parent->text, Sjis("国内"));
}

TEST_F(SiteTreeTest, TheFavouritesFileGivesOneChildPerLine) {
  std::ofstream(dir_ / "favolite.txt", std::ios::binary) << Sjis("経済_日経") << "\r\n";
  SiteTree tree = BuildSiteTree(dir_, "");
  EXPECT_EQ(Outline(tree), "お気に入り\n  経済_日経\n");
  std::ofstream(dir_ / "favolite.txt", std::ios::binary) << "a\r\n\r\nb";
  tree = BuildSiteTree(dir_, "");
  EXPECT_EQ(Outline(tree), "お気に入り\n  a\n  \n  b\n");
  EXPECT_EQ(FavouritesFileText(tree), "a\r\n\r\nb\r\n");
}

TEST_F(SiteTreeTest, EveryNodeWithTheCategoryTextGainsTheSite) {
  // A category named like the favourites root joins it; a site named like its category gains
  // the later sites of that category as children of its own.
  for (const char* name : {"お気に入り_x.txt", "a_a.txt", "a_b.txt"}) Touch(name);
  EXPECT_EQ(Outline(BuildSiteTree(dir_, "")), "お気に入り\n  x\na\n  a\n    b\n  b\n");
}

TEST_F(SiteTreeTest, TheFolderGivesTheTreeThatTheRuleGivesFileByFile) {
  // Few texts, so that categories repeat, sites are named like categories, favourites entries and
  // sites carry category texts, and sites gain sites.
  const std::vector<std::string> texts = {"a", "b", "a_b", "お気に入り"};
  std::mt19937 random(20261208);
  auto pick = [&] { return texts[random() % texts.size()]; };
  for (int round = 0; round < 200; ++round) {
    std::filesystem::remove_all(dir_ / "newsurl");
    std::filesystem::create_directory(dir_ / "newsurl");
    std::vector<std::string> favourites;
    for (auto i = random() % 3; i > 0; --i) favourites.push_back(Sjis(pick()));
    std::ofstream(dir_ / "favolite.txt", std::ios::binary | std::ios::trunc) << JoinLines(favourites);
    for (auto i = random() % 7; i > 0; --i) Touch(pick() + "_" + pick() + ".txt");

    const SiteTree built = BuildSiteTree(dir_, "");
    SiteTree expected;
    SiteTreeNode* root = expected.AddRoot(FavouritesRootText());
    for (const std::string& entry : favourites) root->AddChild(entry);
    for (const std::string& name : ListSiteFiles(dir_ / "newsurl")) AddSiteToTree(expected, name);
    ASSERT_EQ(Outline(built), Outline(expected)) << "round " << round;
  }
}

TEST_F(SiteTreeTest, AMissingSiteFolderGivesOnlyTheFavourites) {
  std::filesystem::remove(dir_ / "newsurl");
  EXPECT_EQ(Outline(BuildSiteTree(dir_, "")), "お気に入り\n");
}

TEST_F(SiteTreeTest, RawShiftJisFileNamesFromWindowsAreSitesToo) {
  const std::string raw = Sjis("国内_毎日.txt");
  std::ofstream(dir_ / "newsurl" / raw) << "url =http://x/\r\n";
  const SiteTree tree = BuildSiteTree(dir_, "");
  EXPECT_EQ(Outline(tree), "お気に入り\n国内\n  毎日\n");
  // The fetch finds the file again by the node's texts.
  EXPECT_TRUE(ReadSiteDefinitionFile(dir_ / "newsurl" / raw).has_value());
}

TEST(ReadSiteDefinitionFile, ReadsUtf8AndShiftJisFilesAlike) {
  test::TempDir temp;
  const std::filesystem::path dir = temp.path();
  const std::string utf8 = "url =http://a.example/\nstr_start =<h2>最新</h2>\nremark =備考\n";
  std::ofstream(dir / "bom.txt", std::ios::binary) << "\xEF\xBB\xBF" << utf8;
  std::ofstream(dir / "utf8.txt", std::ios::binary) << utf8;
  std::ofstream(dir / "sjis.txt", std::ios::binary) << Sjis(utf8);
  for (const char* name : {"bom.txt", "utf8.txt", "sjis.txt"}) {
    const auto site = ReadSiteDefinitionFile(dir / name);
    ASSERT_TRUE(site) << name;
    EXPECT_EQ(site->url, "http://a.example/") << name;
    EXPECT_EQ(site->str_start, Sjis("<h2>最新</h2>")) << name;
    EXPECT_EQ(site->remark, Sjis("備考")) << name;
  }
  EXPECT_FALSE(ReadSiteDefinitionFile(dir / "missing.txt"));
  std::filesystem::create_directory(dir / "folder.txt");
  EXPECT_FALSE(ReadSiteDefinitionFile(dir / "folder.txt"));
}

}  // namespace
}  // namespace korinbo
