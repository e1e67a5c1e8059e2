#pragma once
// A small HTTP/1.1 server and forwarding proxy on loopback addresses, for the tests, the benchmarks
// and the offline demo. Routes answer from a script, faults included; requests are recorded for
// assertions. Stop ends every wait in here, so that a test can never hang on the server.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korinbo::httpd {

using Headers = std::vector<std::pair<std::string, std::string>>;

struct Request {
  std::string method;
  std::string target;  // as sent: "/path?q" to a server, "http://host:port/path" to a proxy
  std::string version;
  Headers headers;  // names as sent
  std::string body;

  // The first header of that name, compared without regard to case.
  std::optional<std::string> Header(std::string_view name) const;
  bool HasHeader(std::string_view name) const { return Header(name).has_value(); }
};

enum class Fault {
  kNone,
  kNeverAnswer,    // read the request, then stay silent until the client gives up
  kCloseMidBody,   // full Content-Length announced, close after `fault_after` body bytes
  kResetMidBody,   // as above, but a TCP reset instead of an orderly close
  kTrickle,        // one body byte per `trickle_interval`
  kBrokenChunked,  // chunked encoding: a first chunk of `fault_after` bytes, then a bad size line
};

// An answer with a fault, write sizes, chunking or a generated body ends its connection.
struct Response {
  int status = 200;
  Headers headers{};
  std::string body{};
  std::uint64_t generated_size = 0;    // if set, the body: that many GeneratedBytes, streamed
  std::chrono::milliseconds delay{0};  // before the status line
  Fault fault = Fault::kNone;
  std::size_t fault_after = 0;
  std::chrono::milliseconds trickle_interval{5};
  // The body's writes, in these sizes (repeated), each with a short pause after it, so that the
  // client sees reads of odd sizes. Empty: as large as possible.
  std::vector<std::size_t> write_sizes{};
  bool chunked = false;  // Transfer-Encoding: chunked, one chunk per write

  static Response Text(std::string body, int status = 200);
  static Response Redirect(std::string location, int status = 302);
  static Response Generated(std::uint64_t size);
};

// `length` bytes of the generated body ("abc...z" repeated) from `offset`.
std::string GeneratedBytes(std::uint64_t offset, std::size_t length);

// Runs on the connection's thread; it must return by itself (Stop waits for it), and may block a
// while to hold an answer back.
using Handler = std::function<Response(const Request&)>;

struct ServerOptions {
  std::string address = "127.0.0.1";  // any 127.x.x.x; other addresses are refused
  std::uint16_t port = 0;             // 0: an ephemeral port
};

// What the server and the proxy share: a listening loopback address and the requests received.
class Endpoint {
 public:
  ~Endpoint();
  std::uint16_t port() const;
  const std::string& address() const;
  std::vector<Request> Requests() const;
  std::size_t RequestCount() const { return Requests().size(); }
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;  // false on timeout
  void ClearRequests();
  // Connections accepted so far, also those that never made a valid request (a TLS hello, say).
  std::size_t ConnectionCount() const;
  // Closes every socket and joins the threads; the destructor calls it.
  void Stop();

 protected:
  struct Impl;
  // Throws std::runtime_error when the address is not a loopback address or cannot be bound.
  Endpoint(const ServerOptions& options, bool proxy);
  std::unique_ptr<Impl> impl_;
};

class Server : public Endpoint {
 public:
  explicit Server(ServerOptions options = {});
  std::string Url(std::string_view target = "/") const {  // "http://ADDRESS:PORT" + target
    return "http://" + address() + ":" + std::to_string(port()) + std::string(target);
  }
  // Routes match the request target exactly (path and query); a later one replaces an earlier one.
  // Unrouted targets come from the folder, if one is served, else 404.
  void Route(std::string target, Response response);
  void Route(std::string target, Handler handler);
  // Files below `root`; "/" and "folder/" give their index.html; targets that climb out are 404.
  void ServeFolder(const std::filesystem::path& root);
  void SetDefaultDelay(std::chrono::milliseconds delay);  // added to every answer's own
};

// A forwarding proxy for absolute-URI requests, one on each connection, to loopback hosts only
// (else 502); CONNECT is refused with 501.
class Proxy : public Endpoint {
 public:
  explicit Proxy(ServerOptions options = {});
  std::string HostPort() const { return address() + ":" + std::to_string(port()); }  // as a proxy setting
};

}  // namespace korinbo::httpd
