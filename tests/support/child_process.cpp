#include "korinbo/test/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
#include <utility>

extern char** environ;

namespace korinbo::test {

std::optional<ChildProcess> ChildProcess::Start(std::vector<std::string> argv, bool merge_stderr) {
  if (argv.empty()) return std::nullopt;
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  if (merge_stderr) posix_spawn_file_actions_adddup2(&actions, out[1], 2);
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (rc != 0) {
    ::close(out[0]);
    return std::nullopt;
  }
  return ChildProcess(pid, out[0]);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), output_(other.output_), pending_(std::move(other.pending_)) {
  other.pid_ = -1;
  other.output_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Kill();
    pid_ = other.pid_;
    output_ = other.output_;
    pending_ = std::move(other.pending_);
    other.pid_ = -1;
    other.output_ = -1;
  }
  return *this;
}

ChildProcess::~ChildProcess() { Kill(); }

void ChildProcess::Kill() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  if (output_ >= 0) {
    ::close(output_);
    output_ = -1;
  }
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (auto end = pending_.find('\n'); end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    if (output_ < 0) return std::nullopt;
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd p{output_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    ssize_t n = ::read(output_, buffer, sizeof buffer);
    if (n <= 0) {
      ::close(output_);
      output_ = -1;
      if (pending_.empty()) return std::nullopt;
      return std::exchange(pending_, {});
    }
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

bool ChildProcess::Signal(int signal_number) const { return pid_ > 0 && ::kill(pid_, signal_number) == 0; }

std::optional<int> ChildProcess::WaitExit(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (done < 0 || std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace korinbo::test
