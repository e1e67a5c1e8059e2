// korinbo-httpd: serves a folder's files on a loopback address, for the offline demo.
#include <signal.h>

#include <charconv>
#include <iostream>
#include <map>

#include "korinbo/httpd/server.h"

namespace {

constexpr std::string_view kUsage =
    "usage: korinbo-httpd [--root DIR] [--port N] [--delay-ms N] [--address 127.0.0.X]\n"
    "  Serves the files of DIR (default: the working directory) on ADDRESS:N (default 127.0.0.1,\n"
    "  N = 0 picks a free port). Once it listens it prints the port as its first line; it stops on\n"
    "  SIGTERM or SIGINT.\n";

// The number `text` spells, when it is no more than `max`.
std::optional<unsigned> Number(std::string_view text, unsigned max) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > max) return std::nullopt;
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string_view, std::string_view> options = {
      {"--root", "."}, {"--port", "0"}, {"--delay-ms", "0"}, {"--address", "127.0.0.1"}};
  for (int i = 1; i < argc; i += 2) {
    if (argv[i] == std::string_view("--help")) {
      std::cout << kUsage;
      return 0;
    }
    if (!options.contains(argv[i]) || i + 1 == argc) {
      std::cerr << "korinbo-httpd: unknown option or missing value: " << argv[i] << "\n" << kUsage;
      return 2;
    }
    options[argv[i]] = argv[i + 1];
  }
  const auto port = Number(options["--port"], 65535);
  const auto delay_ms = Number(options["--delay-ms"], 600000);
  if (!port || !delay_ms) {
    std::cerr << "korinbo-httpd: bad number\n" << kUsage;
    return 2;
  }
  // Blocked before any thread starts, so that only sigwait below receives them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  try {
    const std::filesystem::path root(options["--root"]);
    if (!std::filesystem::is_directory(root)) throw std::runtime_error("not a folder: " + root.string());
    korinbo::httpd::Server server({std::string(options["--address"]), static_cast<std::uint16_t>(*port)});
    server.ServeFolder(root);
    server.SetDefaultDelay(std::chrono::milliseconds(*delay_ms));
    std::cout << server.port() << std::endl;
    std::cerr << "korinbo-httpd: serving " << root.string() << " on " << server.Url("/") << "\n";
    int received = 0;
    sigwait(&stop_signals, &received);
  } catch (const std::exception& e) {
    std::cerr << "korinbo-httpd: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
