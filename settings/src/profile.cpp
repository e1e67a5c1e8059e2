#include "korinbo/profile.h"

#include <cstdint>
#include <limits>

namespace korinbo {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

unsigned char AsciiLower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// ASCII letters match in either case; the second byte of a double-byte character is compared
// exactly, since it may fall in the ASCII letter range.
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if (IsLeadByte(x)) {
      if (x != y) return false;
      if (i + 1 < a.size()) {
        ++i;
        if (a[i] != b[i]) return false;
      }
      continue;
    }
    if (AsciiLower(x) != AsciiLower(y)) return false;
  }
  return true;
}

// The first single-byte c; a double-byte character's second byte may have the same value.
std::size_t FindSingleByte(std::string_view text, char c) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == c) return i;
    if (IsLeadByte(static_cast<unsigned char>(text[i]))) ++i;
  }
  return std::string_view::npos;
}

// "[name]" with blanks allowed around the brackets and the name; text after "]" is ignored.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  const std::size_t close = FindSingleByte(line, ']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(1, close - 1));
}

struct KeyLine {
  std::string_view key;
  std::string_view value;  // trimmed, quotes still on
};

std::optional<KeyLine> ParseKeyLine(std::string_view line) {
  const std::string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() == ';' || SectionName(trimmed)) return std::nullopt;
  const std::size_t equals = trimmed.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  const std::string_view key = Trim(trimmed.substr(0, equals));
  if (key.empty()) return std::nullopt;
  return KeyLine{key, Trim(trimmed.substr(equals + 1))};
}

bool HasAny(std::string_view text, std::string_view bytes) { return text.find_first_of(bytes) != text.npos; }

const std::string_view kLineBreakOrNul("\r\n\0", 3);

bool StorableSection(std::string_view section) {
  return !section.empty() && Trim(section) == section && !HasAny(section, kLineBreakOrNul) &&
         FindSingleByte(section, ']') == section.npos;
}

bool StorableKey(std::string_view key) {
  return !key.empty() && Trim(key) == key && !HasAny(key, kLineBreakOrNul) && key.find('=') == key.npos &&
         key.front() != ';' && key.front() != '[';
}

}  // namespace

std::optional<int> ParseProfileInteger(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  unsigned base = 10;
  bool negative = false;
  if (text.starts_with('$') || text.starts_with('x') || text.starts_with('X')) {
    base = 16;
    text.remove_prefix(1);
  } else if (text.starts_with("0x") || text.starts_with("0X")) {
    base = 16;
    text.remove_prefix(2);
  } else if (text.starts_with('+') || text.starts_with('-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  constexpr std::int64_t kLimit = std::int64_t{1} << 31;  // one past the largest int, for INT_MIN
  std::int64_t magnitude = 0;
  for (const char c : text) {
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    magnitude = magnitude * base + digit;
    if (magnitude > kLimit) return std::nullopt;
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<int>::max()) return std::nullopt;
  return static_cast<int>(value);
}

ProfileFile::ProfileFile(std::string_view bytes) {
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines_.push_back({std::string(bytes.substr(start)), ""});
      break;
    }
    const std::size_t eol_length =
        (bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n') ? 2 : 1;
    lines_.push_back(
        {std::string(bytes.substr(start, end - start)), std::string(bytes.substr(end, eol_length))});
    start = end + eol_length;
  }
}

// Only the first section of a name counts, as with the platform's functions; a later section of
// the same name is neither read nor written.
ProfileFile::Location ProfileFile::Find(std::string_view section, std::string_view key) const {
  Location location;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (const auto name = SectionName(lines_[i].text)) {
      if (location.section) break;
      if (SameName(*name, section)) location.section = i;
      continue;
    }
    if (!location.section) continue;
    if (const auto key_line = ParseKeyLine(lines_[i].text)) {
      location.last_key = i;
      if (!location.key && SameName(key_line->key, key)) location.key = i;
    }
  }
  return location;
}

std::optional<std::string> ProfileFile::ReadString(std::string_view section, std::string_view key) const {
  const Location location = Find(section, key);
  if (!location.key) return std::nullopt;
  std::string_view value = ParseKeyLine(lines_[*location.key].text)->value;
  // The platform hands the value over as a C string.
  value = Trim(value.substr(0, value.find('\0')));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value.substr(0, kProfileValueLimit));
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view default_value) const {
  if (auto value = ReadString(section, key)) return std::move(*value);
  return std::string(default_value);
}

int ProfileFile::ReadInteger(std::string_view section, std::string_view key, int default_value) const {
  const auto value = ReadString(section, key);
  if (!value) return default_value;
  return ParseProfileInteger(*value).value_or(default_value);
}

void ProfileFile::InsertLine(std::size_t index, std::string text) {
  // A last line without a line break gets one, or the new line would run on from it.
  if (index > 0 && lines_[index - 1].eol.empty()) lines_[index - 1].eol = "\r\n";
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(index), Line{std::move(text), "\r\n"});
}

bool ProfileFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  if (!StorableSection(section) || !StorableKey(key)) return false;
  // A value line cannot hold a line break (and the platform's functions take C strings), so only
  // the part before the first one is stored.
  value = value.substr(0, value.find_first_of(kLineBreakOrNul));

  const Location location = Find(section, key);
  if (location.key) {
    Line& line = lines_[*location.key];
    const KeyLine existing = *ParseKeyLine(line.text);
    if (existing.value == value) return true;  // leave the line as it was, blanks and all
    line.text = std::string(existing.key) + "=" + std::string(value);
    line.eol = "\r\n";
    return true;
  }
  std::string key_line = std::string(key) + "=" + std::string(value);
  if (location.section) {
    InsertLine(location.last_key.value_or(*location.section) + 1, std::move(key_line));
    return true;
  }
  InsertLine(lines_.size(), '[' + std::string(section) + ']');
  InsertLine(lines_.size(), std::move(key_line));
  return true;
}

bool ProfileFile::WriteInteger(std::string_view section, std::string_view key, int value) {
  return WriteString(section, key, std::to_string(value));
}

std::string ProfileFile::Bytes() const {
  std::string bytes;
  for (const Line& line : lines_) {
    bytes += line.text;
    bytes += line.eol;
  }
  return bytes;
}

}  // namespace korinbo
