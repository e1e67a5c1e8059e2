// Which encode value suits a downloaded page: what the server and the page declare, else what
// uchardet makes of the bytes.
#include <uchardet/uchardet.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>

#include "korinbo/convert.h"

namespace korinbo {
namespace {

struct UchardetDeleter {
  void operator()(uchardet* detector) const { uchardet_delete(detector); }
};
using Uchardet = std::unique_ptr<uchardet, UchardetDeleter>;

// A <meta> declaration is looked for in the page's head, which comes early.
constexpr std::size_t kMetaScanBytes = 64 * 1024;

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

std::size_t FindIgnoringCase(std::string_view text, std::string_view what, std::size_t from) {
  const auto it =
      std::search(text.begin() + static_cast<std::ptrdiff_t>(std::min(from, text.size())), text.end(),
                  what.begin(), what.end(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
  return it == text.end() ? std::string_view::npos : static_cast<std::size_t>(it - text.begin());
}

// The encode value that converts a charset, by the names the registry and the usual servers give it.
std::optional<std::string> EncodeFor(std::string_view charset) {
  struct Name {
    std::string_view charset;
    std::string_view encode;
  };
  static constexpr std::array<Name, 16> kNames = {{
      {"shift_jis", ""},
      {"shift-jis", ""},
      {"sjis", ""},
      {"x-sjis", ""},
      {"windows-31j", ""},
      {"cp932", ""},
      {"ms_kanji", ""},
      {"csshiftjis", ""},
      {"euc-jp", "euc"},
      {"x-euc-jp", "euc"},
      {"eucjp", "euc"},
      {"cseucpkdfmtjapanese", "euc"},
      {"iso-2022-jp", "jis"},
      {"csiso2022jp", "jis"},
      {"utf-8", "utf8"},
      {"utf8", "utf8"},
  }};
  for (const Name& name : kNames) {
    if (EqualsIgnoringCase(charset, name.charset)) return std::string(name.encode);
  }
  return std::nullopt;
}

// The value after "charset" (blanks, "=", an optional quote) at or after `from`, within `text`.
std::string_view CharsetAfter(std::string_view text, std::size_t from) {
  for (std::size_t at = FindIgnoringCase(text, "charset", from); at != std::string_view::npos;
       at = FindIgnoringCase(text, "charset", at + 1)) {
    std::size_t i = at + 7;
    while (i < text.size() && text[i] == ' ') ++i;
    if (i >= text.size() || text[i] != '=') continue;
    ++i;
    while (i < text.size() && (text[i] == ' ' || text[i] == '"' || text[i] == '\'')) ++i;
    const std::size_t begin = i;
    while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) != 0 ||
                               std::string_view("-_.:").find(text[i]) != std::string_view::npos)) {
      ++i;
    }
    if (i > begin) return text.substr(begin, i - begin);
  }
  return {};
}

std::optional<EncodeGuess> Declared(std::string_view charset, EncodeGuess::Source source) {
  auto encode = EncodeFor(charset);
  if (!encode) return std::nullopt;
  return EncodeGuess{std::move(*encode), source, std::string(charset)};
}

// <meta charset="..."> and <meta http-equiv="Content-Type" content="...; charset=...">: the first
// meta tag that names a charset.
std::string_view MetaCharset(std::string_view page) {
  const std::string_view head = page.substr(0, kMetaScanBytes);
  for (std::size_t at = FindIgnoringCase(head, "<meta", 0); at != std::string_view::npos;
       at = FindIgnoringCase(head, "<meta", at + 5)) {
    const std::size_t end = head.find('>', at);
    const std::string_view tag = head.substr(at, end == std::string_view::npos ? head.size() - at : end - at);
    if (const std::string_view charset = CharsetAfter(tag, 5); !charset.empty()) return charset;
  }
  return {};
}

std::optional<EncodeGuess> FromBytes(std::string_view page) {
  const Uchardet detector(uchardet_new());
  if (!detector || uchardet_handle_data(detector.get(), page.data(), page.size()) != 0) return std::nullopt;
  uchardet_data_end(detector.get());
  const char* detected = uchardet_get_charset(detector.get());
  const std::string_view charset = detected == nullptr ? std::string_view() : std::string_view(detected);
  // Shift_JIS is what a page is taken as anyway; only the three that need a value are told.
  for (const std::string_view clear : {"UTF-8", "EUC-JP", "ISO-2022-JP"}) {
    if (charset == clear) return Declared(charset, EncodeGuess::Source::kBytes);
  }
  return std::nullopt;
}

}  // namespace

std::optional<EncodeGuess> GuessEncode(std::string_view page, std::string_view content_type) {
  if (auto guess = Declared(CharsetAfter(content_type, 0), EncodeGuess::Source::kHeader)) return guess;
  if (auto guess = Declared(MetaCharset(page), EncodeGuess::Source::kMeta)) return guess;
  return FromBytes(page);
}

}  // namespace korinbo
