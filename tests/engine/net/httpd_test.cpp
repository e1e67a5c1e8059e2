// The loopback server itself: what the other tests and the demo rely on.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "korinbo/download.h"
#include "korinbo/httpd/server.h"
#include "korinbo/test/child_process.h"
#include "korinbo/test/temp_dir.h"

namespace korinbo {
namespace {

using httpd::Fault;
using httpd::Response;
using httpd::Server;
using namespace std::chrono_literals;

// A client socket connected to 127.0.0.x:port that has sent `bytes`; -1 when that failed.
int ConnectAndSend(const std::string& address, std::uint16_t port, const std::string& bytes) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  ::inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size())) {
    return fd;
  }
  ::close(fd);
  return -1;
}

// Sends raw bytes to 127.0.0.x:port and gives everything that comes back until the peer closes,
// or what came within `limit`.
std::string RawExchange(const std::string& address, std::uint16_t port, const std::string& bytes,
                        std::chrono::milliseconds limit = 5000ms) {
  int fd = ConnectAndSend(address, port, bytes);
  std::string reply;
  if (fd >= 0) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    char buffer[4096];
    for (;;) {
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      reply.append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  return reply;
}

DownloadOptions Direct() {
  DownloadOptions options;
  options.connect_timeout = 5s;
  options.total_timeout = 20s;
  return options;
}

TEST(LoopbackServer, OnlyLoopbackAddressesAreBound) {
  for (const char* address : {"0.0.0.0", "192.168.1.1", "10.0.0.1", "localhost", "", "::1", "127.0.0"}) {
    EXPECT_THROW(Server({address, 0}), std::runtime_error) << address;
  }
}

TEST(LoopbackServer, ServesOnOtherLoopbackAddresses) {
  Server server({"127.0.0.2", 0});
  server.Route("/", Response::Text("second address"));
  EXPECT_EQ(server.Url("/"), "http://127.0.0.2:" + std::to_string(server.port()) + "/");
  Downloader downloader;
  EXPECT_EQ(downloader.DownloadPage(server.Url("/"), Direct()).page, "second address");
}

TEST(LoopbackServer, HandlerSeesTheRequestAndLaterRoutesReplaceEarlierOnes) {
  Server server;
  server.Route("/echo", Response::Text("first"));
  server.Route("/echo", [](const httpd::Request& r) { return Response::Text(r.method + " " + r.target); });
  Downloader downloader;
  EXPECT_EQ(downloader.DownloadPage(server.Url("/echo"), Direct()).page, "GET /echo");
  EXPECT_EQ(downloader.DownloadPage(server.Url("/unknown"), Direct()).page, "Not Found");
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Header("user-AGENT"), "Korinbo");
  EXPECT_FALSE(requests[0].Header("X-Missing").has_value());
  server.ClearRequests();
  EXPECT_EQ(server.RequestCount(), 0u);
}

