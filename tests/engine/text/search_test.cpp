// The search loop of the extraction and the matcher's limits.
#include <gtest/gtest.h>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "korinbo/errors.h"
#include "korinbo/pattern.h"
#include "match_helpers.h"

namespace korinbo {
namespace {

using namespace std::string_literals;
using test::AllMatches;
using Matches = std::vector<std::string>;

TEST(SearchLoop, EmptyMatchesMoveOneByteOn) {
  EXPECT_EQ(AllMatches("x*", "axxb"), (Matches{"0:", "1:xx", "3:"}));
  EXPECT_EQ(AllMatches("b*", "abb"), (Matches{"0:", "1:bb"}));
  EXPECT_EQ(AllMatches("x?", "ab"), (Matches{"0:", "1:"}));
  EXPECT_EQ(AllMatches("a|", "aab"), (Matches{"0:a", "1:a", "2:"}));
}

TEST(SearchLoop, ContinuesWhereThePreviousMatchEnded) {
  EXPECT_EQ(AllMatches("aa", "aaaaa"), (Matches{"0:aa", "2:aa"}));
  EXPECT_EQ(AllMatches("<[^>]*>", "<a>x<b\r\nc>"), (Matches{"0:<a>", "4:<b\r\nc>"}));
  // The look-behind of "^" sees the bytes before the search's start.
  EXPECT_EQ(AllMatches("^a", "aa\na"), (Matches{"0:a", "3:a"}));
  EXPECT_EQ(AllMatches("\\ba", "aa a"), (Matches{"0:a", "3:a"}));
}

TEST(SearchLoop, NeverStartsAtTheEndOfTheText) {
  EXPECT_EQ(AllMatches("$", "ab"), Matches{});
  EXPECT_EQ(AllMatches("x*", "ab"), (Matches{"0:", "1:"}));
  EXPECT_EQ(AllMatches("\\Z", "ab"), Matches{});
  EXPECT_EQ(AllMatches("x*", ""), Matches{});
  EXPECT_EQ(AllMatches("^", ""), Matches{});
  EXPECT_FALSE(Pattern("a*").Search(""));
  EXPECT_FALSE(Pattern("$").Search("ab", 0));
}

TEST(SearchLoop, TextEndsAtItsFirstNul) {
  EXPECT_EQ(AllMatches("b", "ab\0ab"s), (Matches{"1:b"}));
  EXPECT_EQ(AllMatches("a$", "a\0b"s), (Matches{"0:a"}));
  EXPECT_EQ(AllMatches(".*", "ab\0cd"s), (Matches{"0:ab"}));
  EXPECT_EQ(AllMatches("x*", "\0ab"s), Matches{});
  EXPECT_EQ(AllMatches("[^a]", "a\0"s), Matches{});
  EXPECT_FALSE(Pattern("c").Search("ab\0c"s));
}

TEST(SearchLoop, SearchFromAnOffset) {
  const Pattern pattern("b");
  const std::string text = "abab";
  ASSERT_TRUE(pattern.Search(text, 2));
  EXPECT_EQ(pattern.Search(text, 2)->start(), 3u);
  EXPECT_EQ(pattern.Search(text, 1)->start(), 1u);
  EXPECT_FALSE(pattern.Search(text, 4));
  EXPECT_FALSE(pattern.Search(text, 100));
  // From between CR and LF: no line start there.
  const auto line = Pattern("^.").Search("a\r\nb", 2);
  ASSERT_TRUE(line);
  EXPECT_EQ(line->start(), 3u);
}

TEST(SearchLoop, VisitorSeesGroupsOfEachMatch) {
  const std::string page = "<a href=\"1\">one</a><a href=\"2\">two</a>";
  Pattern pattern("<a href=\"([^\"]+)\">([^<]+)</a>");
  Matches seen;
  pattern.ForEachMatch(
      page, [&](const PatternMatch& match) { seen.push_back(ExpandTemplate(page, match, "$1=$2")); });
  EXPECT_EQ(seen, (Matches{"1=one", "2=two"}));
}

TEST(SearchLoop, LongPageWithManyMatches) {
  std::string page;
  const int rows = 40000;
  for (int i = 0; i < rows; ++i)
    page += "<li><a href=\"/n/" + std::to_string(i) + ".html\">headline</a></li>\r\n";
  ASSERT_GT(page.size(), 1u << 20);
  Pattern pattern("<a href=\"([^\"]+)\">([^<]+)</a>");
  int count = 0;
  std::size_t last_end = 0;
  pattern.ForEachMatch(page, [&](const PatternMatch& match) {
    EXPECT_GE(match.start(), last_end);
    last_end = match.end();
    ++count;
  });
  EXPECT_EQ(count, rows);
}

TEST(SearchLoop, VisitorMaySearchAgain) {
  // The extraction searches each matched text again from inside the loop.
  const std::string page = "<a href=\"1\">one</a> <a href=\"2\">two</a> <a href=\"3\">three</a>";
  const Pattern links("<a href=\"([^\"]+)\">([^<]+)</a>");
  const Pattern vowels("[aeiou]");
  Matches seen;
  links.ForEachMatch(page, [&](const PatternMatch& match) {
    const std::string whole = page.substr(match.start(), match.end() - match.start());
    const auto inner = links.Search(whole);
    ASSERT_TRUE(inner);
    int count = 0;
    vowels.ForEachMatch(whole, [&](const PatternMatch&) { ++count; });
    seen.push_back(ExpandTemplate(page, match, "$1") + ExpandTemplate(whole, *inner, "$2") +
                   std::to_string(count));
  });
  EXPECT_EQ(seen, (Matches{"1one5", "2two4", "3three5"}));
}

TEST(SearchLoop, OnePatternInSeveralThreads) {
  std::string page;
  for (int i = 0; i < 2000; ++i) page += "<b>" + std::to_string(i) + "</b>";
  const Pattern pattern("<b>(\\d+)</b>");
  auto sum = [&] {
    long total = 0;
    pattern.ForEachMatch(
        page, [&](const PatternMatch& match) { total += std::stol(ExpandTemplate(page, match, "$1")); });
    return total;
  };
  long results[4] = {};
  std::vector<std::thread> threads;
  for (long& result : results) threads.emplace_back([&] { result = sum(); });
  for (std::thread& thread : threads) thread.join();
  for (long result : results) EXPECT_EQ(result, 1999L * 2000 / 2);
}

TEST(PatternObject, MovesKeepTheCompiledPattern) {
  Pattern first("(b)");
  Pattern second(std::move(first));
  EXPECT_EQ(second.GroupCount(), 1);
  ASSERT_TRUE(second.Search("ab"));
  Pattern third("x");
  third = std::move(second);
  ASSERT_TRUE(third.Search("ab"));
  EXPECT_EQ(third.Search("ab")->groups[1].start, 1);
}

TEST(MatchLimits, ExponentialBacktrackingOnALongTextIsAnError) {
  // The required final "c" is present, so no start-up check refuses the search at once.
  const std::string text = std::string(1 << 20, 'a') + "bc";
  for (const char* pattern : {"(a|aa)*c", "(a+)+c", "(a|a)*c"}) {
    EXPECT_THROW((void)Pattern(pattern).Search(text), PatternError) << pattern;
  }
  // The same error reaches ForEachMatch's caller.
  EXPECT_THROW(Pattern("(a+)+c").ForEachMatch(text, [](const PatternMatch&) {}), PatternError);
}

TEST(MatchLimits, ShortBacktrackingStillMatches) {
  EXPECT_EQ(test::FirstMatch("(a|aa)*c", std::string(20, 'a') + "c"), std::string(20, 'a') + "c");
  EXPECT_EQ(test::FirstMatch("(a|b)*c", std::string(200000, 'a') + "c"), std::string(200000, 'a') + "c");
}

TEST(MatchLimits, QuadraticScanFromManyStartsIsStopped) {
  // Every "<td...>" starts a scan to the end of the text that finds no end tag: no single start
  // backtracks much, together they would take minutes. The work is counted, not timed.
  const std::pair<const char*, const char*> cases[] = {{"<td>", "<td>(.*?)</td>"},
                                                       {"<td>", "[<]td>(.*?)</td>|^x"},
                                                       {"<td class=x>", "<td class=x>(.*?)</td>"},
                                                       {"<td>", "<td>(([^<]|<[^/])*?)</td>"},
                                                       {"<td>", "(([^<]|<[^/])*?)</td>"}};
  for (const auto& [cell, pattern] : cases) {
    SCOPED_TRACE(pattern);
    std::string text;
    while (text.size() < (1u << 20)) text += cell;
    try {
      Pattern(pattern).ForEachMatch(text, [](const PatternMatch&) {});
      ADD_FAILURE() << "no error";
    } catch (const PatternError& error) {
      EXPECT_NE(std::string(error.what()).find("too long"), std::string::npos) << error.what();
    }
  }
}

TEST(MatchLimits, AnOrdinaryLargePageStaysWithinThem) {
  // A megabyte of headlines whose matches each span 2 KB, more than a start may spend cheaply, and
  // a last link without its end tag, from which the search scans to the end of the page.
  std::string page;
  int headlines = 0;
  while (page.size() < (1u << 20)) {
    page += "<li><a href=\"/" + std::to_string(headlines++) + "\">" + std::string(2000, 'y') + "</a></li>\r\n";
  }
  page += "<li><a href=\"/last\">" + std::string(100000, 'z');
  for (const char* pattern : {"<a href=\"([^\"]*)\">(.*?)</a>", "<li>(.*?)</li>", "(<a href=\"([^\"]*)\">)(.+?)</a>"}) {
    int found = 0;
    EXPECT_NO_THROW(Pattern(pattern).ForEachMatch(page, [&](const PatternMatch&) { ++found; })) << pattern;
    EXPECT_EQ(found, headlines) << pattern;
  }
}

// Every match of the extraction loop by PCRE2 itself, without limits, on the translated pattern:
// the spans of the whole match and of every group.
std::vector<std::vector<std::ptrdiff_t>> UnlimitedMatches(std::string_view dialect_pattern, std::string_view text) {
  const std::string translated = TranslatePattern(dialect_pattern);
  int error = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated.data()), translated.size(),
                                   PCRE2_NEVER_UTF, &error, &offset, nullptr);
  pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
  pcre2_match_context* context = pcre2_match_context_create(nullptr);
  pcre2_jit_stack* stack = pcre2_jit_stack_create(32 * 1024, 64 * 1024 * 1024, nullptr);
  pcre2_jit_stack_assign(context, nullptr, stack);
  pcre2_set_match_limit(context, 0xffffffff);
  pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
  std::vector<std::vector<std::ptrdiff_t>> found;
  for (std::size_t from = 0; from < text.size();) {
    const int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), from, 0, data, context);
    EXPECT_TRUE(rc > 0 || rc == PCRE2_ERROR_NOMATCH) << rc;
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
    if (rc <= 0 || ovector[0] >= text.size()) break;
    std::vector<std::ptrdiff_t> spans;
    for (uint32_t i = 0; i < pcre2_get_ovector_count(data); ++i) {
      const bool set = ovector[2 * i] != PCRE2_UNSET;
      spans.push_back(set ? static_cast<std::ptrdiff_t>(ovector[2 * i]) : -1);
      spans.push_back(set ? static_cast<std::ptrdiff_t>(ovector[2 * i + 1]) : -1);
    }
    found.push_back(spans);
    from = ovector[1] > ovector[0] ? ovector[1] : ovector[0] + 1;
  }
  pcre2_match_data_free(data);
  pcre2_jit_stack_free(stack);
  pcre2_match_context_free(context);
  pcre2_code_free(code);
  return found;
}

