#pragma once
// Checks a dialect pattern and rewrites it as a PCRE2 pattern whose meaning does not depend on any
// compile option: it begins with "(?s)", writes "^", "$", "\s", "\d", "\w" and every non-alphanumeric
// byte out in full, and lets no option letter but "i" reach PCRE2. It also carries callouts "(?C)"
// after every repetition and at every alternative; the matcher counts them to stop runaway matches,
// and without a callout function they do nothing.
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korinbo::dialect {

// Longest dialect pattern accepted; site patterns are one line of a small file.
inline constexpr std::size_t kMaxPatternBytes = 32768;
inline constexpr int kMaxGroups = 14;
inline constexpr unsigned long kMaxRepeat = 65535;  // what PCRE2 takes in {n,m}

struct Translation {
  std::string pcre2;
  int groups = 0;
  // (offset in pcre2, offset in the dialect pattern) at the start of every translated item, in
  // increasing order: maps a PCRE2 compile error back to the pattern the user wrote.
  std::vector<std::pair<std::size_t, std::size_t>> offsets;

  std::size_t DialectOffset(std::size_t pcre2_offset) const;
};

// Throws PatternError with the problem and its 0-based offset in the pattern. The pattern ends at its
// first NUL byte, as every text of the program does.
Translation Translate(std::string_view pattern);

}  // namespace korinbo::dialect
