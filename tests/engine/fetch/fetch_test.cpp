// The site and category fetch end to end: real downloads from a loopback server into an in-memory
// window, with the history files in a temporary start directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>

#include "korinbo/codepage.h"
#include "korinbo/errors.h"
#include "korinbo/fetch.h"
#include "korinbo/file_io.h"
#include "korinbo/history.h"
#include "korinbo/httpd/server.h"
#include "korinbo/in_memory_window.h"
#include "korinbo/test/site_file.h"
#include "korinbo/test/temp_dir.h"

namespace korinbo {
namespace {

using httpd::Response;
using httpd::Server;

// Records every title and message as the user would see them.
class Window : public InMemoryWindow {
 public:
  explicit Window(const std::filesystem::path& dir)
      : InMemoryWindow(dir, ProxyMode::kDirect, "", [this](std::string_view text) { messages.emplace_back(text); }) {}
  void SetTitle(std::string_view title) override {
    titles.emplace_back(title);
    InMemoryWindow::SetTitle(title);
  }
  bool WhileFetching() override { return stop_downloads; }

  std::vector<std::string> titles;
  std::vector<std::string> messages;
  bool stop_downloads = false;
};

class Fetch : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directory(dir_ / "newsurl"); }

  // A site file; category, site and every value are UTF-8 here and Shift_JIS on disk.
  void WriteSite(std::string_view category, std::string_view site, const std::string& url,
                 std::string_view anc_form = "<li><a href=\"([^\"]*)\">([^<]*)</a></li>", std::string_view encode = "") {
    test::WriteSite(temp_, category, site,
                    {.url = url, .anc_form = std::string(anc_form), .encode = std::string(encode)});
  }
  // A page of `count` headlines "見出しN" linking to "aN.html", in Shift_JIS.
  static std::string Page(int count, std::string_view prefix = "a") {
    std::string page = "<html><body><p>" + Sjis("ナビ") + "</p><ul>\r\n";
    for (int i = 1; i <= count; ++i) {
      page += "<li><a href=\"" + std::string(prefix) + std::to_string(i) + ".html\">" + Sjis("見出し") +
              std::to_string(i) + "</a></li>\r\n";
    }
    return page + "</ul></body></html>\r\n";
  }
  void BuildTree(Window& window) { window.tree() = BuildSiteTree(dir_, ""); }
  SiteTreeNode* Node(Window& window, std::string_view root, std::string_view child = {}) {
    for (const auto& r : window.tree().roots) {
      if (r->text != Sjis(root)) continue;
      if (child.empty()) return r.get();
      for (const auto& c : r->children) {
        if (c->text == Sjis(child)) return c.get();
      }
    }
    ADD_FAILURE() << "no node " << root << "/" << child;
    return nullptr;
  }
  std::string FileText(std::string_view name) { return ReadFileBytes(dir_ / std::string(name)).value_or("<missing>"); }
  bool Exists(std::string_view name) { return std::filesystem::exists(dir_ / std::string(name)); }
  std::vector<int> Icons(const Window& window) {
    std::vector<int> icons;
    for (const auto& row : window.rows()) icons.push_back(row.icon);
    return icons;
  }

  test::TempDir temp_;
  const std::filesystem::path dir_ = temp_.path();
  Server server_;
  Downloader downloader_;
};

