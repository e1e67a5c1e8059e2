#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "korinbo/profile.h"

namespace korinbo {
namespace {

using namespace std::string_literals;

TEST(ParseProfileIntegerTest, Table) {
  const struct {
    const char* text;
    std::optional<int> value;
  } rows[] = {
      {"$1F", 31},
      {"0x1F", 31},
      {"0X1f", 31},
      {"x1F", 31},
      {"X1F", 31},
      {" 12", 12},
      {"\t 12", 12},
      {"-5", -5},
      {"+7", 7},
      {"007", 7},
      {"0", 0},
      {"000000000000000000012", 12},
      {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},
      {"$7FFFFFFF", INT_MAX},
      {"12x", {}},
      {"", {}},
      {"   ", {}},
      {"99999999999", {}},
      {"2147483648", {}},
      {"-2147483649", {}},
      {"$80000000", {}},
      {"$FFFFFFFFFFFFFFFF1", {}},
      {"$", {}},
      {"0x", {}},
      {"-", {}},
      {"+-1", {}},
      {"-$1F", {}},
      {"1 2", {}},
      {"12 ", {}},
      {"$1G", {}},
      {"1.5", {}},
      {"0b1", {}},
      {"\xEF\xBC\x91", {}},
  };
  for (const auto& row : rows) EXPECT_EQ(ParseProfileInteger(row.text), row.value) << '"' << row.text << '"';
}

TEST(ProfileReadTest, Table) {
  const struct {
    std::string file;
    const char* section;
    const char* key;
    std::optional<std::string> value;
  } rows[] = {
      {"[Form]\r\nTop=5\r\n", "Form", "Top", "5"},
      {"[form]\nTOP=5\n", "Form", "Top", "5"},
      {"  [ Form ]  \r\n  Top  =   5  \r\n", "Form", "Top", "5"},
      {"[Form] ; note [x]\rTop=5\r", "Form", "Top", "5"},
      {"[F]\nk=v", "F", "k", "v"},
      {"[F]\nk=\"a b\"\n", "F", "k", "a b"},
      {"[F]\nk=  'x'  \n", "F", "k", "x"},
      {"[F]\nk=\"x'\n", "F", "k", "\"x'"},
      {"[F]\nk=\"\n", "F", "k", "\""},
      {"[F]\nk=\"\"\n", "F", "k", ""},
      {"[F]\nk=a=b\n", "F", "k", "a=b"},
      {"[F]\nk=\n", "F", "k", ""},
      {"[F]\nk=ab\0cd\n"s, "F", "k", "ab"},
      {"[F]\nk=\x83\x76\x83\x8D\n", "F", "k", "\x83\x76\x83\x8D"},
      {"[F]\nk=1\nk=2\n", "F", "k", "1"},
      {"[F]\na=1\n[F]\nk=2\n", "F", "a", "1"},
      {"[\x83\x41]\nk=1\n", "\x83\x41", "k", "1"},
      {"[\x83\x5D\x83\x5B]\nk=1\n", "\x83\x5D\x83\x5B", "k", "1"},  // second bytes "]" and "["
      // Not there.
      {"", "F", "k", {}},
      {"[G]\nk=1\n", "F", "k", {}},
      {"[F]\nkk=1\n", "F", "k", {}},
      {"[F]\na=1\n[F]\nk=2\n", "F", "k", {}},  // only the first section of a name is read
      {"[F]\n;k=1\n", "F", "k", {}},
      {"[F]\nk\n", "F", "k", {}},
      {"k=1\n[F]\n", "F", "k", {}},
      {"[F\nk=1\n", "F", "k", {}},
      {"[\x83\x61]\nk=1\n", "\x83\x41", "k", {}},  // the second byte of a kanji is not case-folded
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ProfileFile(row.file).ReadString(row.section, row.key), row.value)
        << testing::PrintToString(row.file);
  }
}

TEST(ProfileReadTest, LongValuesAreCutTo2047Bytes) {
  for (const std::size_t length : {2046u, 2047u, 2048u, 3000u}) {
    const std::string value(length, 'v');
    const ProfileFile profile("[F]\r\nk=" + value + "\r\n");
    EXPECT_EQ(profile.ReadString("F", "k"), value.substr(0, 2047)) << length;
  }
}

TEST(ProfileReadTest, IntegersAndDefaults) {
  const ProfileFile profile("[F]\r\nhex=0x10\r\nbad=10 px\r\nempty=\r\n");
  EXPECT_EQ(profile.ReadInteger("F", "hex", 7), 16);
  EXPECT_EQ(profile.ReadInteger("F", "bad", 7), 7);
  EXPECT_EQ(profile.ReadInteger("F", "empty", 7), 7);
  EXPECT_EQ(profile.ReadInteger("F", "missing", 7), 7);
  EXPECT_EQ(profile.ReadString("F", "missing", "dflt"), "dflt");
  EXPECT_EQ(profile.ReadString("F", "empty", "dflt"), "");
}

TEST(ProfileWriteTest, Table) {
  const struct {
    std::string before;
    const char* section;
    const char* key;
    std::string value;
    std::string after;
  } rows[] = {
      {"", "F", "k", "v", "[F]\r\nk=v\r\n"},
      {"[F]\r\na=1\r\nk=old\r\nb=2\r\n", "F", "k", "new", "[F]\r\na=1\r\nk=new\r\nb=2\r\n"},
      {"[form]\r\n  KEY = old \r\n", "Form", "key", "new", "[form]\r\nKEY=new\r\n"},
      {"[F]\r\n k = v \n", "F", "k", "v", "[F]\r\n k = v \n"},  // same value: the line stays
      {"[F]\r\na=1\r\n\r\n; c\r\n[G]\r\nx=1\r\n", "F", "k", "v",
       "[F]\r\na=1\r\nk=v\r\n\r\n; c\r\n[G]\r\nx=1\r\n"},
      {"[F]\r\n\r\n[G]\r\n", "F", "k", "v", "[F]\r\nk=v\r\n\r\n[G]\r\n"},
      {"[G]\r\nx=1\r\n", "F", "k", "v", "[G]\r\nx=1\r\n[F]\r\nk=v\r\n"},
      {"[G]\r\nx=1", "F", "k", "v", "[G]\r\nx=1\r\n[F]\r\nk=v\r\n"},
      {"[F]\r\na=1", "F", "k", "v", "[F]\r\na=1\r\nk=v\r\n"},
      {"[F]\na=1\rk=0\n\r", "F", "k", "9", "[F]\na=1\rk=9\r\n\r"},
      {"[F]\na=1\n[F]\nk=2\n", "F", "k", "3", "[F]\na=1\nk=3\r\n[F]\nk=2\n"},
      {"[F]\r\n", "F", "k", "a\r\nb", "[F]\r\nk=a\r\n"},
      {"[F]\r\n", "F", "k", "a\nb", "[F]\r\nk=a\r\n"},
      {"[F]\r\n", "F", "k", "a\0b"s, "[F]\r\nk=a\r\n"},
      {"[F]\r\n", "F", "k", "\x82\xA0=;[x]", "[F]\r\nk=\x82\xA0=;[x]\r\n"},
      {"", "\x83\x5D", "k", "v", "[\x83\x5D]\r\nk=v\r\n"},
  };
  for (const auto& row : rows) {
    ProfileFile profile(row.before);
    EXPECT_TRUE(profile.WriteString(row.section, row.key, row.value));
    EXPECT_EQ(profile.Bytes(), row.after) << testing::PrintToString(row.before);
  }
}

TEST(ProfileWriteTest, RefusesNamesThatCouldNotBeFoundAgain) {
  const std::string before = "[F]\r\nk=1\r\n";
  const std::pair<std::string, std::string> names[] = {
      {"", "k"},   {"F", ""},   {"F", "a=b"}, {"F", " k"},  {"F", "k\t"}, {"F", ";k"},
      {"F", "[k"}, {"F]", "k"}, {" F", "k"},  {"F\n", "k"}, {"F", "k\r"}, {"F", "k\0"s},
  };
  for (const auto& [section, key] : names) {
    ProfileFile profile(before);
    EXPECT_FALSE(profile.WriteString(section, key, "2")) << testing::PrintToString(section + "/" + key);
    EXPECT_EQ(profile.Bytes(), before);
  }
}

TEST(ProfileFileTest, UnchangedFileKeepsEveryByte) {
  for (const std::string& bytes :
       {"[F]\r\nk=1"s, "\n\r\n\r\r\n\n\r"s, "x\0y\r\n[\r\n]\n="s, "\xFF\x81\r\n;[F]\n"s}) {
    EXPECT_EQ(ProfileFile(bytes).Bytes(), bytes);
  }
}

// Files made of the profile syntax's own bytes: whatever the mess, a written value reads back and
// the rest of the file keeps its bytes.
TEST(ProfileFileTest, WrittenValuesReadBackInAnyFile) {
  std::mt19937 random(12345);
  const std::string alphabet = "[]=; \r\n\"Fkfx"s + '\0';
  for (int round = 0; round < 3000; ++round) {
    std::string bytes;
    const auto length = random() % 60;
    for (unsigned i = 0; i < length; ++i) bytes += alphabet[random() % alphabet.size()];
    ProfileFile profile(bytes);
    const std::string value = 'v' + std::to_string(round);
    ASSERT_TRUE(profile.WriteString("F", "k", value));
    ASSERT_EQ(profile.ReadString("F", "K"), value) << testing::PrintToString(bytes);
    ASSERT_EQ(ProfileFile(profile.Bytes()).ReadString("f", "k"), value) << testing::PrintToString(bytes);
    // Around the written line the file is as it was, but for a line break added to a last line
    // without one and the section's header when the section was added.
    const std::string written = profile.Bytes();
    const std::string line = "k=" + value + "\r\n";
    const std::size_t at = written.find(line);
    ASSERT_NE(at, std::string::npos);
    std::string_view head = std::string_view(written).substr(0, at);
    if (head.ends_with("[F]\r\n") && !bytes.starts_with(head)) head.remove_suffix(5);
    if (head.ends_with("\r\n") && !bytes.starts_with(head)) head.remove_suffix(2);
    EXPECT_TRUE(bytes.starts_with(head)) << testing::PrintToString(bytes);
    EXPECT_TRUE(bytes.ends_with(written.substr(at + line.size()))) << testing::PrintToString(bytes);
  }
}

}  // namespace
}  // namespace korinbo
