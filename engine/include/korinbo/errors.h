#pragma once
// The failures that reach the user as an error message box. what() is the text the user sees, in
// Shift_JIS, as every text inside the program.
#include <stdexcept>

namespace korinbo {

// A pattern outside the dialect, an empty pattern, or a match that ran past the engine's limits.
class PatternError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A data file that cannot be read, created or written.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace korinbo
