// Reading site definition files and splitting their names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "korinbo/codepage.h"
#include "korinbo/pattern.h"
#include "korinbo/site_definition.h"

namespace korinbo {
namespace {

using namespace std::string_literals;

struct UrlRow {
  std::string file_text;
  std::string url;
};

TEST(ReadSiteDefinition, KeyLines) {
  const std::vector<UrlRow> rows = {
      {"url =http://a.example/\r\n", "http://a.example/"},
      {"url = http://a.example/\r\n", " http://a.example/"},  // the leading blank belongs to the value
      {"url=\r\n", ""},
      {"url =\r\nurl =http://late/\r\n", "http://late/"},  // an empty value is no match
      {"URL =http://a.example/\r\n", ""},
      {"url\t=http://a/\r\n", ""},
      {" url =http://a/\r\n", ""},
      {"xurl =http://a/\r\n", ""},
      {"urls =http://a/\r\n", ""},
      {"url    =x\r\n", "x"},
      {"url==x\r\n", "=x"},
      {"url =x  \r\n", "x  "},  // trailing blanks too
      {"url =http://first/\r\nurl =http://second/\r\n", "http://first/"},
      {"# note\r\n\r\nurl =http://a/\r\n", "http://a/"},
      {"url =http://a/", "http://a/"},
      {"a\rurl =http://cr/\r", "http://cr/"},  // a line that ends with CR alone
      {"a\nurl =http://lf/\n", "http://lf/"},
      {"a\n\rurl =x\r\n", "x"},    // LF CR: two breaks
      {"url =ab\0cd\r\n"s, "ab"},  // the text ends at its NUL
      {"x\0\r\nurl =y\r\n"s, ""},
      {"url =a\tb\xff\r\n", "a\tb\xff"},
  };
  for (const UrlRow& row : rows) {
    EXPECT_EQ(ReadSiteDefinition(row.file_text).url, row.url) << row.file_text;
  }
}

TEST(ReadSiteDefinition, AllEightValues) {
  const std::string file = Sjis(
      "; 夕刊タイムズ\r\n"
      "url =http://127.0.0.1:47810/yukan/index.html\r\n"
      "str_start =<!-- headlines -->\r\n"
      "str_end =<!-- /headlines -->\r\n"
      "anc_form =<dt>([^<]*)</dt>\\s*<dd><a href=\"([^\"]+)\">([^<]+)</a>\r\n"
      "jump_url =$2\r\n"
      "captions =【$3】\r\n"
      "remark =$1 (政治)\r\n"
      "remark =ignored\r\n"
      "encode =jis\r\n");
  const SiteDefinition site = ReadSiteDefinition(file);
  EXPECT_EQ(site.url, "http://127.0.0.1:47810/yukan/index.html");
  EXPECT_EQ(site.str_start, "<!-- headlines -->");
  EXPECT_EQ(site.str_end, "<!-- /headlines -->");
  EXPECT_EQ(site.anc_form, "<dt>([^<]*)</dt>\\s*<dd><a href=\"([^\"]+)\">([^<]+)</a>");
  EXPECT_EQ(site.jump_url, "$2");
  EXPECT_EQ(site.captions, Sjis("【$3】"));
  EXPECT_EQ(site.remark, Sjis("$1 (政治)"));
  EXPECT_EQ(site.encode, "jis");

  const SiteDefinition empty = ReadSiteDefinition("");
  EXPECT_EQ(empty.url, "");
  EXPECT_EQ(empty.anc_form, "");
  EXPECT_EQ(empty.encode, "");
}

TEST(ReadSiteDefinition, KeysDoNotCaptureEachOther) {
  const SiteDefinition site =
      ReadSiteDefinition("str_end =E\r\nstr_start =S\r\nremarks =no\r\nremark =R\r\n");
  EXPECT_EQ(site.str_start, "S");
  EXPECT_EQ(site.str_end, "E");
  EXPECT_EQ(site.remark, "R");
}

TEST(ReadSiteDefinition, SameAsTheKeyPatternThroughTheEngine) {
  // The reader scans bytes directly; it must agree with "^K *=([^\r\n]+)" and "$1" everywhere.
  const std::vector<std::string> texts = {
      "url =a\r\nencode =euc\r\n",
      "\r\nurl =a",
      "x\rurl =b\r\nurl =c",
      "url =\rurl =d",
      "url =\r\n url =e\r\nurl  =f",
      "encode\t=x\r\nencode =y",
      "jump_url =$1\r\ncaptions =\\$2\r\n",
      "url =1\0url =2"s,
      "\nurl =g\n\rurl =h",
      "url = =\r\n",
      "remark =a\rb\nc",
      "anc_form =x\r\r\nanc_form =y",
      "urlurl =z\r\nurl",
      "url",
      "url =",
      "\r",
  };
  const std::vector<std::string> keys = {"url",      "str_start", "str_end", "anc_form",
                                         "jump_url", "captions",  "remark",  "encode"};
  for (const std::string& text : texts) {
    const SiteDefinition site = ReadSiteDefinition(text);
    const std::vector<const std::string*> values = {&site.url,      &site.str_start, &site.str_end,
                                                    &site.anc_form, &site.jump_url,  &site.captions,
                                                    &site.remark,   &site.encode};
    for (std::size_t k = 0; k < keys.size(); ++k) {
      EXPECT_EQ(*values[k], PatternSubstitute(text, "^" + keys[k] + " *=([^\\r\\n]+)", "$1"))
          << keys[k] << " in " << text;
    }
  }
}

struct SplitRow {
  std::string base_name, category, site;
};

TEST(SplitSiteFileName, Table) {
  const std::vector<SplitRow> rows = {
      {Sjis("国内_毎日"), Sjis("国内"), Sjis("毎日")},
      {Sjis("経済_日経_速報"), Sjis("経済"), Sjis("日経_速報")},
      {"_a_b", "a", "b"},
      {"__a_b", "a", "b"},
      {"a__b", "a", "_b"},
      {"a_b_", "a", "b_"},
      {"news", "", ""},
      {"a_", "", ""},
      {"_", "", ""},
      {"__", "", ""},
      {"", "", ""},
      {"a_\r", "a", "\r"},
      {"a_b\0c"s, "a", "b"},  // the name ends at its NUL
      {"a\0_b"s, "", ""},
      {"\x83\x5f_x", "\x83", "_x"},  // a trail byte 0x5F is a "_"
  };
  for (const SplitRow& row : rows) {
    const SiteFileName name = SplitSiteFileName(row.base_name);
    EXPECT_EQ(name.category, row.category) << row.base_name;
    EXPECT_EQ(name.site, row.site) << row.base_name;
    // And the same as the name pattern through the engine.
    EXPECT_EQ(name.category, PatternSubstitute(row.base_name, "([^_]+)_(.+)", "$1")) << row.base_name;
    EXPECT_EQ(name.site, PatternSubstitute(row.base_name, "([^_]+)_(.+)", "$2")) << row.base_name;
  }
}

}  // namespace
}  // namespace korinbo
