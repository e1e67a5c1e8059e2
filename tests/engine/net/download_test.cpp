// Downloads against a real HTTP server on 127.0.0.1 that each test starts itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "korinbo/download.h"
#include "korinbo/httpd/server.h"
#include "korinbo/test/scoped_env.h"

namespace korinbo {
namespace {

using httpd::Fault;
using httpd::Request;
using httpd::Response;
using httpd::Server;
using namespace std::chrono_literals;

// Every proxy variable curl looks at, so that a test starts from a clean environment.
const char* const kProxyVariables[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                       "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};

// Bytes 0x01..0xFF over and over: every byte value but NUL, Shift_JIS lead and trail bytes included.
std::string AllBytes(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(1 + i % 255);
  return s;
}

DownloadOptions Quick(std::string mode = "DIRECT") {
  DownloadOptions options;
  options.use_proxy = Keyword<ProxyMode>(mode).mode();
  options.connect_timeout = 5s;
  options.total_timeout = 20s;
  return options;
}

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kProxyVariables) env_.Unset(name);
  }

  // Runs `fn` and fails the test when it takes longer than `bound` (protection against a hang).
  template <typename Fn>
  auto Bounded(std::chrono::seconds bound, Fn fn) {
    auto start = std::chrono::steady_clock::now();
    auto result = fn();
    EXPECT_LT(std::chrono::steady_clock::now() - start, bound);
    return result;
  }

  test::ScopedEnv env_;
  Server server_;
  Downloader downloader_;
};

TEST_F(DownloadTest, PlainPageArrivesByteForByte) {
  const std::string body = AllBytes(70000);
  server_.Route("/page.html", Response::Text(body));
  EXPECT_EQ(downloader_.DownloadPage(server_.Url("/page.html"), Quick()).page, body);
}

TEST_F(DownloadTest, SendsPlainGetWithAgentAndNoExtraHeaders) {
  server_.Route("/a?x=1", Response::Text("ok"));
  ASSERT_EQ(downloader_.DownloadPage(server_.Url("/a?x=1"), Quick()).page, "ok");
  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const Request& r = requests[0];
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.target, "/a?x=1");
  EXPECT_EQ(r.Header("User-Agent"), "Korinbo");
  EXPECT_EQ(r.Header("Host"), "127.0.0.1:" + std::to_string(server_.port()));
  EXPECT_FALSE(r.HasHeader("Accept-Encoding"));
  const std::set<std::string> allowed = {"host", "user-agent", "accept"};
  for (const auto& [name, value] : r.headers) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    EXPECT_TRUE(allowed.count(lower)) << "unexpected header " << name << ": " << value;
  }
}

TEST_F(DownloadTest, ErrorStatusBodyIsThePage) {
  struct Row {
    int status;
    std::string body;
  };
  const Row rows[] = {{404, "<html>no such page</html>"}, {500, "<p>broken</p>"}, {403, ""}, {503, "busy"}};
  for (const auto& row : rows) {
    const std::string target = "/status" + std::to_string(row.status);
    server_.Route(target, Response::Text(row.body, row.status));
    EXPECT_EQ(downloader_.DownloadPage(server_.Url(target), Quick()).page, row.body) << row.status;
  }
}

TEST_F(DownloadTest, RedirectsAreFollowed) {
  server_.Route("/old", Response::Redirect("/new", 301));
  server_.Route("/relative", Response::Redirect("new", 302));
  server_.Route("/absolute", Response::Redirect(server_.Url("/new"), 307));
  server_.Route("/chain", Response::Redirect("/old", 302));
  server_.Route("/new", Response::Text("moved here"));
  for (const char* start : {"/old", "/relative", "/absolute", "/chain"}) {
    const DownloadResult result = downloader_.DownloadPage(server_.Url(start), Quick());
    EXPECT_EQ(result.page, "moved here") << start;
    // The address the page was read from, for its relative links.
    EXPECT_EQ(result.address, server_.Url("/new")) << start;
  }
  // The redirects' own bodies ("moved") never reach the page.
  EXPECT_EQ(server_.Requests().back().target, "/new");
}

