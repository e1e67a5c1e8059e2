// Site health and the background check: the outcome texts, the record that fetches and checks
// keep, and the check itself against a loopback server, which counts what is new in neither log and
// writes nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

#include "korinbo/codepage.h"
#include "korinbo/errors.h"
#include "korinbo/fetch.h"
#include "korinbo/file_io.h"
#include "korinbo/httpd/server.h"
#include "korinbo/in_memory_window.h"
#include "korinbo/site_check.h"
#include "korinbo/site_health.h"
#include "korinbo/test/temp_dir.h"

namespace korinbo {
namespace {

using httpd::Response;
using httpd::Server;
using Kind = FetchOutcome::Kind;
using namespace std::chrono_literals;

FetchOutcome Outcome(Kind kind, int headlines = 0, DownloadEnd end = DownloadEnd::kComplete, int status = 0,
                     std::string detail = {}) {
  FetchOutcome outcome;
  outcome.kind = kind;
  outcome.headlines = headlines;
  outcome.download_end = end;
  outcome.http_status = status;
  outcome.detail = std::move(detail);
  return outcome;
}

TEST(FetchOutcomeTest, TextsAndWarnings) {
  const struct {
    FetchOutcome outcome;
    const char* text;
    bool warning;
  } rows[] = {
      {Outcome(Kind::kHeadlines, 12), "見出し 12件", false},
      {Outcome(Kind::kNoHeadlines), "見出しなし", true},
      {Outcome(Kind::kNoHeadlines, 0, DownloadEnd::kComplete, 0, Sjis("str_end が見つかりません")),
       "見出しなし（str_end が見つかりません）", true},
      {Outcome(Kind::kDownloadFailed, 0, DownloadEnd::kStopped), "中断しました", false},
      {Outcome(Kind::kDownloadFailed, 0, DownloadEnd::kNameNotResolved), "名前を解決できません", true},
      {Outcome(Kind::kDownloadFailed, 0, DownloadEnd::kConnectionFailed), "接続できないか、途中で切れました", true},
      {Outcome(Kind::kDownloadFailed, 3, DownloadEnd::kTimedOut), "時間切れ（見出し 3件）", true},
      {Outcome(Kind::kDownloadFailed, 0, DownloadEnd::kCutAtCap), "大きすぎるため途中まで", true},
      {Outcome(Kind::kDownloadFailed, 0, DownloadEnd::kHttpError, 404), "HTTP 404", true},
      {Outcome(Kind::kDownloadFailed, 0, DownloadEnd::kFailed), "通信エラー", true},
      {Outcome(Kind::kPatternError, 0, DownloadEnd::kComplete, 0, "bad pattern"), "bad pattern", true},
      {Outcome(Kind::kNoDefinition), "サイト定義ファイルがありません", true},
      {Outcome(Kind::kBadUrl), "URLが正しくありません", true},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.outcome.Text(), Sjis(row.text)) << row.text;
    EXPECT_EQ(row.outcome.IsWarning(), row.warning) << row.text;
  }
}

// A page without headlines names the markers it lacked; the end marker counts only after the start.
TEST(FetchOutcomeTest, PageOutcomeNamesTheMissingMarkers) {
  const struct {
    const char* page;
    const char* start;
    const char* end;
    int headlines;
    DownloadEnd download_end;
    const char* text;
  } rows[] = {
      {"<ul>x</ul>", "<ul>", "</ul>", 2, DownloadEnd::kComplete, "見出し 2件"},
      {"<ul>x</ul>", "<ul>", "</ul>", 0, DownloadEnd::kComplete, "見出しなし"},
      {"<ol>x</ul>", "<ul>", "</ul>", 0, DownloadEnd::kComplete, "見出しなし（str_start が見つかりません）"},
      {"<ul>x</ol>", "<ul>", "</ul>", 0, DownloadEnd::kComplete, "見出しなし（str_end が見つかりません）"},
      {"</ul>x<ul>", "<ul>", "</ul>", 0, DownloadEnd::kComplete, "見出しなし（str_end が見つかりません）"},
      // The end marker is searched from the start marker's second byte on, as the cut does.
      {"<ul</ul", "<ul", "ul", 0, DownloadEnd::kComplete, "見出しなし"},
      {"<ul", "<ul", "ul", 0, DownloadEnd::kComplete, "見出しなし"},
      {"<u", "<ul", "u", 0, DownloadEnd::kComplete, "見出しなし（str_start が見つかりません）"},
      {"x", "", "</ul>", 0, DownloadEnd::kComplete, "見出しなし（str_end が見つかりません）"},
      {"x", "<ul>", "</ul>", 0, DownloadEnd::kComplete, "見出しなし（str_start と str_end が見つかりません）"},
      {"x", "", "", 0, DownloadEnd::kComplete, "見出しなし"},
      {"", "<ul>", "</ul>", 0, DownloadEnd::kTimedOut, "時間切れ"},
  };
  for (const auto& row : rows) {
    SiteDefinition site;
    site.str_start = row.start;
    site.str_end = row.end;
    EXPECT_EQ(PageOutcome(row.download_end, 0, MissingMarkers(row.page, site), row.headlines).Text(), Sjis(row.text))
        << row.page;
  }
}

SiteCheck Check(const std::string& file, Kind kind, std::vector<std::string> links) {
  SiteCheck check{file, Outcome(kind, static_cast<int>(links.size())), {}};
  for (auto& link : links) check.new_headlines.push_back(NewHeadline{"caption " + link, link});
  return check;
}

std::vector<std::string> Links(const std::vector<NewHeadline>& headlines) {
  std::vector<std::string> links;
  for (const auto& headline : headlines) links.push_back(headline.link);
  return links;
}

// A check sets the count and names what was not new at the previous check; a failed check keeps
// the last count; a fetch clears it, also when its record comes while a check runs.
TEST(SiteHealthTest, ChecksCountFetchesClear) {
  SiteHealth health;
  const auto t0 = SiteHealth::Clock::time_point() + 1h;
  EXPECT_EQ(health.Find("a.txt"), nullptr);
  EXPECT_EQ(health.NewCount("a.txt"), 0);

  EXPECT_EQ(Links(health.RecordCheck(Check("a.txt", Kind::kHeadlines, {"1", "2"}), health.Mark(), t0)),
            (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(health.NewCount("a.txt"), 2);
  EXPECT_EQ(health.Find("a.txt")->time, t0);
  EXPECT_EQ(Links(health.RecordCheck(Check("a.txt", Kind::kHeadlines, {"3", "1", "2"}), health.Mark(), t0 + 1min)),
            (std::vector<std::string>{"3"}));
  EXPECT_EQ(health.NewCount("a.txt"), 3);

  SiteCheck failed = Check("a.txt", Kind::kDownloadFailed, {});
  failed.outcome.download_end = DownloadEnd::kTimedOut;
  EXPECT_TRUE(health.RecordCheck(failed, health.Mark(), t0 + 2min).empty());
  EXPECT_EQ(health.NewCount("a.txt"), 3);
  EXPECT_EQ(health.Find("a.txt")->outcome.Text(), Sjis("時間切れ"));
  EXPECT_TRUE(health.RecordCheck(Check("a.txt", Kind::kHeadlines, {"1", "2", "3"}), health.Mark(), t0).empty());

  const std::uint64_t mark = health.Mark();
  health.RecordFetch("a.txt", Outcome(Kind::kHeadlines, 9), t0 + 3min);
  EXPECT_EQ(health.NewCount("a.txt"), 0);
  EXPECT_FALSE(health.Find("a.txt")->new_count.has_value());
  // The check that began before the fetch leaves the fetch's record alone.
  EXPECT_TRUE(health.RecordCheck(Check("a.txt", Kind::kHeadlines, {"4"}), mark, t0 + 4min).empty());
  EXPECT_EQ(health.NewCount("a.txt"), 0);
  EXPECT_EQ(health.Find("a.txt")->outcome.headlines, 9);
  // The next one counts again, and after the fetch every new link is news.
  EXPECT_EQ(Links(health.RecordCheck(Check("a.txt", Kind::kHeadlines, {"1", "4"}), health.Mark(), t0 + 5min)),
            (std::vector<std::string>{"1", "4"}));
  EXPECT_EQ(health.NewCount("a.txt"), 2);
}

class SiteCheckTest : public ::testing::Test {
 protected:
  // A site "c_NAME.txt" whose headlines are "<li><a href=LINK>CAPTION</a></li>" between <ul> and </ul>.
  void Site(const std::string& name, const std::string& url,
            const std::string& anc_form = "<li><a href=\"([^\"]*)\">([^<]*)</a></li>") {
    dir_.Write("newsurl/c_" + name + ".txt",
               "url=" + url + "\r\nstr_start=<ul>\r\nstr_end=</ul>\r\nanc_form=" + anc_form +
                   "\r\njump_url=$1\r\ncaptions=$2\r\n");
  }
  static std::string Page(const std::vector<std::string>& links) {
    std::string page = "<html><ul>";
    for (const auto& link : links) page += "<li><a href=\"" + link + "\">" + Sjis("見出し") + link + "</a></li>\r\n";
    return page + "</ul></html>";
  }
  std::vector<SiteCheck> Run(const std::vector<std::string>& files, const WhileWaiting& stop = {}) {
    DownloadOptions options;
    options.connect_timeout = 2s;
    options.total_timeout = 10s;
    return CheckSites(dir_.path(), files, options, downloader_, stop);
  }
  // Every file below the start directory with its bytes.
  std::map<std::filesystem::path, std::string> Files() const {
    std::map<std::filesystem::path, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.path())) {
      if (entry.is_regular_file()) files[entry.path()] = ReadFileBytes(entry.path()).value_or("");
    }
    return files;
  }

  test::TempDir dir_;
  Server server_;
  Downloader downloader_;
};

// The count is the distinct links in neither log; the check's steps are the fetch's, its outcomes
// those of the fetch, and the start directory is byte for byte as it was.
TEST_F(SiteCheckTest, CountsLinksInNeitherLogAndWritesNothing) {
  server_.Route("/a", Response::Text(Page({"http://x/1", "http://x/2", "http://x/1", "http://x/3", "http://x/4"})));
  server_.Route("/b", Response::Text("<html><ol></ol></html>"));
  server_.Route("/c", Response::Text(Page({"http://x/5"})));
  Site("a", server_.Url("/a"));
  Site("b", server_.Url("/b"));
  Site("c", server_.Url("/c"), "<li>([");
  Site("d", "https://x/");
  dir_.Write("logdata.txt", "http://x/2\r\n");
  dir_.Write("visitdata.txt", "http://x/3\r\n");
  dir_.Write("getdata.txt", "dump\r\n");
  dir_.Write("favolite.txt", "c_a\r\n");
  const auto before = Files();

  const std::vector<SiteCheck> checks = Run({"c_a.txt", "c_b.txt", "c_c.txt", "c_d.txt", "c_e.txt", "c_a.txt"});
  ASSERT_EQ(checks.size(), 6u);
  EXPECT_EQ(checks[0].file_name, "c_a.txt");
  EXPECT_EQ(checks[0].outcome.Text(), Sjis("見出し 5件"));
  EXPECT_EQ(Links(checks[0].new_headlines), (std::vector<std::string>{"http://x/1", "http://x/4"}));
  EXPECT_EQ(checks[0].new_headlines[0].caption, Sjis("見出し") + "http://x/1");
  EXPECT_EQ(checks[1].outcome.Text(), Sjis("見出しなし（str_start と str_end が見つかりません）"));
  EXPECT_EQ(checks[2].outcome.kind, Kind::kPatternError);
  EXPECT_TRUE(checks[2].new_headlines.empty());
  EXPECT_EQ(checks[3].outcome.kind, Kind::kBadUrl);
  EXPECT_EQ(checks[4].outcome.kind, Kind::kNoDefinition);
  // Each site on its own: a site named twice counts the same twice.
  EXPECT_EQ(Links(checks[5].new_headlines), Links(checks[0].new_headlines));
  EXPECT_EQ(Files(), before);
}

// Every download starts before the first is awaited: each answer waits until all requests are in.
TEST_F(SiteCheckTest, DownloadsAllAtOnce) {
  bool all_at_once = true;
  for (const std::string name : {"a", "b", "c"}) {
    server_.Route("/" + name, [this, name, &all_at_once](const httpd::Request&) {
      if (!server_.WaitForRequests(3, 5s)) all_at_once = false;
      return Response::Text(Page({"http://x/" + name}));
    });
    Site(name, server_.Url("/" + name));
  }
  const std::vector<SiteCheck> checks = Run({"c_a.txt", "c_b.txt", "c_c.txt"});
  EXPECT_TRUE(all_at_once);
  for (const auto& check : checks) EXPECT_EQ(check.outcome.Text(), Sjis("見出し 1件")) << check.file_name;
}

// A stop ends every download; the sites end as stopped, with no headlines and no warning.
TEST_F(SiteCheckTest, AStopEndsEverySite) {
  Response silent;
  silent.fault = httpd::Fault::kNeverAnswer;
  server_.Route("/silent", silent);
  Site("a", server_.Url("/silent"));
  Site("b", server_.Url("/silent"));
  int asked = 0;
  const auto started = std::chrono::steady_clock::now();
  const std::vector<SiteCheck> checks = Run({"c_a.txt", "c_b.txt"}, [&asked] { return ++asked > 3; });
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  for (const auto& check : checks) {
    EXPECT_EQ(check.outcome.Text(), Sjis("中断しました")) << check.file_name;
    EXPECT_FALSE(check.outcome.IsWarning());
  }
}

// Every fetch, single or category, records each site it reached with its outcome, whichever way
// the server failed; a check of the same sites gives the same outcomes.
TEST_F(SiteCheckTest, FetchesAndChecksRecordWhyASiteFailed) {
  Response reset = Response::Text(Page({"http://x/1"}));
  reset.fault = httpd::Fault::kResetMidBody;
  reset.fault_after = 5;
  Response silent;
  silent.fault = httpd::Fault::kNeverAnswer;
  server_.Route("/ok", Response::Text(Page({"http://x/1", "http://x/2"})));
  server_.Route("/gone", Response::Text(Page({"http://x/3"}), 404));
  server_.Route("/reset", reset);
  server_.Route("/silent", silent);
  std::string refused;
  {
    Server closed;
    refused = closed.Url("/");
  }
  const struct {
    const char* site;
    std::string url;
    const char* text;
  } rows[] = {
      {"gone", server_.Url("/gone"), "HTTP 404（見出し 1件）"},
      {"ok", server_.Url("/ok"), "見出し 2件"},
      {"refused", refused, "接続できないか、途中で切れました"},
      {"reset", server_.Url("/reset"), "接続できないか、途中で切れました"},
      {"silent", server_.Url("/silent"), "時間切れ"},
      {"unknown", "http://nowhere.invalid/", "名前を解決できません"},
  };
  std::vector<std::string> files;
  for (const auto& row : rows) {
    Site(row.site, row.url);
    files.push_back(std::string("c_") + row.site + ".txt");
  }
  dir_.Write("newsurl/d_nourl.txt", "anc_form=x\r\n");
  dir_.Write("newsurl/d_pattern.txt", "url=" + server_.Url("/ok") + "\r\nanc_form=<li>([\r\n");

  InMemoryWindow window(dir_.path(), ProxyMode::kDirect, "", [](std::string_view) {});
  window.tree() = BuildSiteTree(dir_.path(), "");
  SiteHealth health;
  HeadlineFetch fetch(window, downloader_);
  fetch.SetDownloadLimits(2s, 1s);
  fetch.SetSiteHealth(&health);
  // Failed downloads do not end a category fetch: every site is recorded.
  window.Select(window.tree().roots[1].get());
  EXPECT_TRUE(fetch.FetchCategory());
  for (const auto& row : rows) {
    const SiteHealth::Entry* entry = health.Find(std::string("c_") + row.site + ".txt");
    ASSERT_NE(entry, nullptr) << row.site;
    EXPECT_EQ(entry->outcome.Text(), Sjis(row.text)) << row.site;
  }
  // Single fetches that end early are recorded too.
  SiteTreeNode* other = window.tree().roots[2].get();
  window.Select(other->children[0].get());
  EXPECT_FALSE(fetch.FetchSelectedSite());
  EXPECT_EQ(health.Find("d_nourl.txt")->outcome.kind, Kind::kBadUrl);
  window.Select(other->children[1].get());
  EXPECT_THROW(fetch.FetchSelectedSite(), PatternError);
  EXPECT_EQ(health.Find("d_pattern.txt")->outcome.kind, Kind::kPatternError);

  DownloadOptions options;
  options.total_timeout = 1s;
  const std::vector<SiteCheck> checks = CheckSites(dir_.path(), files, options, downloader_);
  for (std::size_t i = 0; i < checks.size(); ++i) {
    EXPECT_EQ(checks[i].outcome.Text(), Sjis(rows[i].text)) << rows[i].site;
    // The fetch has seen every link; and a page that did not come whole counts nothing new.
    EXPECT_TRUE(checks[i].new_headlines.empty()) << rows[i].site;
  }
}

// The window fetches on its thread while a check runs on another, each with its own downloader, over
// the same start directory: both complete, and the check sees the seen log either before or after
// the fetch wrote it, never half of it.
TEST_F(SiteCheckTest, FetchBesideACheckOnAnotherThread) {
  std::vector<std::string> links;
  for (int i = 0; i < 50; ++i) links.push_back("http://x/" + std::to_string(i));
  std::vector<std::string> files;
  for (int i = 0; i < 8; ++i) {
    const std::string name = "s" + std::to_string(i);
    server_.Route("/" + name, Response::Text(Page(links)));
    Site(name, server_.Url("/" + name));
    files.push_back("c_" + name + ".txt");
  }
  std::vector<SiteCheck> checks;
  std::thread checker([&] {
    Downloader own;
    checks = CheckSites(dir_.path(), files, DownloadOptions{}, own);
  });
  InMemoryWindow window(dir_.path(), ProxyMode::kDirect, "", [](std::string_view) {});
  window.tree() = BuildSiteTree(dir_.path(), "");
  window.Select(window.tree().roots[1].get());
  HeadlineFetch fetch(window, downloader_);
  SiteHealth health;
  fetch.SetSiteHealth(&health);
  EXPECT_TRUE(fetch.FetchCategory());
  checker.join();
  ASSERT_EQ(checks.size(), files.size());
  for (const auto& check : checks) {
    EXPECT_EQ(check.outcome.Text(), Sjis("見出し 50件")) << check.file_name;
    EXPECT_TRUE(check.new_headlines.size() == 50 || check.new_headlines.empty()) << check.new_headlines.size();
  }
  EXPECT_EQ(health.Find("c_s7.txt")->outcome.Text(), Sjis("見出し 50件"));
}

}  // namespace
}  // namespace korinbo
