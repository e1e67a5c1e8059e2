#pragma once
// A program started by a test, with its standard output readable line by line. Every wait has a
// limit, and a program still running at the end is killed, so that a test never hangs on it.
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace korinbo::test {

class ChildProcess {
 public:
  // argv[0] is the program's path, or its name to look up in PATH. With merge_stderr its standard
  // error joins the output.
  static std::optional<ChildProcess> Start(std::vector<std::string> argv, bool merge_stderr = false);

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // The next output line without its line end; nullopt at the end of the output or after `limit`.
  std::optional<std::string> ReadLine(std::chrono::milliseconds limit);
  bool Signal(int signal_number) const;
  // The exit status, or 128 + the signal that ended it; nullopt while it still runs after `limit`.
  std::optional<int> WaitExit(std::chrono::milliseconds limit);
  pid_t pid() const { return pid_; }

 private:
  ChildProcess(pid_t pid, int output) : pid_(pid), output_(output) {}
  void Kill();

  pid_t pid_ = -1;
  int output_ = -1;
  std::string pending_;
};

}  // namespace korinbo::test
