#pragma once
// Checks a dialect pattern and rewrites it as a PCRE2 pattern whose meaning does not depend on any
// compile option (no ".", "^", "$" or option letter but "i" reaches PCRE2).
#include <cstddef>
#include <string>
#include <string_view>

namespace korinbo::dialect {

// Longest dialect pattern accepted; site patterns are one line of a small file.
inline constexpr std::size_t kMaxPatternBytes = 32768;
inline constexpr int kMaxGroups = 14;
inline constexpr unsigned long kMaxRepeat = 65535;  // what PCRE2 takes in {n,m}

struct Translation {
  std::string pcre2;
  int groups = 0;
};

// Throws PatternError with the problem and its 0-based offset in the pattern.
Translation Translate(std::string_view pattern);

}  // namespace korinbo::dialect