TEST_F(DownloadTest, WithoutARedirectTheAddressIsTheUrlAsGiven) {
  server_.Route("/", Response::Text("root"));
  server_.Route("/a?x=1", Response::Text("a"));
  server_.Route("/gone", Response::Text("", 404));
  // Also where curl would write the URL otherwise ("/" after the host), and for a failed download.
  const std::string host = server_.Url("/").substr(0, server_.Url("/").size() - 1);
  for (const std::string& url : {host, server_.Url("/a?x=1"), server_.Url("/gone"), std::string("http://127.0.0.1:1/x")}) {
    EXPECT_EQ(downloader_.DownloadPage(url, Quick()).address, url);
  }
  DownloadOptions no_request = Quick("NONE");
  EXPECT_EQ(downloader_.DownloadPage(server_.Url("/a?x=1"), no_request).address, server_.Url("/a?x=1"));
}

TEST_F(DownloadTest, ContentTypeIsTheFinalAnswers) {
  Response sjis = Response::Text("x");
  sjis.headers = {{"Content-Type", "text/html; charset=Shift_JIS"}};
  server_.Route("/sjis", sjis);
  // The server names a type for every body it sends; only an empty answer goes without one.
  Response bare = Response::Text("");
  bare.headers.clear();
  server_.Route("/bare", bare);
  Response redirect = Response::Redirect("/sjis");
  redirect.headers.emplace_back("Content-Type", "text/plain; charset=UTF-8");
  server_.Route("/moved", redirect);
  EXPECT_EQ(downloader_.DownloadPage(server_.Url("/sjis"), Quick()).content_type, "text/html; charset=Shift_JIS");
  EXPECT_EQ(downloader_.DownloadPage(server_.Url("/moved"), Quick()).content_type, "text/html; charset=Shift_JIS");
  EXPECT_EQ(downloader_.DownloadPage(server_.Url("/bare"), Quick()).content_type, "");
  EXPECT_EQ(downloader_.DownloadPage("http://127.0.0.1:1/x", Quick()).content_type, "");
}

TEST_F(DownloadTest, RedirectLoopEndsAsFailureAfterTenFollows) {
  server_.Route("/loop", Response::Redirect("/loop"));
  std::string page = Bounded(30s, [&] { return downloader_.DownloadPage(server_.Url("/loop"), Quick()).page; });
  EXPECT_EQ(page, "");
  EXPECT_EQ(server_.RequestCount(), 11u);  // the first request and ten redirects
}

TEST_F(DownloadTest, RedirectToAnotherSchemeIsRefused) {
  server_.Route("/to-file", Response::Redirect("file:///etc/hostname"));
  server_.Route("/to-ftp", Response::Redirect("ftp://127.0.0.1:1/x"));
  EXPECT_EQ(downloader_.DownloadPage(server_.Url("/to-file"), Quick()).page, "");
  EXPECT_EQ(downloader_.DownloadPage(server_.Url("/to-ftp"), Quick()).page, "");
}

TEST_F(DownloadTest, RedirectFromHttpToHttpsIsFollowed) {
  // A plain server stands in for the https one: the TLS hello it receives shows the follow.
  Server tls_target;
  server_.Route("/moved", Response::Redirect("https://127.0.0.1:" + std::to_string(tls_target.port()) + "/"));
  DownloadOptions options = Quick();
  options.total_timeout = 1s;
  EXPECT_EQ(Bounded(15s, [&] { return downloader_.DownloadPage(server_.Url("/moved"), options).page; }), "");
  EXPECT_EQ(tls_target.ConnectionCount(), 1u);
  EXPECT_EQ(tls_target.RequestCount(), 0u);
}