TEST_F(Fetch, SingleSiteListsHeaderAndHeadlinesAndKeepsTheFiles) {
  server_.Route("/news/index.html", Response::Text(Page(12)));
  WriteSite("国内", "毎日", server_.Url("/news/index.html"));
  Window window(dir_);
  BuildTree(window);
  window.Select(Node(window, "国内", "毎日"));
  HeadlineFetch fetch(window, downloader_);

  EXPECT_TRUE(fetch.FetchSelectedSite());
  ASSERT_EQ(window.rows().size(), 13u);
  const auto& header = window.rows()[0];
  EXPECT_EQ(header.caption, Sjis("【毎日】"));
  EXPECT_EQ(header.remark, Sjis("元ページ"));
  EXPECT_EQ(header.link, server_.Url("/news/index.html"));
  EXPECT_EQ(header.icon, kIconRead);
  EXPECT_EQ(window.selected_row(), 0);
  EXPECT_EQ(window.rows()[1].caption, Sjis("見出し1"));
  EXPECT_EQ(window.rows()[1].remark, Sjis("備考") + "a1.html");
  EXPECT_EQ(window.rows()[1].link, server_.Url("/news/a1.html"));
  EXPECT_EQ(window.rows()[12].icon, kIconNew);
  EXPECT_EQ(window.titles, (std::vector<std::string>{Sjis("接続中..."), Sjis("変換中..."),
                                                     Sjis("毎日 取得完了（12個）")}));
  EXPECT_EQ(window.last_news(), Sjis("国内_毎日.txt"));
  EXPECT_EQ(fetch.headline_counter(), 12);
  EXPECT_EQ(LoadHistory(dir_, kSeenLogName).size(), 12u);
  // The dump is the cut page: from the start marker's second byte to the end marker's first.
  EXPECT_EQ(FileText(kPageDumpName).substr(0, 4), "ul>\r");
  EXPECT_EQ(FileText(kPageDumpName).substr(FileText(kPageDumpName).size() - 3), "<\r\n");

  // A second fetch finds every link in the seen log; opened ones are read.
  RecordVisit(dir_, server_.Url("/news/a2.html"));
  EXPECT_TRUE(fetch.FetchSelectedSite());
  ASSERT_EQ(window.rows().size(), 13u);
  EXPECT_EQ(window.rows()[1].icon, kIconUnread);
  EXPECT_EQ(window.rows()[2].icon, kIconRead);
  EXPECT_EQ(LoadHistory(dir_, kSeenLogName).size(), 12u);
}

TEST_F(Fetch, EveryEncodingGivesTheSameShiftJisRows) {
  const std::string caption = "東京・大阪で初雪　ﾆｭｰｽ速報";
  const std::string sjis_page = "<ul><li><a href=\"x.html\">" + Sjis(caption) + "</a></li></ul>";
  const std::string utf8_page = "<ul><li><a href=\"x.html\">" + caption + "</a></li></ul>";
  // EUC-JP of the same text: two-byte codes plus 0x80, half-width katakana after SS2.
  std::string euc_caption;
  for (std::size_t i = 0; i < Sjis(caption).size();) {
    const auto lead = static_cast<unsigned char>(Sjis(caption)[i]);
    if (lead >= 0xA1 && lead <= 0xDF) {
      euc_caption += '\x8E';
      euc_caption += static_cast<char>(lead);
      ++i;
      continue;
    }
    auto trail = static_cast<unsigned char>(Sjis(caption)[i + 1]);
    unsigned row = lead <= 0x9F ? (lead - 0x70u) * 2u : (lead - 0xB0u) * 2u;
    unsigned cell;
    if (trail >= 0x9F) {
      cell = trail - 0x7Eu;
    } else {
      --row;
      cell = trail - (trail >= 0x80 ? 0x20u : 0x1Fu);
    }
    euc_caption += static_cast<char>(row + 0x80u);
    euc_caption += static_cast<char>(cell + 0x80u);
    i += 2;
  }
  server_.Route("/sjis", Response::Text(sjis_page));
  server_.Route("/utf8", Response::Text(utf8_page));
  server_.Route("/euc", Response::Text("<ul><li><a href=\"x.html\">" + euc_caption + "</a></li></ul>"));
  WriteSite("c", "sjis", server_.Url("/sjis"));
  WriteSite("c", "utf8", server_.Url("/utf8"), "<li><a href=\"([^\"]*)\">([^<]*)</a></li>", "utf8");
  WriteSite("c", "euc", server_.Url("/euc"), "<li><a href=\"([^\"]*)\">([^<]*)</a></li>", "euc");
  Window window(dir_);
  BuildTree(window);
  window.Select(Node(window, "c"));
  HeadlineFetch fetch(window, downloader_);
  EXPECT_TRUE(fetch.FetchCategory());
  ASSERT_EQ(window.rows().size(), 6u);
  for (std::size_t row : {1u, 3u, 5u}) EXPECT_EQ(window.rows()[row].caption, Sjis(caption)) << row;
}

