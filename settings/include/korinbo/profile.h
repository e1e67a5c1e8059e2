#pragma once
// A profile file ("[section]" lines followed by "key=value" lines) held in memory, read and
// changed the way the Windows profile functions read and change such files, so that files written
// on Windows or by hand keep working. Texts are Shift_JIS bytes.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korinbo {

// Text values come back cut to this many bytes (the platform reads through a 2048-byte buffer).
inline constexpr std::size_t kProfileValueLimit = 2047;

// An integer value: optional leading blanks, then an optional sign and decimal digits, or a
// hexadecimal number after "$", "x", "X", "0x" or "0X". nullopt for anything else, also for a
// number outside the 32-bit signed range.
std::optional<int> ParseProfileInteger(std::string_view text);

class ProfileFile {
 public:
  ProfileFile() = default;
  // Any bytes are accepted; lines end at CR LF, LF or CR.
  explicit ProfileFile(std::string_view bytes);

  // The value of the key in the first section of that name, both found without regard to ASCII
  // case; blanks around the value and one pair of matching quotes are removed, and the value is cut
  // at a NUL byte and to kProfileValueLimit bytes. nullopt when the section or key is missing.
  std::optional<std::string> ReadString(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view default_value) const;
  // The default also for a value that ParseProfileInteger refuses.
  int ReadInteger(std::string_view section, std::string_view key, int default_value) const;

  // Replaces the key's line in place, or adds the key after the last key line of its section, or
  // adds the section at the end of the file; every other line stays byte for byte. A line holds one
  // value, so the value is stored cut at its first CR, LF or NUL. Returns false, changing nothing,
  // for a section or key name that could not be found again once written (empty, with blanks at
  // either end, a line break, a NUL, "=" in a key, a key beginning with ";" or "[").
  bool WriteString(std::string_view section, std::string_view key, std::string_view value);
  bool WriteInteger(std::string_view section, std::string_view key, int value);

  // The whole file as it would be written.
  std::string Bytes() const;

 private:
  struct Line {
    std::string text;  // without its line break
    std::string eol;   // "\r\n", "\n", "\r" or "" for a last line without a break
  };
  struct Location {
    std::optional<std::size_t> section;   // index of the section's header line
    std::optional<std::size_t> key;       // index of the key's line
    std::optional<std::size_t> last_key;  // index of the section's last key line
  };
  Location Find(std::string_view section, std::string_view key) const;
  void InsertLine(std::size_t index, std::string text);

  std::vector<Line> lines_;
};

}  // namespace korinbo
