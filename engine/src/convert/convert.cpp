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

// What one step of the lax decoder found.
enum class Step {
  kUnit,      // a unit
  kCutShort,  // a sequence that the text ends in before its required bytes, those present all well-formed
  kBad,       // a required byte that is not 10xxxxxx: the text is not UTF-8
};

// A four-byte sequence stands for a character beyond U+FFFF, which code page 932 has none of.
constexpr char16_t kBeyondTheBmp = 0xFFFD;

inline bool IsContinuation(unsigned byte) { return (byte & 0xC0) == 0x80; }

// One step of the lax decoder at p (p < end): the unit, and p moved past its bytes.
inline Step DecodeUnit(const unsigned char*& p, const unsigned char* end, char16_t& unit) {
  const unsigned b = *p;
  if (b < 0x80) {
    unit = static_cast<char16_t>(b);
    ++p;
    return Step::kUnit;
  }
  if (b >= 0xF0 && b <= 0xF7 && end - p >= 4 && IsContinuation(p[1]) && IsContinuation(p[2]) &&
      IsContinuation(p[3])) {
    unit = kBeyondTheBmp;
    p += 4;
    return Step::kUnit;
  }
  // Any other lead takes one (bit 0x20 clear) or two following bytes; F0..FF only its low four bits.
  const std::ptrdiff_t size = (b & 0x20) == 0 ? 2 : 3;
  for (std::ptrdiff_t i = 1; i < size; ++i) {
    if (end - p == i) return Step::kCutShort;
    if (!IsContinuation(p[i])) return Step::kBad;
  }
  const unsigned second = p[1] & 0x3Fu;
  unit = size == 2 ? static_cast<char16_t>(((b & 0x1Fu) << 6) | second)
                   : static_cast<char16_t>(((b & 0x0Fu) << 12) | (second << 6) | (p[2] & 0x3Fu));
  p += size;
  return Step::kUnit;
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
    const Step step = DecodeUnit(p, end, *o);
    if (step == Step::kBad) return std::nullopt;
    if (step == Step::kCutShort) break;  // a page cut short loses only its last, partial character
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
    const Step step = DecodeUnit(p, end, unit);
    if (step == Step::kBad) return {};
    if (step == Step::kCutShort) break;
    o = table->Put(unit, o);
  }
  TrimTo(out, o);
  return out;
}

}  // namespace korinbo