TEST_F(DownloadTest, UrlsThatAreNotHttpGiveAnEmptyPage) {
  for (const char* url : {"file:///etc/hostname", "", "not a url", "http://", "gopher://127.0.0.1/"}) {
    EXPECT_EQ(downloader_.DownloadPage(url, Quick()).page, "") << url;
  }
  EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_F(DownloadTest, UrlWithLineBreaksCannotInjectHeaders) {
  server_.Route("/a", Response::Text("page"));
  for (const std::string tail : {"\r\nX-Injected: 1", "\nX-Injected: 1", " HTTP/1.1\r\nX-Injected: 1"}) {
    EXPECT_EQ(downloader_.DownloadPage(server_.Url("/a") + tail, Quick()).page, "") << tail;
  }
  for (const auto& request : server_.Requests()) EXPECT_FALSE(request.HasHeader("X-Injected"));
  EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_F(DownloadTest, RefusedConnectionGivesAnEmptyPage) {
  std::string url;
  {
    Server gone;
    url = gone.Url("/x");
  }  // nothing listens on that port any more
  EXPECT_EQ(Bounded(20s, [&] { return downloader_.DownloadPage(url, Quick()).page; }), "");
}

// NUL bytes spread over the 1024-byte pieces, with the server writing the body in odd sizes.
TEST_F(DownloadTest, NulBytesCutTheirPieceWhateverTheWriteSizes) {
  const std::string a = AllBytes(1024);
  std::string b = AllBytes(1024);
  std::reverse(b.begin(), b.end());
  const std::string c = AllBytes(500);
  struct Row {
    const char* name;
    std::string body;
    std::string expected;
  };
  auto with_nul = [](std::string s, std::initializer_list<std::size_t> at) {
    for (std::size_t p : at) s[p] = '\0';
    return s;
  };
  const Row rows[] = {
      {"position 10 of the first piece", with_nul(a + b, {9}), a.substr(0, 9) + b},
      {"first byte of the second piece", with_nul(a + b + c, {1024}), a + c},
      {"last byte of a piece", with_nul(a + b, {1023}), a.substr(0, 1023) + b},
      {"one in each piece", with_nul(a + b + c, {100, 1024 + 1000, 2048 + 3}),
       a.substr(0, 100) + b.substr(0, 1000) + c.substr(0, 3)},
      {"two in one piece", with_nul(a + b, {1030, 1031}), a + b.substr(0, 6)},
  };
  const std::vector<std::vector<std::size_t>> write_sizes = {{}, {7}, {1000, 1, 333}, {1025}, {3, 1021}};
  int n = 0;
  for (const auto& row : rows) {
    for (const auto& sizes : write_sizes) {
      Response r = Response::Text(row.body);
      r.write_sizes = sizes;
      const std::string target = "/nul" + std::to_string(n++);
      server_.Route(target, r);
      EXPECT_EQ(downloader_.DownloadPage(server_.Url(target), Quick()).page, row.expected)
          << row.name << ", first write size " << (sizes.empty() ? 0 : sizes[0]);
    }
  }
}

TEST_F(DownloadTest, ChunkedBodyIsDecoded) {
  Response r = Response::Text(AllBytes(5000));
  r.chunked = true;
  r.write_sizes = {777};
  server_.Route("/chunked", r);
  EXPECT_EQ(downloader_.DownloadPage(server_.Url("/chunked"), Quick()).page, AllBytes(5000));
}

TEST_F(DownloadTest, ServerThatNeverAnswersEndsAtTheTimeOutWithAnEmptyPage) {
  Response r;
  r.fault = Fault::kNeverAnswer;
  server_.Route("/silent", r);
  DownloadOptions options = Quick();
  options.total_timeout = 300ms;
  std::string page = Bounded(15s, [&] { return downloader_.DownloadPage(server_.Url("/silent"), options).page; });
  EXPECT_EQ(page, "");
  EXPECT_EQ(server_.RequestCount(), 1u);
}

TEST_F(DownloadTest, CutConnectionsKeepWhatWasRead) {
  const std::string body = AllBytes(5000);
  struct Row {
    const char* name;
    Fault fault;
    std::size_t after;
  };
  const Row rows[] = {{"reset", Fault::kResetMidBody, 3000},
                      {"reset in the first piece", Fault::kResetMidBody, 10},
                      {"close", Fault::kCloseMidBody, 2049},
                      {"broken chunking", Fault::kBrokenChunked, 1500}};
  int n = 0;
  for (const auto& row : rows) {
    Response r = Response::Text(body);
    r.fault = row.fault;
    r.fault_after = row.after;
    const std::string target = "/cut" + std::to_string(n++);
    server_.Route(target, r);
    EXPECT_EQ(downloader_.DownloadPage(server_.Url(target), Quick()).page, body.substr(0, row.after)) << row.name;
  }
}

TEST_F(DownloadTest, TrickleCutByTheTotalTimeOutKeepsAPrefix) {
  const std::string body = AllBytes(2000);
  Response r = Response::Text(body);
  r.fault = Fault::kTrickle;
  r.trickle_interval = 20ms;
  server_.Route("/slow", r);
  DownloadOptions options = Quick();
  options.total_timeout = 400ms;
  std::string page = Bounded(15s, [&] { return downloader_.DownloadPage(server_.Url("/slow"), options).page; });
  EXPECT_LT(page.size(), body.size());
  EXPECT_EQ(page, body.substr(0, page.size()));
}

TEST_F(DownloadTest, BodyStopsAtTheCapWithoutReadingTheRest) {
  server_.Route("/huge", Response::Generated(std::uint64_t{1} << 30));  // 1 GiB, streamed
  DownloadOptions options = Quick();
  options.max_body = 300000;
  std::string page = Bounded(30s, [&] { return downloader_.DownloadPage(server_.Url("/huge"), options).page; });
  EXPECT_EQ(page, httpd::GeneratedBytes(0, 300000));
}

TEST_F(DownloadTest, BodyOfExactlyTheCapIsWhole) {
  server_.Route("/exact", Response::Generated(4096));
  DownloadOptions options = Quick();
  options.max_body = 4096;
  EXPECT_EQ(downloader_.DownloadPage(server_.Url("/exact"), options).page, httpd::GeneratedBytes(0, 4096));
}

// The download says why it ended, for every way a server or the network can fail; the page is
// what arrived either way.
TEST_F(DownloadTest, TheResultSaysWhyTheDownloadEnded) {
  std::string refused_url;
  {
    Server gone;
    refused_url = gone.Url("/x");
  }
  auto with_fault = [](Fault fault, std::size_t after) {
    Response r = Response::Text(AllBytes(5000));
    r.fault = fault;
    r.fault_after = after;
    return r;
  };
  Response silent;
  silent.fault = Fault::kNeverAnswer;
  server_.Route("/ok", Response::Text("page"));
  server_.Route("/missing", Response::Text("not here", 404));
  server_.Route("/broken", Response::Text("oops", 503));
  server_.Route("/moved", Response::Redirect("/missing"));
  server_.Route("/reset", with_fault(Fault::kResetMidBody, 3000));
  server_.Route("/closed", with_fault(Fault::kCloseMidBody, 2049));
  server_.Route("/silent", silent);
  server_.Route("/large", Response::Generated(10000));
  const struct {
    std::string url;
    std::string mode;
    DownloadEnd end;
    int status;
    std::size_t page_size;
  } rows[] = {
      {server_.Url("/ok"), "DIRECT", DownloadEnd::kComplete, 200, 4},
      {server_.Url("/missing"), "DIRECT", DownloadEnd::kHttpError, 404, 8},
      {server_.Url("/broken"), "DIRECT", DownloadEnd::kHttpError, 503, 4},
      {server_.Url("/moved"), "DIRECT", DownloadEnd::kHttpError, 404, 8},
      {"http://nowhere.invalid/", "DIRECT", DownloadEnd::kNameNotResolved, 0, 0},
      {refused_url, "DIRECT", DownloadEnd::kConnectionFailed, 0, 0},
      {server_.Url("/reset"), "DIRECT", DownloadEnd::kConnectionFailed, 200, 3000},
      {server_.Url("/closed"), "DIRECT", DownloadEnd::kConnectionFailed, 200, 2049},
      {server_.Url("/silent"), "DIRECT", DownloadEnd::kTimedOut, 0, 0},
      {server_.Url("/large"), "DIRECT", DownloadEnd::kCutAtCap, 200, 4096},
      {server_.Url("/ok"), "NONE", DownloadEnd::kFailed, 0, 0},
      {"ftp://127.0.0.1/", "DIRECT", DownloadEnd::kFailed, 0, 0},
  };
  for (const auto& row : rows) {
    DownloadOptions options = Quick(row.mode);
    options.total_timeout = 1s;
    options.max_body = 4096;
    const DownloadResult result = Bounded(15s, [&] { return downloader_.DownloadPage(row.url, options); });
    EXPECT_EQ(result.end, row.end) << row.url;
    EXPECT_EQ(result.http_status, row.status) << row.url;
    EXPECT_EQ(result.page.size(), row.page_size) << row.url;
  }
}

TEST_F(DownloadTest, AStopSaysSoAndAnUnknownIdFailed) {
  Response silent;
  silent.fault = Fault::kNeverAnswer;
  server_.Route("/silent", silent);
  const Downloader::TransferId first = downloader_.Start(server_.Url("/silent"), Quick());
  const Downloader::TransferId second = downloader_.Start(server_.Url("/silent"), Quick());
  EXPECT_EQ(downloader_.Wait(first, [] { return true; }).end, DownloadEnd::kStopped);
  EXPECT_EQ(downloader_.Wait(second).end, DownloadEnd::kStopped);
  EXPECT_EQ(downloader_.Wait(second).end, DownloadEnd::kFailed);
  const Downloader::TransferId third = downloader_.Start(server_.Url("/silent"), Quick());
  downloader_.CancelAll();
  EXPECT_EQ(downloader_.Wait(third).end, DownloadEnd::kStopped);
}

TEST_F(DownloadTest, UnknownProxyModeMakesNoRequest) {
  server_.Route("/p", Response::Text("page"));
  for (const char* mode : {"", "direct", "proxy", "DIRECT ", "NONE", "Preconfig"}) {
    DownloadOptions options = Quick(mode);
    options.proxy_name = "127.0.0.1:1";
    EXPECT_EQ(downloader_.DownloadPage(server_.Url("/p"), options).page, "") << mode;
  }
  EXPECT_EQ(server_.RequestCount(), 0u);
}

class ProxyModeTest : public DownloadTest {
 protected:
  httpd::Proxy proxy_;
};

TEST_F(ProxyModeTest, ProxyModeGoesThroughTheProxy) {
  server_.Route("/via", Response::Text("through the proxy"));
  DownloadOptions options = Quick("PROXY");
  options.proxy_name = proxy_.HostPort();
  EXPECT_EQ(downloader_.DownloadPage(server_.Url("/via"), options).page, "through the proxy");
  auto seen = proxy_.Requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].method, "GET");
  EXPECT_EQ(seen[0].target, server_.Url("/via"));
  EXPECT_EQ(seen[0].Header("User-Agent"), "Korinbo");
  EXPECT_FALSE(seen[0].HasHeader("Accept-Encoding"));
  EXPECT_EQ(server_.RequestCount(), 1u);
}

