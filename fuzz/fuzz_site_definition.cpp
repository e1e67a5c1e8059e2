// Site definition files and file names as they come from the site folder.
#include <cstdint>
#include <string_view>

#include "korinbo/file_io.h"
#include "korinbo/site_definition.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto site = korinbo::ReadSiteDefinition(korinbo::JoinLines(korinbo::SplitLines(text)));
  // A value is the rest of one line: it never holds a line break.
  for (const std::string* value : {&site.url, &site.anc_form, &site.remark, &site.encode}) {
    if (value->find_first_of("\r\n") != std::string::npos) __builtin_trap();
  }
  const auto name = korinbo::SplitSiteFileName(text);
  if (name.category.find('_') != std::string::npos) __builtin_trap();
  if (name.category.size() + name.site.size() > size) __builtin_trap();
  return 0;
}
