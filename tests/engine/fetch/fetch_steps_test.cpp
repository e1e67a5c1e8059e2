// The fetch's steps that need no network: URLs, cuts, line ends, classification and trimming.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <utility>

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
      {"https://a.example", "https://a.example"},
      {"https://a.example/x/y", "https://a.example/x"},
  };
  for (const auto& c : cases) EXPECT_EQ(BaseUrl(c.input), c.expected) << c.input;
}

TEST(ResolveLink, FollowsTheLinkRulesInOrder) {
  struct Case {
    std::string address, link, expected;
  };
  const Case cases[] = {
      // Absolute links stay, byte for byte as written.
      {"http://a.example/x/y.html", "http://b.example/", "http://b.example/"},
      {"http://a.example/x/y.html", "https://b.example/z", "https://b.example/z"},
      // Protocol-relative: the address's scheme.
      {"http://a.example/x/y.html", "//cdn.example/3.html", "http://cdn.example/3.html"},
      {"https://a.example/x/y.html", "//cdn.example/3.html", "https://cdn.example/3.html"},
      // Root-relative: the address's scheme and authority, the port included.
      {"http://a.example/x/y.html", "/top.html", "http://a.example/top.html"},
      {"http://127.0.0.1:47810/x/y.html?q=/z", "/top.html", "http://127.0.0.1:47810/top.html"},
      {"https://a.example", "/top.html", "https://a.example/top.html"},
      {"http://a.example?q=1", "/top.html", "http://a.example/top.html"},
      // Anything else after the base URL and "/".
      {"http://a.example/x/y.html", "z.html", "http://a.example/x/z.html"},
      {"http://a.example/x/y.html", "", "http://a.example/x/"},
      {"http://a.example/x/y.html", "HTTP://b.example/", "http://a.example/x/HTTP://b.example/"},
      {"http://a.example/x/y.html", "https:/b", "http://a.example/x/https:/b"},
      {"https://a.example/x/", "?p=2", "https://a.example/x/?p=2"},
      {"https://a.example", "z.html", "https://a.example/z.html"},
      // An address without "scheme://" (a saved page whose url is empty): the base URL alone.
      {"", "/top.html", "//top.html"},
      {"", "//cdn/x", "///cdn/x"},
  };
  for (const auto& c : cases) EXPECT_EQ(ResolveLink(c.link, c.address), c.expected) << c.address << " " << c.link;
}

TEST(RefusedUrlMessage, IsTheFetchsMessageForAUrlItWillNotDownload) {
  const std::string empty = Sjis("URLを入力してください。");
  const std::string not_http = Sjis("URLはhttp://から入力してください。");
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"", empty},
      {"https://a.example/", not_http},
      {" http://a.example/", not_http},
      {"HTTP://a.example/", not_http},
      {"http://a.example/", std::nullopt},
      {"http://", std::nullopt},
  };
  for (const auto& [url, message] : cases) EXPECT_EQ(RefusedUrlMessage(url), message) << url;
}

TEST(FindHeadlineArea, GivesTheCutsBoundsAndNamesAMissingMarker) {
  struct Case {
    std::string page, start, end;
    HeadlineArea area;
  };
  const Case cases[] = {
      {"x<ul>a</ul>y", "<ul>", "</ul>", {2, 7, false, false}},
      {"x<ul>a</ul>y", "", "", {0, 12, false, false}},
      {"x<ul>a</ul>y", "<ol>", "</ul>", {0, 7, true, false}},
      {"x<ul>a</ul>y", "<ul>", "</ol>", {2, 12, false, true}},
      {"x<ul>a</ul>y", "<ol>", "</ol>", {0, 12, true, true}},
      // The end marker is looked for after the start cut only.
      {"</ul>x<ul>a", "<ul>", "</ul>", {7, 11, false, true}},
      {"", "<ul>", "", {0, 0, true, false}},
  };
  for (const auto& c : cases) {
    const HeadlineArea area = FindHeadlineArea(c.page, c.start, c.end);
    EXPECT_EQ(area.begin, c.area.begin) << c.page << " " << c.start << " " << c.end;
    EXPECT_EQ(area.end, c.area.end) << c.page << " " << c.start << " " << c.end;
    EXPECT_EQ(area.start_missing, c.area.start_missing) << c.page << " " << c.start;
    EXPECT_EQ(area.end_missing, c.area.end_missing) << c.page << " " << c.end;
    EXPECT_EQ(c.page.substr(area.begin, area.end - area.begin), CutHeadlineArea(c.page, c.start, c.end));
  }
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
  HistoryLines seen;
  Rows rows;
  ExtractHeadlines(page, LinkSite(), LinkSite().url, seen, {}, rows);
  ASSERT_EQ(rows.rows.size(), 2u);
  EXPECT_EQ(rows.rows[0].caption, "One");
  EXPECT_EQ(rows.rows[0].remark, "[1.html]");
  EXPECT_EQ(rows.rows[0].link, "http://a.example/news/1.html");
  EXPECT_EQ(rows.rows[1].link, "http://b.example/2");
  EXPECT_EQ(seen.Lines(), (std::vector<std::string>{"http://a.example/news/1.html", "http://b.example/2"}));
  EXPECT_EQ(rows.counted, 2);
}

