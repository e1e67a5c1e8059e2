#include "text/dialect_parser.h"

#include <algorithm>
#include <bitset>
#include <optional>
#include <vector>

#include "korinbo/errors.h"

namespace korinbo::dialect {
namespace {

// The line-break rules of "^" and "$" as assertions of our own: PCRE2's multi-line anchors match
// between CR and LF when a search starts there, ours never do.
constexpr std::string_view kLineStart = "(?:(?<![^\\x0a\\x0d])(?!(?<=\\x0d)\\x0a))";
constexpr std::string_view kLineEnd = "(?:(?![^\\x0a\\x0d])(?!(?<=\\x0d)\\x0a))";
constexpr std::string_view kAnyByte = "\\C";  // one code unit: every byte in non-UTF mode
constexpr std::string_view kAnyButLineBreak = "[^\\x0a\\x0d]";
constexpr std::size_t kMaxCountDigits = 8;

struct Flags {
  bool caseless = false;
  bool multiline = true;
  bool dotall = true;
  bool extended = false;
};

using ByteSet = std::bitset<256>;

[[noreturn]] void Fail(const std::string& what, std::size_t offset) {
  throw PatternError(what + " at offset " + std::to_string(offset), offset);
}

bool IsAsciiAlnum(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Blanks that "(?x)" skips: the dialect's own space set.
bool IsPatternBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

void AppendHexByte(std::string& out, unsigned char c) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out += "\\x";
  out += kDigits[c >> 4];
  out += kDigits[c & 0x0f];
}

// Letters and digits stand for themselves in PCRE2 and keep "(?i)" readable; everything else is
// written in hex so that no byte can take a meaning of PCRE2's own.
void AppendLiteral(std::string& out, unsigned char c) {
  if (IsAsciiAlnum(c)) {
    out += static_cast<char>(c);
  } else {
    AppendHexByte(out, c);
  }
}

ByteSet DigitSet() {
  ByteSet set;
  for (int c = '0'; c <= '9'; ++c) set.set(static_cast<std::size_t>(c));
  return set;
}

ByteSet WordSet() {
  ByteSet set = DigitSet();
  for (int c = 'A'; c <= 'Z'; ++c) set.set(static_cast<std::size_t>(c));
  for (int c = 'a'; c <= 'z'; ++c) set.set(static_cast<std::size_t>(c));
  set.set('_');
  return set;
}

ByteSet SpaceSet() {
  ByteSet set;
  for (char c : {' ', '\t', '\n', '\r', '\f'}) set.set(static_cast<unsigned char>(c));
  return set;
}

std::string ClassText(const ByteSet& set, bool negated) {
  std::string out = negated ? "[^" : "[";
  std::size_t c = 0;
  while (c < 256) {
    if (!set.test(c)) {
      ++c;
      continue;
    }
    std::size_t last = c;
    while (last + 1 < 256 && set.test(last + 1)) ++last;
    AppendHexByte(out, static_cast<unsigned char>(c));
    if (last > c) {
      out += '-';
      AppendHexByte(out, static_cast<unsigned char>(last));
    }
    c = last + 1;
  }
  out += ']';
  return out;
}

// The byte that a simple escape letter stands for, both inside and outside a class.
std::optional<unsigned char> ControlEscape(char letter) {
  switch (letter) {
    case 't':
      return 0x09;
    case 'n':
      return 0x0a;
    case 'r':
      return 0x0d;
    case 'f':
      return 0x0c;
    case 'a':
      return 0x07;
    case 'e':
      return 0x1b;
    default:
      return std::nullopt;
  }
}

std::optional<ByteSet> SetEscape(char letter) {
  switch (letter) {
    case 'd':
      return DigitSet();
    case 's':
      return SpaceSet();
    case 'w':
      return WordSet();
    default:
      return std::nullopt;
  }
}

std::string Printable(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte > 0x20 && byte < 0x7f) return std::string(1, c);
  std::string out;
  AppendHexByte(out, byte);
  return out;
}

struct Repeat {
  unsigned long min = 0;
  std::optional<unsigned long> max;  // none: unbounded
  std::size_t end = 0;               // offset after the repetition's text
};

class Parser {
 public:
  explicit Parser(std::string_view pattern) : p_(pattern) {}