TEST(LoopbackServer, ServesAFolderAndNeverOutsideIt) {
  test::TempDir dir;
  dir.Write("root/index.html", "<html>top</html>");
  dir.Write("root/sub/page.txt", "inner");
  dir.Write("root/sub/index.html", "sub index");
  dir.Write("secret.txt", "must not be served");
  Server server;
  server.ServeFolder(dir.path() / "root");
  Downloader downloader;
  struct Row {
    const char* target;
    const char* page;
  };
  const Row rows[] = {
      {"/", "<html>top</html>"},           {"/index.html", "<html>top</html>"},
      {"/sub/page.txt", "inner"},          {"/sub/", "sub index"},
      {"/sub/page.txt?x=1", "inner"},      {"/sub/pa%67e.txt", "inner"},
      {"/%2e%2e/secret.txt", "Not Found"}, {"/sub/%2E%2E/%2e%2e/secret.txt", "Not Found"},
      {"/missing.html", "Not Found"},      {"/bad%zz", "Not Found"},
      {"/nul%00.txt", "Not Found"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(downloader.DownloadPage(server.Url(row.target), Direct()).page, row.page) << row.target;
  }
  // Raw, so that no client tidies the dots away first.
  std::string reply = RawExchange("127.0.0.1", server.port(),
                                  "GET /../secret.txt HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(reply.rfind("HTTP/1.1 404", 0), 0u) << reply;
  EXPECT_EQ(reply.find("must not be served"), std::string::npos);
}

TEST(LoopbackServer, MalformedRequestsGetAnErrorAndTheServerGoesOn) {
  Server server;
  server.Route("/", Response::Text("still here"));
  struct Row {
    std::string bytes;
    const char* status_line;
  };
  const Row rows[] = {
      {"garbage\r\n\r\n", "HTTP/1.1 400"},
      {"GET / HTTP/1.1\r\nContent-Length: many\r\n\r\n", "HTTP/1.1 400"},
      {"GET / HTTP/1.1\r\nX: " + std::string(70000, 'a') + "\r\n\r\n", "HTTP/1.1 400"},
  };
  for (const auto& row : rows) {
    std::string reply = RawExchange("127.0.0.1", server.port(), row.bytes);
    EXPECT_EQ(reply.rfind(row.status_line, 0), 0u) << reply.substr(0, 40);
  }
  Downloader downloader;
  EXPECT_EQ(downloader.DownloadPage(server.Url("/"), Direct()).page, "still here");
}

TEST(LoopbackServer, KeepsTheConnectionForSeveralRequests) {
  Server server;
  server.Route("/a", Response::Text("A"));
  server.Route("/b", Response::Text("BB"));
  std::string reply = RawExchange(
      "127.0.0.1", server.port(),
      "GET /a HTTP/1.1\r\nHost: x\r\n\r\nGET /b HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_NE(reply.find("\r\n\r\nA"), std::string::npos) << reply;
  EXPECT_NE(reply.find("\r\n\r\nBB"), std::string::npos) << reply;
  EXPECT_EQ(server.RequestCount(), 2u);
}

// Nagle's rule would hold the body of a second answer on a kept-alive connection back until the
// client acknowledged its head, some 40 ms later.
TEST(LoopbackServer, EveryConnectionSendsWithoutDelay) {
  Server server;
  server.Route("/", Response::Text("x"));
  const int client = ConnectAndSend("127.0.0.1", server.port(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  ASSERT_GE(client, 0);
  ASSERT_TRUE(server.WaitForRequests(1, 5s));
  // The server's end of the connection is in this process: the socket whose own port is the server's.
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    const int fd = std::stoi(entry.path().filename().string());
    sockaddr_in own{};
    sockaddr_in peer{};
    socklen_t size = sizeof own;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&own), &size) != 0 || own.sin_family != AF_INET ||
        ntohs(own.sin_port) != server.port() ||
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0) {
      continue;
    }
    int no_delay = 0;
    size = sizeof no_delay;
    ASSERT_EQ(::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &no_delay, &size), 0);
    EXPECT_EQ(no_delay, 1);
    ++checked;
  }
  EXPECT_EQ(checked, 1);
  ::close(client);
}

