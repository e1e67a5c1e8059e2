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

// The encode value that suits a downloaded page ("" for Shift_JIS, "euc", "jis", "utf8") and what
// says so: the charset of the Content-Type header, else a <meta charset> or <meta http-equiv>
// declaration in the page, else the page's bytes when they are clearly UTF-8, EUC-JP or
// ISO-2022-JP. A charset that none of the four values reads is passed over. nullopt when nothing
// says.
struct EncodeGuess {
  enum class Source { kHeader, kMeta, kBytes };
  std::string encode;
  Source source = Source::kBytes;
  std::string charset;  // as declared ("EUC-JP", "utf-8" ...) or as the bytes look
};
std::optional<EncodeGuess> GuessEncode(std::string_view page, std::string_view content_type);

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