  Translation Run() {
    frames_.push_back(Frame{});
    while (pos_ < p_.size()) Step();
    if (frames_.size() > 1) Fail("missing ) for (", frames_.back().open_offset);
    CommitItem();
    CheckDeferred();
    return Translation{std::move(out_), groups_};
  }

 private:
  struct Frame {
    std::size_t open_offset = 0;
    Flags saved;
    int number = 0;  // 0: the whole pattern
    bool alt_nullable = true;
    bool some_alt_nullable = false;
  };

  enum class ItemState { kBare, kRepeated, kLazy };

  // The atom last emitted, open to a repetition until the next atom or the end of its alternative.
  struct Item {
    bool present = false;
    bool nullable = false;
    int backref = 0;
    ItemState state = ItemState::kBare;
  };

  struct PendingRepeat {
    int group;
    std::size_t offset;
    char op;
  };

  struct BackRef {
    int group;
    std::size_t offset;
  };

  void Step() {
    const char c = p_[pos_];
    if (flags_.extended) {
      if (IsPatternBlank(c)) {
        ++pos_;
        return;
      }
      if (c == '#') {
        while (pos_ < p_.size() && p_[pos_] != '\n' && p_[pos_] != '\r') ++pos_;
        return;
      }
    }
    switch (c) {
      case '(':
        OpenGroup();
        return;
      case ')':
        CloseGroup();
        return;
      case '|':
        Alternative();
        return;
      case '*':
        Quantify(0, std::nullopt, pos_, pos_ + 1, '*');
        return;
      case '+':
        Quantify(1, std::nullopt, pos_, pos_ + 1, '+');
        return;
      case '?':
        Quantify(0, 1, pos_, pos_ + 1, '?');
        return;
      case '{':
        if (auto repeat = ParseBraces(pos_)) {
          Quantify(repeat->min, repeat->max, pos_, repeat->end, '{');
        } else {
          Literal('{', pos_ + 1);
        }
        return;
      case '[':
        ParseClass();
        return;
      case '.':
        Atom(flags_.dotall ? kAnyByte : kAnyButLineBreak, false, pos_ + 1);
        return;
      case '^':
        Atom(flags_.multiline ? kLineStart : std::string_view("(?:\\A)"), true, pos_ + 1);
        return;
      case '$':
        Atom(flags_.multiline ? kLineEnd : std::string_view("(?:\\z)"), true, pos_ + 1);
        return;
      case '\\':
        Escape();
        return;
      default:
        Literal(static_cast<unsigned char>(c), pos_ + 1);
        return;
    }
  }

  void CommitItem() {
    if (item_.present) {
      frames_.back().alt_nullable = frames_.back().alt_nullable && item_.nullable;
    }
    item_ = Item{};
  }

  void Atom(std::string_view emitted, bool nullable, std::size_t next, int backref = 0) {
    CommitItem();
    out_ += emitted;
    item_ = Item{true, nullable, backref, ItemState::kBare};
    pos_ = next;
  }

  void Literal(unsigned char byte, std::size_t next) {
    std::string emitted;
    AppendLiteral(emitted, byte);
    Atom(emitted, false, next);
  }

  void Quantify(unsigned long min, std::optional<unsigned long> max, std::size_t offset, std::size_t end,
                char op) {
    if (!item_.present) Fail("repetition with nothing before it", offset);
    if (item_.state != ItemState::kBare) Fail("nested repetition", offset);
    if (op == '*' || op == '+') {
      if (item_.backref > 0 && !GroupClosed(item_.backref)) {
        pending_repeats_.push_back(PendingRepeat{item_.backref, offset, op});
      } else if (item_.nullable) {
        Fail(std::string("'") + op + "' on something that can match the empty text", offset);
      }
    }
    if (op == '{') {
      out_ += '{' + std::to_string(min);
      if (!max) {
        out_ += ",";
      } else if (*max != min) {
        out_ += ',' + std::to_string(*max);
      }
      out_ += '}';
    } else {
      out_ += op;
    }
    if (min == 0) item_.nullable = true;
    item_.state = ItemState::kRepeated;
    pos_ = end;
    if (pos_ < p_.size() && p_[pos_] == '?') {
      out_ += '?';
      item_.state = ItemState::kLazy;
      ++pos_;
    }
  }

