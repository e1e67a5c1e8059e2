#pragma once
// Site definition files: "key =value" lines in the site folder, one file per site.
#include <array>
#include <string>
#include <string_view>
#include <utility>

namespace korinbo {

struct SiteDefinition {
  std::string url;
  std::string str_start;
  std::string str_end;
  std::string anc_form;
  std::string jump_url;
  std::string captions;
  std::string remark;
  std::string encode;

  bool operator==(const SiteDefinition&) const = default;
};

// file_text: the file's lines joined with CR LF after each line.
SiteDefinition ReadSiteDefinition(std::string_view file_text);

// The eight keys in the order a new file lists them, each with its member.
struct SiteKey {
  std::string_view name;
  std::string SiteDefinition::*value;
};
inline constexpr std::array<SiteKey, 8> kSiteKeys = {{
    {"url", &SiteDefinition::url},
    {"str_start", &SiteDefinition::str_start},
    {"str_end", &SiteDefinition::str_end},
    {"anc_form", &SiteDefinition::anc_form},
    {"jump_url", &SiteDefinition::jump_url},
    {"captions", &SiteDefinition::captions},
    {"remark", &SiteDefinition::remark},
    {"encode", &SiteDefinition::encode},
}};

// "経済_日経_速報" gives {"経済", "日経_速報"}; a base name without "_" gives two empty texts.
struct SiteFileName {
  std::string category;
  std::string site;
};
SiteFileName SplitSiteFileName(std::string_view base_name);

}  // namespace korinbo
