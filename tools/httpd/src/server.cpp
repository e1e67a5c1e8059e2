// Serving and forwarding are cpp-httplib's. The accepted connections' sockets are handled here: for
// the answers the library cannot give (faults, pieces of chosen sizes), and so that a stop ends every
// wait at once.
#include "korinbo/httpd/server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace korinbo::httpd {
namespace {

using namespace std::chrono_literals;

// The connection the current thread serves: its socket, for the answers written straight on it, and
// whether it stays open for another request (set for each request the library takes as valid).
thread_local int t_socket = -1;
thread_local bool t_keep_open = false;

bool IsLoopbackAddress(const char* address) {
  in_addr parsed{};
  return ::inet_pton(AF_INET, address, &parsed) == 1 && (ntohl(parsed.s_addr) >> 24) == 127;
}

// Forwarding a request to a loopback host: the client, and the target's path and query.
std::optional<std::pair<httplib::Client, std::string>> LoopbackUpstream(const std::string& target) {
  char host[16] = "";
  int port = 80, host_end = 0, port_end = 0;
  std::sscanf(target.c_str(), "http://%15[0-9.]%n:%5d%n", host, &host_end, &port, &port_end);
  const auto path_at = static_cast<std::size_t>(std::max(host_end, port_end));
  // After the authority, a path, a query or the end ('\0' is one of strchr's characters).
  if (host_end == 0 || !IsLoopbackAddress(host) || port < 1 || port > 65535 ||
      std::strchr("/?", target[path_at]) == nullptr) {
    return std::nullopt;
  }
  std::string path = target.substr(path_at);
  if (!path.starts_with('/')) path.insert(0, 1, '/');
  return std::pair(httplib::Client(host, port), std::move(path));
}

// A thread for each connection as it comes, so that connections held open never keep a new one
// waiting; shutdown waits for them all.
struct ThreadPerConnection final : httplib::TaskQueue {
  // Shared, since the last thread lets go of it after the queue is gone.
  std::shared_ptr<std::atomic<int>> running = std::make_shared<std::atomic<int>>(0);
  void enqueue(std::function<void()> task) override {
    ++*running;
    std::thread([running = running, task = std::move(task)] {
      task();
      if (--*running == 0) running->notify_all();
    }).detach();
  }
  void shutdown() override {
    for (int left = *running; left > 0; left = *running) running->wait(left);
  }
};

}  // namespace

struct Endpoint::Impl : httplib::Server {
  const std::string address;
  const bool proxy;  // else a server of scripts and a folder
  std::uint16_t port = 0;
  std::thread listener;
  std::atomic<std::size_t> connections{0};
  std::mutex mutex;
  std::condition_variable changed;  // a request arrived, or the stop came
  bool stopping = false;
  std::set<int> open_sockets;
  std::vector<Request> requests;
  std::map<std::string, httpd::Handler, std::less<>> routes;
  std::chrono::milliseconds default_delay{0};

  Impl(const ServerOptions& options, bool forwards) : address(options.address), proxy(forwards) {
    if (!IsLoopbackAddress(address.c_str())) {
      throw std::runtime_error("httpd: not a loopback address: " + address);
    }
    new_task_queue = [] { return new ThreadPerConnection; };
    set_write_timeout(60);                // a client of the tests may read nothing for a while
    set_socket_options([](socket_t fd) {  // the library's own would let two servers share a port
      int one = 1;
      ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    });
    const int bound = options.port == 0 ? bind_to_any_port(address)
                                        : (bind_to_port(address, options.port) ? options.port : -1);
    if (bound <= 0) {
      throw std::runtime_error("httpd: cannot bind " + address + ":" + std::to_string(options.port));
    }
    port = static_cast<std::uint16_t>(bound);
    set_error_handler([this](const httplib::Request&, httplib::Response& out) {
      if (!proxy && out.status == 404 && out.body.empty()) out.set_content("Not Found", "text/html");
    });
    // Records every valid request and answers it; one left without a status goes on to the library's
    // own routing.
    set_pre_routing_handler([this](const httplib::Request& in, httplib::Response& out) {
      t_keep_open = true;
      httplib::Headers sent = in.headers;
      for (const char* added : {"REMOTE_ADDR", "REMOTE_PORT", "LOCAL_ADDR", "LOCAL_PORT"}) sent.erase(added);
      Request request{in.method, in.target, in.version, {sent.begin(), sent.end()}, in.body};
      std::unique_lock lock(mutex);
      requests.push_back(request);
      lock.unlock();
      changed.notify_all();
      proxy ? Forward(request, in, out) : Answer(request, out);
      return out.status == -1 ? HandlerResponse::Unhandled : HandlerResponse::Handled;
    });
    listener = std::thread([this] { listen_after_bind(); });
    while (!is_running()) std::this_thread::sleep_for(1ms);
  }

