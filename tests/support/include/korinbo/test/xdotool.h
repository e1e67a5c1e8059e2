#pragma once
// Input from outside the program under test, on the test's X display.
#include <string>
#include <vector>

namespace korinbo::test {

// Runs xdotool with these arguments; true when it ended well within ten seconds.
bool Xdotool(std::vector<std::string> arguments);

}  // namespace korinbo::test
