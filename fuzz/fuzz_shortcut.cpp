// Shortcut texts as a settings file may hold them: parsing never fails, and a value that parses
// formats to a text that parses back to the same value.
#include <cstdint>
#include <string_view>

#include "korinbo/shortcut.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const korinbo::TShortCut value = korinbo::ParseShortCut(text);
  if (value != 0) {
    const std::string formatted = korinbo::FormatShortCut(value);
    if (korinbo::ParseShortCut(formatted) != value) __builtin_trap();
  }
  (void)korinbo::SplitShortCut(value);
  return 0;
}
