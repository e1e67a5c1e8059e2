// Page conversions to Shift_JIS by fixed byte arithmetic; UTF-8 through the code page layer.
#include "korinbo/convert.h"

#include "convert/cp932_table.h"
#include "korinbo/codepage.h"

namespace korinbo {
namespace {

inline unsigned char Byte(char c) { return static_cast<unsigned char>(c); }

// The two bytes of JisCodeToSjis appended to out; nothing for a first byte out of range.
inline void AppendJisCode(unsigned first, unsigned second, std::string& out) {
  if (first < 0x21 || first > 0x7E) return;
  const unsigned trail = (first & 1) != 0 ? second + (second < 0x60 ? 0x1Fu : 0x20u) : second + 0x7Eu;
  const unsigned lead = ((first + 1) >> 1) + (first < 0x5F ? 0x70u : 0xB0u);
  out += static_cast<char>(lead & 0xFF);
  out += static_cast<char>(trail & 0xFF);
}


// One step of the lax decoder: the unit at `i`, advancing `i`; false on a bad or missing byte.
inline bool DecodeUnit(std::string_view text, std::size_t& i, char16_t& unit) {
  const unsigned b = Byte(text[i]);
  if (b < 0x80) {
    unit = static_cast<char16_t>(b);
    ++i;
    return true;
  }
  if ((b & 0x20) == 0) {
    if (i + 1 >= text.size()) return false;
    const unsigned t = Byte(text[i + 1]);
    if ((t & 0xC0) != 0x80) return false;
    unit = static_cast<char16_t>(((b & 0x1F) << 6) | (t & 0x3F));
    i += 2;
    return true;
  }
  if (i + 2 >= text.size()) return false;
  const unsigned t1 = Byte(text[i + 1]);
  const unsigned t2 = Byte(text[i + 2]);
  if ((t1 & 0xC0) != 0x80 || (t2 & 0xC0) != 0x80) return false;
  unit = static_cast<char16_t>((((b & 0x0F) << 12) | ((t1 & 0x3F) << 6) | (t2 & 0x3F)) & 0xFFFF);
  i += 3;
  return true;
}

}  // namespace

std::string JisCodeToSjis(unsigned char first, unsigned char second) {
  std::string out;
  AppendJisCode(first, second, out);
  return out;
}

bool IsHalfWidthKana(unsigned char byte) { return byte >= 0xA1 && byte <= 0xDF; }

bool IsEucLeadByte(unsigned char byte) { return byte >= 0xA1 && byte <= 0xFE; }

std::string EucToSjis(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    const unsigned char b = Byte(text[i]);
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++i;
    } else if (IsEucLeadByte(b)) {
      // The byte after a lead byte is taken whatever it is; a lead byte standing last is dropped.
      if (i + 1 < size) AppendJisCode(b - 0x80u, (Byte(text[i + 1]) - 0x80u) & 0xFFu, out);
      i += 2;
    } else if (b == 0x8E && i + 1 < size && IsHalfWidthKana(Byte(text[i + 1]))) {
      out += text[i + 1];
      i += 2;
    } else {
      out += static_cast<char>(b);
      ++i;
    }
  }
  return out;
}

std::string JisToSjis(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const std::size_t size = text.size();
  bool double_byte = false;
  std::size_t i = 0;
  while (i < size) {
    if (text[i] == '\x1B' && i + 2 < size) {
      const char a = text[i + 1];
      const char c = text[i + 2];
      if (a == '$' && c == 'B') {
        double_byte = true;
        i += 3;
        continue;
      }
      if (a == '(' && (c == 'B' || c == 'J')) {
        double_byte = false;
        i += 3;
        continue;
      }
    }
    if (double_byte) {
      if (i + 1 < size) AppendJisCode(Byte(text[i]), Byte(text[i + 1]), out);
      i += 2;
    } else {
      out += text[i];
      ++i;
    }
  }
  return out;
}

std::optional<std::u16string> DecodeUtf8(std::string_view text) {
  std::u16string units;
  units.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    char16_t unit = 0;
    if (!DecodeUnit(text, i, unit)) return std::nullopt;
    units += unit;
  }
  return units;
}

std::string Utf8ToSjis(std::string_view text) {
  if (text.empty()) return {};
  const Cp932Table* table = Cp932Table::Get();
  if (table == nullptr) return {};
  // Decoding and the code page conversion in one pass; a failure anywhere gives nothing at all.
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char b = Byte(text[i]);
    if (b < 0x80 && table->codes[b] == b) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    char16_t unit = 0;
    if (!DecodeUnit(text, i, unit)) return {};
    table->Append(unit, out);
  }
  return out;
}

}  // namespace korinbo
