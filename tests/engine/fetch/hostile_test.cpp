// Broken and hostile servers, pages, patterns and history files: the fetch ends as it does for a
// failed download or with its error, never crashes or hangs, and no stored file is lost.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

#include "korinbo/codepage.h"
#include "korinbo/errors.h"
#include "korinbo/fetch.h"
#include "korinbo/file_io.h"
#include "korinbo/history.h"
#include "korinbo/httpd/server.h"
#include "korinbo/in_memory_window.h"
#include "korinbo/pattern.h"
#include "korinbo/test/site_file.h"
#include "korinbo/test/temp_dir.h"

namespace korinbo {
namespace {

using httpd::Fault;
using httpd::Response;
using std::chrono::milliseconds;

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directory(dir_ / "newsurl"); }

  void WriteSite(const std::string& site, const std::string& url, const std::string& anc_form = "<a>([^<]*)</a>",
                 const std::string& encode = "") {
    test::WriteSite(temp_, "c", site,
                    {.url = url, .anc_form = anc_form, .str_start = "", .str_end = "", .captions = "$1", .remark = "",
                     .encode = encode});
  }

  // Fetches one site; returns whether it completed, and how long it took.
  bool Fetch(const std::string& site, milliseconds* took = nullptr, milliseconds total_timeout = milliseconds(60000)) {
    window_ = std::make_unique<InMemoryWindow>(dir_, ProxyMode::kDirect, "", [](std::string_view) {});
    window_->tree() = BuildSiteTree(dir_, "");
    for (const auto& root : window_->tree().roots) {
      if (root->text != "c") continue;
      for (const auto& child : root->children) {
        if (child->text == site) window_->Select(child.get());
      }
    }
    HeadlineFetch fetch(*window_, downloader_);
    fetch.SetDownloadLimits(milliseconds(2000), total_timeout);
    const auto start = std::chrono::steady_clock::now();
    const bool completed = fetch.FetchSelectedSite();
    if (took != nullptr) *took = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
    return completed;
  }
  std::string Title() const { return Cp932ToUtf8Lossy(window_->title()); }

  test::TempDir temp_;
  const std::filesystem::path dir_ = temp_.path();
  httpd::Server server_;
  Downloader downloader_;
  std::unique_ptr<InMemoryWindow> window_;
};

Response Faulty(Fault fault, std::string body, std::size_t after = 0) {
  Response response = Response::Text(std::move(body));
  response.fault = fault;
  response.fault_after = after;
  return response;
}

TEST_F(Hostile, AGiganticBodyEndsAtTheCapAndTheFetchGoesOn) {
  server_.Route("/huge", Response::Generated(std::uint64_t{1} << 30));
  WriteSite("huge", server_.Url("/huge"), "zzz");
  ASSERT_TRUE(Fetch("huge"));
  EXPECT_EQ(Title(), "huge 取得完了（0個）");
  EXPECT_EQ(std::filesystem::file_size(dir_ / "getdata.txt"), (std::size_t{32} << 20) + 2);
}

TEST_F(Hostile, ACutConnectionGivesThePageReadSoFar) {
  const std::string page = "<a>one</a><a>two</a>" + std::string(5000, ' ') + "<a>three</a>";
  server_.Route("/reset", Faulty(Fault::kResetMidBody, page, 30));
  server_.Route("/close", Faulty(Fault::kCloseMidBody, page, 30));
  server_.Route("/chunked", Faulty(Fault::kBrokenChunked, page, 25));
  for (const char* site : {"reset", "close", "chunked"}) {
    WriteSite(site, server_.Url(std::string("/") + site));
    ASSERT_TRUE(Fetch(site)) << site;
    EXPECT_LE(window_->rows().size(), 3u) << site;  // the header and at most the first two
    EXPECT_EQ(Title().substr(0, std::string(site).size()), site);
  }
}

TEST_F(Hostile, ATricklingServerEndsAtTheTransferTimeOut) {
  Response trickle = Response::Text(std::string(100000, 'x'));
  trickle.fault = Fault::kTrickle;
  trickle.trickle_interval = milliseconds(200);
  server_.Route("/slow", trickle);
  WriteSite("slow", server_.Url("/slow"));
  milliseconds took{};
  ASSERT_TRUE(Fetch("slow", &took, milliseconds(1500)));
  EXPECT_LT(took, milliseconds(10000));
  EXPECT_EQ(Title(), "slow 取得完了（0個）");
}

TEST_F(Hostile, ARedirectLoopEndsAsAFailedDownload) {
  server_.Route("/loop", Response::Redirect(server_.Url("/loop")));
  WriteSite("loop", server_.Url("/loop"));
  ASSERT_TRUE(Fetch("loop"));
  EXPECT_EQ(window_->rows().size(), 1u);
  EXPECT_LE(server_.RequestCount(), 12u);
}