TEST_F(Fetch, RefusedUrlsShowTheirMessageAndLeaveTheListAlone) {
  server_.Route("/ok", Response::Text(Page(2)));
  WriteSite("c", "ok", server_.Url("/ok"));
  WriteSite("c", "empty", "");
  WriteSite("c", "blank", " " + server_.Url("/ok"));
  WriteSite("c", "https", "https://127.0.0.1/");
  WriteSite("c", "upper", "HTTP://127.0.0.1/");
  Window window(dir_);
  BuildTree(window);
  HeadlineFetch fetch(window, downloader_);
  window.Select(Node(window, "c", "ok"));
  ASSERT_TRUE(fetch.FetchSelectedSite());
  const auto rows = window.rows().size();
  const auto title = window.title();

  window.Select(Node(window, "c", "empty"));
  EXPECT_FALSE(fetch.FetchSelectedSite());
  for (const char* site : {"blank", "https", "upper"}) {
    window.Select(Node(window, "c", site));
    EXPECT_FALSE(fetch.FetchSelectedSite());
  }
  EXPECT_EQ(window.messages,
            (std::vector<std::string>{Sjis("URLを入力してください。"), Sjis("URLはhttp://から入力してください。"),
                                      Sjis("URLはhttp://から入力してください。"),
                                      Sjis("URLはhttp://から入力してください。")}));
  EXPECT_EQ(window.rows().size(), rows);
  EXPECT_EQ(window.title(), title);
  EXPECT_EQ(window.last_news(), Sjis("c_upper.txt"));
}

TEST_F(Fetch, AMissingDefinitionOnlyRemembersTheSite) {
  Window window(dir_);
  window.tree().AddRoot(Sjis("国内"))->AddChild(Sjis("毎日"));
  window.Select(window.tree().roots[0]->children[0].get());
  HeadlineFetch fetch(window, downloader_);
  EXPECT_FALSE(fetch.FetchSelectedSite());
  EXPECT_EQ(window.last_news(), Sjis("国内_毎日.txt"));
  EXPECT_TRUE(window.titles.empty());
  EXPECT_FALSE(Exists(kPageDumpName));
}

