#pragma once
// Sockets for the loopback server and proxy: an owned descriptor, a stop signal every wait also
// watches, and waits and writes that give up as soon as the signal is raised.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "korinbo/httpd/server.h"

namespace korinbo::httpd::detail {

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.Release();
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset();

 private:
  int fd_ = -1;
};

// A pipe that becomes readable for good once raised, so that any number of threads polling it wake.
class StopSignal {
 public:
  StopSignal();
  void Raise();
  bool raised() const { return raised_.load(); }
  int fd() const { return read_end_.get(); }

 private:
  Fd read_end_;
  Fd write_end_;
  std::atomic<bool> raised_{false};
};

enum class Wait { kReady, kStopped, kTimeout, kError };

// Waits for `events` on fd, or the stop signal; timeout_ms < 0 waits without a limit.
Wait WaitFor(int fd, short events, const StopSignal& stop, int timeout_ms = -1);
// False when stopped.
bool SleepFor(std::chrono::milliseconds duration, const StopSignal& stop);
// Writes everything; false when the peer is gone or the signal was raised.
bool SendAll(int fd, std::string_view data, const StopSignal& stop);
// Reads what is there (waiting for something to arrive); 0 at the peer's end or on failure.
std::size_t ReceiveSome(int fd, char* buffer, std::size_t size, const StopSignal& stop);

void SetNoDelay(int fd);
// Makes the next close send a TCP reset instead of an orderly end.
void SetResetOnClose(int fd);

enum class ReadOutcome { kRequest, kClosed, kBad, kTooLarge };
// Reads one request from the connection; `buffer` carries bytes read past it to the next call.
ReadOutcome ReadRequest(int fd, std::string& buffer, const StopSignal& stop, Request& request);

bool EqualsIgnoreCase(std::string_view a, std::string_view b);
std::string ReasonPhrase(int status);
// True for a dotted IPv4 address in 127.0.0.0/8.
bool IsLoopbackAddress(const std::string& address);

// Accepts connections on a bound socket and runs `on_connection` for each one on its own thread.
class Listener {
 public:
  using ConnectionFn = std::function<void(Fd, const StopSignal&)>;

  Listener(const ServerOptions& options, ConnectionFn on_connection);
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  std::uint16_t port() const { return port_; }
  const std::string& address() const { return address_; }
  std::size_t accepted() const { return accepted_.load(); }
  void Stop();

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  void AcceptLoop();
  void ReapFinished();

  std::string address_;
  std::uint16_t port_ = 0;
  Fd listen_fd_;
  StopSignal stop_;
  ConnectionFn on_connection_;
  std::mutex workers_mutex_;
  std::list<Worker> workers_;
  std::thread acceptor_;
  std::once_flag stopped_;
  std::atomic<std::size_t> accepted_{0};
};

}  // namespace korinbo::httpd::detail