TEST_F(ProxyModeTest, ProxyModeIgnoresTheBypassVariables) {
  server_.Route("/via", Response::Text("through the proxy"));
  env_.Set("no_proxy", "127.0.0.1,localhost");
  env_.Set("NO_PROXY", "*");
  DownloadOptions options = Quick("PROXY");
  options.proxy_name = proxy_.HostPort();
  EXPECT_EQ(downloader_.DownloadPage(server_.Url("/via"), options).page, "through the proxy");
  EXPECT_EQ(proxy_.RequestCount(), 1u);
}

TEST_F(ProxyModeTest, UnreachableProxyGivesAnEmptyPage) {
  server_.Route("/via", Response::Text("page"));
  std::string dead;
  {
    httpd::Proxy gone;
    dead = gone.HostPort();
  }
  DownloadOptions options = Quick("PROXY");
  options.proxy_name = dead;
  EXPECT_EQ(downloader_.DownloadPage(server_.Url("/via"), options).page, "");
  EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_F(ProxyModeTest, DirectIgnoresProxyVariables) {
  server_.Route("/direct", Response::Text("straight"));
  const std::string proxy_url = "http://" + proxy_.HostPort();
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) env_.Set(name, proxy_url);
  EXPECT_EQ(downloader_.DownloadPage(server_.Url("/direct"), Quick("DIRECT")).page, "straight");
  EXPECT_EQ(proxy_.RequestCount(), 0u);
  EXPECT_EQ(server_.RequestCount(), 1u);
}