TEST_F(Fetch, NothingHappensForARootOrNoSelection) {
  WriteSite("c", "s", server_.Url("/"));
  Window window(dir_);
  BuildTree(window);
  HeadlineFetch fetch(window, downloader_);
  EXPECT_FALSE(fetch.FetchSelectedSite());
  window.Select(Node(window, "c"));
  EXPECT_FALSE(fetch.FetchSelectedSite());
  EXPECT_TRUE(window.last_news().empty());
  EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_F(Fetch, APatternErrorKeepsTheHeaderRowAndTheDumpButNotTheSeenLog) {
  server_.Route("/p", Response::Text(Page(3)));
  WriteSite("c", "bad", server_.Url("/p"), "(a**)");
  WriteSite("c", "empty", server_.Url("/p"), "");
  Window window(dir_);
  BuildTree(window);
  HeadlineFetch fetch(window, downloader_);
  for (const char* site : {"bad", "empty"}) {
    window.Select(Node(window, "c", site));
    EXPECT_THROW(fetch.FetchSelectedSite(), PatternError) << site;
    ASSERT_EQ(window.rows().size(), 1u);
    EXPECT_EQ(window.title(), Sjis("変換中..."));
    EXPECT_TRUE(Exists(kPageDumpName));
    EXPECT_FALSE(Exists(kSeenLogName));
    EXPECT_EQ(fetch.fetch_mode(), FetchMode::kSingle);
  }
}

TEST_F(Fetch, APageWithoutMatchesStillWritesBothFiles) {
  server_.Route("/none", Response::Text("nothing here"));
  WriteSite("c", "none", server_.Url("/none"));
  Window window(dir_);
  BuildTree(window);
  window.Select(Node(window, "c", "none"));
  HeadlineFetch fetch(window, downloader_);
  EXPECT_TRUE(fetch.FetchSelectedSite());
  EXPECT_EQ(window.rows().size(), 1u);
  EXPECT_EQ(window.title(), Sjis("none 取得完了（0個）"));
  EXPECT_EQ(FileText(kSeenLogName), "");
  EXPECT_EQ(FileText(kPageDumpName), "nothing here\r\n");
}

TEST_F(Fetch, LineEndsAreNormalisedBeforeTheDump) {
  server_.Route("/lines", Response::Text("a\r\nb\nc\rd"));
  std::ofstream(dir_ / "newsurl" / "c_lines.txt", std::ios::binary)
      << "url =" << server_.Url("/lines") << "\r\nanc_form =x\r\n";
  Window window(dir_);
  BuildTree(window);
  window.Select(Node(window, "c", "lines"));
  HeadlineFetch fetch(window, downloader_);
  EXPECT_TRUE(fetch.FetchSelectedSite());
  EXPECT_EQ(FileText(kPageDumpName), "a\r\nb\r\nc\r\nd\r\n");
}

TEST_F(Fetch, TheSeenLogKeepsItsNewestThousandLines) {
  std::vector<std::string> old;
  for (int i = 0; i < 1005; ++i) old.push_back("http://old.example/" + std::to_string(i) + "/");
  SaveHistory(dir_, kSeenLogName, old);
  server_.Route("/p", Response::Text(Page(3)));
  WriteSite("c", "s", server_.Url("/p"));
  Window window(dir_);
  BuildTree(window);
  window.Select(Node(window, "c", "s"));
  HeadlineFetch fetch(window, downloader_);
  EXPECT_TRUE(fetch.FetchSelectedSite());
  const auto seen = LoadHistory(dir_, kSeenLogName);
  ASSERT_EQ(seen.size(), 1000u);
  EXPECT_EQ(seen.front(), "http://old.example/8/");
  EXPECT_EQ(seen.back(), server_.Url("/a3.html"));
}

TEST_F(Fetch, ACategoryAccumulatesEverySiteAndCountsOnlyHeadlines) {
  server_.Route("/1", Response::Text(Page(5, "one")));
  server_.Route("/2", Response::Text(Page(0)));
  server_.Route("/3", Response::Text(Page(7, "three")));
  WriteSite("c", "s1", server_.Url("/1"));
  WriteSite("c", "s2", server_.Url("/2"));
  WriteSite("c", "s3", server_.Url("/3"));
  Window window(dir_);
  BuildTree(window);
  window.Select(Node(window, "c"));
  HeadlineFetch fetch(window, downloader_);
  EXPECT_TRUE(fetch.FetchCategory());
  EXPECT_EQ(window.rows().size(), 15u);
  EXPECT_EQ(window.rows()[6].caption, Sjis("【s2】"));
  EXPECT_EQ(window.rows()[7].caption, Sjis("【s3】"));
  EXPECT_EQ(window.title(), Sjis("全取得完了（12個）"));
  EXPECT_EQ(fetch.fetch_mode(), FetchMode::kSingle);
  EXPECT_EQ(window.last_news(), Sjis("c_s3.txt"));
  // Between sites the title keeps "変換中..." until the next "接続中...".
  EXPECT_EQ(window.titles.size(), 7u);
}

TEST_F(Fetch, ALinkNewAtOneSiteIsUnreadAtALaterSiteOfTheSameCategory) {
  server_.Route("/1", Response::Text("<ul><li><a href=\"http://same.example/\">x</a></li></ul>"));
  WriteSite("c", "s1", server_.Url("/1"));
  WriteSite("c", "s2", server_.Url("/1"));
  Window window(dir_);
  BuildTree(window);
  window.Select(Node(window, "c"));
  HeadlineFetch fetch(window, downloader_);
  EXPECT_TRUE(fetch.FetchCategory());
  EXPECT_EQ(Icons(window), (std::vector<int>{kIconRead, kIconNew, kIconRead, kIconUnread}));
}

TEST_F(Fetch, ACategoryEndsAtASiteWithoutDefinition) {
  server_.Route("/1", Response::Text(Page(2)));
  WriteSite("c", "s1", server_.Url("/1"));
  WriteSite("c", "s2", server_.Url("/1"));
  WriteSite("c", "s3", server_.Url("/1"));
  Window window(dir_);
  BuildTree(window);
  std::filesystem::remove(dir_ / "newsurl" / "c_s2.txt");
  window.Select(Node(window, "c"));
  HeadlineFetch fetch(window, downloader_);
  EXPECT_FALSE(fetch.FetchCategory());
  EXPECT_EQ(window.rows().size(), 3u);
  EXPECT_EQ(window.title(), Sjis("変換中..."));
  EXPECT_EQ(fetch.fetch_mode(), FetchMode::kSingle);
  EXPECT_EQ(window.last_news(), Sjis("c_s2.txt"));

  window.Select(Node(window, "c", "s1"));
  EXPECT_TRUE(fetch.FetchSelectedSite());
  EXPECT_EQ(window.rows().size(), 3u);  // cleared first: this site's block alone
}

TEST_F(Fetch, AnEmptyFavouritesRootOnlyClearsTheList) {
  server_.Route("/1", Response::Text(Page(2)));
  WriteSite("c", "s1", server_.Url("/1"));
  Window window(dir_);
  BuildTree(window);
  HeadlineFetch fetch(window, downloader_);
  window.Select(Node(window, "c", "s1"));
  ASSERT_TRUE(fetch.FetchSelectedSite());
  window.Select(Node(window, "お気に入り"));
  EXPECT_FALSE(fetch.FetchCategory());
  EXPECT_TRUE(window.rows().empty());
  EXPECT_EQ(fetch.fetch_mode(), FetchMode::kSingle);
  window.Select(Node(window, "c", "s1"));
  EXPECT_TRUE(fetch.FetchSelectedSite());
  EXPECT_EQ(window.rows().size(), 3u);
}

TEST_F(Fetch, AFavouriteIsFetchedByItsOwnFileName) {
  server_.Route("/1", Response::Text(Page(1)));
  WriteSite("国内", "毎日", server_.Url("/1"));
  std::ofstream(dir_ / "favolite.txt", std::ios::binary) << Sjis("国内_毎日") << "\r\n";
  Window window(dir_);
  BuildTree(window);
  window.Select(Node(window, "お気に入り", "国内_毎日"));
  HeadlineFetch fetch(window, downloader_);
  EXPECT_TRUE(fetch.FetchSelectedSite());
  EXPECT_EQ(window.rows()[0].caption, Sjis("【国内_毎日】"));
  EXPECT_EQ(window.last_news(), Sjis("国内_毎日.txt"));
}

TEST_F(Fetch, StoppingEndsTheDownloadAndTheFetchGoesOn) {
  server_.Route("/slow", [](const httpd::Request&) {
    Response response = Response::Text("");
    response.fault = httpd::Fault::kNeverAnswer;
    return response;
  });
  WriteSite("c", "slow", server_.Url("/slow"));
  Window window(dir_);
  BuildTree(window);
  window.Select(Node(window, "c", "slow"));
  window.stop_downloads = true;
  HeadlineFetch fetch(window, downloader_);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(fetch.FetchSelectedSite());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_EQ(window.title(), Sjis("slow 取得完了（0個）"));
  EXPECT_EQ(FileText(kPageDumpName), "");
  EXPECT_TRUE(fetch.last_download().stopped);
  EXPECT_EQ(fetch.last_download().sites_received, 0);
  EXPECT_EQ(fetch.last_download().bytes_received, 0u);
}

// Stops once the header row of the site named `stop_at` is listed, that is while its page downloads.
class StoppingWindow : public Window {
 public:
  StoppingWindow(const std::filesystem::path& dir, std::string stop_at)
      : Window(dir), stop_at_(std::move(stop_at)) {}
  bool WhileFetching() override {
    for (const auto& row : rows()) {
      if (row.caption == Sjis("【") + stop_at_ + Sjis("】")) return true;
    }
    return false;
  }

 private:
  std::string stop_at_;
};

// What the last fetch's downloads brought: each fetch starts its report afresh.
TEST_F(Fetch, TheDownloadReportSaysWhetherTheUserStoppedAndWhatArrived) {
  const std::string page = Page(2);
  server_.Route("/fast", Response::Text(page));
  server_.Route("/slow", [](const httpd::Request&) {
    Response response = Response::Text("");
    response.fault = httpd::Fault::kNeverAnswer;
    return response;
  });
  WriteSite("c", "a", server_.Url("/fast"));
  WriteSite("c", "b", server_.Url("/fast"));
  WriteSite("c", "slow", server_.Url("/slow"));
  WriteSite("c", "z", server_.Url("/fast"));
  StoppingWindow window(dir_, "slow");
  BuildTree(window);
  HeadlineFetch fetch(window, downloader_);
  for (const bool concurrent : {true, false}) {
    SCOPED_TRACE(concurrent ? "concurrent" : "one by one");
    fetch.SetCategoryConcurrency(concurrent);
    window.Select(Node(window, "c"));
    EXPECT_TRUE(fetch.FetchCategory());
    EXPECT_TRUE(fetch.last_download().stopped);
    EXPECT_EQ(fetch.last_download().sites_received, 2);
    EXPECT_EQ(fetch.last_download().site_count, 4);
    EXPECT_GE(fetch.last_download().bytes_received, 2 * page.size());

    window.Select(Node(window, "c", "a"));
    EXPECT_TRUE(fetch.FetchSelectedSite());
    EXPECT_FALSE(fetch.last_download().stopped);
    EXPECT_EQ(fetch.last_download().sites_received, 1);
    EXPECT_EQ(fetch.last_download().site_count, 0);
    EXPECT_EQ(fetch.last_download().bytes_received, page.size());
  }
}

TEST_F(Fetch, ALinkIsSeenOrVisitedOnlyAsAWholeLine) {
  server_.Route("/list", Response::Text("<ul><li><a href=\"item?id=12\">a</a></li><li><a href=\"item?id=123\">b</a></li>"
                                        "<li><a href=\"item?id=7\">c</a></li></ul>"));
  WriteSite("c", "s", server_.Url("/list"));
  SaveHistory(dir_, kSeenLogName, {server_.Url("/item?id=123"), server_.Url("/item?id=7") + " "});
  SaveHistory(dir_, kVisitLogName, {server_.Url("/item?id=1234"), server_.Url("/item?id=7")});
  Window window(dir_);
  BuildTree(window);
  window.Select(Node(window, "c", "s"));
  HeadlineFetch fetch(window, downloader_);
  ASSERT_TRUE(fetch.FetchSelectedSite());
  // ?id=12 is only a part of a seen and of a visited link; ?id=7 is seen only with a blank after it.
  EXPECT_EQ(Icons(window), (std::vector<int>{kIconRead, kIconNew, kIconUnread, kIconRead}));
  EXPECT_EQ(LoadHistory(dir_, kSeenLogName),
            (std::vector<std::string>{server_.Url("/item?id=123"), server_.Url("/item?id=7") + " ",
                                      server_.Url("/item?id=12"), server_.Url("/item?id=7")}));
}

// The page of today's news sites: UTF-8 with emoji, absolute https links, root-relative and
// protocol-relative ones, and references in captions and links.
TEST_F(Fetch, AUtf8PageWithEmojiAndEveryKindOfLinkGivesWorkingRows) {
  server_.Route("/news/index.html",
                Response::Text("<p>速報 🎉</p>\n<ul class=\"news\">\n"
                               "<li><a href=\"https://www.news.example/articles/001.html\">政府、新たな経済対策を決定</a><time>12:01</time></li>\n"
                               "<li><a href=\"/articles/002.html\">東証終値、3日続伸 😀</a><time>12:02</time></li>\n"
                               "<li><a href=\"//cdn.news.example/live/003.html\">M&amp;A で合意</a><time>12:03</time></li>\n"
                               "<li><a href=\"list.php?id=4&amp;p=2\">&#x5186;&#23433;</a><time>12:04</time></li>\n"
                               "</ul>\n<footer>© 2026 🍀</footer>\n"));
  std::ofstream(dir_ / "newsurl" / (Sjis("国内_今日の新聞") + ".txt"), std::ios::binary)
      << "url =" << server_.Url("/news/index.html")
      << "\r\nstr_start =<ul class=\"news\">\r\nstr_end =</ul>\r\n"
         "anc_form =<li><a href=\"([^\"]+)\">([^<]+)</a><time>([^<]*)</time></li>\r\n"
         "jump_url =$1\r\ncaptions =$2\r\nremark =$3\r\nencode =utf8\r\n";
  Window window(dir_);
  BuildTree(window);
  window.Select(Node(window, "国内", "今日の新聞"));
  HeadlineFetch fetch(window, downloader_);
  ASSERT_TRUE(fetch.FetchSelectedSite());
  ASSERT_EQ(window.rows().size(), 5u);
  const std::string origin = server_.Url("");
  const std::vector<std::vector<std::string>> expected = {
      {Sjis("政府、新たな経済対策を決定"), "12:01", "https://www.news.example/articles/001.html"},
      {Sjis("東証終値、3日続伸 ") + "?", "12:02", origin + "/articles/002.html"},
      {"M&A " + Sjis("で合意"), "12:03", "http://cdn.news.example/live/003.html"},
      {Sjis("円安"), "12:04", origin + "/news/list.php?id=4&p=2"},
  };
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const HeadlineRow& row = window.rows()[i + 1];
    EXPECT_EQ((std::vector<std::string>{row.caption, row.remark, row.link}), expected[i]) << i;
  }
}