TEST(ExtractHeadlines, TemplatesSearchThePatternAgainWithinTheMatchAlone) {
  // Within the match alone "^" holds at its start, so the inner match differs from the page's.
  SiteDefinition site = LinkSite();
  site.anc_form = "(^y)?y?(\\d)";
  site.captions = "[$1]$2";
  site.jump_url = "http://a.example/$2";
  HistoryLines seen;
  Rows rows;
  ExtractHeadlines("ay1", site, "http://a.example", seen, {}, rows);
  ASSERT_EQ(rows.rows.size(), 1u);
  EXPECT_EQ(rows.rows[0].caption, "[y]1");
}

TEST(ExtractHeadlines, ClassifiesByWholeLines) {
  const std::string page =
      "<a href=\"http://a.example/1\">a</a>"        // a part of a seen link: new
      "<a href=\"http://n.example/\">n</a>"         // new
      "<a href=\"http://n.example/\">n</a>"         // the same link again: unread
      "<a href=\"http://v.example/\">v</a>"         // visited, never seen: read, and appended
      "<a href=\"http://n.example\">m</a>"          // a part of a link appended in this fetch: new
      "<a href=\"http://a.example/?id=12\">q</a>"   // a part of a seen and of a visited link: new
      "<a href=\"http://a.example/12\">s</a>";      // seen: unread
  HistoryLines seen{"http://a.example/12", "http://a.example/?id=123"};
  const HistoryLines visits{"old", "http://v.example/", "http://v.example/page", "http://a.example/?id=123"};
  Rows rows;
  ExtractHeadlines(page, LinkSite(), "http://a.example/", seen, visits, rows);
  EXPECT_EQ(Icons(rows),
            (std::vector<int>{kIconNew, kIconNew, kIconUnread, kIconRead, kIconNew, kIconNew, kIconUnread}));
  EXPECT_EQ(seen.Lines(), (std::vector<std::string>{"http://a.example/12", "http://a.example/?id=123",
                                                    "http://a.example/1", "http://n.example/", "http://v.example/",
                                                    "http://n.example", "http://a.example/?id=12"}));
}

TEST(ExtractHeadlines, AVisitedLinkIsReadEvenWhenRepeated) {
  const std::string page = "<a href=\"http://n.example/\">n</a><a href=\"http://n.example/\">n</a>";
  HistoryLines seen;
  Rows rows;
  ExtractHeadlines(page, LinkSite(), "http://a.example", seen, {"http://n.example/"}, rows);
  EXPECT_EQ(Icons(rows), (std::vector<int>{kIconRead, kIconRead}));
  EXPECT_EQ(seen.size(), 1u);
}

TEST(ExtractHeadlines, AnEmptyPatternIsAnErrorNotAMatchOfEverything) {
  SiteDefinition site = LinkSite();
  site.anc_form.clear();
  HistoryLines seen{"kept"};
  Rows rows;
  EXPECT_THROW(ExtractHeadlines("<a href=\"x\">x</a>", site, "http://a.example", seen, {}, rows), PatternError);
  EXPECT_TRUE(rows.rows.empty());
  EXPECT_EQ(rows.counted, 0);
  EXPECT_EQ(seen.Lines(), std::vector<std::string>{"kept"});
}

