// korinbo-httpd: serves a folder's files on a loopback address, for the offline demo.
//   korinbo-httpd [--root DIR] [--port N] [--delay-ms N] [--address 127.0.0.X]
// The first line on standard output is the port; SIGTERM or SIGINT stops the server.
#include <pthread.h>
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>

#include "korinbo/httpd/server.h"

namespace {

constexpr std::string_view kUsage =
    "usage: korinbo-httpd [--root DIR] [--port N] [--delay-ms N] [--address 127.0.0.X]\n"
    "  Serves the files of DIR (default: the working directory) on ADDRESS:N (default 127.0.0.1,\n"
    "  N = 0 picks a free port). Prints the port as the first line; stops on SIGTERM or SIGINT.\n";

template <typename T>
bool ParseNumber(std::string_view text, T max, T& out) {
  unsigned long long value = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size() || value > max) return false;
  out = static_cast<T>(value);
  return true;
}

int UsageError(std::string_view message) {
  std::cerr << "korinbo-httpd: " << message << "\n" << kUsage;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path root = ".";
  korinbo::httpd::ServerOptions options;
  unsigned delay_ms = 0;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (i + 1 >= argc) return UsageError("missing value for " + std::string(arg));
    std::string_view value = argv[++i];
    if (arg == "--root") {
      root = std::filesystem::path(std::string(value));
    } else if (arg == "--port") {
      if (!ParseNumber<std::uint16_t>(value, 65535, options.port)) return UsageError("bad port");
    } else if (arg == "--delay-ms") {
      if (!ParseNumber<unsigned>(value, 600000, delay_ms)) return UsageError("bad delay");
    } else if (arg == "--address") {
      options.address = std::string(value);
    } else {
      return UsageError("unknown option " + std::string(arg));
    }
  }
  std::error_code ec;
  if (!std::filesystem::is_directory(root, ec)) {
    std::cerr << "korinbo-httpd: not a folder: " << root.string() << "\n";
    return 1;
  }

  // Blocked before any thread starts, so that only sigwait below receives them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  try {
    korinbo::httpd::Server server(options);
    server.ServeFolder(root);
    server.SetDefaultDelay(std::chrono::milliseconds(delay_ms));
    std::cout << server.port() << std::endl;
    std::cerr << "korinbo-httpd: serving " << root.string() << " on " << server.Url("/") << "\n";
    int received = 0;
    sigwait(&stop_signals, &received);
    server.Stop();
  } catch (const std::exception& e) {
    std::cerr << "korinbo-httpd: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
