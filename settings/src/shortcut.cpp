#include "korinbo/shortcut.h"

namespace korinbo {
namespace {

// Names of the keys outside the fixed table below. On Windows they come from the keyboard layout;
// here they are one table, the same on every machine, so that a value always gives the same text.
// They are the names the US layout gives for the key's scan code without the extended-key flag,
// with these choices where that lookup is unhelpful:
//   0x13 "Pause", 0x90 "Num Lock", 0x2C "Prnt Scrn": the keys' own names, where the lookup
//   without the extended-key flag would give another key's name.
//   0x5B-0x5D and the browser and media keys 0xA6-0xB7 get their keys' names, so that a hotkey
//   on them survives being saved.
//   0x6F "/": the layout names the keypad's "/" like the main "/" key (0xBF), which therefore
//   reads back as 0x6F by the first-match rule; 0xE2 reads back as 0xDC the same way.
// Every other code (mouse buttons 1-7, reserved and unassigned codes, input-method keys that the
// US layout lacks, OEM-specific codes) has no key and the empty name.
struct NamedKey {
  unsigned code;
  std::string_view name;
};
// clang-format off
constexpr NamedKey kLayoutKeys[] = {
    {0x0C, "Num 5"}, {0x10, "Shift"}, {0x11, "Ctrl"}, {0x12, "Alt"}, {0x13, "Pause"}, {0x14, "Caps Lock"},
    {0x2C, "Prnt Scrn"}, {0x5B, "Left Windows"}, {0x5C, "Right Windows"}, {0x5D, "Application"},
    {0x6A, "Num *"}, {0x6B, "Num +"}, {0x6D, "Num -"}, {0x6E, "Num Del"}, {0x6F, "/"}, {0x90, "Num Lock"},
    {0x91, "Scroll Lock"}, {0xA0, "Shift"}, {0xA1, "Right Shift"}, {0xA2, "Ctrl"}, {0xA3, "Ctrl"},
    {0xA4, "Alt"}, {0xA5, "Alt"}, {0xA6, "Browser Back"}, {0xA7, "Browser Forward"},
    {0xA8, "Browser Refresh"}, {0xA9, "Browser Stop"}, {0xAA, "Browser Search"},
    {0xAB, "Browser Favorites"}, {0xAC, "Browser Home"}, {0xAD, "Volume Mute"}, {0xAE, "Volume Down"},
    {0xAF, "Volume Up"}, {0xB0, "Next Track"}, {0xB1, "Previous Track"}, {0xB2, "Stop Media"},
    {0xB3, "Play/Pause Media"}, {0xB4, "Start Mail"}, {0xB5, "Select Media"}, {0xB6, "Start Application 1"},
    {0xB7, "Start Application 2"}, {0xBA, ";"}, {0xBB, "="}, {0xBC, ","}, {0xBD, "-"}, {0xBE, "."},
    {0xBF, "/"}, {0xC0, "`"}, {0xDB, "["}, {0xDC, "\\"}, {0xDD, "]"}, {0xDE, "'"}, {0xE2, "\\"}
};
// clang-format on

// The keys whose names do not depend on the layout.
// clang-format off
constexpr NamedKey kFixedKeys[] = {
    {8, "BkSp"}, {9, "Tab"}, {13, "Enter"}, {27, "Esc"}, {32, "Space"}, {33, "PgUp"}, {34, "PgDn"},
    {35, "End"}, {36, "Home"}, {37, "Left"}, {38, "Up"}, {39, "Right"}, {40, "Down"}, {45, "Ins"}, {46, "Del"}
};
// clang-format on

template <std::size_t N>
std::string_view Lookup(const NamedKey (&keys)[N], unsigned code) {
  for (const NamedKey& key : keys) {
    if (key.code == code) return key.name;
  }
  return {};
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool ConsumePrefix(std::string_view& text, std::string_view prefix) {
  if (text.size() < prefix.size() || !EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix)) {
    return false;
  }
  text.remove_prefix(prefix.size());
  return true;
}

}  // namespace

std::string KeyName(unsigned key_code) {
  const unsigned code = key_code & 0xFFu;
  if (const std::string_view name = Lookup(kFixedKeys, code); !name.empty()) return std::string(name);
  if (code >= 48 && code <= 57) return std::string(1, static_cast<char>(code));
  if (code >= 65 && code <= 90) return std::string(1, static_cast<char>(code));
  if (code >= 96 && code <= 105) return std::string(1, static_cast<char>('0' + (code - 96)));
  if (code >= 112 && code <= 135) return 'F' + std::to_string(code - 111);
  return std::string(Lookup(kLayoutKeys, code));
}

std::string ModifierText(TShortCut value) {
  constexpr std::string_view kNames[] = {"Shift+", "Ctrl+", "Alt+"};
  std::string text;
  for (std::size_t i = 0; i < kShortCutModifierBits.size(); ++i) {
    if (value & kShortCutModifierBits[i]) text += kNames[i];
  }
  return text;
}

std::string FormatShortCut(TShortCut value) {
  const std::string name = KeyName(value);
  return name.empty() ? std::string() : ModifierText(value) + name;
}

TShortCut ParseShortCut(std::string_view text) {
  unsigned modifiers = 0;
  for (;;) {
    if (ConsumePrefix(text, "Shift+")) {
      modifiers |= kShortCutShift;
    } else if (ConsumePrefix(text, "^") || ConsumePrefix(text, "Ctrl+")) {
      modifiers |= kShortCutCtrl;
    } else if (ConsumePrefix(text, "Alt+")) {
      modifiers |= kShortCutAlt;
    } else {
      break;
    }
  }
  if (text.empty()) return 0;
  // Codes up to 0x255 are tried, as files written elsewhere expect; a code above 255 is named after
  // its low byte, so it can only match a name that no lower code has.
  for (unsigned code = 8; code <= 0x255; ++code) {
    const std::string name = KeyName(code);
    if (!name.empty() && EqualsIgnoringAsciiCase(name, text)) return static_cast<TShortCut>(code | modifiers);
  }
  return 0;
}

SplitShortCutResult SplitShortCut(TShortCut value) {
  SplitShortCutResult result;
  result.key_code = value & 8191u;
  result.modifiers = MapModifiers(value, kShortCutModifierBits, kModBits);
  return result;
}

}  // namespace korinbo
