// korinbo-fetch end to end: the built program run as a user or a script would run it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <future>
#include <optional>
#include <sys/wait.h>

#include "korinbo/codepage.h"
#include "korinbo/directory_lock.h"
#include "korinbo/file_io.h"
#include "korinbo/httpd/server.h"
#include "korinbo/test/temp_dir.h"

namespace korinbo {
namespace {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

class FetchTool : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directory(dir_ / "newsurl"); }

  Result Run(const std::vector<std::string>& args, const std::string& input = "") {
    std::ofstream(dir_ / "stdin", std::ios::binary) << input;
    std::string command = Quote(KORINBO_FETCH_TOOL);
    for (const auto& arg : args) command += ' ' + Quote(arg);
    command += " <" + Quote((dir_ / "stdin").string()) + " >" + Quote((dir_ / "stdout").string()) + " 2>" +
               Quote((dir_ / "stderr").string());
    Result result;
    const int status = std::system(command.c_str());
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFileBytes(dir_ / "stdout").value_or("");
    result.err = ReadFileBytes(dir_ / "stderr").value_or("");
    return result;
  }
  void WriteSite(const std::string& utf8_name, const std::string& utf8_text) {
    temp_.Write(std::filesystem::path("newsurl") / utf8_name, Sjis(utf8_text));
  }
  std::string Site(const std::string& url) {
    return "url =" + url +
           "\r\nanc_form =<a href=\"([^\"]*)\">([^<]*)</a>(\\t?)\r\njump_url =$1\r\ncaptions =$2\r\nremark =備考$3\\\\\r\n";
  }

  test::TempDir temp_;
  const std::filesystem::path dir_ = temp_.path();
  httpd::Server server_;
};

TEST_F(FetchTool, SitePrintsEscapedRowsAndTheTitle) {
  server_.Route("/n/i.html", httpd::Response::Text(Sjis("<a href=\"1.html\">能力\\表</a>\t<a href=\"2.html\">二</a>")));
  WriteSite("国内_毎日.txt", Site(server_.Url("/n/i.html")));
  const Result r = Run({"--dir", dir_.string(), "site", "国内", "毎日"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "read\t【毎日】\t元ページ\t" + server_.Url("/n/i.html") + "\n" +
                       "new\t能力\\\\表\t備考\\t\\\\\t" + server_.Url("/n/1.html") + "\n" +
                       "new\t二\t備考\\\\\t" + server_.Url("/n/2.html") + "\n");
  EXPECT_EQ(r.err, "毎日 取得完了（2個）\n");
  EXPECT_EQ(ReadFileBytes(dir_ / "logdata.txt").value_or(""),
            server_.Url("/n/1.html") + "\r\n" + server_.Url("/n/2.html") + "\r\n");

  const Result again = Run({"--dir", dir_.string(), "--raw", "site", "国内", "毎日"});
  EXPECT_EQ(again.status, 0);
  EXPECT_NE(again.out.find("unread\t" + Sjis("能力") + "\\\\" + Sjis("表")), std::string::npos) << again.out;
  EXPECT_EQ(again.err, Sjis("毎日 取得完了（2個）") + "\n");
}

// A window (or another fetch) holding the start directory keeps the fetch from writing its history
// files; the fetch goes on once the directory is free.
TEST_F(FetchTool, AFetchWaitsForTheStartDirectoryToBeFree) {
  server_.Route("/n/i.html", httpd::Response::Text("<a href=\"1.html\">one</a>"));
  WriteSite("c_s.txt", Site(server_.Url("/n/i.html")));
  auto lock = std::make_optional(DirectoryLock::TryTake(dir_, "korinbo"));
  ASSERT_EQ(lock->outcome(), DirectoryLock::Outcome::kTaken);
  auto run = std::async(std::launch::async, [this] { return Run({"--dir", dir_.string(), "site", "c", "s"}); });
  EXPECT_EQ(run.wait_for(std::chrono::milliseconds(800)), std::future_status::timeout);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "getdata.txt"));
  lock.reset();
  const Result r = run.get();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFileBytes(dir_ / "logdata.txt").value_or(""), server_.Url("/n/1.html") + "\r\n");
}