  // "{n}", "{n,}" or "{n,m}" with numbers of 1 to 8 digits; anything else is no repetition.
  std::optional<Repeat> ParseBraces(std::size_t open) const {
    std::size_t q = open + 1;
    auto number = [&]() -> std::optional<unsigned long> {
      const std::size_t first = q;
      unsigned long value = 0;
      while (q < p_.size() && IsDigit(p_[q]) && q - first < kMaxCountDigits + 1) {
        value = value * 10 + static_cast<unsigned long>(p_[q] - '0');
        ++q;
      }
      if (q == first || q - first > kMaxCountDigits) return std::nullopt;
      return value;
    };
    Repeat repeat;
    const auto min = number();
    if (!min || q >= p_.size()) return std::nullopt;
    repeat.min = *min;
    if (p_[q] == '}') {
      repeat.max = *min;
    } else if (p_[q] == ',') {
      ++q;
      if (q < p_.size() && p_[q] == '}') {
        repeat.max = std::nullopt;
      } else {
        const auto max = number();
        if (!max || q >= p_.size() || p_[q] != '}') return std::nullopt;
        repeat.max = *max;
      }
    } else {
      return std::nullopt;
    }
    repeat.end = q + 1;
    if (repeat.min > kMaxRepeat || (repeat.max && *repeat.max > kMaxRepeat)) {
      Fail("repetition count over " + std::to_string(kMaxRepeat), open);
    }
    if (repeat.max && *repeat.max < repeat.min) Fail("repetition bounds in the wrong order", open);
    return repeat;
  }

  void OpenGroup() {
    const std::size_t open = pos_;
    if (open + 1 < p_.size() && p_[open + 1] == '?') {
      SpecialGroup(open);
      return;
    }
    CommitItem();
    if (groups_ == kMaxGroups) Fail("too many groups (at most " + std::to_string(kMaxGroups) + ")", open);
    ++groups_;
    group_nullable_.push_back(std::nullopt);
    Frame frame;
    frame.open_offset = open;
    frame.saved = flags_;
    frame.number = groups_;
    frames_.push_back(frame);
    out_ += '(';
    ++pos_;
  }

  void SpecialGroup(std::size_t open) {
    const std::string_view rest = p_.substr(open + 2);
    if (rest.empty()) Fail("missing ) for (", open);
    const char kind = rest[0];
    if (kind == '#') {
      const std::size_t close = p_.find(')', open + 3);
      if (close == std::string_view::npos) Fail("unclosed (?# comment", open);
      pos_ = close + 1;  // a comment leaves the item before it open to a repetition
      return;
    }
    if (kind == ':') Fail("unsupported (?: group", open);
    if (kind == '=' || kind == '!') Fail(std::string("unsupported look-ahead (?") + kind, open);
    if (rest.starts_with("<=") || rest.starts_with("<!")) {
      Fail("unsupported look-behind (?" + std::string(rest.substr(0, 2)), open);
    }
    if (kind == '<' || kind == 'P' || kind == '\'')
      Fail("unsupported named group (?" + Printable(kind), open);
    if (kind != '-' && kind != 'i' && kind != 'm' && kind != 's' && kind != 'x') {
      Fail("unsupported (?" + Printable(kind), open);
    }
    Flags flags = flags_;
    bool on = true;
    int letters = 0;
    std::size_t q = open + 2;
    for (;; ++q) {
      if (q >= p_.size()) Fail("missing ) for (", open);
      const char c = p_[q];
      if (c == ')') break;
      if (c == '-' && on) {
        on = false;
        continue;
      }
      if (c == ':') Fail("unsupported (?" + std::string(p_.substr(open + 2, q - open - 2)) + ": group", open);
      switch (c) {
        case 'i':
          flags.caseless = on;
          break;
        case 'm':
          flags.multiline = on;
          break;
        case 's':
          flags.dotall = on;
          break;
        case 'x':
          flags.extended = on;
          break;
        default:
          Fail("unknown option letter " + Printable(c), q);
      }
      ++letters;
    }
    if (letters == 0) Fail("unsupported (?" + std::string(p_.substr(open + 2, q - open - 2)) + ")", open);
    CommitItem();  // a repetition right after an option setting has nothing before it
    if (flags.caseless != flags_.caseless) {
      out_ += flags.caseless ? "(?i)" : "(?-i)";
    }
    flags_ = flags;
    pos_ = q + 1;
  }