TEST_F(Fetch, RelativeLinksFollowTheAddressAfterRedirects) {
  server_.Route("/old/index.html", Response::Redirect("/new/2026/index.html"));
  server_.Route("/new/2026/index.html",
                Response::Text("<ul><li><a href=\"a.html\">a</a></li><li><a href=\"/top.html\">t</a></li></ul>"));
  WriteSite("c", "moved", server_.Url("/old/index.html"));
  Window window(dir_);
  BuildTree(window);
  window.Select(Node(window, "c", "moved"));
  HeadlineFetch fetch(window, downloader_);
  ASSERT_TRUE(fetch.FetchSelectedSite());
  ASSERT_EQ(window.rows().size(), 3u);
  EXPECT_EQ(window.rows()[0].link, server_.Url("/old/index.html"));  // the header keeps the url value
  EXPECT_EQ(window.rows()[1].link, server_.Url("/new/2026/a.html"));
  EXPECT_EQ(window.rows()[2].link, server_.Url("/top.html"));
}

TEST_F(Fetch, NoPageIsAskedForAtOrAfterTheSiteThatEndsACategory) {
  for (const char* page : {"/1", "/2", "/3", "/4"}) server_.Route(page, Response::Text(Page(1)));
  for (const bool concurrent : {true, false}) {
    for (const char* ending : {"missing", "refused", "empty"}) {
      SCOPED_TRACE(std::string(ending) + (concurrent ? " concurrent" : " one by one"));
      std::filesystem::remove_all(dir_ / "newsurl");
      std::filesystem::create_directory(dir_ / "newsurl");
      WriteSite("c", "s1", server_.Url("/1"));
      WriteSite("c", "s2", server_.Url("/2"));
      WriteSite("c", "s3", std::string(ending) == "refused" ? "https://127.0.0.1/3" : std::string(ending) == "empty" ? "" : server_.Url("/3"));
      WriteSite("c", "s4", server_.Url("/4"));
      Window window(dir_);
      BuildTree(window);
      if (std::string(ending) == "missing") std::filesystem::remove(dir_ / "newsurl" / "c_s3.txt");
      window.Select(Node(window, "c"));
      HeadlineFetch fetch(window, downloader_);
      fetch.SetCategoryConcurrency(concurrent);
      server_.ClearRequests();
      EXPECT_FALSE(fetch.FetchCategory());
      EXPECT_EQ(window.rows().size(), 4u);
      std::vector<std::string> targets;
      for (const auto& request : server_.Requests()) targets.push_back(request.target);
      std::sort(targets.begin(), targets.end());
      EXPECT_EQ(targets, (std::vector<std::string>{"/1", "/2"}));
    }
  }
}

