// Page conversions to Shift_JIS: the byte arithmetic row by row, the boundaries of the fast
// paths, and real headlines in every encoding converting to the same bytes.
#include <gtest/gtest.h>
#include <iconv.h>

#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

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
      {"21 21", "81 40"},
      {"24 22", "82 A0"},
      {"30 21", "88 9F"},
      {"25 5F", "83 7E"},
      {"25 60", "83 80"},
      {"5E 7E", "9F FC"},
      {"5F 21", "E0 40"},
      {"7E 7E", "EF FC"},
      {"31 0D", "89 2C"},
      {"30 0D", "88 8B"},
      {"20 21", ""},
      {"7F 21", ""},
      // The second byte is never tested: it wraps modulo 256.
      {"21 FF", "81 1F"},
      {"22 FF", "81 7D"},
      {"5E 21", "9F 9F"},
      {"00 00", ""},
      {"FF 21", ""},
  };
  for (const auto& row : rows) {
    const std::string in = Hex(row.input);
    EXPECT_EQ(ShowHex(JisCodeToSjis(static_cast<unsigned char>(in[0]), static_cast<unsigned char>(in[1]))),
              ShowHex(Hex(row.expected)))
        << row.input;
  }
}

TEST(JisCodeToSjis, GivesAValidPairForEveryValidCode) {
  for (unsigned first = 0x21; first <= 0x7E; ++first) {
    for (unsigned second = 0x21; second <= 0x7E; ++second) {
      const std::string pair =
          JisCodeToSjis(static_cast<unsigned char>(first), static_cast<unsigned char>(second));
      ASSERT_EQ(pair.size(), 2u) << first << " " << second;
      const auto lead = static_cast<unsigned char>(pair[0]);
      const auto trail = static_cast<unsigned char>(pair[1]);
      EXPECT_TRUE((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xEF)) << ShowHex(pair);
      EXPECT_TRUE(trail >= 0x40 && trail <= 0xFC && trail != 0x7F) << ShowHex(pair);
    }
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
      // A NUL is data like any other byte, also as the byte after a lead byte.
      {"00 41 00", "00 41 00"},
      {"B0 00", "88 FE"},
      {"A1 A1 8E A0", "81 40 8E A0"},
      {"FE FE", "EF FC"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(ShowHex(EucToSjis(Hex(row.input))), ShowHex(Hex(row.expected))) << row.input;
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
      // An escape for the mode in force changes nothing; the mode is forgotten between calls.
      {"1B 28 42 41 1B 24 42 1B 24 42 30 21", "41 88 9F"},
      {"1B 24 42 30 21", "88 9F"},
      {"30 21", "30 21"},
      // ESC $ ( D is data: in double-byte mode ESC and "$" go as a dropped pair.
      {"1B 24 42 1B 24 28 44", "84 C2"},
      {"1B 28", "1B 28"},
      {"1B", "1B"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(ShowHex(JisToSjis(Hex(row.input))), ShowHex(Hex(row.expected))) << row.input;
}

TEST(Utf8ToSjis, ConvertsRowByRow) {
  const Row rows[] = {
      {"", ""},
      {"41 E3 81 82", "41 82 A0"},
      // A character beyond U+FFFF is one "?", and the conversion goes on.
      {"F0 9F 98 80 41", "3F 41"},
      {"F7 BF BF BF", "3F"},
      {"41 F0 9F 98 80 F0 9F 8E 8C 42", "41 3F 3F 42"},
      // An incomplete sequence at the very end, its bytes well-formed so far, is dropped.
      {"41 E3 81", "41"},
      {"41 80", "41"},
      {"41 E3", "41"},
      {"41 F0 9F", "41"},
      {"E3 81 82 E3 81", "82 A0"},
      // A lead F0..FF without three continuation bytes keeps the three-byte reading.
      {"F3 81 81 41", "82 9F 41"},
      {"F0 9F 98", "3F"},
      // A byte that must be 10xxxxxx and is not still loses the whole page, at the end too.
      {"41 E3 41", ""},
      {"41 E3 81 41", ""},
      {"F0 9F 41 80", ""},
      {"C0 80", "00"},
      {"80 80", "00"},
      // A lone surrogate, and a character CP932 lacks, become one "?" each and the rest goes on.
      {"ED A0 80 41", "3F 41"},
      {"ED BF BF 41", "3F 41"},
      {"C3 A9 41", "3F 41"},
      // A byte-order mark stays, as the code page's default character.
      {"EF BB BF 41", "3F 41"},
      // One bad continuation anywhere loses the whole page.
      {"41 42 43 44 45 46 47 48 49 E3 41 82", ""},
      {"C3", ""},
      // NUL bytes are characters.
      {"00 41 00", "00 41 00"},
      // CP932's own characters: NEC row 13, an IBM extension whose trail byte is 5C, half-width kana.
      {"E2 91 A0", "87 40"},
      {"E7 BA 8A", "FA 5C"},
      {"EF BD B1", "B1"},
      {"EF BD 9E", "81 60"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(ShowHex(Utf8ToSjis(Hex(row.input))), ShowHex(Hex(row.expected))) << row.input;
}

TEST(DecodeUtf8, IsLaxButChecksContinuationBytes) {
  struct Case {
    const char* input;
    std::optional<std::u16string> units;
  };
  const Case cases[] = {
      {"", u""},
      {"41 00 7F", std::u16string{u'A', u'\0', u'\x7F'}},
      {"C0 80", std::u16string(1, u'\0')},
      {"80 80", std::u16string(1, u'\0')},
      {"9F BF", std::u16string(1, char16_t{0x07FF})},
      {"ED A0 80", std::u16string(1, char16_t{0xD800})},
      {"EF BB BF", std::u16string(1, char16_t{0xFEFF})},
      {"A0 80 80", std::u16string(1, char16_t{0x0000})},
      {"FF BF BF", std::u16string(1, char16_t{0xFFFF})},
      // A four-byte lead counts its low four bits only, read as a three-byte lead.
      {"F0 9F 98", std::u16string(1, char16_t{0x07D8})},
      {"F3 81 81 41", std::u16string{char16_t{0x3041}, u'A'}},
      {"F8 80 80 80", std::u16string(1, char16_t{0x8000})},
      // Four bytes from a lead F0..F7: one unit for a character beyond U+FFFF.
      {"F0 9F 98 80", std::u16string(1, char16_t{0xFFFD})},
      {"F4 8F BF BF 41", std::u16string{char16_t{0xFFFD}, u'A'}},
      {"E3 81 41", std::nullopt},
      {"C3 C3", std::nullopt},
      // Cut short at the very end: dropped.
      {"C3", u""},
      {"E3 81", u""},
      {"41 E3", u"A"},
      {"41 F0 9F", u"A"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeUtf8(Hex(c.input)), c.units) << c.input;
}

// A text ends at its length, not at the end of the memory it is cut from.
TEST(TextEnds, NoConversionReadsPastItsText) {
  const std::string buffer = Hex("41 E3 81 82 B0 A1");
  const std::string_view cut_utf8 = std::string_view(buffer).substr(0, 3);
  EXPECT_EQ(DecodeUtf8(cut_utf8), u"A");
  EXPECT_EQ(Utf8ToSjis(cut_utf8), "A");
  EXPECT_EQ(DecodeUtf8(std::string_view(buffer).substr(0, 2)), u"A");
  EXPECT_EQ(ShowHex(EucToSjis(std::string_view(buffer).substr(3, 2))), "82");
  EXPECT_EQ(ShowHex(EucToSjis(std::string_view(buffer).substr(4, 1))), "");
  const std::string jis = Hex("1B 24 42 30 21");
  EXPECT_EQ(ShowHex(JisToSjis(std::string_view(jis).substr(0, 4))), "");
  EXPECT_EQ(ShowHex(JisToSjis(std::string_view(jis).substr(0, 2))), "1B 24");
}

TEST(ByteTests, MarkTheirRanges) {
  const std::pair<unsigned char, bool> kana[] = {{0x00, false}, {0xA0, false}, {0xA1, true},
                                                 {0xDF, true},  {0xE0, false}, {0xFF, false}};
  for (const auto& [byte, expected] : kana) EXPECT_EQ(IsHalfWidthKana(byte), expected) << int{byte};
  const std::pair<unsigned char, bool> lead[] = {{0x41, false}, {0x8E, false}, {0xA0, false},
                                                 {0xA1, true},  {0xFE, true},  {0xFF, false}};
  for (const auto& [byte, expected] : lead) EXPECT_EQ(IsEucLeadByte(byte), expected) << int{byte};
}

// The conversions copy seven-bit runs eight bytes at a time: a character must come out right at
// every offset within and after such a run.
TEST(FastPaths, ConvertCharactersAtEveryOffsetOfARun) {
  const std::string kanji = Hex("88 9F");  // 亜
  for (std::size_t run = 0; run <= 24; ++run) {
    const std::string ascii(run, 'a');
    const std::string expected = ascii + kanji + "z" + ascii + Hex("A1 0D 0A");
    EXPECT_EQ(ShowHex(EucToSjis(ascii + Hex("B0 A1") + "z" + ascii + Hex("8E A1 0D 0A"))), ShowHex(expected))
        << run;
    EXPECT_EQ(ShowHex(Utf8ToSjis(ascii + Hex("E4 BA 9C") + "z" + ascii + Hex("EF BD A1 0D 0A"))),
              ShowHex(expected))
        << run;
    EXPECT_EQ(ShowHex(JisToSjis(ascii + Hex("1B 24 42 30 21 1B 28 42") + "z" + ascii + Hex("A1 0D 0A"))),
              ShowHex(expected))
        << run;
    // An escape that is not one of the three, and an ESC at the very end, are copied.
    EXPECT_EQ(ShowHex(JisToSjis(ascii + Hex("1B 24 40") + ascii + Hex("1B"))),
              ShowHex(ascii + Hex("1B 24 40") + ascii + Hex("1B")))
        << run;
  }
}

TEST(FastPaths, NoConversionOutgrowsItsInput) {
  std::mt19937 random(20261208);
  const std::string alphabet = Hex("1B 24 42 28 4A 40 8E 8F A1 DF E0 FE FF 80 BF C3 E3 EF ED 00 0D 0A 21 7E");
  for (int round = 0; round < 3000; ++round) {
    std::string text(random() % 40, '\0');
    for (char& c : text) {
      c = random() % 2 == 0 ? alphabet[random() % alphabet.size()] : static_cast<char>(random() % 256);
    }
    EXPECT_LE(EucToSjis(text).size(), text.size()) << ShowHex(text);
    EXPECT_LE(JisToSjis(text).size(), text.size()) << ShowHex(text);
    EXPECT_LE(Utf8ToSjis(text).size(), text.size()) << ShowHex(text);
    // The one-pass conversion agrees with decoding first and converting the units.
    const auto units = DecodeUtf8(text);
    EXPECT_EQ(Utf8ToSjis(text), text.empty() || !units ? std::string() : Utf16ToCp932(*units).value())
        << ShowHex(text);
  }
}

std::string DataFile(const std::string& name) {
  std::ifstream in(std::string(KORINBO_TEST_DATA) + "/convert/" + name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(RealHeadlines, EveryEncodingGivesTheSameShiftJisBytes) {
  const std::string sjis = DataFile("headlines.sjis.txt");
  ASSERT_GT(sjis.size(), 200u);
  EXPECT_EQ(ShowHex(EucToSjis(DataFile("headlines.euc.txt"))), ShowHex(sjis));
  EXPECT_EQ(ShowHex(JisToSjis(DataFile("headlines.jis.txt"))), ShowHex(sjis));
  EXPECT_EQ(ShowHex(Utf8ToSjis(DataFile("headlines.utf8.txt"))), ShowHex(sjis));
  EXPECT_EQ(Cp932ToUtf8(sjis), DataFile("headlines.utf8.txt"));
  // Half-width katakana, which ISO-2022-JP does not carry.
  const std::string kana = DataFile("kana.sjis.txt");
  ASSERT_FALSE(kana.empty());
  EXPECT_EQ(ShowHex(EucToSjis(DataFile("kana.euc.txt"))), ShowHex(kana));
  EXPECT_EQ(ShowHex(Utf8ToSjis(DataFile("kana.utf8.txt"))), ShowHex(kana));
}

// Before any other decoding here, so that the threads meet lead bytes whose pairs are not yet
// converted and race to convert them.
TEST(CodePage, ThreadsDecodingAtOnceGetTheSameTexts) {
  std::string every_pair;
  for (unsigned lead = 0x81; lead < 0xFD; ++lead) {
    for (unsigned trail = 0x40; trail < 0x100; ++trail)
      every_pair += {static_cast<char>(lead), static_cast<char>(trail)};
  }
  std::vector<std::u16string> decoded(4);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < decoded.size(); ++t) {
    threads.emplace_back([&decoded, &every_pair, t] { decoded[t] = Cp932ToUtf16Lossy(every_pair); });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::u16string& text : decoded) EXPECT_EQ(text, decoded.front());
  EXPECT_EQ(decoded.front(), DecodeUtf8(Cp932ToUtf8Lossy(every_pair)).value());
  EXPECT_EQ(decoded.front().substr(0, 2), u"\u3000\u3001");  // the pairs 81 40 and 81 41
}

TEST(CodePage, ConvertsTheProgramsOwnTexts) {
  EXPECT_EQ(ShowHex(Sjis("接続中...")), "90 DA 91 B1 92 86 2E 2E 2E");
  EXPECT_EQ(ShowHex(Sjis("表示")), "95 5C 8E A6");
  EXPECT_EQ(Sjis(""), "");
  EXPECT_THROW(Sjis("é"), std::logic_error);
  EXPECT_THROW(Sjis("\xE3\x81"), std::logic_error);
}

TEST(CodePage, StrictConversionsRefuseWhatTheyCannotCarry) {
  EXPECT_EQ(Cp932ToUtf8(Sjis("表示")), "表示");
  EXPECT_EQ(Cp932ToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(Cp932ToUtf8(""), "");
  EXPECT_FALSE(Cp932ToUtf8("\x81"));      // a lead byte without its trail
  EXPECT_FALSE(Cp932ToUtf8("\x81\x20"));  // a trail byte out of range
  EXPECT_FALSE(Utf8ToCp932("\xC3"));
  EXPECT_FALSE(Utf8ToCp932("\xED\xA0\x80"));  // an encoded surrogate is no UTF-8
  EXPECT_FALSE(Utf8ToCp932("a\xC3\xA9"));
  EXPECT_EQ(Utf8ToCp932("ｱ"), "\xB1");
}

TEST(CodePage, LossyDecodingMarksEveryBadByteAndGoesOn) {
  const Row rows[] = {
      {"61 81", "61 EF BF BD"},
      {"FF 62 95 5C", "EF BF BD 62 E8 A1 A8"},
      {"81 20 41", "EF BF BD 20 41"},
      {"FF FF", "EF BF BD EF BF BD"},
      {"", ""},
  };
  for (const auto& row : rows)
    EXPECT_EQ(ShowHex(Cp932ToUtf8Lossy(Hex(row.input))), row.expected) << row.input;
}

// The lossy decoding as iconv itself gives it: convert up to the first byte it refuses, put U+FFFD
// for that byte, go on after it.
std::string IconvLossy(std::string_view sjis) {
  iconv_t cd = iconv_open("UTF-8", "CP932");
  std::string out;
  while (!sjis.empty()) {
    char buffer[64];
    char* in_ptr = const_cast<char*>(sjis.data());
    std::size_t in_left = sjis.size();
    char* out_ptr = buffer;
    std::size_t out_left = sizeof buffer;
    const std::size_t result = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    out.append(buffer, sizeof buffer - out_left);
    sjis.remove_prefix(sjis.size() - in_left);
    if (result == static_cast<std::size_t>(-1)) {
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      out += "\xEF\xBF\xBD";
      sjis.remove_prefix(1);
    }
  }
  iconv_close(cd);
  return out;
}

TEST(CodePage, LossyDecodingAgreesWithIconvOnEveryByteAndPair) {
  for (unsigned first = 0; first < 0x100; ++first) {
    for (unsigned second = 0; second < 0x100; ++second) {
      const char bytes[3] = {static_cast<char>(first), static_cast<char>(second), 'x'};
      for (const std::size_t size : {std::size_t{1}, std::size_t{2}, std::size_t{3}}) {
        if (size == 1 && second != 0) continue;
        const std::string_view text(bytes, size);
        ASSERT_EQ(ShowHex(Cp932ToUtf8Lossy(text)), ShowHex(IconvLossy(text))) << ShowHex(text);
      }
    }
  }
  std::mt19937 random(16);
  for (int round = 0; round < 2000; ++round) {
    std::string text(random() % 12, '\0');
    for (char& c : text) c = static_cast<char>(random() % 4 == 0 ? 0x81 + random() % 0x1F : random());
    ASSERT_EQ(ShowHex(Cp932ToUtf8Lossy(text)), ShowHex(IconvLossy(text))) << ShowHex(text);
  }
}

TEST(CodePage, DecodingToUtf16GivesOneUnitPerCharacterAndWhereItBegins) {
  struct Case {
    const char* input;
    std::u16string units;
    std::vector<std::uint32_t> starts;
  };
  const Case cases[] = {
      {"", u"", {}},
      {"41 82 A0 0D 0A", u"A\u3042\r\n", {0, 1, 3, 4}},
      {"B1 95 5C 00 7E", std::u16string(u"\uFF71\u8868") + u'\0' + u"~", {0, 1, 3, 4}},
      // As the lossy decoding to UTF-8: one U+FFFD for each byte where a character fails.
      {"61 81", u"a\uFFFD", {0, 1}},
      {"FF 62 95 5C", u"\uFFFDb\u8868", {0, 1, 2}},
      {"81 20 41", u"\uFFFD A", {0, 1, 2}},
      {"85 40", u"\uFFFD@", {0, 1}},
  };
  for (const auto& c : cases) {
    std::vector<std::uint32_t> starts;
    const std::string sjis = Hex(c.input);
    EXPECT_EQ(Cp932ToUtf16Lossy(sjis, &starts), c.units) << c.input;
    EXPECT_EQ(starts, c.starts) << c.input;
    EXPECT_EQ(Cp932ToUtf16Lossy(sjis), DecodeUtf8(Cp932ToUtf8Lossy(sjis)).value()) << c.input;
  }
}

TEST(CodePage, Utf16UnitsWithoutACharacterBecomeOneQuestionMarkEach) {
  struct Case {
    std::u16string units;
    const char* expected;
  };
  const Case cases[] = {
      {u"", ""},
      {u"A\u3042", "41 82 A0"},
      {std::u16string{u'A', char16_t{0xD800}, u'B'}, "41 3F 42"},
      {std::u16string{char16_t{0xDC00}, char16_t{0xD800}}, "3F 3F"},
      {std::u16string(1, u'\0'), "00"},
      {u"\u00E9\u3042\uFFFF", "3F 82 A0 3F"},
      {u"\u301C\uFF5E", "81 60 81 60"},
  };
  for (const auto& c : cases) EXPECT_EQ(ShowHex(Utf16ToCp932(c.units).value()), c.expected);
}

TEST(CodePage, ALongTextIsNeverCutShort) {
  const std::u16string units(100000, u'\u3042');
  const auto sjis = Utf16ToCp932(units);
  ASSERT_TRUE(sjis);
  ASSERT_EQ(sjis->size(), 200000u);
  EXPECT_EQ(sjis->substr(199998), Hex("82 A0"));
  std::string utf8;
  for (int i = 0; i < 100000; ++i) utf8 += "あ";
  EXPECT_EQ(Utf8ToSjis(utf8), *sjis);
  EXPECT_EQ(Cp932ToUtf8Lossy(*sjis), utf8);
}

}  // namespace
}  // namespace korinbo
