#pragma once
// Japanese code conversion of downloaded pages to Shift_JIS.
#include <optional>
#include <string>
#include <string_view>

namespace korinbo {

std::string EucToSjis(std::string_view text);
std::string JisToSjis(std::string_view text);
// Empty when the text is not UTF-8 by DecodeUtf8's rules; every character that code page 932
// lacks, and every one beyond U+FFFF, is one "?".
std::string Utf8ToSjis(std::string_view text);

// One JIS X 0208 code to its two Shift_JIS bytes; empty when the first byte is out of range.
std::string JisCodeToSjis(unsigned char first, unsigned char second);
bool IsHalfWidthKana(unsigned char byte);
bool IsEucLeadByte(unsigned char byte);
// The lax decoder: one unit per sequence of two or three bytes, whose continuation bytes alone are
// checked; a four-byte sequence (lead F0..F7) gives U+FFFD, a character beyond U+FFFF that code
// page 932 lacks; an incomplete sequence at the very end is dropped. nullopt when a byte that
// must be 10xxxxxx is not.
std::optional<std::u16string> DecodeUtf8(std::string_view text);

}  // namespace korinbo
