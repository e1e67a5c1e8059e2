#pragma once
// Small views of matches for table rows: "start:text" per match, or the error text of a pattern.
#include <string>
#include <string_view>
#include <vector>

#include "korinbo/errors.h"
#include "korinbo/pattern.h"

namespace korinbo::test {

inline constexpr std::string_view kNoMatch = "<none>";

// The first match's text, or "<none>".
inline std::string FirstMatch(std::string_view pattern, std::string_view text) {
  const auto match = Pattern(pattern).Search(text);
  if (!match) return std::string(kNoMatch);
  return std::string(text.substr(match->start(), match->end() - match->start()));
}

// Every match of the extraction loop as "start:text".
inline std::vector<std::string> AllMatches(std::string_view pattern, std::string_view text) {
  std::vector<std::string> found;
  Pattern(pattern).ForEachMatch(text, [&](const PatternMatch& match) {
    found.push_back(std::to_string(match.start()) + ":" +
                    std::string(text.substr(match.start(), match.end() - match.start())));
  });
  return found;
}

// The PatternError text a pattern is refused with, or "" when it compiles.
inline std::string CompileError(std::string_view pattern) {
  try {
    Pattern compiled(pattern);
  } catch (const PatternError& error) {
    return error.what();
  }
  return std::string();
}

}  // namespace korinbo::test