TEST(ExtractHeadlines, AnInvalidPatternIsAnError) {
  SiteDefinition site = LinkSite();
  site.anc_form = "(?:a)";
  HistoryLines seen;
  Rows rows;
  EXPECT_THROW(ExtractHeadlines("a", site, "http://a.example", seen, {}, rows), PatternError);
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
    HistoryLines seen_fast, seen_slow;
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

// A site whose caption and link are the pattern's first group.
SiteDefinition FirstGroupSite(const std::string& pattern) {
  SiteDefinition site;
  site.anc_form = pattern;
  site.captions = "$1";
  site.remark = "";
  site.jump_url = "$1";
  return site;
}

TEST(ExtractHeadlines, ARunawaySearchPartWayKeepsTheRowsBeforeIt) {
  // Matches, then text on which the search runs past its limits.
  std::string page;
  for (int i = 0; i < 1000; ++i) page += "x ";
  page += std::string(1 << 18, 'a') + "bc";
  HistoryLines seen;
  Rows rows;
  EXPECT_THROW(ExtractHeadlines(page, FirstGroupSite("(x)|(a|aa)*c"), "http://h/", seen, {}, rows), PatternError);
  EXPECT_EQ(rows.rows.size(), 1000u);
  EXPECT_EQ(rows.counted, 1000);
  EXPECT_EQ(seen.Lines(), std::vector<std::string>{"http://h/x"});
}

// The classification against random logs and links, which share lengths, beginnings and ends,
// agrees with comparing whole lines.
TEST(ExtractHeadlines, PresenceAgreesWithWholeLines) {
  std::mt19937 random(12345);
  for (int round = 0; round < 600; ++round) {
    std::vector<std::string> words;
    for (int i = 0; i < 6; ++i) {
      std::string word = "http://x/";
      for (std::size_t n = random() % 5; n > 0; --n) word += "ab/"[random() % 3];
      words.push_back(word);
    }
    auto draw = [&] { return random() % 8 == 0 ? std::string() : words[random() % words.size()]; };
    std::vector<std::string> seen_lines(random() % 8), visit_lines(random() % 8);
    for (auto& line : seen_lines) line = draw();
    for (auto& line : visit_lines) line = draw() + (random() % 6 == 0 ? "/" : "");
    std::string page;
    std::vector<std::string> links(1 + random() % 10);
    for (auto& link : links) {
      link = words[random() % words.size()];
      page += "<a href=\"" + link + "\">c</a>";
    }
    HistoryLines seen(seen_lines);
    Rows rows;
    ExtractHeadlines(page, LinkSite(), "http://a.example/", seen, HistoryLines(visit_lines), rows);
    std::vector<int> expected;
    for (const std::string& link : links) {
      auto holds = [&](const std::vector<std::string>& lines) {
        return std::find(lines.begin(), lines.end(), link) != lines.end();
      };
      int icon = kIconUnread;
      if (!holds(seen_lines)) {
        icon = kIconNew;
        seen_lines.push_back(link);
      }
      expected.push_back(holds(visit_lines) ? kIconRead : icon);
    }
    ASSERT_EQ(Icons(rows), expected) << "round " << round;
    ASSERT_EQ(seen.Lines(), seen_lines) << "round " << round;
  }
}

TEST(ExtractHeadlines, ALongVisitLogIsLookedUpByWholeLines) {
  std::vector<std::string> visits;
  for (int i = 0; i < 30000; ++i) visits.push_back("http://x/old/" + std::to_string(i));
  visits[12345] = "see http://x/n/7.html and more";
  visits[29999] = "http://x/n/1.html";
  visits[100] = "http://x/n/2.htm";
  std::string page;
  for (int i = 0; i < 40; ++i) page += "<a href=\"n/" + std::to_string(i) + ".html\">" + std::to_string(i) + "</a>";
  HistoryLines seen{"http://x/n/3.html"};
  Rows rows;
  ExtractHeadlines(page, LinkSite(), "http://x/", seen, HistoryLines(visits), rows);
  ASSERT_EQ(rows.rows.size(), 40u);
  for (const HeadlineRow& row : rows.rows) {
    const int expected = row.link == "http://x/n/1.html"   ? kIconRead
                         : row.link == "http://x/n/3.html" ? kIconUnread
                                                           : kIconNew;
    EXPECT_EQ(row.icon, expected) << row.link;
  }
  EXPECT_EQ(seen.size(), 40u);
}

TEST(ExtractHeadlines, CaptionsAndRemarksDecodeReferencesAndLinksTheirAsciiOnes) {
  struct Case {
    std::string anchor;  // what the page holds between "<a href=" and "</a>"
    std::string caption, remark, link;
  };
  const Case cases[] = {
      {"\"list.php?id=4&amp;p=2\">M&amp;A " + Sjis("で合意"), "M&A " + Sjis("で合意"), "[list.php?id=4&p=2]",
       "http://a.example/news/list.php?id=4&p=2"},
      // Decoded after the tags are stripped, and once.
      {"\"x\">&lt;b&gt;<i>&amp;amp;</i>&#12354;&#x3042;&nbsp;", "<b>&amp;" + Sjis("ああ") + " ", "[x]",
       "http://a.example/news/x"},
      // A decoded link takes the link rules: "&#47;" makes it root-relative.
      {"\"&#47;top.html\">t", "t", "[/top.html]", "http://a.example/top.html"},
      {"\"&#x2F;&#x2F;cdn.example/a\">t", "t", "[//cdn.example/a]", "http://cdn.example/a"},
      // References of other characters stay in a link as written.
      {"\"&#12354;&nbsp;&copy;\">t", "t", "[" + Sjis("あ") + " ?]", "http://a.example/news/&#12354;&nbsp;&copy;"},
  };
  for (const Case& c : cases) {
    HistoryLines seen;
    Rows rows;
    ExtractHeadlines("<a href=" + c.anchor + "</a>", LinkSite(), LinkSite().url, seen, {}, rows);
    ASSERT_EQ(rows.rows.size(), 1u) << c.anchor;
    EXPECT_EQ(rows.rows[0].caption, c.caption) << c.anchor;
    EXPECT_EQ(rows.rows[0].remark, c.remark) << c.anchor;
    EXPECT_EQ(rows.rows[0].link, c.link) << c.anchor;
    EXPECT_EQ(seen.Lines(), std::vector<std::string>{c.link});
  }
}

}  // namespace
}  // namespace korinbo
