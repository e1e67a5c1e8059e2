#include "korinbo/httpd/server.h"

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <variant>

#include "socket_io.h"

namespace korinbo::httpd {

using detail::Fd;
using detail::SendAll;
using detail::SleepFor;
using detail::StopSignal;

std::optional<std::string> Request::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (detail::EqualsIgnoreCase(key, name)) return value;
  }
  return std::nullopt;
}

Response Response::Text(std::string body, int status) {
  Response r;
  r.status = status;
  r.body = std::move(body);
  r.headers.emplace_back("Content-Type", "text/html");
  return r;
}

Response Response::Redirect(std::string location, int status) {
  Response r;
  r.status = status;
  r.headers.emplace_back("Location", std::move(location));
  r.body = "moved";
  return r;
}

Response Response::Generated(std::uint64_t size) {
  Response r;
  r.generated_size = size;
  r.headers.emplace_back("Content-Type", "application/octet-stream");
  return r;
}

std::string GeneratedBytes(std::uint64_t offset, std::size_t length) {
  std::string out(length, '\0');
  for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<char>('a' + (offset + i) % 26);
  return out;
}

namespace {

constexpr std::size_t kBlock = 64 * 1024;
constexpr auto kWritePause = std::chrono::milliseconds(1);

// The body of one answer, whether held or generated.
class Body {
 public:
  explicit Body(const Response& r) : response_(r) {}
  std::uint64_t size() const {
    return response_.generated_size > 0 ? response_.generated_size : response_.body.size();
  }
  std::string Slice(std::uint64_t offset, std::size_t length) const {
    length = static_cast<std::size_t>(std::min<std::uint64_t>(length, size() - std::min(offset, size())));
    if (response_.generated_size > 0) return GeneratedBytes(offset, length);
    return response_.body.substr(static_cast<std::size_t>(offset), length);
  }

 private:
  const Response& response_;
};

std::string ToHex(std::size_t n) {
  std::ostringstream out;
  out << std::hex << n;
  return out.str();
}

std::string ContentTypeFor(const std::filesystem::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  if (ext == ".html" || ext == ".htm") return "text/html";
  if (ext == ".txt") return "text/plain";
  if (ext == ".xml" || ext == ".rss" || ext == ".rdf") return "application/xml";
  if (ext == ".css") return "text/css";
  if (ext == ".js") return "text/javascript";
  if (ext == ".png") return "image/png";
  if (ext == ".gif") return "image/gif";
  if (ext == ".jpg" || ext == ".jpeg") return "image/jpeg";
  return "application/octet-stream";
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The file a target names below root, or nothing when it would leave root or is malformed.
std::optional<std::filesystem::path> ResolveInFolder(const std::filesystem::path& root,
                                                     std::string_view target) {
  target = target.substr(0, target.find_first_of("?#"));
  if (!target.starts_with('/')) return std::nullopt;
  std::string decoded;
  for (std::size_t i = 0; i < target.size(); ++i) {
    if (target[i] == '%') {
      if (i + 2 >= target.size()) return std::nullopt;
      int hi = HexValue(target[i + 1]);
      int lo = HexValue(target[i + 2]);
      if (hi < 0 || lo < 0) return std::nullopt;
      decoded.push_back(static_cast<char>(hi * 16 + lo));
      i += 2;
    } else {
      decoded.push_back(target[i]);
    }
  }
  if (decoded.find('\0') != std::string::npos || decoded.find('\\') != std::string::npos) return std::nullopt;
  std::filesystem::path relative;
  std::size_t pos = 1;
  while (pos <= decoded.size()) {
    std::size_t next = decoded.find('/', pos);
    if (next == std::string::npos) next = decoded.size();
    std::string segment = decoded.substr(pos, next - pos);
    if (segment == "..") return std::nullopt;
    if (!segment.empty() && segment != ".") relative /= segment;
    pos = next + 1;
  }
  std::filesystem::path full = root / relative;
  std::error_code ec;
  if (std::filesystem::is_directory(full, ec)) full /= "index.html";
  if (!std::filesystem::is_regular_file(full, ec)) return std::nullopt;
  return full;
}

}  // namespace

struct Server::Impl {
  using Route = std::variant<Response, Handler>;

