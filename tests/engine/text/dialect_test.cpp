// The pattern dialect: what it accepts, what it refuses (and where), and every place where its
// meaning differs from PCRE2's own syntax. Each difference row is a case that PCRE2 given the
// pattern text unchanged would get wrong.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "korinbo/codepage.h"
#include "korinbo/errors.h"
#include "korinbo/pattern.h"
#include "match_helpers.h"

namespace korinbo {
namespace {

using namespace std::string_literals;
using test::AllMatches;
using test::CompileError;
using test::FirstMatch;

struct MatchRow {
  std::string pattern;
  std::string text;
  std::string expected;  // the first match's text, or "<none>"
};

void CheckFirstMatches(const std::vector<MatchRow>& rows) {
  for (const MatchRow& row : rows) {
    SCOPED_TRACE("pattern " + row.pattern);
    std::string got;
    ASSERT_NO_THROW(got = FirstMatch(row.pattern, row.text));
    EXPECT_EQ(got, row.expected);
  }
}

TEST(DialectEscapes, LetterWithoutMeaningIsTheLetter) {
  CheckFirstMatches({
      {R"(a\z)", "xaz", "az"},       // PCRE2: end of subject
      {R"(\y)", "xy", "y"},          // PCRE2: unknown escape, compile error
      {R"(\Qa.)", "Qab", "Qab"},     // PCRE2: quotes "a." literally
      {R"(a\Kb)", "aKb", "aKb"},     // PCRE2: resets the match start
      {R"(\Ga)", "xGa", "Ga"},       // PCRE2: anchors at the start offset
      {R"(\h)", "a h", "h"},         // PCRE2: horizontal space
      {R"(\H)", "aH", "H"},          // PCRE2: not horizontal space
      {R"(\v)", "\x0bv", "v"},       // PCRE2: vertical space
      {R"(\V)", "aV", "V"},          // PCRE2: not vertical space
      {R"(\R)", "\r\nR", "R"},       // PCRE2: any line break
      {R"(\pL)", "pL", "pL"},        // PCRE2: a Unicode property
      {R"(\PL)", "aPL", "PL"},       // PCRE2: not a Unicode property
      {R"(\0)", "a0"s, "0"},         // PCRE2: the NUL byte
      {R"(\012)", "012", "012"},     // PCRE2: octal 012, a line feed
      {R"(\cA)", "cA", "cA"},        // PCRE2: control-A
      {R"(\N)", "xN", "N"},          // PCRE2: not a line break
      {R"(\C)", "aC", "C"},          // PCRE2: any code unit
      {R"(\X)", "aX", "X"},          // PCRE2: an extended grapheme
      {R"(\E)", "E", "E"},           // PCRE2: end of quoting, matches nothing
      {R"(\g)", "g", "g"},           // PCRE2: back-reference syntax
      {R"(\k)", "k", "k"},           // PCRE2: named reference syntax
      {R"(\o)", "o", "o"},           // PCRE2: octal escape syntax
      {R"(\u)", "u", "u"},           // PCRE2: refused unless ALT_BSUX
      {R"(\N{x})", "N{x}", "N{x}"},  // PCRE2: refused
      {R"(\.\(\/\[\*)", "x.(/[*", ".(/[*"},
  });
}

TEST(DialectEscapes, ByteEscapes) {
  CheckFirstMatches({
      {R"(\t\n\r\f\a\e)", "x\t\n\r\f\a\x1b", "\t\n\r\f\a\x1b"},
      {R"(\x41\x7a)", "Az", "Az"},
      {R"(\x{41})", "A", "A"},
      {R"(\x{0000041})", "A", "A"},
      {R"(\x{fF})", "\xff", "\xff"},
      {R"(\x4g)", "\x04g", "\x04g"},   // one hex digit
      {R"(\x412)", "A2", "A2"},        // two digits at most
      {R"(a\xg)", "a\0g"s, "<none>"},  // "\x" without digits is NUL, which no text reaches
  });
}

TEST(DialectEscapes, ZIsTheVeryEndOnly) {
  CheckFirstMatches({
      {R"(a\Z)", "a\n", "<none>"},  // PCRE2: also before a final line break
      {R"(a\Z)", "a\r\n", "<none>"},
      {R"(a\Z)", "ba", "a"},
      {R"(a\Z)", "a\0b"s, "a"},  // the text ends at its NUL
      {R"(\Aa)", "aa", "a"},
      {R"(b\A)", "ab", "<none>"},
  });
  EXPECT_EQ(AllMatches(R"(\Aa)", "aaa"), std::vector<std::string>{"0:a"});
}

TEST(DialectEscapes, SpaceSetHasNoVerticalTab) {
  CheckFirstMatches({
      {R"(\s)", "\x0b ", " "},  // PCRE2: VT is a space too
      {R"(\S)", "  \x0b", "\x0b"},
      {R"(\s+)", " \t\n\r\f\x0b", " \t\n\r\f"},
      {R"([\s]+)", "\x0b\t ", "\t "},
      {R"([^\s]+)", " \x0bx ", "\x0bx"},
  });
}

TEST(DialectEscapes, DigitAndWordAreAscii) {
  const std::string sjis = Sjis("あ");  // 82 A0: neither byte is a word byte
  CheckFirstMatches({
      {R"(\d+)", "x0123456789y", "0123456789"},
      {R"(\D+)", "12ab3", "ab"},
      {R"(\w+)", "!aZ0_\x82\xa0", "aZ0_"},
      {R"(\W+)", "a\x82\xa0!b", "\x82\xa0!"},
      {R"(\bx)", "\x82x", "x"},
      {R"(\Bx)", "ax\x82x", "x"},
      {R"(\bb\b)", "ab b", "b"},
      {R"(\b)", sjis, "<none>"},
  });
  EXPECT_EQ(AllMatches(R"(\b)", "ab c"), (std::vector<std::string>{"0:", "2:", "3:"}));
}

TEST(DialectClasses, UpperCaseEscapesAndBAreLettersInsideAClass) {
  CheckFirstMatches({
      {R"([\D])", "xD", "D"},  // PCRE2: any non-digit, "x"
      {R"([\S])", "xS", "S"},
      {R"([\W])", "!W", "W"},
      {R"([\b])", "\bb", "b"},  // PCRE2: backspace
      {R"([\B])", "aB", "B"},
      {R"([\d])", "x5", "5"},
      {R"([\w]+)", "-a_1-", "a_1"},
      {R"([\t\x41\x{42}])", "zB", "B"},
      {R"([\]])", "a]", "]"},
      {R"([\\])", "a\\", "\\"},
      {R"([\z])", "az", "z"},
      {R"([\1])", "a1", "1"},  // no back-reference inside a class
  });
}

TEST(DialectClasses, NoPosixClasses) {
  CheckFirstMatches({
      {"[[:alpha:]]+", "xa]]", "a]]"},  // PCRE2: letters, "xa"
      {"[:alpha:]", "zp", "p"},         // PCRE2: refused outside a class
      {"[[:digit:]]", "5:]", ":]"},
  });
}

TEST(DialectClasses, RangesAndSpecialPlaces) {
  CheckFirstMatches({
      {"[a-c]+", "xabcd", "abc"},
      {"[^a-c]+", "abxyc", "xy"},
      {"[]a]+", "x]a]", "]a]"},  // "]" first is literal
      {"[^]a]+", "]ab]", "b"},
      {"[a-]+", "x-a-", "-a-"},
      {"[-a]+", "x-a-", "-a-"},
      {R"([\d-z]+)", "x1-z", "1-z"},  // a set before "-" makes it literal
      {R"([a-\d]+)", "xa-5", "a-5"},
      {R"([\x41-\x43]+)", "@ABCD", "ABC"},
      {"[\x81-\x9f][\x40-\xfc]", "a" + Sjis("漢"), Sjis("漢")},
      {"[^<]+", "<" + Sjis("首相") + "<", Sjis("首相")},
      {"[.*+?]+", "a.*+?b", ".*+?"},
  });
}

TEST(DialectAnchors, LineStartAndEndAtCrLfAndCrLf) {
  // "^" and "$" at CR, LF and CR LF, and never between the CR and LF of one line break.
  EXPECT_EQ(AllMatches("^.", "a\r\nb\rc\nd"), (std::vector<std::string>{"0:a", "3:b", "5:c", "7:d"}));
  EXPECT_EQ(AllMatches(".$", "a\r\nb\rc\nd"), (std::vector<std::string>{"0:a", "3:b", "5:c", "7:d"}));
  // A search that starts between CR and LF (after a match ending at the CR) must not see a line
  // start there; PCRE2's multi-line "^" does.
  EXPECT_EQ(AllMatches("\\r|^.", "x\r\ny"), (std::vector<std::string>{"0:x", "1:\r", "3:y"}));
  EXPECT_EQ(AllMatches("\\r|$", "x\r\ny"), (std::vector<std::string>{"1:\r"}));
  EXPECT_EQ(AllMatches("$", "a\r\nb"), (std::vector<std::string>{"1:"}));
  EXPECT_EQ(AllMatches("^", "a\r\nb"), (std::vector<std::string>{"0:", "3:"}));
  CheckFirstMatches({
      {"a\\r$\\n", "a\r\n", "<none>"},  // "$" between CR and LF
      {"a\\r^\\n", "a\r\n", "<none>"},  // "^" between CR and LF
      {"a$", "a\rb", "a"},              // PCRE2 (LF convention): no line end before CR
      {"^b", "a\rb", "b"},
      {"a\\n^", "a\n", "a\n"},  // PCRE2: no line start after a final line break
      {"a$\\r\\n^b", "a\r\nb", "a\r\nb"},
      {"\\n^\\r", "\n\r", "\n\r"},  // LF CR is two breaks
      {"x$", "x\0\n"s, "x"},
  });
}

TEST(DialectDot, MatchesEveryByteIncludingLineBreaks) {
  CheckFirstMatches({
      {"a.b", "a\nb", "a\nb"},  // PCRE2 without DOTALL: no line feed
      {"a.b", "a\rb", "a\rb"},
      {"a.c",
       "a\xff"
       "c",
       "a\xff"
       "c"},
      {".", Sjis("あ"), "\x82"},  // one byte of a two-byte character
      {"..", Sjis("あい"), "\x82\xa0"},
      {"\\xa0\\x82", Sjis("あい"), "\xa0\x82"},  // a match may begin inside a character
  });
}

TEST(DialectBackReferences, OneDigitOnly) {
  CheckFirstMatches({
      {R"((a)\1)", "xaa", "aa"},
      {R"((a)\10)", "aa0", "aa0"},  // PCRE2: group 10 or octal
      {R"((a)(b)(c)(d)(e)(f)(g)(h)(i)(j)\10)", "abcdefghija0", "abcdefghija0"},
      {R"((a)(b)(c)(d)(e)(f)(g)(h)(i)(j)\10)", "abcdefghijj", "<none>"},
      {R"((a)|b\1)", "ba", "a"},  // a reference to a group that did not take part fails
      {R"((?i)(a)\1)", "aA", "aA"},
  });
}

TEST(DialectRepetition, BracesThatAreNoRepetitionAreLiteral) {
  CheckFirstMatches({
      {"a{2}", "aaa", "aa"},
      {"a{2,}", "aaaa", "aaaa"},
      {"a{1,2}", "aaa", "aa"},
      {"a{0}b", "ab", "b"},
      {"a{,2}", "a{,2}", "a{,2}"},
      {"a{1,2", "aa{1,2", "a{1,2"},
      {"a{x}", "a{x}", "a{x}"},
      {"a{ 2}", "a{ 2}", "a{ 2}"},
      {"{a}", "{a}", "{a}"},
      {"a{123456789}", "a{123456789}", "a{123456789}"},  // PCRE2: number too big
      {"a{1,123456789}", "a{1,123456789}", "a{1,123456789}"},
      {"a{00000002}", "aaa", "aa"},  // eight digits are a number
      {"a{65535}", "a", "<none>"},
      {"a*{", "aa{", "aa{"},
      {"a{2}{x", "aa{x", "aa{x"},
  });
}

TEST(DialectRepetition, GreedyAndLazy) {
  CheckFirstMatches({
      {"<(.*)>", "<a><b>", "<a><b>"},
      {"<(.*?)>", "<a><b>", "<a>"},
      {"a+?", "aaa", "a"},
      {"a??b", "ab", "ab"},
      {"a{1,3}?", "aaa", "a"},
      {"a{2,}?", "aaaa", "aa"},
      {"(a|ab)(c|bcd)", "abcd", "abcd"},  // leftmost alternative that leads to a match
  });
}

TEST(DialectOptions, SwitchToTheEndOfTheEnclosingGroup) {
  CheckFirstMatches({
      {"(?i)abc", "xABC", "ABC"},
      {"a(?i)b", "aB", "aB"},
      {"a(?i)b", "AB", "<none>"},
      {"(a(?i)b)c", "aBC", "<none>"},  // the setting ends with its group
      {"(a(?i)b)c", "aBc", "aBc"},
      {"a(?i)b|c", "C", "C"},  // and carries into later alternatives
      {"(?i)[a-c]+", "xAbC", "AbC"},
      {"(?i)[^a]", "Ab", "b"},
      {"(?i)\\x82\\xa0", Sjis("あ"), Sjis("あ")},
      {"(?i)(?-i)a", "A", "<none>"},
      {"(?-s)a.b", "a\nb", "<none>"},
      {"(?-s)a.b", "a\rb", "<none>"},
      {"(?-s)a.b", "a b", "a b"},
      {"((?-s)a.)b.c", "a_b\nc", "a_b\nc"},
      {"(?-m)^b", "a\nb", "<none>"},
      {"(?-m)a$", "a\n", "<none>"},
      {"(?-m)a$", "ba", "a"},
      {"(?m-s)^a.", "x\na\n", "<none>"},
      {"(?x) a b # words\n c", "abc", "abc"},
      {"(?x)a b*", "abbb", "abbb"},
      {"(?x)a *", "aaa", "aaa"},
      {"(?x)[ ]", "a b", " "},
      {"(?x)a\\ b", "a b", "a b"},
      {"(?x)a#b\rc", "ac", "ac"},
      {"((?x) a ) b", "a b", "a b"},
      {"(?is)A.", "a\n", "a\n"},
  });
}

TEST(DialectComments, AreSkipped) {
  CheckFirstMatches({
      {"a(?#note)b", "ab", "ab"},
      {"a(?#)b", "ab", "ab"},
      {"a(?#x)*", "aaa", "aaa"},
      {"(?#(?:x)a", "a", "a"},
  });
}

TEST(DialectGroups, NumberingAndUnsetGroups) {
  Pattern pattern("(a)|((b)(c(d)))");
  EXPECT_EQ(pattern.GroupCount(), 5);
  const auto match = pattern.Search("xbcd");
  ASSERT_TRUE(match);
  ASSERT_EQ(match->groups.size(), 6u);
  EXPECT_FALSE(match->groups[1].matched());
  EXPECT_EQ(match->groups[2].start, 1);
  EXPECT_EQ(match->groups[2].end, 4);
  EXPECT_EQ(match->groups[3].start, 1);
  EXPECT_EQ(match->groups[4].start, 2);
  EXPECT_EQ(match->groups[5].start, 3);
  EXPECT_EQ(match->groups[5].end, 4);

  EXPECT_EQ(Pattern("(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)(m)(n)").GroupCount(), 14);
  EXPECT_EQ(Pattern("((((((((((((((a))))))))))))))").GroupCount(), 14);
  EXPECT_EQ(Pattern("()").GroupCount(), 1);
  EXPECT_EQ(Pattern("a|").GroupCount(), 0);
}

TEST(DialectAccepts, RepetitionsOfItemsThatCannotBeEmptyAndOptionalEmptyOnes) {
  for (const char* pattern :
       {"(a?)?",     "(a*){2}",  "(a*){0,3}", "^?",      "\\b?",    "(a|b?c)+",   "(a?b)*",
        "()",        "(|a)",     "a||b",      "(a)\\1*", "(a)\\1+", "(ab)(\\1)+", "(a)(?i)b*",
        "(\\2x)(y)", "x(a)*\\1", "[*+?{]+",   "\\(*",    "(?x)a *", "a(?#c)+"}) {
    EXPECT_EQ(CompileError(pattern), "") << pattern;
  }
}

struct RefusedRow {
  std::string pattern;
  std::string message;  // a part of the error text, with the position
};

TEST(DialectRefuses, WithTheProblemAndItsOffset) {
  const std::vector<RefusedRow> rows = {
      {"", "empty pattern"},
      {"ab(?:c)", "unsupported (?: group at offset 2"},
      {"a(?=b)", "look-ahead (?= at offset 1"},
      {"a(?!b)", "look-ahead (?! at offset 1"},
      {"(?<=a)b", "look-behind (?<= at offset 0"},
      {"(?<!a)b", "look-behind (?<! at offset 0"},
      {"(?<n>a)", "named group (?< at offset 0"},
      {"(?P<n>a)", "named group (?P at offset 0"},
      {"(?'n'a)", "named group (?' at offset 0"},
      {"(?>a)", "unsupported (?> at offset 0"},
      {"(?|a)", "unsupported (?| at offset 0"},
      {"(?1)", "unsupported (?1 at offset 0"},
      {"(?R)", "unsupported (?R at offset 0"},
      {"(?(1)a)", "unsupported (?( at offset 0"},
      {"(?C1)", "unsupported (?C at offset 0"},
      {"x(?i:a)", "unsupported (?i: group at offset 1"},
      {"(?-i:a)", "unsupported (?-i: group at offset 0"},
      {"(?iq)", "unknown option letter q at offset 3"},
      {"(?i-s-m)", "unknown option letter - at offset 5"},
      {"(?)", "unsupported (?) at offset 0"},
      {"(?-)", "unsupported (?-) at offset 0"},
      {"(?i", "missing ) for ( at offset 0"},
      {"a(?", "missing ) for ( at offset 1"},
      {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)(m)(n)(o)", "too many groups (at most 14) at offset 42"},
      {"(((((((((((((((a)))))))))))))))", "too many groups (at most 14) at offset 14"},
      {"(a?)*", "'*' on something that can match the empty text at offset 4"},
      {"(a*)+", "'+' on something that can match the empty text at offset 4"},
      {"x()*", "'*' on something that can match the empty text at offset 3"},
      {"(a|)+", "'+' on something that can match the empty text at offset 4"},
      {"(a|b*)*", "'*' on something that can match the empty text at offset 6"},
      {"^*", "'*' on something that can match the empty text at offset 1"},
      {"a$+", "'+' on something that can match the empty text at offset 2"},
      {"\\b*", "'*' on something that can match the empty text at offset 2"},
      {"\\A+", "'+' on something that can match the empty text at offset 2"},
      {"(a?)\\1*", "'*' on something that can match the empty text at offset 6"},
      {"\\1+(a?)", "'+' on something that can match the empty text at offset 2"},
      {"(a{0,2})+", "'+' on something that can match the empty text at offset 8"},
      {"*a", "repetition with nothing before it at offset 0"},
      {"+", "repetition with nothing before it at offset 0"},
      {"?", "repetition with nothing before it at offset 0"},
      {"a|*b", "repetition with nothing before it at offset 2"},
      {"(+a)", "repetition with nothing before it at offset 1"},
      {"a(?i)*", "repetition with nothing before it at offset 5"},
      {"{2}", "repetition with nothing before it at offset 0"},
      {"a**", "nested repetition at offset 2"},
      {"a*+", "nested repetition at offset 2"},
      {"a++", "nested repetition at offset 2"},
      {"a?+", "nested repetition at offset 2"},
      {"a{2}*", "nested repetition at offset 4"},
      {"a{2}{3}", "nested repetition at offset 4"},
      {"a*??", "nested repetition at offset 3"},
      {"a+?+", "nested repetition at offset 3"},
      {"(?x)a* *", "nested repetition at offset 7"},
      {"(ab", "missing ) for ( at offset 0"},
      {"a(b(c)", "missing ) for ( at offset 1"},
      {"ab)", "unmatched ) at offset 2"},
      {"(a))", "unmatched ) at offset 3"},
      {"x[ab", "missing ] for [ at offset 1"},
      {"x[]", "missing ] for [ at offset 1"},
      {"[^]", "missing ] for [ at offset 0"},
      {"[a\\]", "missing ] for [ at offset 0"},
      {"a[z-a]", "reversed range in [...] at offset 2"},
      {"[a\\x{7a}-\\x61]", "reversed range in [...] at offset 2"},
      {"ab\\", "\\ at the end of the pattern at offset 2"},
      {"[a\\", "\\ at the end of the pattern at offset 2"},
      {"a\\x{100}", "\\x{...} value over FF at offset 1"},
      {"\\x{fffffffffffffffff}", "\\x{...} value over FF at offset 0"},
      {"[\\x{1ff}]", "\\x{...} value over FF at offset 1"},
      {"\\x{41", "malformed \\x{...} at offset 0"},
      {"\\x{}", "malformed \\x{...} at offset 0"},
      {"\\x{4g}", "malformed \\x{...} at offset 0"},
      {"a{65536}", "repetition count over 65535 at offset 1"},
      {"a{1,65536}", "repetition count over 65535 at offset 1"},
      {"a{99999999,}", "repetition count over 65535 at offset 1"},
      {"a{3,2}", "repetition bounds in the wrong order at offset 1"},
      {"\\2(a)", "back-reference to group 2, which does not exist at offset 0"},
      {"(a)\\9", "back-reference to group 9, which does not exist at offset 3"},
      {"a(?#x", "unclosed (?# comment at offset 1"},
  };
  for (const RefusedRow& row : rows) {
    SCOPED_TRACE("pattern " + row.pattern);
    const std::string message = CompileError(row.pattern);
    EXPECT_NE(message.find(row.message), std::string::npos) << "got: " << message;
    // The translation refuses alike, with the same text.
    try {
      (void)TranslatePattern(row.pattern);
      ADD_FAILURE() << "TranslatePattern accepted it";
    } catch (const PatternError& error) {
      EXPECT_EQ(std::string(error.what()), message);
      // The offset in the text is also given as a number, for the editor to mark.
      const std::size_t at = message.rfind(" at offset ");
      if (at == std::string::npos) {
        EXPECT_FALSE(error.offset().has_value());
      } else {
        EXPECT_EQ(error.offset(), std::stoul(message.substr(at + 11)));
      }
    }
  }
}

TEST(DialectRefuses, HugeInputsCleanly) {
  // None of these may exhaust the stack or take long; each is refused with a reason.
  EXPECT_NE(CompileError(std::string(1 << 20, 'a')).find("longer than"), std::string::npos);
  std::string groups;
  for (int i = 0; i < 10000; ++i) groups += "(a)";
  EXPECT_NE(CompileError(groups).find("too many groups"), std::string::npos);
  EXPECT_NE(CompileError(std::string(100000, '(')).find("longer than"), std::string::npos);
  EXPECT_NE(CompileError(std::string(30000, '(')).find("too many groups"), std::string::npos);
  EXPECT_NE(CompileError(std::string(30000, '[')).find("missing ]"), std::string::npos);
  std::string options;
  for (int i = 0; i < 5000; ++i) options += "(?i)";
  EXPECT_EQ(CompileError(options + "a"), "");
}

TEST(DialectRefuses, PatternsPcre2CannotHoldEvenWhenTheDialectAllowsThem) {
  // Thousands of classes are valid dialect but too large for PCRE2's compiled form: a clean error.
  std::string classes;
  for (int i = 0; i < 4000; ++i) classes += "[ab]";
  const std::string message = CompileError(classes);
  EXPECT_NE(message.find("cannot be compiled"), std::string::npos) << message;
  std::string literal(20000, 'x');
  EXPECT_EQ(FirstMatch(literal, "a" + literal), literal);
}

TEST(DialectJapanese, HeadlineRowInShiftJis) {
  const std::string page = Sjis(
      "<li><a href=\"n/1.html\">首相、補正予算案を閣議決定へ</a>（政治）</li>\r\n"
      "<li><a href=\"n/2.html\">ｶﾀｶﾅ見出し　全角スペース</a>（経済）</li>\r\n");
  Pattern pattern(Sjis("<a href=\"([^\"]+)\">([^<]+)</a>（([^）]+)）"));
  std::vector<std::string> captions;
  pattern.ForEachMatch(
      page, [&](const PatternMatch& match) { captions.push_back(ExpandTemplate(page, match, "$2|$3|$1")); });
  EXPECT_EQ(captions, (std::vector<std::string>{Sjis("首相、補正予算案を閣議決定へ|政治|n/1.html"),
                                                Sjis("ｶﾀｶﾅ見出し　全角スペース|経済|n/2.html")}));
}

}  // namespace
}  // namespace korinbo