  // False when the stop came first.
  bool Sleep(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex);
    return !changed.wait_for(lock, duration, [&] { return stopping; });
  }

  // In place of the library's loop, which makes a new stream for each request and so loses what a
  // client sent ahead.
  bool process_and_close_socket(socket_t fd) override {
    ++connections;
    int one = 1;  // else Nagle's rule holds a kept-alive connection's next answer back
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    t_socket = fd;
    std::unique_lock lock(mutex);
    open_sockets.insert(fd);
    if (stopping) ::shutdown(fd, SHUT_RDWR);  // the stop came first
    lock.unlock();
    httplib::detail::process_client_socket(
        fd, read_timeout_sec_, read_timeout_usec_, write_timeout_sec_, write_timeout_usec_,
        [&](httplib::Stream& stream) {
          bool closed = false;
          do {
            t_keep_open = false;  // and so it stays for a request the library refuses
          } while (process_request(stream, proxy, closed, nullptr) && t_keep_open && !closed && !proxy);
          return true;
        });
    lock.lock();
    open_sockets.erase(fd);
    ::close(fd);
    return true;
  }

  void Answer(const Request& request, httplib::Response& out) {
    if (auto length = request.Header("Content-Length");
        length && (length->empty() || length->find_first_not_of("0123456789") != std::string::npos)) {
      out.status = 400;  // the library would take the rest for the next request
      t_keep_open = false;
      return;
    }
    std::unique_lock lock(mutex);
    const auto route = routes.find(request.target);
    const httpd::Handler script = route == routes.end() ? nullptr : route->second;
    const std::chrono::milliseconds delay = default_delay;
    lock.unlock();
    if (!script) {
      Sleep(delay);  // then the library serves the folder, or 404
      return;
    }
    Response r = script(request);
    out.status = r.status;
    for (const auto& [name, value] : r.headers) out.set_header(name, value);
    out.body = r.body;
    const bool plain =
        r.generated_size == 0 && r.fault == Fault::kNone && r.write_sizes.empty() && !r.chunked;
    if (Sleep(delay + r.delay) && !plain) WriteRaw(r);
  }

  // Any answer but a plain one is written here, straight on the socket, and ends the connection: the
  // head, then the body in the scripted pieces up to where a fault cuts it.
  void WriteRaw(const Response& r) {
    const int fd = t_socket;
    const bool chunked = r.chunked || r.fault == Fault::kBrokenChunked;
    const bool reset = r.fault == Fault::kResetMidBody;
    const bool cut = reset || r.fault == Fault::kCloseMidBody || r.fault == Fault::kBrokenChunked;
    const std::uint64_t size = r.generated_size > 0 ? r.generated_size : r.body.size();
    const std::uint64_t end = cut ? std::min<std::uint64_t>(size, r.fault_after) : size;
    const auto send = [fd](std::string_view data) {
      for (ssize_t sent = 0; !data.empty(); data.remove_prefix(static_cast<std::size_t>(sent))) {
        if ((sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL)) <= 0) return false;
      }
      return true;
    };
    std::string head = "HTTP/1.1 " + std::to_string(r.status) + " \r\nConnection: close\r\n";
    for (const auto& [name, value] : r.headers) head += name + ": " + value + "\r\n";
    head += chunked ? "Transfer-Encoding: chunked\r\n\r\n"
                    : "Content-Length: " + std::to_string(size) + "\r\n\r\n";
    const std::string_view last = r.fault == Fault::kBrokenChunked ? "zz-not-a-size\r\nrest\r\n"
                                  : chunked                        ? "0\r\n\r\n"
                                                                   : "";
    bool sent = r.fault != Fault::kNeverAnswer && send(head);
    for (std::uint64_t offset = 0, pieces = 0; sent && offset < end;) {
      const std::size_t wanted = r.write_sizes.empty() ? (r.fault == Fault::kTrickle ? 1 : 64 * 1024)
                                                       : r.write_sizes[pieces++ % r.write_sizes.size()];
      const auto piece = static_cast<std::size_t>(std::clamp<std::uint64_t>(wanted, 1, end - offset));
      std::string data = r.generated_size > 0 ? GeneratedBytes(offset, piece) : r.body.substr(offset, piece);
      if (chunked) {
        char digits[16];
        data = std::string(digits, std::to_chars(digits, std::end(digits), piece, 16).ptr) + "\r\n" + data +
               "\r\n";
      }
      offset += piece;
      const auto pause = r.fault == Fault::kTrickle ? r.trickle_interval : r.write_sizes.empty() ? 0ms : 1ms;
      sent = send(data) && Sleep(pause);
    }
    if (r.fault == Fault::kNeverAnswer) {
      pollfd gone{fd, POLLRDHUP, 0};  // the client leaving, or the stop
      ::poll(&gone, 1, -1);
    } else if (sent && send(last) && cut) {
      Sleep(reset ? 200ms : 100ms);  // the client takes what came before the end
    }
    if (reset) {
      sockaddr none{.sa_family = AF_UNSPEC, .sa_data = {}};  // drops the connection with a reset
      ::connect(fd, &none, sizeof none);
    }
    ::shutdown(fd, SHUT_RDWR);  // what the library writes next goes nowhere
  }

  // Forwards the request to its loopback host; 502 when it cannot, 501 for CONNECT.
  void Forward(const Request& request, const httplib::Request& in, httplib::Response& out) {
    out.status = request.method == "CONNECT" ? 501 : 502;
    auto upstream = LoopbackUpstream(request.target);
    if (request.method == "CONNECT" || !upstream) return;
    auto& [client, path] = *upstream;
    client.set_decompress(false);
    client.set_url_encode(false);
    httplib::Request forwarded = in;
    forwarded.path = path;
    forwarded.headers = {request.headers.begin(), request.headers.end()};  // without the library's own
    for (const char* hop : {"Connection", "Proxy-Connection", "Keep-Alive", "Proxy-Authorization"}) {
      forwarded.headers.erase(hop);
    }
    if (auto answer = client.send(forwarded)) {
      out = std::move(*answer);
      for (const char* framing : {"Connection", "Keep-Alive", "Content-Length", "Transfer-Encoding"}) {
        out.headers.erase(framing);
      }
    }
  }
};

