#pragma once
// The code page layer: CP932 (Shift_JIS) against UTF-16 and UTF-8, over glibc's iconv.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korinbo {

// UTF-16 code units to CP932. A unit without a mapping (a lone surrogate included) becomes one
// "?" and the conversion goes on; the result is never cut short. nullopt when the converter
// cannot be had.
std::optional<std::string> Utf16ToCp932(std::u16string_view units);

// One character to CP932: its one or two bytes, or one "?" when CP932 lacks it (every character
// beyond U+FFFF among them) or the converter cannot be had.
std::string CodePointToCp932(char32_t code_point);

// Strict conversions for the program's boundaries (terminal, file names, widgets): nullopt when
// the input is not valid in its encoding or a character has no mapping.
std::optional<std::string> Cp932ToUtf8(std::string_view sjis);
std::optional<std::string> Utf8ToCp932(std::string_view utf8);

// Whether the text is UTF-8 by the standard's strict rules.
bool IsUtf8(std::string_view text);

// CP932 to UTF-8 for display: a byte sequence that is not CP932 becomes U+FFFD and the rest goes on.
std::string Cp932ToUtf8Lossy(std::string_view sjis);
// CP932 to UTF-16 for display, as Cp932ToUtf8Lossy decodes it: one unit per character (CP932 has
// none beyond U+FFFF), U+FFFD for each byte where decoding fails. When `unit_starts` is given, it
// receives the byte offset at which each unit's bytes begin.
std::u16string Cp932ToUtf16Lossy(std::string_view sjis, std::vector<std::uint32_t>* unit_starts = nullptr);
// The same written at `out`, which has room for sjis.size() units (no byte makes more than one);
// gives the number of units written.
std::size_t Cp932ToUtf16Lossy(std::string_view sjis, char16_t* out);

// The program's own texts are written as UTF-8 in the source and used as Shift_JIS:
// Sjis("接続中..."). Throws std::logic_error for a text that CP932 cannot hold.
std::string Sjis(std::string_view utf8);

}  // namespace korinbo
