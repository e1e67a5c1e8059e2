// ReplaceAll, StripTags and the byte-wise helpers.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <random>
#include <string>
#include <vector>

#include "korinbo/codepage.h"
#include "korinbo/pattern.h"
#include "korinbo/text.h"

namespace korinbo {
namespace {

using namespace std::string_literals;

struct ReplaceRow {
  std::string text, old_text, new_text, expected;
};

TEST(ReplaceAll, Table) {
  const std::vector<ReplaceRow> rows = {
      {"aaaa", "aa", "b", "bb"},
      {"abc", "", "x", "abc"},
      {"aaa", "aa", "b", "ba"},
      {"abc", "b", "bb", "abbc"},  // the inserted text is not scanned again
      {"abab", "ab", "", ""},
      {"", "a", "b", ""},
      {"xyz", "xyzw", "q", "xyz"},
      {"a\0b\0"s, "\0"s, "-", "a-b-"},  // NUL is an ordinary byte here
      {"a\r\nb\r\n", "\r\n", "\n", "a\nb\n"},
      {"aXbXc", "X", "XX", "aXXbXXc"},
      {Sjis("国内ニュース国内"), Sjis("国内"), "*", "*" + Sjis("ニュース") + "*"},
  };
  for (const ReplaceRow& row : rows) {
    EXPECT_EQ(ReplaceAll(row.text, row.old_text, row.new_text), row.expected) << row.text;
  }
}

struct StripRow {
  std::string input, expected;
};

TEST(StripTags, Table) {
  const std::vector<StripRow> rows = {
      {"<a href=x>Top<br>\r\nNews</a>", "TopNews"},
      {"a<b", "a<b"},
      {"a>b<", "a>b<"},
      {"<b>x</b>", "x"},
      {"a<br\r\n>b", "ab"},  // a tag across lines
      {"x\r\ny\rz\n", "xyz"},
      {"&amp; &nbsp;  two  blanks", "&amp; &nbsp;  two  blanks"},
      {"<<a>>", ">"},   // the tag is "<<a>"
      {"<a<b>c", "c"},  // and here "<a<b>"
      {"<a><a>x<a>", "x"},
      {"<>x<>", "x"},
      {"<i>a\0<b>c<i>"s, "a\0<b>c"s},  // tags are found before the NUL, removed everywhere
      {"\0<i>"s, "\0<i>"s},
      {"<b>abcdefghijklmnopqrstuvwxyz\0<i>"s, "abcdefghijklmnopqrstuvwxyz\0<i>"s},  // a NUL past 16 bytes
      {"0123456789abcdef<b>\r\n0123456789abcdef</b>ghij", "0123456789abcdef0123456789abcdefghij"},
      {"<x><b><<b>x>", "<x>"},  // removing "<b>" makes a "<x>" after "<x>" was handled
      {"<a><<a>a>", "<a>"},     // an occurrence made by a removal stays in that same pass
      {"<x><<b>x>", "x>"},
      {"p<q>r<q>s", "prs"},
      {"a<b\r\nc", "a<bc"},        // an unclosed "<" keeps its text, not its line breaks
      {"x\r\n<b\r\n>y>", "xy>"},
      {"<b>a<i", "a<i"},
      {Sjis("<b>首相</b>、<i>記者会見</i>"), Sjis("首相、記者会見")},
      {"", ""},
  };
  for (const StripRow& row : rows) {
    EXPECT_EQ(StripTags(row.input), row.expected) << row.input;
    // Appending keeps what was there, also where the one-pass way gives up half-way.
    std::string out = "kept<";
    AppendStrippedTags(out, row.input);
    EXPECT_EQ(out, "kept<" + row.expected) << row.input;
  }
}

// The algorithm as written down: tags found by the pattern in the input, each removed everywhere
// from the result in turn, then every CR, then every LF.
std::string StripTagsStepByStep(const std::string& input) {
  std::vector<std::string> tags;
  Pattern("<[^>]*>").ForEachMatch(input, [&](const PatternMatch& match) {
    tags.push_back(input.substr(match.start(), match.end() - match.start()));
  });
  std::string result = input;
  for (const std::string& tag : tags) result = ReplaceAll(result, tag, "");
  return ReplaceAll(ReplaceAll(result, "\r", ""), "\n", "");
}

TEST(StripTags, SameAsTheStepByStepAlgorithmOnRandomTexts) {
  // Short captions with a few tags, and long ones with many.
  std::mt19937 random(20240613);
  const std::string alphabets[] = {"<>ab", "<>a\r\n", "<<>ab/", "<>ab\0"s, "<>>a"};
  for (int i = 0; i < 20000; ++i) {
    const std::string& alphabet = alphabets[i % 5];
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> length(0, i % 2 == 0 ? 30 : 400);
    std::string input;
    for (int n = length(random); n > 0; --n) input += alphabet[pick(random)];
    ASSERT_EQ(StripTags(input), StripTagsStepByStep(input)) << "input: " << input;
  }
}

TEST(StripTags, LongCaptionWithManyDifferentTags) {
  // A greedy site pattern can make a caption of a whole page; each removal rescanning the result
  // would take minutes here.
  std::string input;
  std::string expected;
  for (int i = 0; i < 150000; ++i) {
    const std::string n = std::to_string(i);
    input += "<a href=\"/n/" + n + "\">w" + n + "</a>\r\n";
    expected += "w" + n;
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(StripTags(input), expected);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << "hang guard";
}

TEST(StripTags, LongRunsOfOpeningBrackets) {
  std::string input = "x" + std::string(100000, '<');
  for (int i = 0; i < 20000; ++i) input += "<t" + std::to_string(i % 50) + ">";
  const auto start = std::chrono::steady_clock::now();
  const std::string got = StripTags(input);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << "hang guard";
  // The first tag swallows the run of "<" up to its ">"; nothing else is left but the "x".
  EXPECT_EQ(got, "x");
  EXPECT_EQ(StripTags("ab" + std::string(50000, '<')), "ab" + std::string(50000, '<'));
}

struct BytesRow {
  long long n;
  std::string left, right;
};

struct ReferenceRow {
  std::string text;
  std::string all;    // with every reference decoded
  std::string ascii;  // with the references of ASCII characters decoded
};

TEST(DecodeCharacterReferences, Table) {
  const std::vector<ReferenceRow> rows = {
      {"M&amp;A " + Sjis("で合意"), "M&A " + Sjis("で合意"), "M&A " + Sjis("で合意")},
      {"&lt;b&gt; &quot;x&apos;", "<b> \"x'", "<b> \"x'"},
      {"a&nbsp;b", "a b", "a&nbsp;b"},
      {"&#12354;&#x3042;&#X3042;&#065;", Sjis("ああ") + Sjis("あ") + "A", "&#12354;&#x3042;&#X3042;A"},
      // What code page 932 lacks is "?"; it takes the yen sign as 5C and the em dash as 81 5C.
      {"&copy;&reg;&yen;&times;", "??\\" + Sjis("×"), "&copy;&reg;&yen;&times;"},
      {"&hellip;&lsquo;&rsquo;&ldquo;&rdquo;&larr;&rarr;", Sjis("…‘’“”←→"), "&hellip;&lsquo;&rsquo;&ldquo;&rdquo;&larr;&rarr;"},
      {"&mdash;&ndash;&middot;&laquo;&raquo;&bull;", "\x81\x5C?????", "&mdash;&ndash;&middot;&laquo;&raquo;&bull;"},
      // Decoded once.
      {"&amp;lt;", "&lt;", "&lt;"},
      // Not a reference, or one without its ";", or naming no character: as written.
      {"&amp &lt &#12354 &#x; &#; &; & &unknown; &AMP;", "&amp &lt &#12354 &#x; &#; &; & &unknown; &", "&amp &lt &#12354 &#x; &#; &; & &unknown; &"},
      {"&#0; &#xD800; &#x110000; &#99999999999;", "&#0; &#xD800; &#x110000; &#99999999999;", "&#0; &#xD800; &#x110000; &#99999999999;"},
      {"&Amp;&AMP", "&Amp;&AMP", "&Amp;&AMP"},
      // Beyond U+FFFF, and two characters for one name: each character its own bytes.
      {"&#x1F600;&nGt;", "?" + Sjis("≫") + "?", "&#x1F600;&nGt;"},
      {"list.php?id=4&amp;p=2&#38;q=&#x2F;", "list.php?id=4&p=2&q=/", "list.php?id=4&p=2&q=/"},
      {"&sol;&colon;&num;", "/:#", "/:#"},
      {"", "", ""},
      {"&", "&", "&"},
      {"&#", "&#", "&#"},
      {"&amp", "&amp", "&amp"},
  };
  for (const ReferenceRow& row : rows) {
    EXPECT_EQ(DecodeCharacterReferences(row.text), row.all) << row.text;
    EXPECT_EQ(DecodeCharacterReferences(row.text, References::kAscii), row.ascii) << row.text;
  }
  // In place from a position: the bytes before it stay.
  std::string text = "&amp;|&amp;";
  DecodeCharacterReferences(text, 1, References::kAll);
  EXPECT_EQ(text, "&amp;|&");
}

TEST(LeftRightBytes, Table) {
  const std::string text = "abcdef";
  const std::vector<BytesRow> rows = {
      {0, "", ""},
      {-1, "", ""},
      {LLONG_MIN, "", ""},
      {1, "a", "f"},
      {3, "abc", "def"},
      {6, "abcdef", "abcdef"},
      {7, "abcdef", "abcdef"},
      {LLONG_MAX, "abcdef", "abcdef"},
  };
  for (const BytesRow& row : rows) {
    EXPECT_EQ(LeftBytes(text, row.n), row.left) << row.n;
    EXPECT_EQ(RightBytes(text, row.n), row.right) << row.n;
  }
  EXPECT_EQ(LeftBytes("", 3), "");
  EXPECT_EQ(RightBytes("", 3), "");
  EXPECT_EQ(LeftBytes(Sjis("あい"), 3), "\x82\xa0\x82");  // bytes, not characters
  EXPECT_EQ(RightBytes("a\0b"s, 2), "\0b"s);
}

TEST(ReverseBytes, Table) {
  EXPECT_EQ(ReverseBytes(""), "");
  EXPECT_EQ(ReverseBytes("a"), "a");
  EXPECT_EQ(ReverseBytes("http://a/b.html"), "lmth.b/a//:ptth");
  EXPECT_EQ(ReverseBytes(Sjis("あ")), "\xa0\x82");  // the two bytes of a character swap too
  EXPECT_EQ(ReverseBytes("a\0b"s), "b\0a"s);
}

}  // namespace
}  // namespace korinbo
