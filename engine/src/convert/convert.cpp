// Page conversions to Shift_JIS by fixed byte arithmetic; UTF-8 through the code page layer.
//
// Pages can be large, so every conversion writes into one buffer sized for the worst case (no
// conversion makes its text longer) and trims it at the end: no allocation per byte.
#include "korinbo/convert.h"

#include <cstdint>
#include <cstring>

#include "convert/cp932_table.h"

namespace korinbo {
namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080u;
constexpr std::uint64_t kLowBits = 0x0101010101010101u;

// Copies the run of seven-bit bytes at p, eight at a time while it can; with stop_at_escape the
// run also ends at an ESC byte. Pages are mostly ASCII markup, so this is where time goes.
inline void CopySevenBitRun(const unsigned char*& p, const unsigned char* end, char*& o,
                            bool stop_at_escape) {
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    std::uint64_t stop = word & kHighBits;
    if (stop_at_escape) {
      const std::uint64_t escapes = word ^ (kLowBits * 0x1B);
      stop |= (escapes - kLowBits) & ~escapes & kHighBits;  // a byte of the word equal to ESC
    }
    if (stop != 0) break;
    std::memcpy(o, p, 8);
    p += 8;
    o += 8;
  }
  while (p < end && *p < 0x80 && !(stop_at_escape && *p == 0x1B)) *o++ = static_cast<char>(*p++);
}

// The two bytes of one JIS X 0208 code at out; nothing for a first byte out of range. All
// arithmetic is modulo 256, so a second byte out of range wraps rather than being refused.
inline char* PutJisCode(unsigned first, unsigned second, char* out) {
  if (first < 0x21 || first > 0x7E) return out;
  const unsigned trail = (first & 1) != 0 ? second + (second < 0x60 ? 0x1Fu : 0x20u) : second + 0x7Eu;
  const unsigned lead = ((first + 1) >> 1) + (first < 0x5F ? 0x70u : 0xB0u);
  *out++ = static_cast<char>(lead & 0xFF);
  *out++ = static_cast<char>(trail & 0xFF);
  return out;
}

// One step of the lax decoder at p (p < end): the unit, and p moved past its bytes; false on a
// missing byte or one that is not 10xxxxxx.
inline bool DecodeUnit(const unsigned char*& p, const unsigned char* end, char16_t& unit) {
  const unsigned b = *p;
  if (b < 0x80) {
    unit = static_cast<char16_t>(b);
    ++p;
    return true;
  }
  if ((b & 0x20) == 0) {
    if (end - p < 2) return false;
    const unsigned t = p[1];
    if ((t & 0xC0) != 0x80) return false;
    unit = static_cast<char16_t>(((b & 0x1F) << 6) | (t & 0x3F));
    p += 2;
    return true;
  }
  if (end - p < 3) return false;
  const unsigned t1 = p[1];
  const unsigned t2 = p[2];
  if ((t1 & 0xC0) != 0x80 || (t2 & 0xC0) != 0x80) return false;
  unit = static_cast<char16_t>((((b & 0x0F) << 12) | ((t1 & 0x3F) << 6) | (t2 & 0x3F)) & 0xFFFF);
  p += 3;
  return true;
}

const unsigned char* Bytes(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

void TrimTo(std::string& out, const char* end) { out.resize(static_cast<std::size_t>(end - out.data())); }

}  // namespace

std::string JisCodeToSjis(unsigned char first, unsigned char second) {
  char bytes[2];
  const char* end = PutJisCode(first, second, bytes);
  return std::string(bytes, static_cast<std::size_t>(end - bytes));
}

bool IsHalfWidthKana(unsigned char byte) { return byte >= 0xA1 && byte <= 0xDF; }

bool IsEucLeadByte(unsigned char byte) { return byte >= 0xA1 && byte <= 0xFE; }

std::string EucToSjis(std::string_view text) {
  std::string out(text.size(), '\0');
  char* o = out.data();
  const unsigned char* p = Bytes(text);
  const unsigned char* const end = p + text.size();
  while (p < end) {
    const unsigned char b = *p;
    if (b < 0x80) {
      CopySevenBitRun(p, end, o, false);
    } else if (IsEucLeadByte(b)) {
      // The byte after a lead byte is taken whatever it is; a lead byte standing last is dropped.
      if (end - p >= 2) o = PutJisCode(b - 0x80u, (p[1] - 0x80u) & 0xFFu, o);
      p += end - p >= 2 ? 2 : 1;
    } else if (b == 0x8E && end - p >= 2 && IsHalfWidthKana(p[1])) {
      *o++ = static_cast<char>(p[1]);
      p += 2;
    } else {
      *o++ = static_cast<char>(b);
      ++p;
    }
  }
  TrimTo(out, o);
  return out;
}

std::string JisToSjis(std::string_view text) {
  std::string out(text.size(), '\0');
  char* o = out.data();
  const unsigned char* p = Bytes(text);
  const unsigned char* const end = p + text.size();
  bool double_byte = false;
  while (p < end) {
    // Escapes count only where a step begins, so one at the second byte of a pair is data.
    if (*p == 0x1B && end - p >= 3) {
      if (p[1] == '$' && p[2] == 'B') {
        double_byte = true;
        p += 3;
        continue;
      }
      if (p[1] == '(' && (p[2] == 'B' || p[2] == 'J')) {
        double_byte = false;
        p += 3;
        continue;
      }
    }
    if (!double_byte) {
      if (*p == 0x1B || *p >= 0x80) {
        *o++ = static_cast<char>(*p++);
      } else {
        CopySevenBitRun(p, end, o, true);
      }
    } else if (end - p >= 2) {
      o = PutJisCode(p[0], p[1], o);
      p += 2;
    } else {
      ++p;  // a lone last byte of a pair
    }
  }
  TrimTo(out, o);
  return out;
}

std::optional<std::u16string> DecodeUtf8(std::string_view text) {
  std::u16string units(text.size(), u'\0');
  char16_t* o = units.data();
  const unsigned char* p = Bytes(text);
  const unsigned char* const end = p + text.size();
  while (p < end) {
    if (!DecodeUnit(p, end, *o)) return std::nullopt;
    ++o;
  }
  units.resize(static_cast<std::size_t>(o - units.data()));
  return units;
}

std::string Utf8ToSjis(std::string_view text) {
  if (text.empty()) return {};
  const Cp932Table* table = Cp932Table::Get();
  if (table == nullptr) return {};
  // Decoding and the table lookup in one pass; a failure anywhere gives nothing at all. A sequence
  // of n bytes gives at most n bytes (the table keeps seven-bit units to one byte), so the buffer
  // of the input's size is enough.
  std::string out(text.size(), '\0');
  char* o = out.data();
  const unsigned char* p = Bytes(text);
  const unsigned char* const end = p + text.size();
  while (p < end) {
    if (*p < 0x80 && table->ascii_is_itself) {
      CopySevenBitRun(p, end, o, false);
      continue;
    }
    char16_t unit = 0;
    if (!DecodeUnit(p, end, unit)) return {};
    o = table->Put(unit, o);
  }
  TrimTo(out, o);
  return out;
}

}  // namespace korinbo