TEST(SearchLoop, StartsThatNeedMoreWorkAreDecidedAsWithoutLimits) {
  // Long runs make some start positions spend more than a start may spend cheaply, so that the
  // search looks for them in windows of starts and decides them alone; matches may follow them
  // closely or far away.
  std::mt19937 random(99);
  const char* patterns[] = {"<a>(.*?)</a>", "<a>(y*)(z?)</a>", "(y|z)*?</a>", "(<)(.*?)\\1/a>", "a>(.+?)<",
                            "<a>((y|z)*?)(</a>|$)"};
  const char* pieces[] = {"<a>", "</a>", "z", "<", "\r\n", ">"};
  for (const char* pattern : patterns) {
    const Pattern compiled(pattern);
    for (int round = 0; round < 40; ++round) {
      std::string text;
      const int count = 1 + static_cast<int>(random() % 30);
      for (int i = 0; i < count; ++i) {
        text += pieces[random() % std::size(pieces)];
        if (random() % 3 == 0) text += std::string(random() % 1500, 'y');
      }
      std::vector<std::vector<std::ptrdiff_t>> ours;
      compiled.ForEachMatch(text, [&](const PatternMatch& match) {
        std::vector<std::ptrdiff_t> spans;
        for (const MatchSpan& span : match.groups) spans.insert(spans.end(), {span.start, span.end});
        ours.push_back(spans);
      });
      std::vector<std::vector<std::ptrdiff_t>> expected = UnlimitedMatches(pattern, text);
      for (auto& spans : expected) spans.resize(2 * (static_cast<std::size_t>(compiled.GroupCount()) + 1));
      ASSERT_EQ(ours, expected) << pattern << " round " << round;
    }
  }
}

}  // namespace
}  // namespace korinbo