  void CloseGroup() {
    if (frames_.size() == 1) Fail("unmatched )", pos_);
    CommitItem();
    const Frame frame = frames_.back();
    frames_.pop_back();
    const bool nullable = frame.some_alt_nullable || frame.alt_nullable;
    group_nullable_[static_cast<std::size_t>(frame.number - 1)] = nullable;
    flags_ = frame.saved;
    out_ += ')';
    item_ = Item{true, nullable, 0, ItemState::kBare};
    ++pos_;
  }

  void Alternative() {
    CommitItem();
    Frame& frame = frames_.back();
    frame.some_alt_nullable = frame.some_alt_nullable || frame.alt_nullable;
    frame.alt_nullable = true;
    out_ += '|';
    ++pos_;
  }

  bool GroupClosed(int group) const {
    return group <= groups_ && group_nullable_[static_cast<std::size_t>(group - 1)].has_value();
  }

  // "\x" at `backslash`: two hex digits at most, or hex digits in braces.
  std::pair<unsigned char, std::size_t> ParseHex(std::size_t backslash) const {
    std::size_t q = backslash + 2;
    if (q < p_.size() && p_[q] == '{') {
      unsigned long value = 0;
      std::size_t r = q + 1;
      while (r < p_.size() && HexValue(p_[r]) >= 0) {
        value = std::min(value * 16 + static_cast<unsigned long>(HexValue(p_[r])), 0x10000UL);
        ++r;
      }
      if (r == q + 1 || r >= p_.size() || p_[r] != '}') Fail("malformed \\x{...}", backslash);
      if (value > 0xff) Fail("\\x{...} value over FF", backslash);
      return {static_cast<unsigned char>(value), r + 1};
    }
    unsigned value = 0;
    for (int digits = 0; digits < 2 && q < p_.size() && HexValue(p_[q]) >= 0; ++digits, ++q) {
      value = value * 16 + static_cast<unsigned>(HexValue(p_[q]));
    }
    return {static_cast<unsigned char>(value), q};
  }

  void Escape() {
    const std::size_t at = pos_;
    if (at + 1 >= p_.size()) Fail("\\ at the end of the pattern", at);
    const char e = p_[at + 1];
    const std::size_t next = at + 2;
    switch (e) {
      // Bracketed, as PCRE2 takes no repetition of a bare assertion.
      case 'A':
        Atom("(?:\\A)", true, next);
        return;
      case 'Z':
        Atom("(?:\\z)", true, next);
        return;
      case 'b':
        Atom("(?:\\b)", true, next);
        return;
      case 'B':
        Atom("(?:\\B)", true, next);
        return;
      case 'D':
        Atom(ClassText(DigitSet(), true), false, next);
        return;
      case 'S':
        Atom(ClassText(SpaceSet(), true), false, next);
        return;
      case 'W':
        Atom(ClassText(WordSet(), true), false, next);
        return;
      case 'x': {
        const auto [byte, end] = ParseHex(at);
        Literal(byte, end);
        return;
      }
      default:
        break;
    }
    if (const auto set = SetEscape(e)) {
      Atom(ClassText(*set, false), false, next);
    } else if (const auto byte = ControlEscape(e)) {
      Literal(*byte, next);
    } else if (e >= '1' && e <= '9') {
      const int group = e - '0';
      backrefs_.push_back(BackRef{group, at});
      const bool nullable = !GroupClosed(group) || *group_nullable_[static_cast<std::size_t>(group - 1)];
      Atom("\\g{" + std::to_string(group) + "}", nullable, next, group);
    } else {
      Literal(static_cast<unsigned char>(e), next);
    }
  }

