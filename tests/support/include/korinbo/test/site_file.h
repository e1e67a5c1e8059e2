#pragma once
// Site definition files as the tests write them: values in UTF-8 here, Shift_JIS on disk.
#include <filesystem>
#include <string>
#include <string_view>

#include "korinbo/test/temp_dir.h"

namespace korinbo::test {

// The values of one site file; an empty one is left out. The defaults take the headlines of a
// list, <li><a href="LINK">CAPTION</a></li> between <ul> and </ul>, with the remark "備考" + LINK.
struct SiteFile {
  std::string url{};
  std::string anc_form = "<li><a href=\"([^\"]*)\">([^<]*)</a></li>";
  std::string str_start = "<ul>";
  std::string str_end = "</ul>";
  std::string jump_url = "$1";
  std::string captions = "$2";
  std::string remark = "備考$1";
  std::string encode{};
};

// Writes newsurl/<category>_<name>.txt in `dir`, one "key =value" line for each value.
std::filesystem::path WriteSite(const TempDir& dir, std::string_view category, std::string_view name,
                                const SiteFile& site);

}  // namespace korinbo::test