TEST_F(FetchTool, CategoryAndTheFavourites) {
  server_.Route("/a", httpd::Response::Text("<a href=\"x\">x</a>"));
  WriteSite("c_s1.txt", Site(server_.Url("/a")));
  WriteSite("c_s2.txt", Site(server_.Url("/a")));
  std::ofstream(dir_ / "favolite.txt", std::ios::binary) << "c_s2\r\n";
  Result r = Run({"--dir", dir_.string(), "category", "c"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "全取得完了（2個）\n");
  r = Run({"--dir", dir_.string(), "site", "お気に入り", "c_s2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "read\t【c_s2】\t元ページ\t" + server_.Url("/a"));
}

TEST_F(FetchTool, AFetchThatEndsEarlyExitsWithOne) {
  WriteSite("c_bad.txt", "url =https://127.0.0.1/\r\n");
  WriteSite("c_pattern.txt", "url =" + server_.Url("/") + "\r\nanc_form =(?:x)\r\n");
  Result r = Run({"--dir", dir_.string(), "site", "c", "bad"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "URLはhttp://から入力してください。\nKorinbo\nbad: URLが正しくありません\n");
  r = Run({"--dir", dir_.string(), "site", "c", "pattern"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("【pattern】"), std::string::npos);
  EXPECT_NE(r.err.find("変換中...\n"), std::string::npos) << r.err;
  r = Run({"--dir", dir_.string(), "site", "c", "missing"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("missing"), std::string::npos);
  r = Run({"--dir", dir_.string(), "category", "nowhere"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("nowhere"), std::string::npos);
}

// check counts, per site of the favourites or of a category, the links in neither log, names its
// outcome, and leaves the start directory as it was.
TEST_F(FetchTool, CheckCountsWhatIsNewAndWritesNothing) {
  server_.Route("/a", httpd::Response::Text("<a href=\"1\">1</a><a href=\"2\">2</a><a href=\"1\">1</a>"));
  server_.Route("/none", httpd::Response::Text("<p>nothing</p>"));
  WriteSite("国内_毎日.txt", Site(server_.Url("/a")));
  WriteSite("国内_読売.txt", Site(server_.Url("/none")));
  std::ofstream(dir_ / "favolite.txt", std::ios::binary) << Sjis("国内_読売\r\n国内_毎日\r\n");
  std::ofstream(dir_ / "logdata.txt", std::ios::binary) << server_.Url("/2") << "\r\n";
  const auto listing = [this] {
    std::string files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_)) {
      const auto name = entry.path().filename();
      if (!entry.is_regular_file() || name == "stdout" || name == "stderr" || name == "stdin") continue;
      files += entry.path().string() + "=" + ReadFileBytes(entry.path()).value_or("") + "\n";
    }
    return files;
  };
  Run({"--dir", dir_.string(), "check"});
  const std::string before = listing();

  Result r = Run({"--dir", dir_.string(), "check"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "国内_読売\t0\t見出しなし\n国内_毎日\t1\t見出し 3件\n");
  EXPECT_EQ(r.err, "");
  r = Run({"--dir", dir_.string(), "check", "国内"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "毎日\t1\t見出し 3件\n読売\t0\t見出しなし\n");
  EXPECT_EQ(listing(), before);

  EXPECT_EQ(Run({"--dir", dir_.string(), "check", "nowhere"}).status, 1);
  EXPECT_EQ(Run({"check", "a", "b"}).status, 2);
}

// After the title, one line per site that gave no headlines says why; the exit status stays.
TEST_F(FetchTool, SiteAndCategorySayWhyASiteGaveNoHeadlines) {
  server_.Route("/a", httpd::Response::Text("<a href=\"x\">x</a>"));
  server_.Route("/gone", httpd::Response::Text("gone", 404));
  WriteSite("c_a.txt", Site(server_.Url("/a")));
  WriteSite("c_b.txt", Site(server_.Url("/gone")));
  WriteSite("c_c.txt", "url =" + server_.Url("/a") + "\r\nstr_start =<ul>\r\nanc_form =<a>\r\n");
  Result r = Run({"--dir", dir_.string(), "category", "c"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "全取得完了（1個）\nb: HTTP 404\nc: 見出しなし（str_start が見つかりません）\n");
  r = Run({"--dir", dir_.string(), "site", "c", "a"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "a 取得完了（1個）\n");
}

TEST_F(FetchTool, ExtractAppliesADefinitionToASavedPageWithoutWritingFiles) {
  WriteSite("d.txt", "url =http://a.example/x/y.html\r\nstr_start =<ul>\r\nstr_end =</ul>\r\n"
                     "anc_form =<a href=\"([^\"]*)\">([^<]*)</a>\r\njump_url =$1\r\ncaptions =$2\r\nencode =euc\r\n");
  std::ofstream(dir_ / "page.html", std::ios::binary) << "<a href=\"0\">0</a><ul><a href=\"z.html\">\xB0\xA1</a></ul>";
  const Result r = Run({"extract", (dir_ / "newsurl" / "d.txt").string(), (dir_ / "page.html").string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "new\t亜\t\thttp://a.example/x/z.html\n");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "logdata.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "getdata.txt"));
}

TEST_F(FetchTool, ExtractGivesTheRowsOfAPageWrittenAsSitesWriteThemNow) {
  WriteSite("d.txt", "url =http://www.news.example/news/index.html\r\nstr_start =<ul class=\"news\">\r\n"
                     "str_end =</ul>\r\nanc_form =<li><a href=\"([^\"]+)\">([^<]+)</a>\r\njump_url =$1\r\n"
                     "captions =$2\r\nencode =utf8\r\n");
  std::ofstream(dir_ / "page.html", std::ios::binary)
      << "<ul class=\"news\">\n"
         "<li><a href=\"https://www.news.example/articles/001.html\">政府、新たな経済対策を決定</a><time>12:01</time></li>\n"
         "<li><a href=\"/articles/002.html\">東証終値、3日続伸 😀</a><time>12:02</time></li>\n"
         "<li><a href=\"//cdn.news.example/live/003.html\">M&amp;A で合意</a><time>12:03</time></li>\n"
         "</ul>\n";
  const Result r = Run({"extract", (dir_ / "newsurl" / "d.txt").string(), (dir_ / "page.html").string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "new\t政府、新たな経済対策を決定\t\thttps://www.news.example/articles/001.html\n"
                   "new\t東証終値、3日続伸 ?\t\thttp://www.news.example/articles/002.html\n"
                   "new\tM&A で合意\t\thttp://cdn.news.example/live/003.html\n");
}

TEST_F(FetchTool, ConvertWritesThePageAsTheFetchSeesIt) {
  std::ofstream(dir_ / "p.txt", std::ios::binary) << "\x1B$B0!\x1B(B\na";
  const Result r = Run({"convert", "jis", (dir_ / "p.txt").string()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\x88\x9F\r\na");
}

TEST_F(FetchTool, MatchListsOffsetsAndGroups) {
  Result r = Run({"--tsv", "match", "(a)|(b)", "-"}, "xab\r\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1\t2\t1:2\t-1:-1\n2\t3\t-1:-1\t2:3\n");
  // Everything after the command is an argument, also a pattern beginning with "-".
  r = Run({"--tsv", "match", "-+", "-"}, "a--b-");
  EXPECT_EQ(r.out, "1\t3\n4\t5\n");
  r = Run({"match", "(", "-"}, "x");
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(r.err.empty());
}

TEST_F(FetchTool, UsageErrorsExitWithTwo) {
  EXPECT_EQ(Run({}).status, 2);
  EXPECT_EQ(Run({"--bogus", "site"}).status, 2);
  EXPECT_EQ(Run({"site", "only-one"}).status, 2);
  EXPECT_EQ(Run({"frobnicate"}).status, 2);
  const Result help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: korinbo-fetch"), std::string::npos);
}

}  // namespace
}  // namespace korinbo
