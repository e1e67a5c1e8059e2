#include "korinbo/test/site_file.h"

#include <utility>

#include "korinbo/codepage.h"

namespace korinbo::test {

std::filesystem::path WriteSite(const TempDir& dir, std::string_view category, std::string_view name,
                                const SiteFile& site) {
  const std::pair<const char*, const std::string*> values[] = {
      {"url", &site.url},           {"str_start", &site.str_start}, {"str_end", &site.str_end},
      {"anc_form", &site.anc_form}, {"jump_url", &site.jump_url},   {"captions", &site.captions},
      {"remark", &site.remark},     {"encode", &site.encode}};
  std::string text;
  for (const auto& [key, value] : values) {
    if (!value->empty()) text += std::string(key) + " =" + *value + "\r\n";
  }
  return dir.Write(
      std::filesystem::path("newsurl") / (std::string(category) + "_" + std::string(name) + ".txt"),
      Sjis(text));
}

}  // namespace korinbo::test
