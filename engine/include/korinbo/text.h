#pragma once
// Byte-string helpers shared by the fetch and the site tree. All texts are Shift_JIS bytes.
#include <cstddef>
#include <string>
#include <string_view>

namespace korinbo {

// Every occurrence of old_text, left to right and without overlap, replaced by new_text; the
// inserted text is never scanned again. An empty old_text finds nothing.
std::string ReplaceAll(std::string_view text, std::string_view old_text, std::string_view new_text);

// Removes every tag ("<" up to the next ">", across lines) and then every CR and LF byte.
std::string StripTags(std::string_view text);
// The same, appended to `out`; `text` must not lie within `out`.
void AppendStrippedTags(std::string& out, std::string_view text);

// Which character references DecodeCharacterReferences decodes: all of them (captions and
// remarks), or those of ASCII characters only (links, whose other bytes stay as they are).
enum class References { kAll, kAscii };

// Decodes the character references of HTML in text[from...] in place, each once ("&amp;lt;"
// gives "&lt;"): "&amp;" and the other named references of HTML's list written with their ";",
// and decimal and hexadecimal ones ("&#12354;", "&#x3042;"). Each character becomes its
// Shift_JIS bytes, "?" when code page 932 lacks it, and a no-break space a blank. A reference
// that is not in the list, lacks its ";" or names no character stays as written. The text
// never grows.
void DecodeCharacterReferences(std::string& text, std::size_t from, References which);
std::string DecodeCharacterReferences(std::string_view text, References which = References::kAll);

// The first / last n bytes: all of them when n exceeds the length, none when n <= 0.
std::string LeftBytes(std::string_view text, long long n);
std::string RightBytes(std::string_view text, long long n);

std::string ReverseBytes(std::string_view text);

}  // namespace korinbo
