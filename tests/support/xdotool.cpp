#include "korinbo/test/xdotool.h"

#include <utility>

#include "korinbo/test/child_process.h"

namespace korinbo::test {

bool Xdotool(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "xdotool");
  auto process = ChildProcess::Start(std::move(arguments));
  return process && process->WaitExit(std::chrono::seconds(10)) == 0;
}

}  // namespace korinbo::test
