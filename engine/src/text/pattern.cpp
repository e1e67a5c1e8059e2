#include "korinbo/pattern.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "korinbo/errors.h"
#include "text/dialect_parser.h"
#include "text/pcre2_handles.h"

namespace korinbo {
namespace {

// PCRE2_USE_OFFSET_LIMIT: a search may be confined to a window of start positions.
constexpr uint32_t kCompileOptions = PCRE2_NEVER_UTF | PCRE2_NEVER_UCP | PCRE2_USE_OFFSET_LIMIT;

// A runaway search is ended by the work it does, as PCRE2 counts it, never by the clock, so that a
// page gives the same outcome on every machine. PCRE2's match limit counts the steps of the attempt
// at one start position and starts again from zero at the next, with JIT code and the interpreter
// alike; so it bounds exponential backtracking at one start, but not a search that fails at many
// starts after moderate work at each (a lazy scan to the end of the page from every "<td>").
// Therefore:
// - every search runs with a small limit per start position, which the attempts of ordinary
//   patterns stay far below (a headline's match needs about one step per byte it spans);
// - where a start needs more, the search finds the first such start with windows of start positions
//   (pcre2_set_offset_limit) and decides that start alone, with a limit that grows fourfold at a
//   time;
// - those attempts pay their limits from the steps left to the loop over the page, and so does an
//   attempt with the small limit that runs into it; when the steps are spent, the search fails.
// A page's costly starts thus spend at most kPageWork steps together, which takes well under two
// seconds here; a start below the small limit costs at most that many steps.
constexpr uint32_t kCheapStartWork = 512;
constexpr std::uint64_t kPageWork = 128'000'000;
constexpr uint32_t kDepthLimit = 1'000'000;
constexpr uint32_t kHeapLimitKib = 64 * 1024;
constexpr PCRE2_SIZE kJitStackStart = 32 * 1024;
constexpr PCRE2_SIZE kJitStackMax = 32 * 1024 * 1024;
constexpr uint32_t kMaxPairs = dialect::kMaxGroups + 1;

constexpr std::size_t kSubstituteCacheSize = 8;

std::string ErrorText(int code) {
  std::array<PCRE2_UCHAR, 256> buffer{};
  const int length = pcre2_get_error_message(code, buffer.data(), buffer.size());
  if (length < 0) return "error " + std::to_string(code);
  return std::string(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(length));
}

// The searched text ends at its first NUL byte.
std::size_t TextLength(std::string_view text) {
  if (text.empty()) return 0;  // an empty view may have no data at all, which memchr must not see
  const void* nul = std::memchr(text.data(), '\0', text.size());
  return nul == nullptr ? text.size() : static_cast<std::size_t>(static_cast<const char*>(nul) - text.data());
}

// What every search of a thread uses, whatever the pattern: match data for the most groups a pattern
// can have, and a match context with the limits and the JIT stack. A visitor may search again while
// a loop runs; nothing here is read across that call.
struct MatchResources {
  pcre2::MatchData data;
  pcre2::MatchContext context;
  pcre2::JitStack jit_stack;
  const PCRE2_SIZE* ovector = nullptr;  // the match data's, which never moves
  uint32_t pairs = 0;
};

MatchResources& ThreadResources() {
  thread_local MatchResources resources = [] {
    MatchResources made;
    made.data.reset(pcre2_match_data_create(kMaxPairs, nullptr));
    made.context.reset(pcre2_match_context_create(nullptr));
    if (made.context) {
      pcre2_set_depth_limit(made.context.get(), kDepthLimit);
      pcre2_set_heap_limit(made.context.get(), kHeapLimitKib);
      made.jit_stack.reset(pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr));
      if (made.jit_stack) pcre2_jit_stack_assign(made.context.get(), nullptr, made.jit_stack.get());
    }
    if (made.data) {
      made.ovector = pcre2_get_ovector_pointer(made.data.get());
      made.pairs = pcre2_get_ovector_count(made.data.get());
    }
    return made;
  }();
  if (!resources.data || !resources.context) throw PatternError("not enough memory to match the pattern");
  return resources;
}

}  // namespace

struct Pattern::Impl {
  pcre2::Code code;
  int groups = 0;
  bool jit = false;  // compiled to machine code: matched without the interpreter's checks

  // One PCRE2 search from `from` whose match starts at or before `last_start`.
  int Match(PCRE2_SPTR text, std::size_t length, std::size_t from, std::size_t last_start, uint32_t limit,
            MatchResources& resources) const {
    pcre2_set_offset_limit(resources.context.get(), last_start);
    pcre2_set_match_limit(resources.context.get(), limit);
    return jit ? pcre2_jit_match(code.get(), text, length, from, 0, resources.data.get(), resources.context.get())
               : pcre2_match(code.get(), text, length, from, 0, resources.data.get(), resources.context.get());
  }

