#include "korinbo/site_definition.h"

#include <string>

namespace korinbo {
namespace {

// Where "^" matches: the start, after LF, and after CR. (Between CR and LF it does not, but no key
// starts with LF.)
bool AtLineStart(std::string_view text, std::size_t pos) {
  return pos == 0 || text[pos - 1] == '\n' || text[pos - 1] == '\r';
}

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

// The value that "^key *=([^\r\n]+)" with "$1" gives: the rest of the first line that starts with
// the key, blanks and "=", when that rest is not empty.
std::string ValueOf(std::string_view text, std::string_view key) {
  for (std::size_t pos = text.find(key); pos != std::string_view::npos; pos = text.find(key, pos + 1)) {
    if (!AtLineStart(text, pos)) continue;
    std::size_t q = pos + key.size();
    while (q < text.size() && text[q] == ' ') ++q;
    if (q >= text.size() || text[q] != '=') continue;
    const std::size_t value = q + 1;
    std::size_t end = value;
    while (end < text.size() && !IsLineBreak(text[end])) ++end;
    if (end > value) return std::string(text.substr(value, end - value));
  }
  return std::string();
}

// The text ends at its first NUL, as the pattern search sees it.
std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

}  // namespace

SiteDefinition ReadSiteDefinition(std::string_view file_text) {
  const std::string_view text = UpToNul(file_text);
  SiteDefinition site;
  for (const SiteKey& key : kSiteKeys) site.*key.value = ValueOf(text, key.name);
  return site;
}

// "([^_]+)_(.+)": the first run of bytes without "_" that a "_" and at least one more byte follow.
SiteFileName SplitSiteFileName(std::string_view base_name) {
  const std::string_view text = UpToNul(base_name);
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t run = text.find_first_not_of('_', pos);
    if (run == std::string_view::npos) break;
    const std::size_t underscore = text.find('_', run);
    if (underscore == std::string_view::npos) break;
    if (underscore + 1 < text.size()) {
      return SiteFileName{std::string(text.substr(run, underscore - run)),
                          std::string(text.substr(underscore + 1))};
    }
    pos = underscore + 1;
  }
  return SiteFileName{};
}

}  // namespace korinbo