TEST(LoopbackServer, StopsPromptlyWithBusyConnections) {
  auto start = std::chrono::steady_clock::now();
  {
    Server server;
    Response silent;
    silent.fault = Fault::kNeverAnswer;
    server.Route("/silent", silent);
    server.Route("/huge", Response::Generated(std::uint64_t{1} << 30));
    Response slow = Response::Text("x");
    slow.delay = 60s;
    server.Route("/slow", slow);
    // Clients that send a request and then read nothing; the server's writes and waits block.
    std::vector<int> clients;
    for (const char* target : {"/silent", "/huge", "/slow"}) {
      clients.push_back(ConnectAndSend("127.0.0.1", server.port(),
                                       std::string("GET ") + target + " HTTP/1.1\r\nHost: x\r\n\r\n"));
      ASSERT_GE(clients.back(), 0);
    }
    ASSERT_TRUE(server.WaitForRequests(3, 5s));
    server.Stop();
    for (int fd : clients) ::close(fd);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST(LoopbackProxy, RefusesWhatItMustNotForward) {
  Server server;  // a live loopback host, so that a target read wrongly would be forwarded
  server.Route("/", Response::Text("forwarded"));
  const std::string live = "127.0.0.1:" + std::to_string(server.port());
  httpd::Proxy proxy;
  struct Row {
    std::string request;
    const char* status_line;
  };
  const Row rows[] = {
      {"GET http://example.invalid/ HTTP/1.1\r\nHost: example.invalid\r\n\r\n", "HTTP/1.1 502"},
      {"GET http://192.0.2.1:80/ HTTP/1.1\r\nHost: 192.0.2.1\r\n\r\n", "HTTP/1.1 502"},
      {"GET /relative HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 502"},
      {"GET http://user@" + live + "/ HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 502"},
      {"GET http://" + live + ":2/ HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 502"},
      {"GET http://" + live + "x/ HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 502"},
      {"CONNECT " + live + " HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 501"},
      {"nonsense\r\n\r\n", "HTTP/1.1 400"},
  };
  for (const auto& row : rows) {
    std::string reply = RawExchange("127.0.0.1", proxy.port(), row.request);
    EXPECT_EQ(reply.rfind(row.status_line, 0), 0u) << row.request << " -> " << reply.substr(0, 40);
  }
  EXPECT_EQ(server.RequestCount(), 0u);
}

TEST(LoopbackProxy, ForwardsWithoutItsOwnHopHeaders) {
  Server server;
  server.Route("/p?q=1", Response::Text("forwarded"));
  httpd::Proxy proxy;
  std::string reply = RawExchange("127.0.0.1", proxy.port(),
                                  "GET " + server.Url("/p?q=1") +
                                      " HTTP/1.1\r\nHost: 127.0.0.1\r\nProxy-Connection: Keep-Alive\r\n"
                                      "User-Agent: Korinbo\r\n\r\n");
  EXPECT_NE(reply.find("forwarded"), std::string::npos) << reply;
  ASSERT_EQ(server.RequestCount(), 1u);
  auto upstream = server.Requests()[0];
  EXPECT_EQ(upstream.target, "/p?q=1");
  EXPECT_FALSE(upstream.HasHeader("Proxy-Connection"));
  EXPECT_EQ(upstream.Header("User-Agent"), "Korinbo");
  ASSERT_EQ(proxy.RequestCount(), 1u);
  EXPECT_EQ(proxy.Requests()[0].target, server.Url("/p?q=1"));
}

// The demo server as a program: first line the port, files served, SIGTERM a clean stop.
std::optional<test::ChildProcess> StartHttpd(std::vector<std::string> args) {
  args.insert(args.begin(), KORINBO_HTTPD_EXE);
  return test::ChildProcess::Start(std::move(args));
}

TEST(HttpdProgram, ServesTheFolderAndStopsOnSigterm) {
  test::TempDir dir;
  dir.Write("site/index.html", "demo page");
  auto httpd = StartHttpd({"--root", (dir.path() / "site").string(), "--port", "0", "--delay-ms", "10"});
  ASSERT_TRUE(httpd);
  std::string line = httpd->ReadLine(10s).value_or("");
  int port = 0;
  ASSERT_NO_THROW(port = std::stoi(line)) << line;
  ASSERT_GT(port, 0);
  Downloader downloader;
  EXPECT_EQ(downloader.DownloadPage("http://127.0.0.1:" + std::to_string(port) + "/", Direct()).page, "demo page");
  ASSERT_TRUE(httpd->Signal(SIGTERM));
  EXPECT_EQ(httpd->WaitExit(10s), 0);
}

TEST(HttpdProgram, BadArgumentsAreRefused) {
  struct Row {
    std::vector<std::string> args;
    int status;
  };
  const Row rows[] = {
      {{"--port", "http"}, 2},        {{"--port", "70000"}, 2}, {{"--delay-ms", "-1"}, 2},
      {{"--bogus", "1"}, 2},          {{"--root"}, 2},          {{"--root", "/nonexistent/folder"}, 1},
      {{"--address", "10.1.1.1"}, 1},
  };
  for (const auto& row : rows) {
    auto httpd = StartHttpd(row.args);
    ASSERT_TRUE(httpd);
    EXPECT_EQ(httpd->WaitExit(10s), row.status) << row.args[0];
  }
}

}  // namespace
}  // namespace korinbo
