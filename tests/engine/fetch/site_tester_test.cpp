// The fetch's steps after the download, run on a kept page: rows, spans, the cut, the errors.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "korinbo/codepage.h"
#include "korinbo/site_tester.h"

namespace korinbo {
namespace {

const std::string kAddress = "http://a.example/news/index.html";

// A Shift_JIS page: a navigation link outside the list, then three headlines, the line ends mixed.
std::string Page() {
  return "<a href=\"nav.html\">nav</a>\n<ul>\r\n"
         "<li><a href=\"1.html\">" +
         Sjis("一面") +
         "</a></li>\n"
         "<li><a href=\"/2.html\">" +
         Sjis("経済") +
         "</a></li>\r"
         "<li><a href=\"1.html\">" +
         Sjis("再掲") +
         "</a></li>\n"
         "</ul>\n<a href=\"foot.html\">foot</a>\n";
}

SiteDefinition Site() {
  SiteDefinition site;
  site.url = kAddress;
  site.str_start = "<ul>";
  site.str_end = "</ul>";
  site.anc_form = "<a href=\"([^\"]+)\">([^<]+)</a>";
  site.jump_url = "$1";
  site.captions = "$2";
  site.remark = "[$1]";
  return site;
}

SiteTester Tester(const std::string& body = Page()) {
  return SiteTester(body, kAddress, HistoryLines{"http://a.example/news/1.html"},
                    HistoryLines{"http://a.example/2.html"});
}

std::string Span(const SiteTest& test, std::size_t match, std::size_t group) {
  const MatchSpan& span = test.matches[match].groups[group];
  return test.page->substr(static_cast<std::size_t>(span.start),
                           static_cast<std::size_t>(span.end - span.start));
}

TEST(SiteTester, MakesTheRowsOfTheFetchWithTheirMatchesInThePage) {
  SiteTester tester = Tester();
  const SiteTest test = tester.Run(Site());
  ASSERT_EQ(test.rows.size(), 3u);
  ASSERT_EQ(test.matches.size(), 3u);
  EXPECT_FALSE(test.error);
  // The page as the fetch searches it: every line end CR LF, but a lone CR.
  EXPECT_EQ(test.page->substr(0, 32), "<a href=\"nav.html\">nav</a>\r\n<ul>");
  EXPECT_EQ(test.page->substr(test.area.begin, 4), "ul>\r");
  EXPECT_EQ(test.page->substr(test.area.end - 3, 3), "\r\n<");
  const std::string rows[][3] = {
      {Sjis("一面"), "[1.html]", "http://a.example/news/1.html"},
      {Sjis("経済"), "[/2.html]", "http://a.example/2.html"},
      {Sjis("再掲"), "[1.html]", "http://a.example/news/1.html"},
  };
  // Seen before: unread; opened: read; the same link twice in the page: unread the second time.
  const int icons[] = {kIconUnread, kIconRead, kIconUnread};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(test.rows[i].caption, rows[i][0]) << i;
    EXPECT_EQ(test.rows[i].remark, rows[i][1]) << i;
    EXPECT_EQ(test.rows[i].link, rows[i][2]) << i;
    EXPECT_EQ(test.rows[i].icon, icons[i]) << i;
    EXPECT_EQ(Span(test, i, 2), rows[i][0]) << i;
    EXPECT_GE(test.matches[i].start(), test.area.begin);
    EXPECT_LE(test.matches[i].end(), test.area.end);
  }
  EXPECT_EQ(Span(test, 1, 0), "<a href=\"/2.html\">" + Sjis("経済") + "</a>");
  EXPECT_EQ(Span(test, 1, 1), "/2.html");
}

TEST(SiteTester, RunsAgainWithTheLogsAsTheyWereAndTheEncodeAsItIsNow) {
  SiteTester tester = Tester();
  SiteDefinition site = Site();
  site.jump_url = "new/$1";
  const SiteTest first = tester.Run(site);
  const SiteTest second = tester.Run(site);
  ASSERT_EQ(second.rows.size(), 3u);
  // New links of one run are not remembered by the next.
  EXPECT_EQ(first.rows[0].icon, kIconNew);
  EXPECT_EQ(second.rows[0].icon, kIconNew);
  EXPECT_EQ(second.rows[2].icon, kIconUnread);
  // The converted page is kept while encode stays, and made again when it changes.
  EXPECT_EQ(first.page, second.page);
  site.encode = "utf8";
  const SiteTest utf8 = tester.Run(site);
  EXPECT_EQ(*utf8.page, "");
  EXPECT_TRUE(utf8.rows.empty());
  EXPECT_TRUE(utf8.area.start_missing);
}

TEST(SiteTester, NamesAMissingMarkerAndSearchesThatSideUncut) {
  SiteTester tester = Tester();
  SiteDefinition site = Site();
  site.str_start = "<ol>";
  SiteTest test = tester.Run(site);
  EXPECT_TRUE(test.area.start_missing);
  EXPECT_FALSE(test.area.end_missing);
  EXPECT_EQ(test.area.begin, 0u);
  EXPECT_EQ(test.rows.size(), 4u);  // the navigation link too
  site = Site();
  site.str_end = "</ol>";
  test = tester.Run(site);
  EXPECT_FALSE(test.area.start_missing);
  EXPECT_TRUE(test.area.end_missing);
  EXPECT_EQ(test.area.end, test.page->size());
  EXPECT_EQ(test.rows.size(), 4u);  // the footer link too
}

TEST(SiteTester, GivesThePatternErrorAndWhereItLies) {
  SiteTester tester = Tester();
  struct Case {
    std::string anc_form;
    std::string error_part;
    std::optional<std::size_t> offset;
  };
  const Case cases[] = {
      {"<a href=\"([^\"]+)\">([^<]+</a>", "missing ) for (", 18},
      {"<li>[a-", "missing ] for [", 4},
      {"", "empty pattern", std::nullopt},
  };
  for (const Case& c : cases) {
    SiteDefinition site = Site();
    site.anc_form = c.anc_form;
    const SiteTest test = tester.Run(site);
    ASSERT_TRUE(test.error) << c.anc_form;
    EXPECT_NE(test.error->find(c.error_part), std::string::npos) << *test.error;
    EXPECT_EQ(test.error_offset, c.offset) << c.anc_form;
    EXPECT_TRUE(test.rows.empty());
  }
}

TEST(SiteTester, ARunawayPatternEndsWithItsErrorAfterTheRowsBeforeIt) {
  // A headline list, then a long run of cells where the lazy scan runs away from every "<td>".
  std::string body = Page();
  for (int i = 0; i < 100000; ++i) body += "<td>";
  SiteTester tester = Tester(body);
  SiteDefinition site = Site();
  site.str_start.clear();
  site.str_end.clear();
  site.anc_form = "<a href=\"([^\"]+)\">([^<]+)</a>|<td>(.*?)</td>";
  const auto started = std::chrono::steady_clock::now();
  const SiteTest test = tester.Run(site);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20)) << "bounded, not timed";
  ASSERT_TRUE(test.error);
  EXPECT_FALSE(test.error_offset);
  EXPECT_EQ(test.rows.size(), 5u);
}

}  // namespace
}  // namespace korinbo