TEST_F(ProxyModeTest, PreconfigHonoursTheProxyVariable) {
  server_.Route("/env", Response::Text("by the environment"));
  env_.Set("http_proxy", "http://" + proxy_.HostPort());
  EXPECT_EQ(downloader_.DownloadPage(server_.Url("/env"), Quick("PRECONFIG")).page, "by the environment");
  ASSERT_EQ(proxy_.RequestCount(), 1u);
  EXPECT_EQ(proxy_.Requests()[0].Header("User-Agent"), "Korinbo");
}

TEST_F(ProxyModeTest, PreconfigWithoutVariablesGoesDirect) {
  server_.Route("/env", Response::Text("direct anyway"));
  EXPECT_EQ(downloader_.DownloadPage(server_.Url("/env"), Quick("PRECONFIG")).page, "direct anyway");
  EXPECT_EQ(proxy_.RequestCount(), 0u);
}

// Holds each answer until `expected` requests are in, so that only concurrent transfers all finish.
class Gate {
 public:
  explicit Gate(int expected, std::chrono::milliseconds hold = 10s) : expected_(expected), hold_(hold) {}
  Response Pass(std::string body) {
    std::unique_lock lock(mutex_);
    ++in_flight_;
    max_in_flight_ = std::max(max_in_flight_, in_flight_);
    ++arrived_;
    changed_.notify_all();
    bool all_there = changed_.wait_for(lock, hold_, [&] { return arrived_ >= expected_; });
    --in_flight_;
    return Response::Text(all_there ? body : "gave up waiting");
  }
  int max_in_flight() {
    std::lock_guard lock(mutex_);
    return max_in_flight_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int expected_;
  std::chrono::milliseconds hold_;
  int arrived_ = 0;
  int in_flight_ = 0;
  int max_in_flight_ = 0;
};

TEST_F(DownloadTest, SeveralTransfersRunAtOnceAndEachWaitGetsItsOwnPage) {
  constexpr int kCount = 5;
  Gate gate(kCount);
  for (int i = 0; i < kCount; ++i) {
    std::string body = "page " + std::to_string(i);
    server_.Route("/g" + std::to_string(i), [&gate, body](const Request&) { return gate.Pass(body); });
  }
  std::vector<Downloader::TransferId> ids;
  for (int i = 0; i < kCount; ++i)
    ids.push_back(downloader_.Start(server_.Url("/g" + std::to_string(i)), Quick()));
  // Awaited out of order: the last one first.
  for (int i = kCount - 1; i >= 0; --i) {
    EXPECT_EQ(downloader_.Wait(ids[static_cast<std::size_t>(i)]).page, "page " + std::to_string(i));
  }
  EXPECT_EQ(gate.max_in_flight(), kCount);
}

TEST_F(DownloadTest, AtMostSixTransfersToOneHost) {
  constexpr int kCount = 8;
  // Each answer is held until all eight are in, which the limit never allows: the six admitted
  // ones give up after a second, then the last two come.
  Gate gate(kCount, 1s);
  server_.Route("/h", [&gate](const Request&) { return gate.Pass("ok"); });
  std::vector<Downloader::TransferId> ids;
  for (int i = 0; i < kCount; ++i) ids.push_back(downloader_.Start(server_.Url("/h"), Quick()));
  for (auto id : ids) EXPECT_FALSE(downloader_.Wait(id).page.empty());
  EXPECT_EQ(server_.RequestCount(), 8u);
  EXPECT_EQ(gate.max_in_flight(), 6);
}

// Transfers beyond the host's six start as connections free up, in the order they were started:
// each round of six requests is the next six pages, whatever order the six race in.
TEST_F(DownloadTest, TransfersQueuedForAHostStartInTheirOrder) {
  constexpr int kCount = 18;
  for (int i = 0; i < kCount; ++i) {
    Response r = Response::Text("page " + std::to_string(i));
    r.delay = 300ms;  // a round ends well after all of its requests are in
    server_.Route("/p" + std::to_string(i), r);
  }
  std::vector<Downloader::TransferId> ids;
  for (int i = 0; i < kCount; ++i) ids.push_back(downloader_.Start(server_.Url("/p" + std::to_string(i)), Quick()));
  for (int i = 0; i < kCount; ++i) {
    EXPECT_EQ(downloader_.Wait(ids[static_cast<std::size_t>(i)]).page, "page " + std::to_string(i));
  }
  const std::vector<Request> requests = server_.Requests();
  ASSERT_EQ(requests.size(), static_cast<std::size_t>(kCount));
  for (int round = 0; round < kCount / 6; ++round) {
    std::set<std::string> asked, expected;
    for (int k = round * 6; k < round * 6 + 6; ++k) {
      asked.insert(requests[static_cast<std::size_t>(k)].target);
      expected.insert("/p" + std::to_string(k));
    }
    EXPECT_EQ(asked, expected) << "round " << round;
  }
}

TEST_F(DownloadTest, WhileWaitingIsCalledAndTheTransferGoesOnWhenItSaysNo) {
  Response r = Response::Text("late page");
  r.delay = 300ms;
  server_.Route("/late", r);
  int calls = 0;
  std::string page = downloader_.DownloadPage(server_.Url("/late"), Quick(), [&] {
    ++calls;
    return false;
  }).page;
  EXPECT_EQ(page, "late page");
  EXPECT_GT(calls, 0);
}

TEST_F(DownloadTest, WhileWaitingStopsEveryRunningTransfer) {
  Response silent;
  silent.fault = Fault::kNeverAnswer;
  server_.Route("/silent", silent);
  const std::string body = AllBytes(3000);
  Response slow = Response::Text(body);
  slow.fault = Fault::kTrickle;
  slow.trickle_interval = 5ms;
  server_.Route("/slow", slow);
  DownloadOptions options = Quick();
  options.total_timeout = 60s;

  auto other = downloader_.Start(server_.Url("/silent"), options);
  auto trickling = downloader_.Start(server_.Url("/slow"), options);
  auto awaited = downloader_.Start(server_.Url("/silent"), options);
  // Transfers move only while one is awaited: stop once the server holds all three requests.
  int calls = 0;
  std::string page = Bounded(10s, [&] {
    return downloader_.Wait(awaited, [&] { return server_.RequestCount() >= 3 || ++calls > 400; }).page;
  });
  EXPECT_EQ(page, "");
  EXPECT_EQ(server_.RequestCount(), 3u);
  // The others ended too: their Wait returns without polling again.
  auto never = [] {
    ADD_FAILURE() << "a stopped transfer was still running";
    return true;
  };
  EXPECT_EQ(downloader_.Wait(other, never).page, "");
  std::string partial = downloader_.Wait(trickling, never).page;
  EXPECT_LT(partial.size(), body.size());
  EXPECT_EQ(partial, body.substr(0, partial.size()));
}

TEST_F(DownloadTest, CancelAllEndsRunningTransfersAndKeepsFinishedPages) {
  Response silent;
  silent.fault = Fault::kNeverAnswer;
  server_.Route("/silent", silent);
  server_.Route("/quick", Response::Text("done"));
  Response late = Response::Text("late");
  late.delay = 500ms;
  server_.Route("/late", late);
  auto quick = downloader_.Start(server_.Url("/quick"), Quick());
  auto first = downloader_.Start(server_.Url("/silent"), Quick());
  auto second = downloader_.Start(server_.Url("/silent"), Quick());
  // Waiting for the late page drives the others: the quick one finishes meanwhile.
  EXPECT_EQ(downloader_.Wait(downloader_.Start(server_.Url("/late"), Quick())).page, "late");
  ASSERT_TRUE(server_.WaitForRequests(4, 10s));
  downloader_.CancelAll();
  auto never = [] {
    ADD_FAILURE() << "a cancelled transfer was still running";
    return true;
  };
  EXPECT_EQ(downloader_.Wait(first, never).page, "");
  EXPECT_EQ(downloader_.Wait(second, never).page, "");
  EXPECT_EQ(downloader_.Wait(quick, never).page, "done");
}

TEST_F(DownloadTest, EachIdIsWaitedForOnce) {
  server_.Route("/once", Response::Text("once"));
  auto id = downloader_.Start(server_.Url("/once"), Quick());
  EXPECT_EQ(downloader_.Wait(id).page, "once");
  EXPECT_EQ(downloader_.Wait(id).page, "");
  EXPECT_EQ(downloader_.Wait(12345).page, "");
  auto again = downloader_.Start(server_.Url("/once"), Quick());
  EXPECT_NE(again, id);
  EXPECT_EQ(downloader_.Wait(again).page, "once");
}

TEST_F(DownloadTest, WaitingForTheSameIdInsideWhileWaitingGivesNothing) {
  Response r = Response::Text("outer");
  r.delay = 200ms;
  server_.Route("/r", r);
  auto id = downloader_.Start(server_.Url("/r"), Quick());
  std::string inner = "not called";
  std::string outer = downloader_.Wait(id, [&] {
    if (inner == "not called") inner = downloader_.Wait(id).page;
    return false;
  }).page;
  EXPECT_EQ(inner, "");
  EXPECT_EQ(outer, "outer");
}

TEST_F(DownloadTest, DestroyingTheDownloaderEndsRunningTransfers) {
  Response silent;
  silent.fault = Fault::kNeverAnswer;
  server_.Route("/silent", silent);
  Response late = Response::Text("late");
  late.delay = 300ms;
  server_.Route("/late", late);
  Bounded(10s, [&] {
    Downloader local;
    local.Start(server_.Url("/silent"), Quick());
    local.Start(server_.Url("/silent"), Quick());
    EXPECT_EQ(local.DownloadPage(server_.Url("/late"), Quick()).page, "late");
    return 0;
  });
  EXPECT_EQ(server_.RequestCount(), 3u);
}

}  // namespace
}  // namespace korinbo
