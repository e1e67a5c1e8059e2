// Template expansion and PatternSubstitute.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "korinbo/codepage.h"
#include "korinbo/errors.h"
#include "korinbo/pattern.h"

namespace korinbo {
namespace {

using namespace std::string_literals;

struct SubstituteRow {
  std::string input;
  std::string pattern;
  std::string templ;
  std::string expected;
};

void CheckRows(const std::vector<SubstituteRow>& rows) {
  for (const SubstituteRow& row : rows) {
    SCOPED_TRACE("pattern " + row.pattern + " template " + row.templ);
    EXPECT_EQ(PatternSubstitute(row.input, row.pattern, row.templ), row.expected);
  }
}

TEST(Template, GroupReferences) {
  CheckRows({
      {"abc", "(b)(c)", "[$2$1]", "[cb]"},
      {"abc", "(b)(c)", "$3", ""},
      {"abc", "(b)(c)", "\\$1", "$1"},
      {"abc", "(b)(c)", "${1}0", "b0"},
      {"abc", "(b)(c)", "$&", "bc"},
      {"abc", "(b)(c)", "${&}", "bc"},
      {"abc", "(b)(c)", "$0", "bc"},
      {"abc", "(b)(c)", "${0}", "bc"},
      {"abc", "(b)(c)", "$00", "bc"},
      {"abc", "(b)(c)", "$01", "b"},
      {"abc", "(b)(c)", "${02}", "c"},
      {"abc", "(b)(c)", "$1x$2", "bxc"},
      {"abc", "(b)(c)", "$10", ""},  // group 10, not group 1 then "0"
      {"abc", "(b)(c)", "$15", ""},
      {"abc", "(b)(c)", "$150x", "x"},  // all digits consumed
      {"abc", "(b)(c)", "$99999999999999999999999999x", "x"},
      {"abc", "(b)(c)", "${99999999999999999999}x", "x"},
      {"abc", "(x)?(b)", "[$1][$2]", "[][b]"},  // a group that took no part
      {"xyz", "(b)", "$1", ""},                 // no match
      {"abc", "b", "", ""},
      {"abc", "b", "lit", "lit"},
  });
}

TEST(Template, GroupsUpToFourteen) {
  const std::string pattern = "(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)(m)(n)";
  CheckRows({
      {"abcdefghijklmn", pattern, "$14$13$1", "nma"},
      {"abcdefghijklmn", pattern, "${14}4", "n4"},
      {"abcdefghijklmn", pattern, "$140", ""},
      {"abcdefghijklmn", pattern, "${15}", ""},
  });
}

TEST(Template, DollarWithoutAGroupIsAByte) {
  CheckRows({
      {"abc", "(b)", "$", "$"},
      {"abc", "(b)", "a$", "a$"},
      {"abc", "(b)", "$x", "$x"},
      {"abc", "(b)", "$$1", "$b"},
      {"abc", "(b)", "${x", "${x"},
      {"abc", "(b)", "${x}", "${x}"},
      {"abc", "(b)", "${}", "${}"},
      {"abc", "(b)", "${1", "${1"},
      {"abc", "(b)", "${1x}", "${1x}"},
      {"abc", "(b)", "${&", "${&"},
      {"abc", "(b)", "${ 1}", "${ 1}"},
      {"abc", "(b)", "$-1", "$-1"},
  });
}

TEST(Template, BackslashCopiesTheNextByte) {
  CheckRows({
      {"abc", "(b)", "\\$1", "$1"},
      {"abc", "(b)", "\\\\$1", "\\b"},
      {"abc", "(b)", "a\\", "a\\"},  // a final "\" is copied
      {"abc", "(b)", "\\", "\\"},
      {"abc", "(b)", "\\a\\n", "an"},
      {"abc", "(b)", "$\\1", "$1"},
      {"abc", "(b)", "${\\1}", "${1}"},
  });
  // A Shift_JIS trail byte 0x5C escapes the byte after it.
  const std::string table = Sjis("表");  // 95 5C
  EXPECT_EQ(PatternSubstitute("abc", "(b)", table + "$1"), "\x95$1");
  EXPECT_EQ(PatternSubstitute("abc", "(b)", "$1" + table), "b" + table);
}

TEST(Template, ExpandAgainstAMatchFromPattern) {
  const std::string text = "id=42;";
  const Pattern pattern("id=(\\d+)(x)?");
  const auto match = pattern.Search(text);
  ASSERT_TRUE(match);
  EXPECT_EQ(ExpandTemplate(text, *match, "<$1|$2|$&>"), "<42||id=42>");
  // A match without group entries (or out-of-range spans) gives nothing rather than bad reads.
  PatternMatch odd;
  odd.groups = {MatchSpan{0, 2}, MatchSpan{4, 99}};
  EXPECT_EQ(ExpandTemplate("abcd", odd, "[$0][$1][$2]"), "[ab][][]");
  // Numbers from 15 on give nothing even when the match were to hold such a group.
  PatternMatch wide;
  for (int i = 0; i < 20; ++i) wide.groups.push_back(MatchSpan{i, i + 1});
  EXPECT_EQ(ExpandTemplate("abcdefghijklmnopqrst", wide, "$14|$15|${16}|$19"), "o|||");
}

TEST(Template, AOneGroupTemplateIsThatGroupsText) {
  // Such a template is taken as a view of the subject; any other is expanded.
  PatternMatch match;
  match.groups = {MatchSpan{0, 6}, MatchSpan{3, 5}, MatchSpan{-1, -1}, MatchSpan{4, 99}};
  for (int i = 4; i < 20; ++i) match.groups.push_back(MatchSpan{0, 1});
  const std::string subject = "id=42;";
  for (const char* templ : {"$1", "$01", "$2", "$3", "$9", "$14", "$15", "$99999999999"}) {
    const auto group = SoleGroupReference(templ);
    ASSERT_TRUE(group) << templ;
    EXPECT_EQ(GroupText(subject, match, *group), ExpandTemplate(subject, match, templ)) << templ;
  }
  for (const char* templ : {"$", "$x", "$1$1", "x$1", "", "\\$1", "$1 "}) {
    EXPECT_FALSE(SoleGroupReference(templ)) << templ;
  }
}

TEST(PatternSubstitute, JapaneseHeadline) {
  const std::string input = Sjis("<a href=\"/n/1\">日銀、金融政策を維持</a>");
  EXPECT_EQ(PatternSubstitute(input, "<a href=\"([^\"]+)\">([^<]+)</a>", Sjis("【$2】$1")),
            Sjis("【日銀、金融政策を維持】/n/1"));
}

TEST(PatternSubstitute, RefusesBadAndEmptyPatternsEveryTime) {
  for (int i = 0; i < 3; ++i) {
    EXPECT_THROW(PatternSubstitute("abc", "", "$0"), PatternError);
    EXPECT_THROW(PatternSubstitute("abc", "(?:b)", "$0"), PatternError);
    EXPECT_THROW(PatternSubstitute("abc", "b**", "$0"), PatternError);
  }
}

TEST(PatternSubstitute, InputEndsAtNul) {
  EXPECT_EQ(PatternSubstitute("a\0b"s, "(b)", "$1"), "");
  EXPECT_EQ(PatternSubstitute("ab\0b"s, "(b)", "$1"), "b");
  EXPECT_EQ(PatternSubstitute("", "x*", "y"), "");
}

TEST(PatternSubstitute, KeptPatternsGiveTheResultsOfFreshCompiles) {
  // More distinct patterns than are kept, with different group counts, used in turns: every
  // result must equal that of a pattern compiled for the call alone.
  const std::vector<std::string> patterns = {
      "(a)",          "(a)(b)",       "(a)(b)(c)", "(b)",          "a(b)?(c)", "(c)(a)?",
      "(.)(.)(.)(.)", "((a)|(b))(c)", "^(\\w+)",   "(x)?(a)?(b)?", "[ab]+(c)", "(a)(b)(c)(d)(e)",
  };
  const std::vector<std::string> inputs = {"abc", "cab", "bca", "xbc", "acb"};
  const std::string templ = "[$0|$1|$2|$3|$4|$5]";
  for (int round = 0; round < 3; ++round) {
    for (std::size_t i = 0; i < patterns.size() * inputs.size(); ++i) {
      const std::string& pattern = patterns[(i * 7 + static_cast<std::size_t>(round)) % patterns.size()];
      const std::string& input = inputs[i % inputs.size()];
      const auto match = Pattern(pattern).Search(input);
      const std::string fresh = match ? ExpandTemplate(input, *match, templ) : std::string();
      EXPECT_EQ(PatternSubstitute(input, pattern, templ), fresh) << pattern << " on " << input;
    }
  }
  // Same text, same pattern, different template: no stale expansion.
  EXPECT_EQ(PatternSubstitute("abc", "(a)(b)", "$2"), "b");
  EXPECT_EQ(PatternSubstitute("abc", "(a)(b)", "$1"), "a");
  EXPECT_EQ(PatternSubstitute("xbc", "(a)(b)", "$1"), "");
}

}  // namespace
}  // namespace korinbo
