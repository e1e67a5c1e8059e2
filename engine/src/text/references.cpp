// Character references of HTML (&amp; &#12354; &#x3042; &copy; ...) decoded to Shift_JIS.
#include <algorithm>
#include <cstring>
#include <optional>

#include "korinbo/codepage.h"
#include "korinbo/text.h"

namespace korinbo {
namespace {

constexpr std::size_t kLongestName = 31;

// The name in place rather than behind a pointer: a table of pointers is relocated, and so read
// and copied, at every start of the program, used or not.
struct NamedReference {
  char name[kLongestName + 1];
  char32_t first;
  char32_t second;  // 0: none
};

constexpr NamedReference kNamedReferences[] = {
#include "text/character_references.inc"
};
constexpr char32_t kNoBreakSpace = 0xA0;

struct Reference {
  char32_t first = 0;
  char32_t second = 0;
  std::size_t end = 0;  // after its ";"
};

int DigitValue(char c, int base) {
  if (c >= '0' && c <= '9') return c - '0';
  if (base == 16 && c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (base == 16 && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The reference whose "&" is at text[at]; none when the text there is not one that names a character.
std::optional<Reference> ReadReference(std::string_view text, std::size_t at) {
  std::size_t i = at + 1;
  if (i < text.size() && text[i] == '#') {
    ++i;
    int base = 10;
    if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
      base = 16;
      ++i;
    }
    const std::size_t digits = i;
    char32_t value = 0;
    for (; i < text.size(); ++i) {
      const int digit = DigitValue(text[i], base);
      if (digit < 0) break;
      value = value * static_cast<char32_t>(base) + static_cast<char32_t>(digit);
      if (value > 0x10FFFF) return std::nullopt;
    }
    if (i == digits || i == text.size() || text[i] != ';') return std::nullopt;
    if (value == 0 || (value >= 0xD800 && value <= 0xDFFF)) return std::nullopt;
    return Reference{value, 0, i + 1};
  }
  const std::size_t name = i;
  while (i < text.size() && i - name <= kLongestName && IsAsciiAlnum(text[i])) ++i;
  if (i == name || i == text.size() || text[i] != ';') return std::nullopt;
  const std::string_view wanted = text.substr(name, i - name);
  const auto found = std::lower_bound(
      std::begin(kNamedReferences), std::end(kNamedReferences), wanted,
      [](const NamedReference& entry, std::string_view key) { return std::string_view(entry.name) < key; });
  if (found == std::end(kNamedReferences) || std::string_view(found->name) != wanted) return std::nullopt;
  return Reference{found->first, found->second, i + 1};
}

std::string InShiftJis(char32_t code_point) {
  return code_point == kNoBreakSpace ? std::string(" ") : CodePointToCp932(code_point);
}

}  // namespace

void DecodeCharacterReferences(std::string& text, std::size_t from, References which) {
  std::size_t read = text.find('&', from);
  if (read == std::string::npos) return;
  std::size_t write = read;
  while (read < text.size()) {
    if (text[read] == '&') {
      const std::optional<Reference> reference = ReadReference(text, read);
      if (reference && (which == References::kAll || (reference->first < 0x80 && reference->second == 0))) {
        std::string bytes = InShiftJis(reference->first);
        if (reference->second != 0) bytes += InShiftJis(reference->second);
        // A reference is never shorter than its bytes, so they never reach past `read`.
        std::memmove(text.data() + write, bytes.data(), bytes.size());
        write += bytes.size();
        read = reference->end;
        continue;
      }
    }
    text[write++] = text[read++];
  }
  text.resize(write);
}

std::string DecodeCharacterReferences(std::string_view text, References which) {
  std::string decoded(text);
  DecodeCharacterReferences(decoded, 0, which);
  return decoded;
}

}  // namespace korinbo
