// Page conversions to Shift_JIS: the byte arithmetic row by row, and real headlines in every
// encoding converting to the same bytes.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "korinbo/codepage.h"
#include "korinbo/convert.h"

namespace korinbo {
namespace {

// "41 8E B1" -> bytes.
std::string Hex(std::string_view text) {
  std::string bytes;
  std::istringstream in{std::string(text)};
  std::string pair;
  while (in >> pair) bytes += static_cast<char>(std::stoi(pair, nullptr, 16));
  return bytes;
}

std::string ShowHex(std::string_view bytes) {
  std::string shown;
  static const char digits[] = "0123456789ABCDEF";
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (!shown.empty()) shown += ' ';
    shown += digits[b >> 4];
    shown += digits[b & 15];
  }
  return shown;
}

struct Row {
  const char* input;
  const char* expected;
};

TEST(JisCodeToSjis, FollowsTheArithmeticForEveryRow) {
  const Row rows[] = {
      {"21 21", "81 40"}, {"24 22", "82 A0"}, {"30 21", "88 9F"}, {"25 5F", "83 7E"},
      {"25 60", "83 80"}, {"5E 7E", "9F FC"}, {"5F 21", "E0 40"}, {"7E 7E", "EF FC"},
      {"31 0D", "89 2C"}, {"30 0D", "88 8B"}, {"20 21", ""},      {"7F 21", ""},
  };
  for (const auto& row : rows) {
    const std::string in = Hex(row.input);
    EXPECT_EQ(ShowHex(JisCodeToSjis(static_cast<unsigned char>(in[0]), static_cast<unsigned char>(in[1]))),
              ShowHex(Hex(row.expected)))
        << row.input;
  }
}

TEST(EucToSjis, ConvertsRowByRow) {
  const Row rows[] = {
      {"", ""},
      {"B0 A1", "88 9F"},
      {"A4 A2", "82 A0"},
      {"41 8E B1 42", "41 B1 42"},
      {"8E 41", "8E 41"},
      {"8E", "8E"},
      {"8F B0 A1", "8F 88 9F"},
      {"41 B0", "41"},
      {"B0 0D 0A", "88 0B 0A"},
      {"80 A0 FF", "80 A0 FF"},
      {"8E E0 A1", "8E E0 9F"},
      {"8E DF 8E A1", "DF A1"},
  };
  for (const auto& row : rows) EXPECT_EQ(ShowHex(EucToSjis(Hex(row.input))), ShowHex(Hex(row.expected))) << row.input;
}

TEST(JisToSjis, ConvertsRowByRow) {
  const Row rows[] = {
      {"", ""},
      {"41 1B 24 42 30 21 1B 28 42 42", "41 88 9F 42"},
      {"1B 24 42 24 22 1B 28 4A 5C", "82 A0 5C"},
      {"1B 24 42 30 21 30", "88 9F"},
      {"1B 24 42 30 21 0D 0A 1B 28 42", "88 9F"},
      {"1B 28 49 31", "1B 28 49 31"},
      {"1B 24 40 30 21", "1B 24 40 30 21"},
      {"1B 24 42 1B 28 49 31 1B 28 42", "95 50"},
      {"1B 24 42 30 1B 24 42 21", "88 99 82 C0"},
      {"1B 24 42 80 21 30 A1", "88 1F"},
      {"1B 24", "1B 24"},
      // In single-byte mode bytes above 7F and control bytes pass unchanged.
      {"0E 80 FF 0F", "0E 80 FF 0F"},
  };
  for (const auto& row : rows) EXPECT_EQ(ShowHex(JisToSjis(Hex(row.input))), ShowHex(Hex(row.expected))) << row.input;
}

TEST(Utf8ToSjis, ConvertsRowByRow) {
  const Row rows[] = {
      {"", ""},
      {"41 E3 81 82", "41 82 A0"},
      {"41 E3 81", ""},
      {"F0 9F 98 80 41", ""},
      {"C0 80", "00"},
      {"80 80", "00"},
      // A lone surrogate, and a character CP932 lacks, become one "?" each.
      {"ED A0 80 41", "3F 41"},
      {"C3 A9 41", "3F 41"},
      // A byte-order mark stays, as the code page's default character.
      {"EF BB BF 41", "3F 41"},
  };
  for (const auto& row : rows) EXPECT_EQ(ShowHex(Utf8ToSjis(Hex(row.input))), ShowHex(Hex(row.expected))) << row.input;
}

TEST(DecodeUtf8, IsLaxButChecksContinuationBytes) {
  EXPECT_EQ(DecodeUtf8(Hex("C0 80")), std::u16string(1, u'\0'));
  EXPECT_EQ(DecodeUtf8(Hex("ED A0 80")), std::u16string(1, char16_t{0xD800}));
  EXPECT_EQ(DecodeUtf8(Hex("F0 9F 98")), std::u16string(1, char16_t{0x07D8}) ) ;
  EXPECT_FALSE(DecodeUtf8(Hex("E3 81 41")));
  EXPECT_FALSE(DecodeUtf8(Hex("C3")));
  EXPECT_EQ(DecodeUtf8(""), std::u16string());
}

TEST(ByteTests, MarkTheirRanges) {
  EXPECT_FALSE(IsHalfWidthKana(0xA0));
  EXPECT_TRUE(IsHalfWidthKana(0xA1));
  EXPECT_TRUE(IsHalfWidthKana(0xDF));
  EXPECT_FALSE(IsHalfWidthKana(0xE0));
  EXPECT_FALSE(IsEucLeadByte(0xA0));
  EXPECT_TRUE(IsEucLeadByte(0xA1));
  EXPECT_TRUE(IsEucLeadByte(0xFE));
  EXPECT_FALSE(IsEucLeadByte(0xFF));
}

std::string DataFile(const std::string& name) {
  std::ifstream in(std::string(KORINBO_TEST_DATA) + "/convert/" + name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(RealHeadlines, EveryEncodingGivesTheSameShiftJisBytes) {
  const std::string sjis = DataFile("headlines.sjis.txt");
  ASSERT_FALSE(sjis.empty());
  EXPECT_EQ(ShowHex(EucToSjis(DataFile("headlines.euc.txt"))), ShowHex(sjis));
  EXPECT_EQ(ShowHex(JisToSjis(DataFile("headlines.jis.txt"))), ShowHex(sjis));
  EXPECT_EQ(ShowHex(Utf8ToSjis(DataFile("headlines.utf8.txt"))), ShowHex(sjis));
  // Half-width katakana, which ISO-2022-JP does not carry.
  const std::string kana = DataFile("kana.sjis.txt");
  EXPECT_EQ(ShowHex(EucToSjis(DataFile("kana.euc.txt"))), ShowHex(kana));
  EXPECT_EQ(ShowHex(Utf8ToSjis(DataFile("kana.utf8.txt"))), ShowHex(kana));
}

TEST(CodePage, ConvertsAtTheProgramsBoundaries) {
  EXPECT_EQ(Sjis("接続中..."), Hex("90 DA 91 B1 92 86 2E 2E 2E"));
  EXPECT_EQ(Cp932ToUtf8(Sjis("表示")), "表示");
  EXPECT_FALSE(Cp932ToUtf8("\x81"));
  EXPECT_FALSE(Utf8ToCp932("\xC3"));
  EXPECT_FALSE(Utf8ToCp932("é"));
  EXPECT_EQ(Cp932ToUtf8Lossy("a\x81"), "a\xEF\xBF\xBD");
  EXPECT_EQ(Cp932ToUtf8Lossy("\xFF" "b" + Sjis("表")), "\xEF\xBF\xBD" "b表");
  EXPECT_THROW(Sjis("é"), std::logic_error);
  EXPECT_EQ(Utf16ToCp932(u"A\u3042\xD800"), std::optional<std::string>(Hex("41 82 A0 3F")));
}

}  // namespace
}  // namespace korinbo
