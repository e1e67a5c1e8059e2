// The dialect parser, the matcher and template expansion on any pattern, text and template.
// Input: pattern NUL template NUL text.
#include <cstdint>
#include <string_view>

#include "korinbo/errors.h"
#include "korinbo/pattern.h"
#include "korinbo/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto first = input.find('\0');
  const std::string_view pattern = input.substr(0, first);
  std::string_view rest = first == std::string_view::npos ? std::string_view() : input.substr(first + 1);
  const auto second = rest.find('\0');
  const std::string_view templ = rest.substr(0, second);
  const std::string_view text = second == std::string_view::npos ? std::string_view() : rest.substr(second + 1);
  try {
    const korinbo::Pattern compiled(pattern);
    std::size_t matches = 0;
    compiled.ForEachMatch(text, [&](const korinbo::PatternMatch& match) {
      if (match.end() < match.start() || match.end() > text.size()) __builtin_trap();
      (void)korinbo::ExpandTemplate(text, match, templ);
      ++matches;
    });
    (void)korinbo::PatternSubstitute(text, pattern, templ);
  } catch (const korinbo::PatternError&) {
  }
  (void)korinbo::StripTags(text);
  (void)korinbo::ReplaceAll(text, templ, pattern);
  return 0;
}
