#pragma once
// The failures that reach the user as an error message box. what() is the text the user sees, in
// Shift_JIS, as every text inside the program.
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>

namespace korinbo {

// A pattern outside the dialect, an empty pattern, or a match that ran past the engine's limits.
class PatternError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  // A fault of the pattern's text: where (0-based byte offset into the pattern) it was found.
  PatternError(const std::string& what, std::size_t offset) : std::runtime_error(what), offset_(offset) {}

  // The offset, for a fault that lies at one place of the pattern.
  std::optional<std::size_t> offset() const { return offset_; }

 private:
  std::optional<std::size_t> offset_;
};

// A data file that cannot be read, created or written.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace korinbo
