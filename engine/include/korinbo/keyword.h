#pragma once
// A setting whose meaning is one of a few keywords, read into an enum where it is read. The
// keywords are compared exactly and case-sensitively; any other text is the enum's kOther and is
// kept byte for byte, so that a value this program does not know is written back as it was read.
#include <cstddef>
#include <string>
#include <string_view>

namespace korinbo {

// Mode is an enum class whose members are the keywords in the order of KeywordTexts(Mode{}) (found
// by argument-dependent lookup), followed by kOther.
template <typename Mode>
class Keyword {
 public:
  // A keyword (not kOther: that needs its text).
  constexpr Keyword(Mode mode) : mode_(mode) {}
  explicit Keyword(std::string_view text) : mode_(Mode::kOther) {
    const auto& texts = KeywordTexts(Mode{});
    for (std::size_t i = 0; i < texts.size(); ++i) {
      if (texts[i] == text) {
        mode_ = static_cast<Mode>(i);
        return;
      }
    }
    other_ = text;
  }

  Mode mode() const { return mode_; }
  // The keyword's text, or the other text as it was read.
  std::string text() const {
    if (mode_ == Mode::kOther) return other_;
    return std::string(KeywordTexts(Mode{})[static_cast<std::size_t>(mode_)]);
  }

  bool operator==(Mode mode) const { return mode_ == mode; }
  bool operator==(const Keyword& other) const = default;

 private:
  Mode mode_;
  std::string other_;  // kOther's text
};

}  // namespace korinbo