  mutable std::mutex mutex;
  mutable std::condition_variable request_arrived;
  std::map<std::string, Route, std::less<>> routes;
  std::optional<std::filesystem::path> folder;
  std::chrono::milliseconds default_delay{0};
  std::vector<Request> requests;
  std::unique_ptr<detail::Listener> listener;

  void Record(const Request& request) {
    {
      std::lock_guard lock(mutex);
      requests.push_back(request);
    }
    request_arrived.notify_all();
  }

  Response Answer(const Request& request) {
    std::optional<Route> route;
    std::optional<std::filesystem::path> root;
    std::chrono::milliseconds extra_delay;
    {
      std::lock_guard lock(mutex);
      if (auto it = routes.find(request.target); it != routes.end()) route = it->second;
      root = folder;
      extra_delay = default_delay;
    }
    Response response;
    if (route) {
      if (auto* fixed = std::get_if<Response>(&*route)) {
        response = *fixed;
      } else {
        response = std::get<Handler>(*route)(request);
      }
    } else if (root && (request.method == "GET" || request.method == "HEAD")) {
      if (auto file = ResolveInFolder(*root, request.target)) {
        std::ifstream in(*file, std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        if (in.bad()) {
          response = Response::Text("cannot read the file", 500);
        } else {
          response.body = std::move(content).str();
          response.headers.emplace_back("Content-Type", ContentTypeFor(*file));
        }
      } else {
        response = Response::Text("Not Found", 404);
      }
    } else {
      response = Response::Text("Not Found", 404);
    }
    response.delay += extra_delay;
    return response;
  }

  // Sends one answer; false when the connection must close afterwards.
  static bool Send(int fd, const Request& request, const Response& response, bool keep_alive,
                   const StopSignal& stop) {
    if (!SleepFor(response.delay, stop)) return false;
    if (response.fault == Fault::kNeverAnswer) {
      char sink[4096];
      while (detail::ReceiveSome(fd, sink, sizeof sink, stop) > 0) {
      }
      return false;
    }
    const bool chunked = response.chunked || response.fault == Fault::kBrokenChunked;
    const bool cut = response.fault == Fault::kCloseMidBody || response.fault == Fault::kResetMidBody ||
                     response.fault == Fault::kBrokenChunked;
    keep_alive = keep_alive && !cut;
    const bool no_body = request.method == "HEAD" || response.status == 204 || response.status == 304 ||
                         (response.status >= 100 && response.status < 200);
    Body body(response);

    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " +
                       (response.reason.empty() ? detail::ReasonPhrase(response.status) : response.reason) +
                       "\r\n";
    if (chunked) {
      head += "Transfer-Encoding: chunked\r\n";
    } else if (response.status != 204 && response.status != 304) {
      head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    if (!keep_alive) head += "Connection: close\r\n";
    for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
    head += "\r\n";
    if (!response.write_sizes.empty() || response.fault == Fault::kTrickle) detail::SetNoDelay(fd);
    if (!SendAll(fd, head, stop)) return false;
    if (no_body) return keep_alive;

    std::uint64_t limit = body.size();
    if (response.fault == Fault::kCloseMidBody || response.fault == Fault::kResetMidBody ||
        response.fault == Fault::kBrokenChunked) {
      limit = std::min<std::uint64_t>(limit, response.fault_after);
    }
    std::uint64_t offset = 0;
    std::size_t size_index = 0;
    while (offset < limit) {
      std::size_t piece = kBlock;
      if (response.fault == Fault::kTrickle) {
        piece = 1;
      } else if (!response.write_sizes.empty()) {
        piece = std::max<std::size_t>(1, response.write_sizes[size_index % response.write_sizes.size()]);
        ++size_index;
      }
      piece = static_cast<std::size_t>(std::min<std::uint64_t>(piece, limit - offset));
      std::string data = body.Slice(offset, piece);
      if (chunked) data = ToHex(data.size()) + "\r\n" + data + "\r\n";
      if (!SendAll(fd, data, stop)) return false;
      offset += piece;
      if (response.fault == Fault::kTrickle) {
        if (!SleepFor(response.trickle_interval, stop)) return false;
      } else if (!response.write_sizes.empty()) {
        if (!SleepFor(kWritePause, stop)) return false;
      }
    }
    switch (response.fault) {
      case Fault::kBrokenChunked:
        SendAll(fd, "zz-not-a-size\r\nrest\r\n", stop);
        SleepFor(std::chrono::milliseconds(100), stop);
        return false;
      case Fault::kCloseMidBody:
        // Let the client take what was sent before the end arrives.
        SleepFor(std::chrono::milliseconds(100), stop);
        return false;
      case Fault::kResetMidBody:
        SleepFor(std::chrono::milliseconds(200), stop);
        detail::SetResetOnClose(fd);
        return false;
      default:
        break;
    }
    if (chunked && !SendAll(fd, "0\r\n\r\n", stop)) return false;
    return keep_alive;
  }

  void Serve(Fd connection, const StopSignal& stop) {
    std::string buffer;
    for (;;) {
      Request request;
      auto outcome = detail::ReadRequest(connection.get(), buffer, stop, request);
      if (outcome == detail::ReadOutcome::kClosed) return;
      if (outcome != detail::ReadOutcome::kRequest) {
        Response bad = Response::Text("Bad Request", outcome == detail::ReadOutcome::kTooLarge ? 431 : 400);
        Send(connection.get(), Request{}, bad, false, stop);
        return;
      }
      Record(request);
      bool keep_alive = request.version == "HTTP/1.1";
      if (auto connection_header = request.Header("Connection")) {
        if (detail::EqualsIgnoreCase(*connection_header, "close")) keep_alive = false;
        if (detail::EqualsIgnoreCase(*connection_header, "keep-alive")) keep_alive = true;
      }
      Response response = Answer(request);
      if (!Send(connection.get(), request, response, keep_alive, stop)) return;
    }
  }
};

Server::Server(ServerOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->listener = std::make_unique<detail::Listener>(
      options, [impl = impl_.get()](Fd fd, const StopSignal& stop) { impl->Serve(std::move(fd), stop); });
}

Server::~Server() { Stop(); }

void Server::Stop() {
  if (impl_->listener) impl_->listener->Stop();
}

std::uint16_t Server::port() const { return impl_->listener->port(); }
const std::string& Server::address() const { return impl_->listener->address(); }

std::string Server::Url(std::string_view target) const {
  return "http://" + address() + ":" + std::to_string(port()) + std::string(target);
}

void Server::Route(std::string target, Response response) {
  std::lock_guard lock(impl_->mutex);
  impl_->routes.insert_or_assign(std::move(target), std::move(response));
}

void Server::Route(std::string target, Handler handler) {
  std::lock_guard lock(impl_->mutex);
  impl_->routes.insert_or_assign(std::move(target), std::move(handler));
}

void Server::ServeFolder(std::filesystem::path root) {
  std::lock_guard lock(impl_->mutex);
  impl_->folder = std::move(root);
}

void Server::SetDefaultDelay(std::chrono::milliseconds delay) {
  std::lock_guard lock(impl_->mutex);
  impl_->default_delay = delay;
}

std::vector<Request> Server::Requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

std::size_t Server::RequestCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests.size();
}

bool Server::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->request_arrived.wait_for(lock, timeout, [&] { return impl_->requests.size() >= count; });
}

std::size_t Server::ConnectionCount() const { return impl_->listener->accepted(); }

void Server::ClearRequests() {
  std::lock_guard lock(impl_->mutex);
  impl_->requests.clear();
}

}  // namespace korinbo::httpd
