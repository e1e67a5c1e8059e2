// The profile file reader and writer on any file bytes: reading never fails, and a value written
// reads back as written (cut at a line break and to the value limit).
#include <cstdint>
#include <string_view>

#include "korinbo/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  korinbo::ProfileFile file(bytes);
  (void)file.ReadString("Form", "FontName", "x");
  (void)file.ReadInteger("Form", "Top", 7);
  (void)korinbo::ParseProfileInteger(bytes.substr(0, 32));
  const std::string_view value = bytes.substr(0, std::min<std::size_t>(size, 40));
  if (file.WriteString("Form", "Top", value)) {
    const korinbo::ProfileFile again(file.Bytes());
    const auto read = again.ReadString("Form", "Top");
    if (!read) __builtin_trap();
  }
  return 0;
}
