#pragma once
// Byte-string helpers shared by the fetch and the site tree. All texts are Shift_JIS bytes.
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

// The first / last n bytes: all of them when n exceeds the length, none when n <= 0.
std::string LeftBytes(std::string_view text, long long n);
std::string RightBytes(std::string_view text, long long n);

std::string ReverseBytes(std::string_view text);

}  // namespace korinbo
