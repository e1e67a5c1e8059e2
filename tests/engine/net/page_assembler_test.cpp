// The page a body makes, fed in every kind of split: the result must not depend on the split.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "korinbo/download.h"

namespace korinbo {
namespace {

// `size` bytes of a repeating printable pattern that starts with `tag`.
std::string Filler(std::size_t size, char tag) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(tag + static_cast<char>(i % 7));
  return s;
}

// The body with a NUL at each 0-based position.
std::string WithNuls(std::string body, const std::vector<std::size_t>& positions) {
  for (std::size_t p : positions) body[p] = '\0';
  return body;
}

std::string Assemble(const std::string& body, const std::vector<std::size_t>& splits, std::size_t cap) {
  PageAssembler page(cap);
  std::size_t offset = 0;
  std::size_t k = 0;
  while (offset < body.size()) {
    std::size_t n = splits.empty() ? body.size() : splits[k++ % splits.size()];
    n = std::min(n, body.size() - offset);
    std::size_t taken = page.Append(std::string_view(body).substr(offset, n));
    offset += n;
    if (taken < n) break;
  }
  return page.Take();
}

struct PieceCase {
  const char* name;
  std::string body;
  std::string expected;
};

std::vector<PieceCase> PieceCases() {
  const std::string a = Filler(1024, 'A');
  const std::string b = Filler(1024, 'a');
  const std::string c = Filler(300, '0');
  std::vector<PieceCase> cases;
  cases.push_back({"no NUL", a + b + c, a + b + c});
  // Position 10 (1-based) of the first piece: 9 bytes stay, the second piece comes whole.
  cases.push_back({"NUL at position 10", WithNuls(a + b, {9}), a.substr(0, 9) + b});
  cases.push_back({"NUL as first byte of a piece", WithNuls(a + b + c, {1024}), a + c});
  cases.push_back({"NUL as last byte of a piece", WithNuls(a + b, {1023}), a.substr(0, 1023) + b});
  cases.push_back({"two NULs in one piece", WithNuls(a + b, {1030, 1500}), a + b.substr(0, 6)});
  cases.push_back({"NUL in every piece", WithNuls(a + b + c, {5, 1024 + 700, 2048 + 299}),
                   a.substr(0, 5) + b.substr(0, 700) + c.substr(0, 299)});
  cases.push_back({"NUL in a short last piece", WithNuls(a + c, {1024 + 10}), a + c.substr(0, 10)});
  cases.push_back({"only NULs", std::string(3000, '\0'), ""});
  cases.push_back({"empty body", "", ""});
  cases.push_back({"one byte", "x", "x"});
  return cases;
}

const std::vector<std::vector<std::size_t>> kSplits = {
    {}, {1}, {7}, {1023}, {1024}, {1025}, {3, 1021, 2048}, {1000, 1, 333}, {16384},
};

TEST(PageAssembler, NulRuleHoldsForEverySplit) {
  for (const auto& row : PieceCases()) {
    for (const auto& splits : kSplits) {
      SCOPED_TRACE(std::string(row.name) + ", first split " + std::to_string(splits.empty() ? 0 : splits[0]));
      EXPECT_EQ(Assemble(row.body, splits, std::size_t{32} << 20), row.expected);
    }
  }
}

TEST(PageAssembler, CapCountsBodyBytesNotPageBytes) {
  const std::string a = Filler(1024, 'A');
  const std::string b = Filler(1024, 'a');
  const std::string body = WithNuls(a + b + a, {9});  // first piece keeps 9 bytes
  for (const auto& splits : kSplits) {
    // The cap falls inside the second piece: its first 100 bytes are the last ones taken.
    EXPECT_EQ(Assemble(body, splits, 1124), a.substr(0, 9) + b.substr(0, 100));
  }
}

TEST(PageAssembler, AppendReportsWhatTheCapLeft) {
  PageAssembler page(10);
  EXPECT_EQ(page.Append("abcdef"), 6u);
  EXPECT_FALSE(page.full());
  EXPECT_EQ(page.Append("ghijkl"), 4u);
  EXPECT_TRUE(page.full());
  EXPECT_EQ(page.Append("mn"), 0u);
  EXPECT_EQ(page.body_bytes(), 10u);
  EXPECT_EQ(page.page(), "abcdefghij");
}

TEST(PageAssembler, ZeroCapTakesNothing) {
  PageAssembler page(0);
  EXPECT_EQ(page.Append("abc"), 0u);
  EXPECT_TRUE(page.full());
  EXPECT_EQ(page.page(), "");
}

TEST(PageAssembler, BodyEndingExactlyAtTheCapIsWhole) {
  const std::string body = Filler(2048, 'A');
  EXPECT_EQ(Assemble(body, {100}, 2048), body);
}

}  // namespace
}  // namespace korinbo
