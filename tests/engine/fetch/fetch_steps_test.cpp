// The fetch's steps that need no network: URLs, cuts, line ends, classification and trimming.
#include <gtest/gtest.h>

#include <random>

#include "fetch/link_presence.h"
#include "korinbo/codepage.h"
#include "korinbo/errors.h"
#include "korinbo/fetch.h"

namespace korinbo {
namespace {

struct TextCase {
  std::string input;
  std::string expected;
};

TEST(BaseUrl, IsTheTextBeforeTheLastSlash) {
  const TextCase cases[] = {
      {"http://a.example/x/y.html", "http://a.example/x"},
      {"http://a.example/x/", "http://a.example/x"},
      {"http://a.example/", "http://a.example"},
      {"http://a.example/x?y=/z", "http://a.example/x?y="},
      // Without a path the host stays, so that relative links stay on the site.
      {"http://a.example", "http://a.example"},
  };
  for (const auto& c : cases) EXPECT_EQ(BaseUrl(c.input), c.expected) << c.input;
}

TEST(ResolveLink, PrefixesEverythingButHttpLinksWithTheBase) {
  const std::string base = BaseUrl("http://a.example/x/y.html");
  const TextCase cases[] = {
      {"z.html", "http://a.example/x/z.html"},
      {"/top.html", "http://a.example/x//top.html"},
      {"", "http://a.example/x/"},
      {"https://b.example/", "http://a.example/x/https://b.example/"},
      {"HTTP://b.example/", "http://a.example/x/HTTP://b.example/"},
      {"http://b.example/", "http://b.example/"},
  };
  for (const auto& c : cases) EXPECT_EQ(ResolveLink(c.input, base), c.expected) << c.input;
}

TEST(CutHeadlineArea, DropsUpToTheStartMarkersFirstByteAndKeepsTheEndMarkersFirstByte) {
  struct Case {
    std::string page, start, end, expected;
  };
  const Case cases[] = {
      {"x<ul>a</ul>y", "<ul>", "</ul>", "ul>a<"},
      {"x<ul>a</ul>y", "", "</ul>", "x<ul>a<"},
      {"x<ul>a</ul>y", "<ul>", "", "ul>a</ul>y"},
      {"</ul>x<ul>a", "<ul>", "</ul>", "ul>a"},
      {"x<ul>a</ul>y", "<ol>", "</ol>", "x<ul>a</ul>y"},
      {"", "<ul>", "</ul>", ""},
      {"<ul>", "<ul>", "", "ul>"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CutHeadlineArea(c.page, c.start, c.end), c.expected) << c.page << " " << c.start << " " << c.end;
  }
}

TEST(NormaliseLineEnds, MakesLfAndCrLfIntoCrLfAndKeepsALoneCr) {
  EXPECT_EQ(NormaliseLineEnds("a\r\nb\nc\rd"), "a\r\nb\r\nc\rd");
  EXPECT_EQ(NormaliseLineEnds("\n\r\n\r"), "\r\n\r\n\r");
  EXPECT_EQ(NormaliseLineEnds("\n\r"), "\r\n\r");
}

TEST(ConvertByEncode, ComparesTheValueExactly) {
  const std::string euc = "\xB0\xA1";
  EXPECT_EQ(ConvertByEncode(euc, "euc"), "\x88\x9F");
  EXPECT_EQ(ConvertByEncode(euc, "EUC"), euc);
  EXPECT_EQ(ConvertByEncode(euc, " euc"), euc);
  EXPECT_EQ(ConvertByEncode(euc, ""), euc);
  EXPECT_EQ(ConvertByEncode("A\xE3\x81\x82", "utf8"), "A\x82\xA0");
  EXPECT_EQ(ConvertByEncode("\x1B$B0!\x1B(B", "jis"), "\x88\x9F");
}

// Collects rows as the window would show them.
class Rows : public HeadlineSink {
 public:
  void BeginHeadline() override { ++counted; }
  int AppendRow(std::string_view caption) override {
    rows.push_back(HeadlineRow{std::string(caption), {}, {}, -1});
    return static_cast<int>(rows.size() - 1);
  }
  void SetRemark(int row, std::string_view remark) override { rows.at(static_cast<std::size_t>(row)).remark = remark; }
  void SetIcon(int row, int icon) override { rows.at(static_cast<std::size_t>(row)).icon = icon; }
  void SetLink(int row, std::string_view link) override { rows.at(static_cast<std::size_t>(row)).link = link; }
  std::vector<HeadlineRow> rows;
  int counted = 0;
};

SiteDefinition LinkSite() {
  SiteDefinition site;
  site.url = "http://a.example/news/index.html";
  site.anc_form = "<a href=\"([^\"]*)\">(.*?)</a>";
  site.jump_url = "$1";
  site.captions = "$2";
  site.remark = "[$1]";
  return site;
}

std::vector<int> Icons(const Rows& rows) {
  std::vector<int> icons;
  for (const auto& row : rows.rows) icons.push_back(row.icon);
  return icons;
}

TEST(ExtractHeadlines, BuildsCaptionRemarkAndLinkFromEachMatch) {
  const std::string page = "<a href=\"1.html\"><b>One</b>\r\n</a><a href=\"http://b.example/2\">Two</a>";
  std::vector<std::string> seen;
  Rows rows;
  ExtractHeadlines(page, LinkSite(), BaseUrl(LinkSite().url), seen, {}, rows);
  ASSERT_EQ(rows.rows.size(), 2u);
  EXPECT_EQ(rows.rows[0].caption, "One");
  EXPECT_EQ(rows.rows[0].remark, "[1.html]");
  EXPECT_EQ(rows.rows[0].link, "http://a.example/news/1.html");
  EXPECT_EQ(rows.rows[1].link, "http://b.example/2");
  EXPECT_EQ(seen, (std::vector<std::string>{"http://a.example/news/1.html", "http://b.example/2"}));
  EXPECT_EQ(rows.counted, 2);
}

TEST(ExtractHeadlines, TemplatesSearchThePatternAgainWithinTheMatchAlone) {
  // Within the match alone "^" holds at its start, so the inner match differs from the page's.
  SiteDefinition site = LinkSite();
  site.anc_form = "(^y)?y?(\\d)";
  site.captions = "[$1]$2";
  site.jump_url = "http://a.example/$2";
  std::vector<std::string> seen;
  Rows rows;
  ExtractHeadlines("ay1", site, "http://a.example", seen, {}, rows);
  ASSERT_EQ(rows.rows.size(), 1u);
  EXPECT_EQ(rows.rows[0].caption, "[y]1");
}

TEST(ExtractHeadlines, ClassifiesByTheSubstringRule) {
  const std::string page =
      "<a href=\"http://a.example/1\">a</a>"    // a part of a seen link: unread
      "<a href=\"http://n.example/\">n</a>"     // new
      "<a href=\"http://n.example/\">n</a>"     // the same link again: unread
      "<a href=\"http://v.example/\">v</a>"     // visited, never seen: read, and appended
      "<a href=\"http://n.example\">m</a>";     // a part of a link appended in this fetch: unread
  std::vector<std::string> seen{"http://a.example/12"};
  const std::vector<std::string> visits{"old", "http://v.example/page"};
  Rows rows;
  ExtractHeadlines(page, LinkSite(), "http://a.example", seen, visits, rows);
  EXPECT_EQ(Icons(rows), (std::vector<int>{kIconUnread, kIconNew, kIconUnread, kIconRead, kIconUnread}));
  EXPECT_EQ(seen, (std::vector<std::string>{"http://a.example/12", "http://n.example/", "http://v.example/"}));
}

TEST(ExtractHeadlines, AVisitedLinkIsReadEvenWhenRepeated) {
  const std::string page = "<a href=\"http://n.example/\">n</a><a href=\"http://n.example/\">n</a>";
  std::vector<std::string> seen;
  Rows rows;
  ExtractHeadlines(page, LinkSite(), "http://a.example", seen, {"http://n.example/"}, rows);
  EXPECT_EQ(Icons(rows), (std::vector<int>{kIconRead, kIconRead}));
  EXPECT_EQ(seen.size(), 1u);
}

TEST(ExtractHeadlines, AnEmptyPatternIsAnErrorNotAMatchOfEverything) {
  SiteDefinition site = LinkSite();
  site.anc_form.clear();
  std::vector<std::string> seen{"kept"};
  Rows rows;
  EXPECT_THROW(ExtractHeadlines("<a href=\"x\">x</a>", site, "http://a.example", seen, {}, rows), PatternError);
  EXPECT_TRUE(rows.rows.empty());
  EXPECT_EQ(rows.counted, 0);
  EXPECT_EQ(seen, std::vector<std::string>{"kept"});
}

TEST(ExtractHeadlines, AnInvalidPatternIsAnError) {
  SiteDefinition site = LinkSite();
  site.anc_form = "(?:a)";
  std::vector<std::string> seen;
  Rows rows;
  EXPECT_THROW(ExtractHeadlines("a", site, "http://a.example", seen, {}, rows), PatternError);
}

TEST(LinkPresence, AgreesWithASubstringSearchOfTheJoinedText) {
  std::mt19937 random(12345);
  auto word = [&](std::size_t max_length) {
    std::string text;
    const std::size_t length = random() % max_length;
    for (std::size_t i = 0; i < length; ++i) text += "ab\r\n/"[random() % 5];
    return text;
  };
  for (int round = 0; round < 200; ++round) {
    std::vector<std::string> links;
    for (int i = 0; i < 8; ++i) links.push_back(word(6));
    std::vector<std::string> lines;
    for (int i = 0; i < 5; ++i) lines.push_back(word(8));
    LinkPresence presence(links);
    std::string joined;
    for (const auto& line : lines) {
      joined += line + "\r\n";
      presence.AddLine(line);
    }
    for (std::size_t id = 0; id < links.size(); ++id) {
      const bool expected = !links[id].empty() && joined.find(links[id]) != std::string::npos;
      ASSERT_EQ(presence.Present(id), expected) << "round " << round << " link " << links[id];
    }
  }
}

TEST(LinkPresence, FindsALinkAcrossALineEndAndInLinesAddedLater) {
  const std::vector<std::string> links{"b\r\nc", "yz", "ab", "http://a.example/1", "http://a.example/12"};
  LinkPresence presence(links);
  presence.AddLine("ab");
  EXPECT_FALSE(presence.Present(0));
  EXPECT_TRUE(presence.Present(2));
  presence.AddLine("cyz");
  EXPECT_TRUE(presence.Present(0));
  EXPECT_TRUE(presence.Present(1));
  presence.AddLine("xhttp://a.example/123");
  EXPECT_TRUE(presence.Present(3));
  EXPECT_TRUE(presence.Present(4));
}

TEST(LinkPresence, TellsApartManyLinksSharingOneBeginning) {
  std::vector<std::string> links;
  for (int i = 0; i < 3000; ++i) links.push_back("http://news.example/top//news/2026/12/" + std::to_string(i) + ".html");
  LinkPresence presence(links);
  for (int i = 0; i < 3000; i += 7) presence.AddLine("http://news.example/top//news/2026/12/" + std::to_string(i) + ".html");
  presence.AddLine("http://news.example/top//news/2026/12/5.htm");
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(presence.Present(static_cast<std::size_t>(i)), i % 7 == 0) << i;
}

}  // namespace
}  // namespace korinbo

