#pragma once
// The global hotkey's value and its text form in the settings file ("Ctrl+Alt+A").
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace korinbo {

// Bits 0-7: the Windows virtual-key code; 13: Shift; 14: Ctrl; 15: Alt. 0 is no hotkey.
using TShortCut = std::uint16_t;

inline constexpr TShortCut kShortCutShift = 0x2000;
inline constexpr TShortCut kShortCutCtrl = 0x4000;
inline constexpr TShortCut kShortCutAlt = 0x8000;

// Shift, Ctrl and Alt as one form of a combination marks them, in this order (the order the text
// form writes them).
using ModifierBits = std::array<unsigned, 3>;
inline constexpr ModifierBits kShortCutModifierBits = {kShortCutShift, kShortCutCtrl, kShortCutAlt};
// The bits of `modifiers` in the form `from`, carried over to the form `to`; other bits are dropped.
constexpr unsigned MapModifiers(unsigned modifiers, const ModifierBits& from, const ModifierBits& to) {
  unsigned mapped = 0;
  for (std::size_t i = 0; i < from.size(); ++i) {
    if (modifiers & from[i]) mapped |= to[i];
  }
  return mapped;
}
// "Shift+", "Ctrl+" and "Alt+" for the modifier bits of the value, in that order.
std::string ModifierText(TShortCut value);

// The key's name for a virtual-key code (the low byte counts); empty for a code without a key.
std::string KeyName(unsigned key_code);
std::string FormatShortCut(TShortCut value);
TShortCut ParseShortCut(std::string_view text);

// The split for registering the hotkey: modifiers as the platform's MOD_ALT (1), MOD_CONTROL (2),
// MOD_SHIFT (4) bits, and the key code (bits 0-12).
struct SplitShortCutResult {
  unsigned modifiers = 0;
  unsigned key_code = 0;
};
inline constexpr unsigned kModAlt = 1;
inline constexpr unsigned kModControl = 2;
inline constexpr unsigned kModShift = 4;
inline constexpr ModifierBits kModBits = {kModShift, kModControl, kModAlt};
SplitShortCutResult SplitShortCut(TShortCut value);

}  // namespace korinbo
