#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <mutex>

#include "korinbo/httpd/server.h"
#include "socket_io.h"

namespace korinbo::httpd {

using detail::Fd;
using detail::SendAll;
using detail::StopSignal;

namespace {

struct Upstream {
  std::string host;
  std::uint16_t port = 80;
  std::string path;
};

std::optional<Upstream> ParseAbsoluteTarget(std::string_view target) {
  constexpr std::string_view kScheme = "http://";
  if (target.size() < kScheme.size() ||
      !detail::EqualsIgnoreCase(target.substr(0, kScheme.size()), kScheme)) {
    return std::nullopt;
  }
  target.remove_prefix(kScheme.size());
  std::size_t slash = target.find_first_of("/?");
  std::string_view authority = target.substr(0, slash);
  Upstream up;
  up.path = slash == std::string_view::npos ? "/" : std::string(target.substr(slash));
  if (up.path.front() == '?') up.path.insert(0, "/");
  if (authority.find('@') != std::string_view::npos) return std::nullopt;
  std::size_t colon = authority.rfind(':');
  if (colon != std::string_view::npos) {
    std::string_view port_text = authority.substr(colon + 1);
    unsigned port = 0;
    auto [ptr, ec] = std::from_chars(port_text.data(), port_text.data() + port_text.size(), port);
    if (ec != std::errc() || ptr != port_text.data() + port_text.size() || port == 0 || port > 65535) {
      return std::nullopt;
    }
    up.port = static_cast<std::uint16_t>(port);
    authority = authority.substr(0, colon);
  }
  up.host = std::string(authority);
  if (detail::EqualsIgnoreCase(up.host, "localhost")) up.host = "127.0.0.1";
  if (!detail::IsLoopbackAddress(up.host)) return std::nullopt;
  return up;
}

Fd ConnectTo(const Upstream& up) {
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return {};
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(up.port);
  ::inet_pton(AF_INET, up.host.c_str(), &addr.sin_addr);
  // Loopback connects finish or fail at once, so a blocking connect cannot stall here.
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return {};
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) | O_NONBLOCK);
  return fd;
}

bool IsHopByHop(std::string_view name) {
  return detail::EqualsIgnoreCase(name, "Connection") || detail::EqualsIgnoreCase(name, "Proxy-Connection") ||
         detail::EqualsIgnoreCase(name, "Keep-Alive") ||
         detail::EqualsIgnoreCase(name, "Proxy-Authorization");
}

void Refuse(int fd, int status, const StopSignal& stop) {
  std::string body = detail::ReasonPhrase(status);
  SendAll(fd,
          "HTTP/1.1 " + std::to_string(status) + " " + body +
              "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body,
          stop);
}

// Copies the upstream answer to the client until upstream ends, the client leaves, or a stop.
void Relay(int client, int upstream, const StopSignal& stop) {
  char buffer[16384];
  for (;;) {
    pollfd fds[3] = {{upstream, POLLIN, 0}, {client, POLLIN, 0}, {stop.fd(), POLLIN, 0}};
    int n = ::poll(fds, 3, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[2].revents != 0) return;
    if (fds[1].revents & (POLLHUP | POLLERR)) return;
    if (fds[1].revents & POLLIN) {
      // A client speaks again only to leave (a proxied connection is closed after one answer).
      char probe;
      ssize_t got = ::recv(client, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
      if (got <= 0 && !(got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))) return;
      if (got > 0) {
        char sink[4096];
        [[maybe_unused]] ssize_t dropped = ::recv(client, sink, sizeof sink, MSG_DONTWAIT);
      }
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t got = ::recv(upstream, buffer, sizeof buffer, 0);
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
      if (got <= 0) return;
      if (!SendAll(client, std::string_view(buffer, static_cast<std::size_t>(got)), stop)) return;
    }
  }
}

}  // namespace

struct Proxy::Impl {
  mutable std::mutex mutex;
  mutable std::condition_variable request_arrived;
  std::vector<Request> requests;
  std::unique_ptr<detail::Listener> listener;

  void Serve(Fd client, const StopSignal& stop) {
    std::string buffer;
    Request request;
    auto outcome = detail::ReadRequest(client.get(), buffer, stop, request);
    if (outcome == detail::ReadOutcome::kClosed) return;
    if (outcome != detail::ReadOutcome::kRequest) {
      Refuse(client.get(), outcome == detail::ReadOutcome::kTooLarge ? 431 : 400, stop);
      return;
    }
    {
      std::lock_guard lock(mutex);
      requests.push_back(request);
    }
    request_arrived.notify_all();
    if (request.method == "CONNECT") {
      Refuse(client.get(), 501, stop);
      return;
    }
    auto up = ParseAbsoluteTarget(request.target);
    if (!up) {
      Refuse(client.get(), 502, stop);
      return;
    }
    Fd upstream = ConnectTo(*up);
    if (!upstream.valid()) {
      Refuse(client.get(), 502, stop);
      return;
    }
    std::string forwarded = request.method + " " + up->path + " " + request.version + "\r\n";
    for (const auto& [name, value] : request.headers) {
      if (!IsHopByHop(name)) forwarded += name + ": " + value + "\r\n";
    }
    forwarded += "Connection: close\r\n\r\n";
    forwarded += request.body;
    if (!SendAll(upstream.get(), forwarded, stop)) return;
    Relay(client.get(), upstream.get(), stop);
  }
};

Proxy::Proxy(ServerOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->listener = std::make_unique<detail::Listener>(
      options, [impl = impl_.get()](Fd fd, const StopSignal& stop) { impl->Serve(std::move(fd), stop); });
}

Proxy::~Proxy() { Stop(); }

void Proxy::Stop() {
  if (impl_->listener) impl_->listener->Stop();
}

std::uint16_t Proxy::port() const { return impl_->listener->port(); }

std::string Proxy::HostPort() const { return impl_->listener->address() + ":" + std::to_string(port()); }

std::vector<Request> Proxy::Requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

std::size_t Proxy::RequestCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests.size();
}

bool Proxy::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->request_arrived.wait_for(lock, timeout, [&] { return impl_->requests.size() >= count; });
}

}  // namespace korinbo::httpd
