// Site definition files as bytes on disk: their encoding, and the file that a changed definition
// makes of them.
#include <algorithm>
#include <optional>
#include <vector>

#include "korinbo/codepage.h"
#include "korinbo/convert.h"
#include "korinbo/fetch.h"
#include "korinbo/file_io.h"

namespace korinbo {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool HasNonAscii(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// The value of a line that the reader takes for `key` ("key", blanks, "=", the rest), which may be
// empty; nullopt for any other line.
std::optional<std::string_view> KeyLineValue(std::string_view line, std::string_view key) {
  if (!line.starts_with(key)) return std::nullopt;
  std::size_t at = key.size();
  while (at < line.size() && line[at] == ' ') ++at;
  if (at >= line.size() || line[at] != '=') return std::nullopt;
  return line.substr(at + 1);
}

}  // namespace

SiteFileText DecodeSiteFile(std::string_view bytes) {
  SiteFileText decoded;
  // Editors on Linux save UTF-8; a Shift_JIS file is almost never valid UTF-8 with non-ASCII bytes.
  decoded.byte_order_mark = bytes.starts_with(kByteOrderMark);
  if (decoded.byte_order_mark) bytes.remove_prefix(kByteOrderMark.size());
  if (decoded.byte_order_mark || HasNonAscii(bytes)) {
    const std::string_view text = bytes.substr(0, bytes.find('\0'));
    // A character that CP932 lacks (an emoji in a note) is one "?", as in a UTF-8 page.
    if (IsUtf8(text)) {
      decoded.sjis = Utf8ToSjis(text);
      decoded.utf8 = true;
      return decoded;
    }
  }
  decoded.sjis = std::string(bytes);
  return decoded;
}

std::string SiteFileBytes(std::string_view old_bytes, const SiteDefinition& site) {
  const SiteFileText decoded = DecodeSiteFile(old_bytes);
  if (decoded.byte_order_mark) old_bytes.remove_prefix(kByteOrderMark.size());
  // The file's own lines, so that every line left alone keeps its bytes in either encoding.
  std::vector<std::string> lines = SplitLines(old_bytes);
  auto in_file_encoding = [&](std::string text) { return decoded.utf8 ? Cp932ToUtf8Lossy(text) : text; };
  auto as_sjis = [&](std::string_view text) {
    return decoded.utf8 ? Utf8ToCp932(text).value_or(std::string(text)) : std::string(text);
  };

  // New lines go after the line of the key before them, or where the keys begin.
  std::size_t insert_at = lines.size();
  for (std::size_t i = 0; i < lines.size() && insert_at == lines.size(); ++i) {
    for (const SiteKey& key : kSiteKeys) {
      if (KeyLineValue(lines[i], key.name)) insert_at = i;
    }
  }
  for (const SiteKey& key : kSiteKeys) {
    const std::string& value = site.*key.value;
    std::vector<std::size_t> key_lines;
    std::optional<std::string_view> current;  // the value the reader takes: the first one not empty
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const auto line_value = KeyLineValue(lines[i], key.name);
      if (!line_value) continue;
      key_lines.push_back(i);
      if (!current && !line_value->empty()) current = line_value;
    }
    const std::string line = in_file_encoding(std::string(key.name) + "=" + value);
    if (key_lines.empty()) {
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insert_at), line);
      ++insert_at;
      continue;
    }
    insert_at = key_lines.front() + 1;
    if (as_sjis(current.value_or(std::string_view())) == value) continue;
    lines[key_lines.front()] = line;
    if (!value.empty()) continue;
    for (std::size_t i = 1; i < key_lines.size(); ++i) {
      std::string& line_after = lines[key_lines[i]];
      // One character, not a text: GCC 12 warns falsely of an overlap in insert(0, "#") at -O3.
      if (!KeyLineValue(line_after, key.name)->empty()) line_after.insert(line_after.begin(), '#');
    }
  }
  return (decoded.byte_order_mark ? std::string(kByteOrderMark) : std::string()) + JoinLines(lines);
}

}  // namespace korinbo