  // The search from `from` over starts up to the text's last byte, within the limits above. An
  // attempt with the small limit that runs into it has done that much work, and pays it.
  int Decide(PCRE2_SPTR text, std::size_t length, std::size_t from, std::uint64_t& work_left,
             MatchResources& resources) const {
    const std::size_t last = length - 1;
    auto match = [&](std::size_t last_start, std::uint64_t limit) {
      const int rc = Match(text, length, from, last_start, static_cast<uint32_t>(limit), resources);
      if (rc == PCRE2_ERROR_MATCHLIMIT) work_left -= std::min(limit, work_left);
      return rc;
    };
    int rc = match(last, kCheapStartWork);
    while (rc == PCRE2_ERROR_MATCHLIMIT) {
      // Every start before the first one that needs more failed. That one is found by windows that
      // double from `from` (costly starts come close together), then by halving the window it is in.
      std::size_t window = 1;
      std::size_t costly_last = 0;
      for (;;) {
        costly_last = std::min(from + window - 1, last);
        rc = match(costly_last, kCheapStartWork);
        if (rc != PCRE2_ERROR_NOMATCH || costly_last == last) break;
        from = costly_last + 1;
        window *= 2;
      }
      if (rc != PCRE2_ERROR_MATCHLIMIT) return rc;  // a match before it, none at all, or another failure
      while (from < costly_last) {
        const std::size_t middle = from + (costly_last - from) / 2;
        rc = match(middle, kCheapStartWork);
        if (rc == PCRE2_ERROR_MATCHLIMIT) {
          costly_last = middle;
        } else if (rc == PCRE2_ERROR_NOMATCH) {
          from = middle + 1;
        } else {
          return rc;
        }
      }
      // That start alone, with a limit that grows until it decides or the work is spent. Each
      // attempt pays its whole limit first: the one that decides may have used all of it.
      std::uint64_t limit = kCheapStartWork;
      do {
        if (work_left == 0) return PCRE2_ERROR_MATCHLIMIT;
        limit = std::min(limit * 4, work_left);
        work_left -= limit;
        rc = Match(text, length, from, from, static_cast<uint32_t>(limit), resources);
      } while (rc == PCRE2_ERROR_MATCHLIMIT);
      if (rc != PCRE2_ERROR_NOMATCH || from == last) return rc;
      ++from;
      rc = match(last, kCheapStartWork);
    }
    return rc;
  }

  // One search from `from` over the first `length` bytes of `subject`; fills `match` on success.
  bool Find(const char* subject, std::size_t length, std::size_t from, std::uint64_t& work_left,
            PatternMatch& match) const {
    if (from >= length) return false;  // a match never starts at the end of the text
    MatchResources& resources = ThreadResources();
    const int rc = Decide(reinterpret_cast<PCRE2_SPTR>(subject), length, from, work_left, resources);
    if (rc == PCRE2_ERROR_NOMATCH) return false;
    if (rc == PCRE2_ERROR_MATCHLIMIT) throw PatternError("the pattern takes too long to match");
    if (rc < 0) throw PatternError("the pattern needs too much work to match: " + ErrorText(rc));
    const PCRE2_SIZE* ovector = resources.ovector;
    match.groups.resize(static_cast<std::size_t>(groups) + 1);
    for (std::size_t i = 0; i < match.groups.size(); ++i) {
      const PCRE2_SIZE start = i < resources.pairs ? ovector[2 * i] : PCRE2_UNSET;
      const PCRE2_SIZE end = i < resources.pairs ? ovector[2 * i + 1] : PCRE2_UNSET;
      match.groups[i] = start == PCRE2_UNSET || end == PCRE2_UNSET || start > end || end > length
                            ? MatchSpan{}
                            : MatchSpan{static_cast<std::ptrdiff_t>(start), static_cast<std::ptrdiff_t>(end)};
    }
    return true;
  }
};

Pattern::Pattern(std::string_view dialect_pattern) : impl_(std::make_unique<Impl>()) {
  const dialect::Translation translation = dialect::Translate(dialect_pattern);
  const std::string& compiled = translation.pcre2;
  int error = 0;
  PCRE2_SIZE offset = 0;
  impl_->code.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(compiled.data()), compiled.size(), kCompileOptions,
                                  &error, &offset, nullptr));
  if (!impl_->code) throw PatternError("the pattern cannot be compiled: " + ErrorText(error));
  impl_->groups = translation.groups;
  // Without JIT (not built in, or no executable memory) the interpreter matches alike.
  impl_->jit = pcre2_jit_compile(impl_->code.get(), PCRE2_JIT_COMPLETE) == 0;
}

Pattern::~Pattern() = default;
Pattern::Pattern(Pattern&&) noexcept = default;
Pattern& Pattern::operator=(Pattern&&) noexcept = default;

