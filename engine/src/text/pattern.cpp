#include "korinbo/pattern.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <utility>

#include "korinbo/errors.h"
#include "text/dialect_parser.h"
#include "text/pcre2_handles.h"

namespace korinbo {
namespace {

constexpr uint32_t kCompileOptions = PCRE2_NEVER_UTF | PCRE2_NEVER_UCP;

// Limits that stop a runaway match. PCRE2's limits bound the work and memory of the attempt at one
// start position; the time budget bounds a search over all start positions together (a lazy ".*?"
// that fails from every one of many starts is quadratic without backtracking much anywhere).
constexpr uint32_t kMatchLimit = 5'000'000;
constexpr uint32_t kDepthLimit = 1'000'000;
constexpr uint32_t kHeapLimitKib = 64 * 1024;
constexpr PCRE2_SIZE kJitStackStart = 32 * 1024;
constexpr PCRE2_SIZE kJitStackMax = 32 * 1024 * 1024;
constexpr std::chrono::milliseconds kSearchBudget{1000};

// Only the start positions that get past a pattern's leading literal bytes can cost much. A pattern
// with such a prefix is searched in windows of start positions that hold at most this many of them,
// and the clock is read between windows. A callout would do the same from inside PCRE2, but any
// callout in a pattern makes its JIT code keep extra state for every capture and roughly doubles
// the time of a typical headline pattern.
constexpr std::size_t kPrefixStartsPerWindow = 32;
constexpr std::size_t kMinWindow = 192;  // below this, the calls would cost more than the callout
constexpr unsigned kWindowsPerClockRead = 4;

// Otherwise PCRE2 calls us at every start position that gets past the pattern's leading literals.
constexpr std::string_view kCallout = "(?C1)";
constexpr int kBudgetSpent = -1000;  // our own callout result; PCRE2 passes it through
constexpr uint32_t kMaxPairs = dialect::kMaxGroups + 1;

using Clock = std::chrono::steady_clock;

}  // namespace

// The time one search loop, or the loops sharing it, may spend. With the callout, only the time
// inside PCRE2 counts; the clock is read by the callout only, so that a search that passes few
// start positions costs no clock reads. A windowed search counts the time from its first clock
// read on.
struct SearchBudget::State {
  std::chrono::nanoseconds left{kSearchBudget};
  std::optional<Clock::time_point> started;  // when the current call first reached the callout
  unsigned calls = 0;
  unsigned windows = 0;
  std::optional<Clock::time_point> first_read;  // windowed searches
};

SearchBudget::SearchBudget() : state_(std::make_unique<State>()) {}
SearchBudget::~SearchBudget() = default;

namespace {

using Budget = SearchBudget::State;

int CheckBudget(pcre2_callout_block*, void* data) {
  auto* budget = static_cast<Budget*>(data);
  if (!budget->started) {
    budget->started = Clock::now();
    return 0;
  }
  if (++budget->calls % 16 != 0) return 0;
  return Clock::now() - *budget->started > budget->left ? kBudgetSpent : 0;
}

// The smallest p with prefix[i] == prefix[i + p] wherever both exist: two occurrences of the prefix
// are at least that far apart.
std::size_t SmallestPeriod(std::string_view prefix) {
  for (std::size_t p = 1; p < prefix.size(); ++p) {
    if (prefix.substr(p) == prefix.substr(0, prefix.size() - p)) return p;
  }
  return prefix.size();
}

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
// can have, and a match context with the limits, the JIT stack and the budget callout. A visitor
// may search again while a loop runs; nothing here is read across that call.
struct MatchResources {
  pcre2::MatchData data;
  pcre2::MatchContext context;
  pcre2::JitStack jit_stack;
  const PCRE2_SIZE* ovector = nullptr;  // the match data's, which never moves
  uint32_t pairs = 0;
  bool callout_set = true;  // the context may call the budget callout
};

MatchResources& ThreadResources() {
  thread_local MatchResources resources = [] {
    MatchResources made;
    made.data.reset(pcre2_match_data_create(kMaxPairs, nullptr));
    made.context.reset(pcre2_match_context_create(nullptr));
    if (made.context) {
      pcre2_set_match_limit(made.context.get(), kMatchLimit);
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

// The compiled form: the translation with the budget callout after its leading literals, or in
// front of all alternatives.
std::string WithCallout(const dialect::Translation& translation) {
  if (translation.top_alternation) return std::string(kCallout) + "(?:" + translation.pcre2 + ")";
  std::string compiled = translation.pcre2;
  compiled.insert(translation.literal_prefix, kCallout);
  return compiled;
}

}  // namespace

struct Pattern::Impl {
  pcre2::Code code;
  int groups = 0;
  std::size_t window = 0;  // 0: the code calls the budget callout
  bool jit = false;        // compiled to machine code: matched without the interpreter's checks

  int Match(PCRE2_SPTR text, std::size_t length, std::size_t from, MatchResources& resources) const {
    return jit ? pcre2_jit_match(code.get(), text, length, from, 0, resources.data.get(), resources.context.get())
               : pcre2_match(code.get(), text, length, from, 0, resources.data.get(), resources.context.get());
  }

  void Fail(int rc) const {
    if (rc == kBudgetSpent) throw PatternError("the pattern takes too long to match");
    throw PatternError("the pattern needs too much work to match: " + ErrorText(rc));
  }

  // One search from `from` over the first `length` bytes of `subject`; fills `match` on success.
  bool Find(const char* subject, std::size_t length, std::size_t from, Budget& budget,
            PatternMatch& match) const {
    if (from >= length) return false;  // a match never starts at the end of the text
    MatchResources& resources = ThreadResources();
    const auto* text = reinterpret_cast<PCRE2_SPTR>(subject);
    int rc = 0;
    if (window == 0) {
      pcre2_set_callout(resources.context.get(), CheckBudget, &budget);
      resources.callout_set = true;
      pcre2_set_offset_limit(resources.context.get(), PCRE2_UNSET);
      budget.started.reset();
      rc = Match(text, length, from, resources);
      if (budget.started) budget.left -= Clock::now() - *budget.started;
    } else {
      if (resources.callout_set) {
        pcre2_set_callout(resources.context.get(), nullptr, nullptr);
        resources.callout_set = false;
      }
      for (;;) {
        if (++budget.windows % kWindowsPerClockRead == 0) {
          const auto now = Clock::now();
          if (!budget.first_read) {
            budget.first_read = now;
          } else if (now - *budget.first_read > budget.left) {
            Fail(kBudgetSpent);
          }
        }
        const std::size_t last_start = std::min(from + window - 1, length - 1);
        pcre2_set_offset_limit(resources.context.get(), last_start);
        rc = Match(text, length, from, resources);
        if (rc != PCRE2_ERROR_NOMATCH || last_start == length - 1) break;
        from = last_start + 1;
      }
    }
    if (rc == PCRE2_ERROR_NOMATCH) return false;
    if (rc < 0) Fail(rc);
    const PCRE2_SIZE* ovector = resources.ovector;
    if (ovector[0] >= length) return false;
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
  std::size_t window = 0;
  if (!translation.top_alternation && !translation.literal_bytes.empty()) {
    window = kPrefixStartsPerWindow * SmallestPeriod(translation.literal_bytes);
    if (window < kMinWindow) window = 0;
  }
  const std::string compiled = window != 0 ? translation.pcre2 : WithCallout(translation);
  const uint32_t options = kCompileOptions | (window != 0 ? PCRE2_USE_OFFSET_LIMIT : 0);
  int error = 0;
  PCRE2_SIZE offset = 0;
  impl_->code.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(compiled.data()), compiled.size(), options,
                                  &error, &offset, nullptr));
  if (!impl_->code) throw PatternError("the pattern cannot be compiled: " + ErrorText(error));
  impl_->groups = translation.groups;
  impl_->window = window;
  // Without JIT (not built in, or no executable memory) the interpreter matches alike.
  impl_->jit = pcre2_jit_compile(impl_->code.get(), PCRE2_JIT_COMPLETE) == 0;
}

Pattern::~Pattern() = default;
Pattern::Pattern(Pattern&&) noexcept = default;
Pattern& Pattern::operator=(Pattern&&) noexcept = default;

int Pattern::GroupCount() const { return impl_->groups; }

std::optional<PatternMatch> Pattern::Search(std::string_view text, std::size_t from) const {
  const std::size_t length = TextLength(text);
  if (from >= length) return std::nullopt;
  Budget budget;
  PatternMatch match;
  if (!impl_->Find(text.data(), length, from, budget, match)) return std::nullopt;
  return match;
}

void Pattern::ForEachMatch(std::string_view text, const std::function<void(const PatternMatch&)>& visit,
                           std::size_t from) const {
  ForEachMatchInCutText(CutAtNul(text), visit, from);
}

void Pattern::ForEachMatchInCutText(std::string_view text, const std::function<void(const PatternMatch&)>& visit,
                                    std::size_t from, SearchBudget* shared_budget) const {
  const std::size_t length = text.size();
  Budget own_budget;  // one budget for the whole loop
  Budget& budget = shared_budget != nullptr ? shared_budget->state() : own_budget;
  PatternMatch match;
  while (impl_->Find(text.data(), length, from, budget, match)) {
    const std::size_t start = match.start();
    const std::size_t end = match.end();
    visit(match);
    from = end > start ? end : start + 1;
  }
}

std::string_view CutAtNul(std::string_view text) { return text.substr(0, TextLength(text)); }

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