std::optional<std::string> Request::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (key.size() == name.size() && ::strncasecmp(key.data(), name.data(), name.size()) == 0) return value;
  }
  return std::nullopt;
}

Response Response::Text(std::string body, int status) {
  return Response{.status = status, .headers = {{"Content-Type", "text/html"}}, .body = std::move(body)};
}

Response Response::Redirect(std::string location, int status) {
  return Response{.status = status, .headers = {{"Location", std::move(location)}}, .body = "moved"};
}

Response Response::Generated(std::uint64_t size) {
  return Response{.headers = {{"Content-Type", "application/octet-stream"}}, .generated_size = size};
}

std::string GeneratedBytes(std::uint64_t offset, std::size_t length) {
  std::string out(length, '\0');
  for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<char>('a' + (offset + i) % 26);
  return out;
}

Endpoint::Endpoint(const ServerOptions& options, bool proxy)
    : impl_(std::make_unique<Impl>(options, proxy)) {}
Endpoint::~Endpoint() { Stop(); }

void Endpoint::Stop() {
  {
    std::lock_guard lock(impl_->mutex);
    if (std::exchange(impl_->stopping, true)) return;
    for (int fd : impl_->open_sockets) ::shutdown(fd, SHUT_RDWR);  // ends every read, write and poll on it
  }
  impl_->changed.notify_all();
  impl_->stop();
  impl_->listener.join();
}

std::uint16_t Endpoint::port() const { return impl_->port; }
const std::string& Endpoint::address() const { return impl_->address; }
std::size_t Endpoint::ConnectionCount() const { return impl_->connections; }

std::vector<Request> Endpoint::Requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

bool Endpoint::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, timeout, [&] { return impl_->requests.size() >= count; });
}

void Endpoint::ClearRequests() {
  std::lock_guard lock(impl_->mutex);
  impl_->requests.clear();
}

Server::Server(ServerOptions options) : Endpoint(options, false) {}

void Server::Route(std::string target, Response response) {
  Route(std::move(target), [response = std::move(response)](const Request&) { return response; });
}

void Server::Route(std::string target, Handler handler) {
  std::lock_guard lock(impl_->mutex);
  impl_->routes.insert_or_assign(std::move(target), std::move(handler));
}

void Server::ServeFolder(const std::filesystem::path& root) {
  std::lock_guard lock(impl_->mutex);  // which every request takes before it reaches the folder
  impl_->set_mount_point("/", root.string());
}

void Server::SetDefaultDelay(std::chrono::milliseconds delay) {
  std::lock_guard lock(impl_->mutex);
  impl_->default_delay = delay;
}

Proxy::Proxy(ServerOptions options) : Endpoint(options, true) {}

}  // namespace korinbo::httpd
