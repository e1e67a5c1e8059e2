// The search loop of the extraction and the matcher's limits.
#include <gtest/gtest.h>

#include <chrono>
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

// Runs `body` and reports how long it took; a runaway match would stop the whole test program at
// ctest's time-out, so the bound checked here only guards against a hang.
template <typename Body>
std::chrono::duration<double> Timed(Body&& body) {
  const auto start = std::chrono::steady_clock::now();
  body();
  return std::chrono::steady_clock::now() - start;
}

constexpr std::chrono::seconds kHangGuard{10};

TEST(MatchLimits, ExponentialBacktrackingOnALongTextIsAnError) {
  // The required final "c" is present, so no start-up check refuses the search at once.
  const std::string text = std::string(1 << 20, 'a') + "bc";
  for (const char* pattern : {"(a|aa)*c", "(a+)+c", "(a|a)*c"}) {
    SCOPED_TRACE(pattern);
    const Pattern compiled(pattern);
    const auto took = Timed([&] { EXPECT_THROW((void)compiled.Search(text), PatternError); });
    EXPECT_LT(took, kHangGuard);
  }
  // The same error reaches ForEachMatch's caller.
  const auto took = Timed(
      [&] { EXPECT_THROW(Pattern("(a+)+c").ForEachMatch(text, [](const PatternMatch&) {}), PatternError); });
  EXPECT_LT(took, kHangGuard);
}

TEST(MatchLimits, ShortBacktrackingStillMatches) {
  EXPECT_EQ(test::FirstMatch("(a|aa)*c", std::string(20, 'a') + "c"), std::string(20, 'a') + "c");
  EXPECT_EQ(test::FirstMatch("(a|b)*c", std::string(200000, 'a') + "c"), std::string(200000, 'a') + "c");
}

TEST(SearchLoop, WindowsOfStartPositionsFindWhatOneSearchFinds) {
  // A pattern with a long leading literal is searched a window of start positions at a time; the
  // same pattern with an alternative that never matches is searched in one go.
  std::mt19937 random(99);
  const char* pieces[] = {"<li><a href=\"", "<li><a href=\"<li><a href=\"", "x", "\"", "\">", "</a>", "\r\n", "y"};
  const char* patterns[] = {"<li><a href=\"([^\"]*)\">(.*?)</a>", "<li><a href=\"(x*)", "<li><a href=\"<li>(.?)"};
  // A match is found wherever it starts, also right at or after the end of a window.
  const Pattern short_prefix("<a hre(.)");
  for (std::size_t at = 0; at < 1500; ++at) {
    const std::string text = std::string(at, 'z') + "<a href" + std::string(at % 7, 'z');
    const auto match = short_prefix.Search(text);
    ASSERT_TRUE(match) << at;
    EXPECT_EQ(match->start(), at);
    EXPECT_EQ(AllMatches("<a hre(.)", text), Matches{std::to_string(at) + ":<a href"});
  }
  for (const char* pattern : patterns) {
    const Pattern windowed(pattern);
    const Pattern whole(std::string(pattern) + "|\\A\\Zq");
    for (int round = 0; round < 30; ++round) {
      std::string text;
      const int pieces_in_text = round % 5 == 0 ? 3000 : 60;  // many windows, or a few
      for (int i = 0; i < pieces_in_text; ++i) text += pieces[random() % std::size(pieces)];
      std::vector<std::vector<std::ptrdiff_t>> one, two;
      auto record = [](std::vector<std::vector<std::ptrdiff_t>>& into) {
        return [&into](const PatternMatch& match) {
          std::vector<std::ptrdiff_t> spans;
          for (const MatchSpan& span : match.groups) spans.insert(spans.end(), {span.start, span.end});
          into.push_back(spans);
        };
      };
      windowed.ForEachMatch(text, record(one));
      whole.ForEachMatch(text, record(two));
      ASSERT_EQ(one, two) << pattern << " round " << round;
      for (std::size_t from : {std::size_t{0}, std::size_t{1}, text.size() / 2, text.size() - 1}) {
        const auto a = windowed.Search(text, from);
        const auto b = whole.Search(text, from);
        ASSERT_EQ(a.has_value(), b.has_value()) << pattern << " from " << from;
        if (a) {
          EXPECT_EQ(a->start(), b->start()) << pattern << " from " << from;
        }
      }
    }
  }
}

TEST(MatchLimits, QuadraticScanFromManyStartsIsStopped) {
  // Every "<td...>" starts a lazy scan to the end of the text that finds no end tag: no single
  // start backtracks much, together they would take minutes. The last pattern is searched in
  // windows of start positions (it has a long leading literal), the others with the callout.
  const std::pair<const char*, const char*> cases[] = {
      {"<td>", "<td>(.*?)</td>"}, {"<td>", "[<]td>(.*?)</td>|^x"}, {"<td class=x>", "<td class=x>(.*?)</td>"}};
  for (const auto& [cell, pattern] : cases) {
    SCOPED_TRACE(pattern);
    std::string text;
    while (text.size() < (1u << 20)) text += cell;
    const Pattern compiled(pattern);
    const auto took = Timed([&] {
      try {
        compiled.ForEachMatch(text, [](const PatternMatch&) {});
        ADD_FAILURE() << "no error";
      } catch (const PatternError& error) {
        EXPECT_NE(std::string(error.what()).find("too long"), std::string::npos) << error.what();
      }
    });
    EXPECT_LT(took, kHangGuard);
  }
}

TEST(MatchLimits, LoopsSharingABudgetStopWhenTogetherTheyTakeTooLong) {
  // A windowed search counts its visitor's time too: each loop here takes 0.6 s, so that the
  // second loop sharing the budget runs out well before its end and one alone well after.
  std::string text;
  for (int i = 0; i < 100; ++i) text += "<td class=x>" + std::string(100, 'y');
  const Pattern compiled("<td class=x>(y)");
  auto slow_visit = [](const PatternMatch&) { std::this_thread::sleep_for(std::chrono::milliseconds(6)); };
  auto loop = [&](SearchBudget* budget) {
    try {
      compiled.ForEachMatchInCutText(text, slow_visit, 0, budget);
      return true;
    } catch (const PatternError& error) {
      EXPECT_NE(std::string(error.what()).find("too long"), std::string::npos) << error.what();
      return false;
    }
  };
  SearchBudget shared;
  EXPECT_TRUE(loop(&shared));
  EXPECT_FALSE(loop(&shared));
  EXPECT_TRUE(loop(nullptr)) << "a loop of its own has the whole budget";
}

}  // namespace
}  // namespace korinbo
