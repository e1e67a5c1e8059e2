#pragma once
// UTF-16 code units to CP932 bytes, filled once from iconv.
#include <array>
#include <cstdint>

namespace korinbo {

struct Cp932Table {
  // A single byte b is stored as b, a pair as lead << 8 | trail (a lead byte is never 0). A unit
  // without a character is stored as "?", so that a lookup never needs a second test.
  std::array<std::uint16_t, 0x10000> codes{};
  // Every seven-bit unit is the byte of its value, so that ASCII runs may be copied as they are.
  bool ascii_is_itself = false;

  // nullptr when the converter cannot be had. Built on first use, safe from any thread.
  static const Cp932Table* Get();

  // Writes the unit's one or two bytes at out and returns the position after them.
  char* Put(char16_t unit, char* out) const {
    const std::uint16_t code = codes[unit];
    if (code > 0xFF) {
      *out++ = static_cast<char>(code >> 8);
      *out++ = static_cast<char>(code & 0xFF);
    } else {
      *out++ = static_cast<char>(code);
    }
    return out;
  }
};

}  // namespace korinbo
