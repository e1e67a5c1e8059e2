#pragma once
// The pattern dialect that site definitions are written in, and template expansion.
//
// A pattern is checked and translated by our own parser, then matched by PCRE2 (8-bit, no UTF).
// Compile and match failures raise PatternError with the text the user sees.
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korinbo {

// Byte offsets into the searched text, end exclusive.
struct MatchSpan {
  std::ptrdiff_t start = -1;  // -1: the group took no part in the match
  std::ptrdiff_t end = -1;
  bool matched() const { return start >= 0; }
};

struct PatternMatch {
  // groups[0] is the whole match, groups[1..GroupCount()] the capturing groups.
  std::vector<MatchSpan> groups;
  std::size_t start() const { return static_cast<std::size_t>(groups[0].start); }
  std::size_t end() const { return static_cast<std::size_t>(groups[0].end); }
};

// A compiled dialect pattern; move-only.
class Pattern {
 public:
  // Throws PatternError for a pattern outside the dialect and for the empty pattern.
  explicit Pattern(std::string_view dialect_pattern);
  ~Pattern();
  Pattern(Pattern&&) noexcept;
  Pattern& operator=(Pattern&&) noexcept;
  Pattern(const Pattern&) = delete;
  Pattern& operator=(const Pattern&) = delete;

  int GroupCount() const;

  // The first match that starts at or after `from`. The text ends at its first NUL byte, and a
  // match never starts at the end of the text. Throws PatternError when the search runs past the
  // limits of the work it may do (a runaway pattern); the limits count work, not time, so the
  // outcome is the same on every machine.
  std::optional<PatternMatch> Search(std::string_view text, std::size_t from = 0) const;

  // Every match as the extraction finds them: the first search starts at the text's start, each
  // later one where the previous match ended, one byte later after an empty match. The searches
  // share one limit of work, as one search over the page would.
  void ForEachMatch(std::string_view text, const std::function<void(const PatternMatch&)>& visit) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The PCRE2 pattern that a dialect pattern is translated to (for tests and the match tool).
// Throws PatternError as the constructor of Pattern does.
std::string TranslatePattern(std::string_view dialect_pattern);

// A template expanded against a match of `subject`.
std::string ExpandTemplate(std::string_view subject, const PatternMatch& match, std::string_view templ);
// The same, appended to `out`; `subject` and `templ` must not lie within `out`.
void AppendExpandedTemplate(std::string& out, std::string_view subject, const PatternMatch& match,
                            std::string_view templ);
// The group number when the template is one group reference such as "$2" (numbers from 15 on give
// nothing), for callers that expand one template many times.
std::optional<unsigned long> SoleGroupReference(std::string_view templ);
// A group's text in `subject`: empty when the group took no part or lies outside the subject.
std::string_view GroupText(std::string_view subject, const PatternMatch& match, unsigned long number);

// The template expanded against the first match of the pattern in the input; empty without a match.
std::string PatternSubstitute(std::string_view input, std::string_view pattern, std::string_view templ);

}  // namespace korinbo