// The same category fetched with every download started at once and one after the other.
TEST_F(Fetch, ConcurrentAndSequentialCategoryFetchesAgree) {
  server_.Route("/1", Response::Text(Page(4, "one")));
  server_.Route("/2", Response::Text(Page(3, "two")));
  // Category and site names differ, so that no site gains children of its own.
  WriteSite("cat1", "a", server_.Url("/1"));
  WriteSite("cat1", "b", server_.Url("/2"));
  WriteSite("cat1", "c", server_.Url("/1"));
  WriteSite("cat1", "d", "https://refused.example/");
  WriteSite("cat1", "e", server_.Url("/2"));
  WriteSite("cat2", "a", server_.Url("/1"));
  WriteSite("cat2", "b", server_.Url("/2"), "(?=x)");
  WriteSite("cat2", "c", server_.Url("/1"));
  WriteSite("cat3", "a", server_.Url("/1"));
  WriteSite("cat3", "b", server_.Url("/2"));
  WriteSite("cat3", "c", server_.Url("/1"));

  struct Outcome {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> titles, messages, files;
    bool operator==(const Outcome&) const = default;
  };
  auto run = [&](bool concurrent) {
    std::filesystem::remove(dir_ / std::string(kSeenLogName));
    SaveHistory(dir_, kVisitLogName, {server_.Url("/two2.html")});
    Outcome outcome;
    Window window(dir_);
    BuildTree(window);
    HeadlineFetch fetch(window, downloader_);
    fetch.SetCategoryConcurrency(concurrent);
    for (const char* category : {"cat1", "cat2", "cat3"}) {
      window.Select(Node(window, category));
      try {
        fetch.FetchCategory();
      } catch (const PatternError& error) {
        outcome.messages.push_back(error.what());
      }
      for (const auto& row : window.rows()) {
        outcome.rows.push_back({row.caption, row.remark, row.link, std::to_string(row.icon)});
      }
      outcome.files.push_back(FileText(kSeenLogName) + "|" + FileText(kPageDumpName) + "|" + window.last_news());
    }
    outcome.titles = window.titles;
    for (const auto& m : window.messages) outcome.messages.push_back(m);
    return outcome;
  };
  const Outcome sequential = run(false);
  const Outcome concurrent = run(true);
  EXPECT_EQ(sequential.rows.size(), 34u);
  EXPECT_EQ(sequential.messages.size(), 2u);
  EXPECT_TRUE(concurrent == sequential);
}

}  // namespace
}  // namespace korinbo
