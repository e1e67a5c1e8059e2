// The fetch's steps that need no network: URLs, cuts, line ends, classification and trimming.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "fetch/extraction.h"
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
  HistoryLines seen;
  Rows rows;
  ExtractHeadlines(page, LinkSite(), BaseUrl(LinkSite().url), seen, {}, rows);
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

TEST(ExtractHeadlines, ClassifiesByTheSubstringRule) {
  const std::string page =
      "<a href=\"http://a.example/1\">a</a>"    // a part of a seen link: unread
      "<a href=\"http://n.example/\">n</a>"     // new
      "<a href=\"http://n.example/\">n</a>"     // the same link again: unread
      "<a href=\"http://v.example/\">v</a>"     // visited, never seen: read, and appended
      "<a href=\"http://n.example\">m</a>";     // a part of a link appended in this fetch: unread
  HistoryLines seen{"http://a.example/12"};
  const HistoryLines visits{"old", "http://v.example/page"};
  Rows rows;
  ExtractHeadlines(page, LinkSite(), "http://a.example", seen, visits, rows);
  EXPECT_EQ(Icons(rows), (std::vector<int>{kIconUnread, kIconNew, kIconUnread, kIconRead, kIconUnread}));
  EXPECT_EQ(seen.Lines(), (std::vector<std::string>{"http://a.example/12", "http://n.example/", "http://v.example/"}));
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

// The presence of each link in lines added one by one, from one index of the links.
class Presence {
 public:
  explicit Presence(const std::vector<std::string>& links)
      : views_(links.begin(), links.end()), index_(views_), presence_(index_) {}
  void AddLine(std::string_view line) { presence_.AddLine(line); }
  void AddLines(const std::vector<std::string>& lines) { presence_.AddLines(HistoryLines(lines)); }
  void AddLink(std::size_t id) { presence_.AddLink(id); }
  bool Present(std::size_t id) const { return presence_.Present(id); }

 private:
  std::vector<std::string_view> views_;
  LinkIndex index_;
  LinkPresence presence_;
};

TEST(LinkPresence, AgreesWithASubstringSearchOfTheJoinedText) {
  std::mt19937 random(12345);
  auto word = [&](std::size_t max_length, const std::string& alphabet) {
    std::string text;
    const std::size_t length = random() % max_length;
    for (std::size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
    return text;
  };
  for (int round = 0; round < 600; ++round) {
    // Short words over a small alphabet meet often; long ones test the skip table's windows.
    const bool long_words = round % 3 == 2;
    const std::string alphabet = round % 2 == 0 ? "ab\r\n/" : "abc";
    std::vector<std::string> links;
    for (int i = 0; i < 8; ++i) links.push_back(word(long_words ? 40 : 6, alphabet));
    Presence presence(links);
    std::string joined;
    for (int line_number = 0; line_number < 12; ++line_number) {
      // Now and then a line is one of the links, added as such.
      const bool as_link = random() % 4 == 0;
      const std::size_t link_id = random() % links.size();
      const std::string line = as_link ? links[link_id] : word(long_words ? 60 : 8, alphabet);
      joined += line + "\r\n";
      if (as_link) {
        presence.AddLink(link_id);
      } else if (round % 2 == 0) {
        presence.AddLine(line);
      } else {
        presence.AddLines({line});
      }
      for (std::size_t id = 0; id < links.size(); ++id) {
        const bool expected = !links[id].empty() && joined.find(links[id]) != std::string::npos;
        ASSERT_EQ(presence.Present(id), expected) << "round " << round << " line " << line_number << " link " << links[id];
      }
    }
  }
}

TEST(LinkPresence, FindsALinkAcrossLineEndsAndInLinesAddedLater) {
  const std::vector<std::string> links{"b\r\nc", "yz", "ab", "http://a.example/1", "http://a.example/12", "\nx\r\n\r\ny"};
  Presence presence(links);
  presence.AddLine("ab");
  EXPECT_FALSE(presence.Present(0));
  EXPECT_TRUE(presence.Present(2));
  presence.AddLine("cyz");
  EXPECT_TRUE(presence.Present(0));
  EXPECT_TRUE(presence.Present(1));
  presence.AddLine("xhttp://a.example/123");
  EXPECT_TRUE(presence.Present(3));
  EXPECT_TRUE(presence.Present(4));
  // Across three line ends, with an empty line between.
  presence.AddLine("x");
  presence.AddLine("");
  EXPECT_FALSE(presence.Present(5));
  presence.AddLine("y");
  EXPECT_TRUE(presence.Present(5));
}

TEST(LinkPresence, ALinkAcrossLinesInALongLogCostsTheLogOnce) {
  // Searching the whole joined text again for every line took hours on a log this long.
  const std::vector<std::string> links{"b\r\nc", "zz"};
  Presence presence(links);
  const std::string line(30, 'x');
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 200000; ++i) presence.AddLine(line);
  EXPECT_FALSE(presence.Present(0));
  presence.AddLine("ab");
  presence.AddLine("c");
  EXPECT_TRUE(presence.Present(0));
  EXPECT_FALSE(presence.Present(1));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << "hang guard";
}

TEST(LinkPresence, TellsApartManyLinksSharingOneBeginning) {
  std::vector<std::string> links;
  for (int i = 0; i < 3000; ++i) links.push_back("http://news.example/top//news/2026/12/" + std::to_string(i) + ".html");
  links.push_back(links[7]);  // the same link twice: both present or neither
  Presence presence(links);
  for (int i = 0; i < 3000; i += 7) presence.AddLine("http://news.example/top//news/2026/12/" + std::to_string(i) + ".html");
  presence.AddLine("http://news.example/top//news/2026/12/5.htm");
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(presence.Present(static_cast<std::size_t>(i)), i % 7 == 0) << i;
  EXPECT_TRUE(presence.Present(3000));
  // A link added as a line makes the shorter links inside it present, and its twin.
  Presence added(links);
  added.AddLink(3000);
  EXPECT_TRUE(added.Present(7));
  added.AddLink(100);  // ".../100.html" holds no other link
  EXPECT_FALSE(added.Present(10));
  added.AddLine("http://news.example/top//news/2026/12/1000.html?x");
  EXPECT_TRUE(added.Present(1000));
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

// What one extraction gave: the rows, the count, the seen log and whether it ended in an error.
struct Extraction {
  std::vector<HeadlineRow> rows;
  int counted = 0;
  std::vector<std::string> seen;
  bool failed = false;
};

Extraction Extract(std::string_view page, const SiteDefinition& site, const std::vector<std::string>& visits,
                   std::size_t two_threads_from_bytes) {
  Extraction result;
  HistoryLines seen{"http://x/1", "http://x/2b"};
  Rows rows;
  try {
    ExtractHeadlines(page, site, "http://x", seen, HistoryLines(visits), rows, two_threads_from_bytes);
  } catch (const PatternError&) {
    result.failed = true;
  }
  result.rows = rows.rows;
  result.counted = rows.counted;
  result.seen = seen.Lines();
  return result;
}

void ExpectSameExtraction(const Extraction& one, const Extraction& two, const std::string& what) {
  ASSERT_EQ(one.rows.size(), two.rows.size()) << what;
  for (std::size_t i = 0; i < one.rows.size(); ++i) {
    EXPECT_EQ(one.rows[i].caption, two.rows[i].caption) << what << " row " << i;
    EXPECT_EQ(one.rows[i].remark, two.rows[i].remark) << what << " row " << i;
    EXPECT_EQ(one.rows[i].link, two.rows[i].link) << what << " row " << i;
    EXPECT_EQ(one.rows[i].icon, two.rows[i].icon) << what << " row " << i;
  }
  EXPECT_EQ(one.counted, two.counted) << what;
  EXPECT_EQ(one.seen, two.seen) << what;
  EXPECT_EQ(one.failed, two.failed) << what;
}

TEST(ExtractHeadlines, TwoThreadsGiveWhatOneGives) {
  std::mt19937 random(777);
  // Among them patterns whose matches reach across the page's middle, and "(..)", whose matches from
  // an odd start never meet those from an even one.
  const char* patterns[] = {"<a href=\"([^\"]*)\">(.*?)</a>", "(\\d+)(b)?", "^(a+)(1?)", "(?-i)(a|b)(1)?<",
                            "x*?(\\d)", "(.)", "(..)", "([ab\r\n]+)(1?)"};
  const std::vector<std::string> visits = {"http://x/3", "zz http://x/a1 zz"};
  for (const char* pattern : patterns) {
    SiteDefinition site;
    site.anc_form = pattern;
    site.captions = "<b>$2</b>$1";
    site.remark = "$0";
    site.jump_url = "$1";
    for (int round = 0; round < 20; ++round) {
      std::string page;
      const int length = round % 4 == 0 ? 20000 : 300;  // several batches of matches, or less than one
      for (int i = 0; i < length; ++i) {
        page += random() % 9 == 0 ? std::string("<a href=\"") + "ab"[random() % 2] + "\">1</a>" : std::string(1, "ab12<>\r\n"[random() % 8]);
      }
      if (round % 5 == 3) page[random() % page.size()] = '\0';  // where every search ends
      ExpectSameExtraction(Extract(page, site, visits, std::string::npos), Extract(page, site, visits, 0),
                           std::string(pattern) + " round " + std::to_string(round));
    }
  }
}

TEST(ExtractHeadlines, ALongVisitLogGivesWhatTheSubstringRuleGives) {
  // Long enough to be looked through on the helper thread while the seen log is.
  std::vector<std::string> visits;
  for (int i = 0; i < 30000; ++i) visits.push_back("http://x/old/" + std::to_string(i));
  visits[12345] = "see http://x/n/7.html and more";
  visits[29999] = "http://x/n/1";
  std::string page;
  for (int i = 0; i < 40; ++i) page += "<a href=\"n/" + std::to_string(i) + ".html\">" + std::to_string(i) + "</a>";
  HistoryLines seen{"http://x/n/3.html"};
  std::string joined;
  for (const auto& line : visits) joined += line + "\r\n";
  Rows rows;
  ExtractHeadlines(page, LinkSite(), "http://x", seen, HistoryLines::FromText(joined), rows);
  ASSERT_EQ(rows.rows.size(), 40u);
  for (const HeadlineRow& row : rows.rows) {
    const int expected = joined.find(row.link) != std::string::npos ? kIconRead
                         : row.link == "http://x/n/3.html"          ? kIconUnread
                                                                    : kIconNew;
    EXPECT_EQ(row.icon, expected) << row.link;
  }
  EXPECT_EQ(seen.size(), 40u);
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

TEST(ExtractHeadlines, TwoThreadsStopAtAPatternErrorWhereOneStops) {
  // Matches, then text on which the search runs past the engine's limits: with few matches before
  // it the error lies in the caller's first piece, with many in the helper's pieces.
  const SiteDefinition site = FirstGroupSite("(x)|(a|aa)*c");
  for (const int matches : {1000, 140000}) {
    std::string page;
    for (int i = 0; i < matches; ++i) page += "x ";
    page += std::string(1 << 18, 'a') + "bc";
    const Extraction one = Extract(page, site, {}, std::string::npos);
    EXPECT_TRUE(one.failed);
    EXPECT_EQ(one.rows.size(), static_cast<std::size_t>(matches));
    ExpectSameExtraction(one, Extract(page, site, {}, 0), "runaway after " + std::to_string(matches));
  }
}

TEST(ExtractHeadlines, TwoThreadsGiveWhatOneGivesWhereTheLoopsNeverMeet) {
  const SiteDefinition site = FirstGroupSite("(..)");
  std::string page;
  for (int i = 0; i < 10002; ++i) page += "ab1"[i % 3];  // the middle is odd, every match starts even
  const Extraction one = Extract(page, site, {}, std::string::npos);
  EXPECT_EQ(one.rows.size(), 5001u);
  ExpectSameExtraction(one, Extract(page, site, {}, 0), "odd middle");
}

}  // namespace
}  // namespace korinbo
