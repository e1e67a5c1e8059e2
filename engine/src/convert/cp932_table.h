#pragma once
// UTF-16 code units to CP932 bytes, filled once from iconv.
#include <array>
#include <cstdint>
#include <string>

namespace korinbo {

struct Cp932Table {
  static constexpr std::uint16_t kNoMapping = 0xFFFF;
  // A single byte b is stored as b, a pair as lead << 8 | trail (a lead byte is never 0).
  std::array<std::uint16_t, 0x10000> codes{};

  // nullptr when the converter cannot be had.
  static const Cp932Table* Get();

  // A unit without a character becomes one "?".
  void Append(char16_t unit, std::string& out) const {
    const std::uint16_t code = codes[unit];
    if (code == kNoMapping) {
      out += '?';
    } else if (code > 0xFF) {
      out += static_cast<char>(code >> 8);
      out += static_cast<char>(code & 0xFF);
    } else {
      out += static_cast<char>(code);
    }
  }
};

}  // namespace korinbo
