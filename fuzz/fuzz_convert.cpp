// The three page conversions and the UTF-8 decoder on any bytes.
#include <cstdint>
#include <string_view>

#include "korinbo/convert.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // Neither Japanese conversion ever makes its input longer.
  if (korinbo::EucToSjis(text).size() > size) __builtin_trap();
  if (korinbo::JisToSjis(text).size() > size) __builtin_trap();
  const auto units = korinbo::DecodeUtf8(text);
  const std::string sjis = korinbo::Utf8ToSjis(text);
  // Two bytes per unit at most, and nothing when the decoding fails.
  if (!units && !sjis.empty()) __builtin_trap();
  if (units && sjis.size() > units->size() * 2) __builtin_trap();
  return 0;
}