int Pattern::GroupCount() const { return impl_->groups; }

std::optional<PatternMatch> Pattern::Search(std::string_view text, std::size_t from) const {
  std::uint64_t work_left = kPageWork;
  PatternMatch match;
  if (!impl_->Find(text.data(), TextLength(text), from, work_left, match)) return std::nullopt;
  return match;
}

void Pattern::ForEachMatch(std::string_view text, const std::function<void(const PatternMatch&)>& visit) const {
  const std::size_t length = TextLength(text);
  std::uint64_t work_left = kPageWork;  // for the whole loop
  std::size_t from = 0;
  PatternMatch match;
  while (impl_->Find(text.data(), length, from, work_left, match)) {
    const std::size_t start = match.start();
    const std::size_t end = match.end();
    visit(match);
    from = end > start ? end : start + 1;
  }
}

std::string TranslatePattern(std::string_view dialect_pattern) {
  return dialect::Translate(dialect_pattern).pcre2;
}

std::string ExpandTemplate(std::string_view subject, const PatternMatch& match, std::string_view templ) {
  std::string out;
  AppendExpandedTemplate(out, subject, match, templ);
  return out;
}

namespace {

constexpr unsigned long kNoGroup = 15;  // group numbers from here on give nothing

}  // namespace

std::string_view GroupText(std::string_view subject, const PatternMatch& match, unsigned long number) {
  if (number >= kNoGroup || number >= match.groups.size()) return {};
  const MatchSpan& span = match.groups[number];
  if (!span.matched() || span.end < span.start) return {};
  const auto start = static_cast<std::size_t>(span.start);
  const auto end = static_cast<std::size_t>(span.end);
  if (end > subject.size()) return {};
  return subject.substr(start, end - start);
}

std::optional<unsigned long> SoleGroupReference(std::string_view templ) {
  if (templ.size() < 2 || templ[0] != '$' ||
      !std::all_of(templ.begin() + 1, templ.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  unsigned long number = 0;
  for (const char c : templ.substr(1)) number = std::min(number * 10 + static_cast<unsigned long>(c - '0'), kNoGroup);
  return number;
}

void AppendExpandedTemplate(std::string& out, std::string_view subject, const PatternMatch& match,
                            std::string_view templ) {
  auto append_group = [&](unsigned long number) { out.append(GroupText(subject, match, number)); };
  auto digits_from = [&](std::size_t at, std::size_t& end) {
    unsigned long number = 0;
    end = at;
    while (end < templ.size() && templ[end] >= '0' && templ[end] <= '9') {
      number = std::min(number * 10 + static_cast<unsigned long>(templ[end] - '0'), kNoGroup);
      ++end;
    }
    return number;
  };

  std::size_t i = 0;
  while (i < templ.size()) {
    const char c = templ[i];
    if (c == '\\') {
      if (i + 1 < templ.size()) {
        out += templ[i + 1];
        i += 2;
      } else {
        out += '\\';
        ++i;
      }
      continue;
    }
    if (c != '$' || i + 1 >= templ.size()) {
      out += c;
      ++i;
      continue;
    }
    const char next = templ[i + 1];
    std::size_t end = 0;
    if (next >= '0' && next <= '9') {
      append_group(digits_from(i + 1, end));
      i = end;
    } else if (next == '&') {
      append_group(0);
      i += 2;
    } else if (next == '{' && templ.substr(i + 2, 2) == "&}") {
      append_group(0);
      i += 4;
    } else if (const unsigned long number = digits_from(i + 2, end);
               next == '{' && end > i + 2 && end < templ.size() && templ[end] == '}') {
      append_group(number);
      i = end + 1;
    } else {
      out += '$';
      ++i;
    }
  }
}

std::string PatternSubstitute(std::string_view input, std::string_view pattern, std::string_view templ) {
  // The fetch expands three templates per headline with one pattern; a compiled pattern holds no
  // state between searches, so keeping the last few gives the results of compiling afresh.
  struct Entry {
    std::string text;
    std::shared_ptr<const Pattern> pattern;
  };
  thread_local std::vector<Entry> cache;  // most recently used first
  std::shared_ptr<const Pattern> compiled;
  const auto hit =
      std::find_if(cache.begin(), cache.end(), [&](const Entry& e) { return e.text == pattern; });
  if (hit != cache.end()) {
    compiled = hit->pattern;
    std::rotate(cache.begin(), hit, hit + 1);
  } else {
    compiled = std::make_shared<const Pattern>(pattern);
    cache.insert(cache.begin(), Entry{std::string(pattern), compiled});
    if (cache.size() > kSubstituteCacheSize) cache.pop_back();
  }
  const auto match = compiled->Search(input);
  if (!match) return std::string();
  return ExpandTemplate(input, *match, templ);
}

}  // namespace korinbo
