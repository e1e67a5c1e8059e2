#include "socket_io.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <stdexcept>

namespace korinbo::httpd::detail {

namespace {

constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
constexpr std::size_t kMaxRequestBody = 1024 * 1024;
constexpr std::size_t kMaxConnections = 512;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool ParseHead(std::string_view head, Request& request) {
  std::size_t line_end = head.find("\r\n");
  std::string_view line = head.substr(0, line_end);
  std::size_t sp1 = line.find(' ');
  if (sp1 == std::string_view::npos) return false;
  std::size_t sp2 = line.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos) return false;
  request.method = std::string(line.substr(0, sp1));
  request.target = std::string(line.substr(sp1 + 1, sp2 - sp1 - 1));
  request.version = std::string(line.substr(sp2 + 1));
  if (request.method.empty() || request.target.empty() || !request.version.starts_with("HTTP/")) return false;
  request.headers.clear();
  std::string_view rest = line_end == std::string_view::npos ? std::string_view{} : head.substr(line_end + 2);
  while (!rest.empty()) {
    std::size_t end = rest.find("\r\n");
    std::string_view header = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 2);
    if (header.empty()) continue;
    std::size_t colon = header.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    request.headers.emplace_back(std::string(header.substr(0, colon)),
                                 std::string(Trim(header.substr(colon + 1))));
  }
  return true;
}

}  // namespace

void Fd::Reset() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

StopSignal::StopSignal() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("httpd: cannot create a pipe");
  read_end_ = Fd(fds[0]);
  write_end_ = Fd(fds[1]);
}

void StopSignal::Raise() {
  if (raised_.exchange(true)) return;
  char byte = 1;
  // The pipe is new and empty: one byte always fits, and it is never read.
  [[maybe_unused]] ssize_t n = ::write(write_end_.get(), &byte, 1);
}

Wait WaitFor(int fd, short events, const StopSignal& stop, int timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  for (;;) {
    if (stop.raised()) return Wait::kStopped;
    pollfd fds[2] = {{fd, events, 0}, {stop.fd(), POLLIN, 0}};
    int wait_ms = -1;
    if (timeout_ms >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait_ms = static_cast<int>(std::max<long long>(0, left));
    }
    int n = ::poll(fds, 2, wait_ms);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Wait::kError;
    }
    if (fds[1].revents != 0 || stop.raised()) return Wait::kStopped;
    if (n == 0) return Wait::kTimeout;
    if (fds[0].revents & (events | POLLHUP | POLLERR | POLLNVAL)) return Wait::kReady;
  }
}

bool SleepFor(std::chrono::milliseconds duration, const StopSignal& stop) {
  if (duration.count() <= 0) return !stop.raised();
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + duration;
  for (;;) {
    if (stop.raised()) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return true;
    pollfd fd{stop.fd(), POLLIN, 0};
    int n = ::poll(&fd, 1, static_cast<int>(std::min<long long>(left, 1000)));
    if (n > 0) return false;
  }
}