TEST_F(Hostile, APageThatIsNotWhatItsEncodingSaysConvertsWithoutHarm) {
  server_.Route("/bad", Response::Text("<a>\xFF\xFE\x80</a><a>\xE3\x81</a>"));
  WriteSite("utf8", server_.Url("/bad"), "<a>([^<]*)</a>", "utf8");
  WriteSite("euc", server_.Url("/bad"), "<a>([^<]*)</a>", "euc");
  WriteSite("jis", server_.Url("/bad"), "<a>([^<]*)</a>", "jis");
  ASSERT_TRUE(Fetch("utf8"));
  EXPECT_EQ(window_->rows().size(), 1u);  // invalid UTF-8: the page is empty
  ASSERT_TRUE(Fetch("euc"));
  EXPECT_EQ(window_->rows().size(), 3u);
  ASSERT_TRUE(Fetch("jis"));
  EXPECT_EQ(window_->rows().size(), 3u);
}

TEST_F(Hostile, ARunawayPatternOnALargePageEndsWithAnError) {
  std::string page;
  for (int i = 0; i < 1 << 20; i += 2) page += "ab";
  server_.Route("/big", Response::Text(page + "c"));
  WriteSite("runaway", server_.Url("/big"), "(a|b|ab)*?x");
  SaveHistory(dir_, kSeenLogName, {"kept"});
  EXPECT_THROW(Fetch("runaway"), PatternError);
  EXPECT_EQ(LoadHistory(dir_, kSeenLogName), std::vector<std::string>{"kept"});
}

TEST_F(Hostile, MonstrousPatternsAreRefusedCleanly) {
  std::string groups;
  for (int i = 0; i < 10000; ++i) groups += "(a)";
  std::string huge(1 << 20, 'a');
  std::string nested = std::string(100000, '(') + "a" + std::string(100000, ')');
  for (const std::string* pattern : {&groups, &huge, &nested}) {
    EXPECT_THROW((void)Pattern(*pattern), PatternError) << pattern->size();
  }
}

TEST_F(Hostile, OddHistoryFilesAreReadAsLinesAndKept) {
  const std::string long_line(10 << 20, 'h');
  const std::string odd = "http://a.example/1\r" "http://a.example/2\r\r" + long_line + std::string("\0tail", 5);
  std::ofstream(dir_ / "visitdata.txt", std::ios::binary) << odd;
  server_.Route("/p", Response::Text("<a>http://a.example/2</a><a>http://a.example/3</a>"));
  WriteSite("p", server_.Url("/p"));
  ASSERT_TRUE(Fetch("p"));
  ASSERT_EQ(window_->rows().size(), 3u);
  EXPECT_EQ(window_->rows()[1].icon, kIconRead);
  EXPECT_EQ(window_->rows()[2].icon, kIconNew);
  EXPECT_EQ(ReadFileBytes(dir_ / "visitdata.txt").value(), odd);  // the fetch never writes it
  const auto lines = LoadHistory(dir_, kVisitLogName);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3].size(), long_line.size());
}

TEST_F(Hostile, AnUnwritablePageDumpIsAnErrorNamingTheFileAndTheSeenLogStays) {
  server_.Route("/p", Response::Text("<a>x</a>"));
  WriteSite("p", server_.Url("/p"));
  SaveHistory(dir_, kSeenLogName, {"kept"});
  std::filesystem::create_directory(dir_ / "getdata.txt");
  try {
    Fetch("p");
    ADD_FAILURE() << "no error";
  } catch (const FileError& error) {
    EXPECT_NE(std::string(error.what()).find("getdata.txt"), std::string::npos);
  }
  EXPECT_EQ(LoadHistory(dir_, kSeenLogName), std::vector<std::string>{"kept"});
}

// A process killed at any moment of a save leaves the old file or the new one, never a mix.
TEST_F(Hostile, AKilledSaveLeavesTheOldOrTheNewFile) {
  const std::vector<std::string> a(20000, std::string(40, 'a'));
  const std::vector<std::string> b(30000, std::string(40, 'b'));
  const std::string text_a = JoinLines(a);
  const std::string text_b = JoinLines(b);
  SaveHistory(dir_, kVisitLogName, a);
  for (int round = 0; round < 20; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (;;) {
        SaveHistory(dir_, kVisitLogName, b);
        SaveHistory(dir_, kVisitLogName, a);
      }
    }
    usleep(static_cast<useconds_t>(3000 + round * 1700));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    const std::string now = ReadFileBytes(dir_ / "visitdata.txt").value_or("<missing>");
    ASSERT_TRUE(now == text_a || now == text_b) << "round " << round << ": " << now.size() << " bytes";
  }
}

}  // namespace
}  // namespace korinbo