namespace korinbo {
namespace {

// Templates are expanded against the pattern's first match within the matched text alone. For a
// pattern without assertions that is the page's match itself, which the extraction reuses; a
// "(?-i)" in front changes nothing in the pattern's meaning but makes the extraction search again.
TEST(ExtractHeadlines, ReusingThePagesMatchGivesWhatSearchingAgainGives) {
  std::mt19937 random(4242);
  const char* atoms[] = {"a", "b", ".", "[ab]", "[^a]", "\\d", "1", "<", ">"};
  const char* quantifiers[] = {"", "", "*", "+", "?", "{1,2}", "*?", "+?", "??"};
  auto piece = [&](auto& self, int depth) -> std::string {
    std::string text = atoms[random() % std::size(atoms)];
    if (depth > 0 && random() % 3 == 0) text = "(" + self(self, depth - 1) + self(self, depth - 1) + ")";
    if (depth > 0 && random() % 5 == 0) text = "(" + self(self, depth - 1) + "|" + self(self, depth - 1) + ")";
    return text + quantifiers[random() % std::size(quantifiers)];
  };
  int compared = 0;
  for (int round = 0; round < 400; ++round) {
    SiteDefinition site;
    site.anc_form = piece(piece, 2) + piece(piece, 2);
    site.captions = "[$1|$2]";
    site.remark = "$0";
    site.jump_url = "http://x/$3";
    std::string page;
    for (int i = 0; i < 40; ++i) page += "ab1<>\r\n"[random() % 7];
    SiteDefinition searching = site;
    searching.anc_form = "(?-i)" + site.anc_form;
    std::vector<std::string> seen_fast, seen_slow;
    Rows fast, slow;
    try {
      ExtractHeadlines(page, site, "http://x", seen_fast, {}, fast);
    } catch (const PatternError&) {
      continue;  // outside the dialect, e.g. a repetition of something that can match nothing
    }
    ExtractHeadlines(page, searching, "http://x", seen_slow, {}, slow);
    ASSERT_EQ(fast.rows.size(), slow.rows.size()) << site.anc_form;
    for (std::size_t i = 0; i < fast.rows.size(); ++i) {
      ASSERT_EQ(fast.rows[i].caption, slow.rows[i].caption) << site.anc_form << " on " << page;
      ASSERT_EQ(fast.rows[i].remark, slow.rows[i].remark) << site.anc_form;
      ASSERT_EQ(fast.rows[i].link, slow.rows[i].link) << site.anc_form;
    }
    ++compared;
  }
  EXPECT_GT(compared, 200);
}

}  // namespace
}  // namespace korinbo