  struct ClassAtom {
    std::optional<ByteSet> set;
    unsigned char byte = 0;
    std::size_t next = 0;
  };

  ClassAtom ParseClassAtom(std::size_t q) const {
    if (p_[q] != '\\') return ClassAtom{std::nullopt, static_cast<unsigned char>(p_[q]), q + 1};
    if (q + 1 >= p_.size()) Fail("\\ at the end of the pattern", q);
    const char e = p_[q + 1];
    if (e == 'x') {
      const auto [byte, end] = ParseHex(q);
      return ClassAtom{std::nullopt, byte, end};
    }
    if (auto set = SetEscape(e)) return ClassAtom{std::move(set), 0, q + 2};
    if (const auto byte = ControlEscape(e)) return ClassAtom{std::nullopt, *byte, q + 2};
    return ClassAtom{std::nullopt, static_cast<unsigned char>(e), q + 2};  // "\D" "\b" ...: the letter
  }

  void ParseClass() {
    const std::size_t open = pos_;
    std::size_t q = open + 1;
    bool negated = false;
    if (q < p_.size() && p_[q] == '^') {
      negated = true;
      ++q;
    }
    ByteSet set;
    for (bool first = true;; first = false) {
      if (q >= p_.size()) Fail("missing ] for [", open);
      if (p_[q] == ']' && !first) {
        ++q;
        break;
      }
      const std::size_t atom_at = q;
      const ClassAtom low = ParseClassAtom(q);
      q = low.next;
      if (low.set) {
        set |= *low.set;
        continue;
      }
      if (q + 1 < p_.size() && p_[q] == '-' && p_[q + 1] != ']') {
        const ClassAtom high = ParseClassAtom(q + 1);
        if (high.set) {
          set.set(low.byte);
          set.set('-');
          set |= *high.set;
        } else {
          if (high.byte < low.byte) Fail("reversed range in [...]", atom_at);
          for (unsigned c = low.byte; c <= high.byte; ++c) set.set(c);
        }
        q = high.next;
        continue;
      }
      set.set(low.byte);
    }
    Atom(ClassText(set, negated), false, q);
  }

  void CheckDeferred() const {
    std::optional<std::pair<std::size_t, std::string>> first;
    auto note = [&](std::size_t offset, std::string what) {
      if (!first || offset < first->first) first.emplace(offset, std::move(what));
    };
    for (const BackRef& ref : backrefs_) {
      if (ref.group > groups_) {
        note(ref.offset, "back-reference to group " + std::to_string(ref.group) + ", which does not exist");
      }
    }
    for (const PendingRepeat& repeat : pending_repeats_) {
      if (repeat.group > groups_ ||
          group_nullable_[static_cast<std::size_t>(repeat.group - 1)].value_or(true)) {
        note(repeat.offset, std::string("'") + repeat.op + "' on something that can match the empty text");
      }
    }
    if (first) Fail(first->second, first->first);
  }

  std::string_view p_;
  std::size_t pos_ = 0;
  std::string out_;
  Flags flags_;
  std::vector<Frame> frames_;
  Item item_;
  int groups_ = 0;
  std::vector<std::optional<bool>> group_nullable_;
  std::vector<PendingRepeat> pending_repeats_;
  std::vector<BackRef> backrefs_;
};

}  // namespace

Translation Translate(std::string_view pattern) {
  if (pattern.empty()) throw PatternError("empty pattern");
  if (pattern.size() > kMaxPatternBytes) {
    throw PatternError("pattern longer than " + std::to_string(kMaxPatternBytes) + " bytes");
  }
  return Parser(pattern).Run();
}

}  // namespace korinbo::dialect