bool SendAll(int fd, std::string_view data, const StopSignal& stop) {
  while (!data.empty()) {
    if (stop.raised()) return false;
    ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n > 0) {
      data.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (WaitFor(fd, POLLOUT, stop) != Wait::kReady) return false;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
  return true;
}

std::size_t ReceiveSome(int fd, char* buffer, std::size_t size, const StopSignal& stop) {
  for (;;) {
    ssize_t n = ::recv(fd, buffer, size, 0);
    if (n > 0) return static_cast<std::size_t>(n);
    if (n == 0) return 0;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return 0;
    if (WaitFor(fd, POLLIN, stop) != Wait::kReady) return 0;
  }
}

void SetNoDelay(int fd) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void SetResetOnClose(int fd) {
  linger option{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
}

ReadOutcome ReadRequest(int fd, std::string& buffer, const StopSignal& stop, Request& request) {
  char chunk[8192];
  std::size_t head_end;
  for (;;) {
    head_end = buffer.find("\r\n\r\n");
    if (head_end != std::string::npos) break;
    if (buffer.size() > kMaxHeaderBytes) return ReadOutcome::kTooLarge;
    std::size_t n = ReceiveSome(fd, chunk, sizeof chunk, stop);
    if (n == 0) return buffer.empty() ? ReadOutcome::kClosed : ReadOutcome::kBad;
    buffer.append(chunk, n);
  }
  if (head_end > kMaxHeaderBytes) return ReadOutcome::kTooLarge;
  // Blank lines before a request are allowed by HTTP/1.1 and some clients send them.
  std::size_t start = 0;
  while (buffer.compare(start, 2, "\r\n") == 0 && start < head_end) start += 2;
  if (!ParseHead(std::string_view(buffer).substr(start, head_end - start), request)) return ReadOutcome::kBad;
  buffer.erase(0, head_end + 4);

  request.body.clear();
  if (auto length_text = request.Header("Content-Length")) {
    std::size_t length = 0;
    const char* first = length_text->data();
    const char* last = first + length_text->size();
    auto [ptr, ec] = std::from_chars(first, last, length);
    if (ec != std::errc() || ptr != last) return ReadOutcome::kBad;
    if (length > kMaxRequestBody) return ReadOutcome::kTooLarge;
    while (buffer.size() < length) {
      std::size_t n = ReceiveSome(fd, chunk, sizeof chunk, stop);
      if (n == 0) return ReadOutcome::kBad;
      buffer.append(chunk, n);
    }
    request.body = buffer.substr(0, length);
    buffer.erase(0, length);
  } else if (request.HasHeader("Transfer-Encoding")) {
    return ReadOutcome::kBad;  // no client of ours sends a chunked request
  }
  return ReadOutcome::kRequest;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 204:
      return "No Content";
    case 206:
      return "Partial Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 304:
      return "Not Modified";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 413:
      return "Content Too Large";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

bool IsLoopbackAddress(const std::string& address) {
  in_addr parsed{};
  if (::inet_pton(AF_INET, address.c_str(), &parsed) != 1) return false;
  return (ntohl(parsed.s_addr) >> 24) == 127;
}

Listener::Listener(const ServerOptions& options, ConnectionFn on_connection)
    : address_(options.address), on_connection_(std::move(on_connection)) {
  if (!IsLoopbackAddress(address_)) {
    throw std::runtime_error("httpd: not a loopback address: " + address_);
  }
  listen_fd_ = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!listen_fd_.valid()) throw std::runtime_error("httpd: cannot create a socket");
  int one = 1;
  ::setsockopt(listen_fd_.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(options.port);
  ::inet_pton(AF_INET, address_.c_str(), &addr.sin_addr);
  if (::bind(listen_fd_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    throw std::runtime_error("httpd: cannot bind " + address_ + ":" + std::to_string(options.port) + ": " +
                             std::strerror(errno));
  }
  if (::listen(listen_fd_.get(), 128) != 0) throw std::runtime_error("httpd: cannot listen");
  socklen_t len = sizeof addr;
  ::getsockname(listen_fd_.get(), reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

Listener::~Listener() { Stop(); }

void Listener::Stop() {
  std::call_once(stopped_, [this] {
    stop_.Raise();
    if (acceptor_.joinable()) acceptor_.join();
    listen_fd_.Reset();
    std::list<Worker> workers;
    {
      std::lock_guard lock(workers_mutex_);
      workers.swap(workers_);
    }
    for (auto& worker : workers) worker.thread.join();
  });
}

void Listener::ReapFinished() {
  std::lock_guard lock(workers_mutex_);
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (it->done->load()) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

void Listener::AcceptLoop() {
  while (!stop_.raised()) {
    Wait w = WaitFor(listen_fd_.get(), POLLIN, stop_, 500);
    if (w == Wait::kStopped) break;
    ReapFinished();
    if (w != Wait::kReady) continue;
    Fd client(::accept4(listen_fd_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!client.valid()) continue;
    ++accepted_;
    std::lock_guard lock(workers_mutex_);
    if (workers_.size() >= kMaxConnections) continue;  // shed load: the client sees a closed connection
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([this, done, fd = client.Release()]() mutable {
      try {
        on_connection_(Fd(fd), stop_);
      } catch (...) {
        // A handler that throws loses its connection, not the server.
      }
      done->store(true);
    });
    workers_.push_back(Worker{std::move(thread), std::move(done)});
  }
}

}  // namespace korinbo::httpd::detail
