// Site files written from a changed definition: the eight keys, the other lines and the encoding.
#include <gtest/gtest.h>

#include <string>

#include "korinbo/codepage.h"
#include "korinbo/fetch.h"

namespace korinbo {
namespace {

SiteDefinition Demo() {
  SiteDefinition site;
  site.url = "http://a.example/news/";
  site.str_start = "<ul>";
  site.str_end = "</ul>";
  site.anc_form = "<li><a href=\"([^\"]+)\">([^<]+)</a>";
  site.jump_url = "$1";
  site.captions = "$2";
  site.remark = Sjis("速報");
  site.encode = "euc";
  return site;
}

// What the fetch reads back from a file's bytes.
SiteDefinition ReadBack(const std::string& bytes) {
  return ReadSiteDefinition(JoinLines(SplitLines(DecodeSiteFile(bytes).sjis)));
}

TEST(SiteFileBytes, NewFileListsTheEightKeysInShiftJis) {
  EXPECT_EQ(SiteFileBytes("", Demo()),
            "url=http://a.example/news/\r\nstr_start=<ul>\r\nstr_end=</ul>\r\n"
            "anc_form=<li><a href=\"([^\"]+)\">([^<]+)</a>\r\njump_url=$1\r\ncaptions=$2\r\nremark=" +
                Sjis("速報") + "\r\nencode=euc\r\n");
  SiteDefinition empty;
  EXPECT_EQ(
      SiteFileBytes("", empty),
      "url=\r\nstr_start=\r\nstr_end=\r\nanc_form=\r\njump_url=\r\ncaptions=\r\nremark=\r\nencode=\r\n");
}

TEST(SiteFileBytes, EditedFileKeepsItsOtherLinesAndItsUnchangedKeys) {
  const std::string old_file = Sjis("# 朝刊の一覧\r\n") +
                               "url =http://a.example/news/\n"
                               "str_start=<ul>\r\n"
                               "str_end=</ul>\r\n" +
                               Sjis("# 見出しのパターン\r\n") +
                               "anc_form=<li>(.*)\r\n"
                               "jump_url=$1\r\n"
                               "captions=$2\r\n"
                               "remark=x\r\n"
                               "encode=euc\r\n"
                               "favicon=/icon.png\r\n";
  const std::string expected = Sjis("# 朝刊の一覧\r\n") +
                               "url =http://a.example/news/\r\n"
                               "str_start=<ul>\r\n"
                               "str_end=</ul>\r\n" +
                               Sjis("# 見出しのパターン\r\n") +
                               "anc_form=<li><a href=\"([^\"]+)\">([^<]+)</a>\r\n"
                               "jump_url=$1\r\n"
                               "captions=$2\r\n"
                               "remark=" +
                               Sjis("速報") +
                               "\r\n"
                               "encode=euc\r\n"
                               "favicon=/icon.png\r\n";
  EXPECT_EQ(SiteFileBytes(old_file, Demo()), expected);
}

TEST(SiteFileBytes, MissingKeysGoAfterTheKeyBeforeThem) {
  const std::string old_file = "# top\r\nurl=http://a.example/news/\r\nanc_form=x\r\n# end\r\n";
  EXPECT_EQ(SiteFileBytes(old_file, Demo()),
            "# top\r\nurl=http://a.example/news/\r\nstr_start=<ul>\r\nstr_end=</ul>\r\n"
            "anc_form=<li><a href=\"([^\"]+)\">([^<]+)</a>\r\njump_url=$1\r\ncaptions=$2\r\nremark=" +
                Sjis("速報") + "\r\nencode=euc\r\n# end\r\n");
  // Without any key the eight follow the file's lines.
  EXPECT_EQ(ReadBack(SiteFileBytes("# only a note\r\n", Demo())), Demo());
  EXPECT_EQ(SiteFileBytes("# only a note\r\n", Demo()).substr(0, 20), "# only a note\r\nurl=h");
}

TEST(SiteFileBytes, ReadsBackAsTheDefinitionWhateverTheOldKeyLines) {
  const std::string cases[] = {
      // A first line without a value lets the second one count; a new value must win over both.
      "remark=\r\nremark=old\r\n",
      // Later lines of a key are ignored while the first counts; an empty value would let them count.
      "remark=old\r\nremark=older\r\n",
      "encode=jis\r\nencode =utf8\r\n",
      // Keys in another case, indented or with a tab are other lines.
      "URL=http://b.example/\r\n url=x\r\nurl\t=y\r\n",
  };
  SiteDefinition cleared = Demo();
  cleared.remark.clear();
  cleared.encode.clear();
  for (const std::string& old_file : cases) {
    EXPECT_EQ(ReadBack(SiteFileBytes(old_file, Demo())), Demo()) << old_file;
    const std::string cleared_file = SiteFileBytes(old_file, cleared);
    EXPECT_EQ(ReadBack(cleared_file), cleared) << old_file;
    EXPECT_EQ(cleared_file.find("URL=http://b.example/\r\n url=x\r\nurl\t=y\r\n") == 0,
              old_file.starts_with("URL"))
        << old_file;
  }
  // The later line is kept as a comment, not dropped.
  const std::string commented = SiteFileBytes("remark=old\r\nremark=older\r\n", cleared);
  EXPECT_NE(commented.find("remark=\r\n"), std::string::npos);
  EXPECT_NE(commented.find("\r\n#remark=older\r\n"), std::string::npos);
}

TEST(SiteFileBytes, Utf8FileStaysUtf8WithItsByteOrderMark) {
  const std::string note =
      "# \xE9\x80\x9F\xE5\xA0\xB1 \xF0\x9F\x93\xB0\r\n";  // "速報" and an emoji CP932 lacks
  for (const std::string mark : {"", "\xEF\xBB\xBF"}) {
    SCOPED_TRACE(mark.empty() ? "without mark" : "with mark");
    const std::string old_file = mark + "url=http://a.example/news/\r\nremark=\xE6\x97\xA7\r\n" + note;
    const std::string written = SiteFileBytes(old_file, Demo());
    EXPECT_EQ(written, mark +
                           "url=http://a.example/news/\r\nstr_start=<ul>\r\nstr_end=</ul>\r\n"
                           "anc_form=<li><a href=\"([^\"]+)\">([^<]+)</a>\r\njump_url=$1\r\ncaptions=$2\r\n"
                           "remark=\xE9\x80\x9F\xE5\xA0\xB1\r\nencode=euc\r\n" +
                           note);
    // The reader takes it as UTF-8 too, the emoji as "?".
    EXPECT_TRUE(DecodeSiteFile(written).utf8);
    EXPECT_EQ(ReadBack(written), Demo());
    EXPECT_NE(DecodeSiteFile(old_file).sjis.find(Sjis("# 速報 ?\r\n")), std::string::npos);
  }
}

TEST(SiteFileBytes, Utf8FileThatConvertsStaysUtf8) {
  const std::string old_file = "# \xE6\x9C\x9D\xE5\x88\x8A\r\nurl=http://a.example/news/\r\n";  // "朝刊"
  const std::string written = SiteFileBytes(old_file, Demo());
  EXPECT_TRUE(DecodeSiteFile(written).utf8);
  EXPECT_EQ(written.substr(0, 10), "# \xE6\x9C\x9D\xE5\x88\x8A\r\n");
  EXPECT_NE(written.find("remark=\xE9\x80\x9F\xE5\xA0\xB1\r\n"), std::string::npos);
  EXPECT_EQ(ReadBack(written), Demo());
  // With a mark, also a file of ASCII bytes alone is UTF-8, and keeps its mark.
  const std::string marked = SiteFileBytes("\xEF\xBB\xBFurl=http://a.example/\r\n", Demo());
  EXPECT_EQ(marked.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_NE(marked.find("remark=\xE9\x80\x9F\xE5\xA0\xB1\r\n"), std::string::npos);
}

}  // namespace
}  // namespace korinbo
