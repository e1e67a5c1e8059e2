#pragma once
// Japanese code conversion of downloaded pages to Shift_JIS.
#include <optional>
#include <string>
#include <string_view>

namespace korinbo {

std::string EucToSjis(std::string_view text);
std::string JisToSjis(std::string_view text);
// Empty when the text is not UTF-8 by DecodeUtf8's rules.
std::string Utf8ToSjis(std::string_view text);

// One JIS X 0208 code to its two Shift_JIS bytes; empty when the first byte is out of range.
std::string JisCodeToSjis(unsigned char first, unsigned char second);
bool IsHalfWidthKana(unsigned char byte);
bool IsEucLeadByte(unsigned char byte);
// The lax decoder of sequences of at most three bytes; nullopt on a bad or missing continuation.
std::optional<std::u16string> DecodeUtf8(std::string_view text);

}  // namespace korinbo
