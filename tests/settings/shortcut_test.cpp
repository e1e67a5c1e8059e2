#include <gtest/gtest.h>

#include "korinbo/shortcut.h"

namespace korinbo {
namespace {

struct ParseRow {
  const char* text;
  unsigned value;
};

TEST(ParseShortCutTest, Table) {
  const ParseRow rows[] = {
      {"Ctrl+Alt+A", 49217},
      {"ctrl+alt+a", 49217},
      {"Alt+Ctrl+A", 49217},
      {"CTRL+ALT+a", 49217},
      {"^Q", 16465},
      {"^q", 16465},
      {"Alt+Shift+F12", 41083},
      {"Shift+Shift+A", 0x2041},
      {"^Ctrl+A", 0x4041},
      {"A", 0x41},
      {"f1", 112},
      {"F24", 135},
      {"Ctrl+Num +", 0x406B},
      {"Ctrl+=", 0x40BB},
      {"Alt+Alt", 0x8012},
      {"Shift", 0x10},
      {"Ctrl+Enter", 0x400D},
      {"bksp", 8},
      {"Shift+Scroll Lock", 0x2091},
      // Nothing left after the modifiers, or no key of that name.
      {"", 0},
      {"Ctrl+", 0},
      {"Shift+Ctrl+Alt+", 0},
      {"^", 0},
      {"Ctrl+Foo", 0},
      {"Ctrl + A", 0},
      {"Ctrl+A ", 0},
      {" A", 0},
      {"F25", 0},
      {"F0", 0},
      {"Ctrl-A", 0},
      {"\x83\x41", 0},
      // The first code with the name wins: the keypad and the 102nd key lose to lower codes.
      {"Ctrl+\\", 0x40DC},
      {"/", 0x6F},
      {"7", 0x37},
      {"Ctrl", 0x11},
  };
  for (const ParseRow& row : rows) {
    EXPECT_EQ(ParseShortCut(row.text), row.value) << '"' << row.text << '"';
  }
}

struct FormatRow {
  unsigned value;
  const char* text;
};

TEST(FormatShortCutTest, Table) {
  const FormatRow rows[] = {
      {49217, "Ctrl+Alt+A"},
      {41083, "Shift+Alt+F12"},
      {0xE041, "Shift+Ctrl+Alt+A"},
      {0, ""},
      {0x4060, "Ctrl+0"},
      {0x4069, "Ctrl+9"},
      {0x1F41, "A"},  // bits 8-12 do not show
      {0x4000, ""},
      {0xE007, ""},
      {0x40FF, ""},
      {0xA0E8, ""},  // no key: no text
      {0x70, "F1"},
      {0x87, "F24"},
      {0x88, ""},
      {0xBA, ";"},
      {0x40DE, "Ctrl+'"},
      {0xC0, "`"},
      {0x6A, "Num *"},
      {0x14, "Caps Lock"},
      {0x08, "BkSp"},
      {0x09, "Tab"},
      {0x0D, "Enter"},
      {0x1B, "Esc"},
      {0x20, "Space"},
      {0x21, "PgUp"},
      {0x22, "PgDn"},
      {0x23, "End"},
      {0x24, "Home"},
      {0x25, "Left"},
      {0x26, "Up"},
      {0x27, "Right"},
      {0x28, "Down"},
      {0x2D, "Ins"},
      {0x2E, "Del"},
      {0x5A, "Z"},
  };
  for (const FormatRow& row : rows) {
    EXPECT_EQ(FormatShortCut(static_cast<TShortCut>(row.value)), row.text) << std::hex << row.value;
  }
}

// Every code with every modifier set reads back as the first code of the same name.
TEST(ShortCutRoundTripTest, EveryCodeAndModifierSet) {
  const unsigned modifier_sets[] = {0, kShortCutShift, kShortCutCtrl, kShortCutAlt,
                                    kShortCutShift | kShortCutCtrl | kShortCutAlt};
  for (unsigned code = 0; code < 256; ++code) {
    unsigned first_of_name = 8;
    while (first_of_name < code && KeyName(first_of_name) != KeyName(code)) ++first_of_name;
    for (const unsigned modifiers : modifier_sets) {
      const auto value = static_cast<TShortCut>(code | modifiers);
      const TShortCut back = ParseShortCut(FormatShortCut(value));
      if (KeyName(code).empty() || code < 8) {
        EXPECT_EQ(back, 0) << code;
      } else {
        EXPECT_EQ(back, first_of_name | modifiers) << code;
      }
    }
  }
}

TEST(ShortCutRoundTripTest, KeypadDigitsComeBackAsMainDigits) {
  for (unsigned code = 96; code <= 105; ++code) {
    const auto value = static_cast<TShortCut>(code | kShortCutCtrl | kShortCutShift);
    EXPECT_EQ(FormatShortCut(value), "Shift+Ctrl+" + std::string(1, static_cast<char>('0' + code - 96)));
    EXPECT_EQ(ParseShortCut(FormatShortCut(value)), (code - 48) | kShortCutCtrl | kShortCutShift);
  }
}

TEST(SplitShortCutTest, Table) {
  const struct {
    unsigned value, modifiers, key_code;
  } rows[] = {
      {0, 0, 0},
      {49217, kModControl | kModAlt, 0x41},
      {41083, kModShift | kModAlt, 0x7B},
      {0x2041, kModShift, 0x41},
      {0x1F41, 0, 0x1F41},  // bits 8-12 stay with the key code
      {0xFFFF, kModShift | kModControl | kModAlt, 0x1FFF},
  };
  for (const auto& row : rows) {
    const SplitShortCutResult split = SplitShortCut(static_cast<TShortCut>(row.value));
    EXPECT_EQ(split.modifiers, row.modifiers) << row.value;
    EXPECT_EQ(split.key_code, row.key_code) << row.value;
  }
}

}  // namespace
}  // namespace korinbo
