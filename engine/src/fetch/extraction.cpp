#include "fetch/extraction.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <functional>
#include <memory>
#include <thread>
#include <utility>

#include "fetch/link_presence.h"
#include "korinbo/errors.h"
#include "korinbo/pattern.h"
#include "korinbo/text.h"

namespace korinbo {
namespace {

constexpr std::string_view kHttpPrefix = "http://";

// True when the pattern has no assertion (^ $ \A \Z \b \B) and no "(?" construct. Then its first
// match within a matched text alone is that same match: every path tried before it fails there as
// it failed in the page, since only an assertion can behave differently at the ends of the text.
bool MatchesAloneAsInThePage(std::string_view pattern) {
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '\\') {
      if (i + 1 < pattern.size() && std::string_view("bBAZ").find(pattern[i + 1]) != std::string_view::npos) return false;
      ++i;
    } else if (c == '^' || c == '$') {
      return false;
    } else if (c == '(' && i + 1 < pattern.size() && pattern[i + 1] == '?') {
      return false;
    } else if (c == '[') {
      std::size_t j = i + 1;
      if (j < pattern.size() && pattern[j] == '^') ++j;
      if (j < pattern.size() && pattern[j] == ']') ++j;
      while (j < pattern.size() && pattern[j] != ']') j += pattern[j] == '\\' ? 2u : 1u;
      i = j;
    }
  }
  return true;
}

// A headline made from one match; its fields lie one after the other in a maker's buffer.
struct MadeHeadline {
  const std::string* fields = nullptr;  // the buffer
  std::size_t caption = 0, remark = 0, link = 0, end = 0;  // where each field starts; end of the link
  bool complete = false;  // false: its own search failed, it is counted only
};

class HeadlineMaker {
 public:
  HeadlineMaker(const Pattern& pattern, const SiteDefinition& site, std::string_view page, std::string_view base_url)
      : pattern_(pattern),
        site_(site),
        page_(page),
        base_url_(base_url),
        same_match_alone_(MatchesAloneAsInThePage(site.anc_form)),
        caption_group_(SoleGroupReference(site.captions)),
        remark_group_(SoleGroupReference(site.remark)),
        link_group_(SoleGroupReference(site.jump_url)) {}

  // Room for the fields of the headlines found in `bytes` of the page: the usual templates make
  // less than the matched text, and growing the buffer would copy it again and again. Room for
  // the headlines themselves is made once the first ones show how far apart they are.
  void Reserve(std::size_t bytes) {
    fields.reserve(bytes);
    share_bytes_ = bytes;
  }

  // Throws PatternError, after adding the headline as counted only, when its own search fails.
  void Make(const PatternMatch& match) {
    const std::string_view whole = page_.substr(match.start(), match.end() - match.start());
    if (made.empty()) first_start_ = match.start();
    if (made.size() == kHeadlinesBeforeTheEstimate && match.end() > first_start_) {
      // Bounded: a page whose first headlines lie close together may have few more.
      const std::size_t estimate =
          std::min(made.size() * share_bytes_ / (match.end() - first_start_) * 5 / 4, kMostHeadlinesMadeRoomFor);
      made.reserve(estimate);
      links.Reserve(estimate);
    }
    MadeHeadline& headline = made.emplace_back();
    headline.fields = &fields;
    headline.caption = headline.remark = headline.link = headline.end = fields.size();
    // Each template is expanded against the pattern's first match within the matched text alone
    // (never within an empty one, which no search matches). Where that is the page's match, its
    // groups already point at the same bytes of the page.
    std::optional<PatternMatch> inner;
    std::string_view subject = whole;
    const PatternMatch* expanded = nullptr;
    if (same_match_alone_) {
      subject = page_;
      if (!whole.empty()) expanded = &match;
    } else if ((inner = pattern_.Search(whole))) {
      expanded = &*inner;
    }
    // Templates that are one group reference, the usual ones, are the group's bytes of the page.
    auto expand = [&](std::string_view templ, const std::optional<unsigned long>& group) -> std::string_view {
      if (expanded == nullptr) return {};
      if (group) return GroupText(subject, *expanded, *group);
      scratch_.clear();
      AppendExpandedTemplate(scratch_, subject, *expanded, templ);
      return scratch_;
    };
    headline.caption = fields.size();
    AppendStrippedTags(fields, expand(site_.captions, caption_group_));
    headline.remark = fields.size();
    AppendStrippedTags(fields, expand(site_.remark, remark_group_));
    headline.link = fields.size();
    AppendResolvedLink(fields, expand(site_.jump_url, link_group_), base_url_);
    headline.end = fields.size();
    headline.complete = true;
    links.AddAt(headline.link, headline.end - headline.link);
  }

  // Appends the other maker's headlines from `first` on, as if made here; their fields stay in the
  // other's buffer, which must outlive this.
  void Adopt(const HeadlineMaker& other, std::size_t first) {
    if (first >= other.made.size()) return;
    made.insert(made.end(), other.made.begin() + static_cast<std::ptrdiff_t>(first), other.made.end());
    links.Reserve(made.size());
    for (std::size_t i = first; i < other.made.size(); ++i) {
      if (other.made[i].complete) links.AddFrom(other.links, i);
    }
  }

  std::vector<MadeHeadline> made;
  std::string fields;
  LinkIndex links{fields};  // the complete headlines' links, by headline

 private:
  const Pattern& pattern_;
  const SiteDefinition& site_;
  std::string_view page_;
  std::string_view base_url_;
  bool same_match_alone_;
  std::optional<unsigned long> caption_group_, remark_group_, link_group_;
  std::string scratch_;  // a template's expansion, before its tags or the base are handled
  static constexpr std::size_t kHeadlinesBeforeTheEstimate = 64;
  static constexpr std::size_t kMostHeadlinesMadeRoomFor = 32768;
  std::size_t share_bytes_ = 0;  // the bytes of the page whose headlines this makes
  std::size_t first_start_ = 0;
};

constexpr std::size_t kVisitLinesForAThread = 20000;

// Asked once: the C library counts the processors from a file each time.
bool HasASecondCore() {
  static const bool second = std::thread::hardware_concurrency() > 1;
  return second;
}

// One thread kept for the extraction's second thread of work: starting a thread costs about as
// much as scanning a 100 KB page. It runs one job at a time; a caller that finds it busy does the
// work itself.
class HelperThread {
 public:
  static HelperThread& Instance() {
    static HelperThread helper;
    return helper;
  }

  // Starts the job unless another one is running.
  bool TryStart(std::function<void()> job) {
    const std::lock_guard lock(mutex_);
    if (busy_) return false;
    busy_ = true;
    job_ = std::move(job);
    changed_.notify_all();
    return true;
  }

  // Waits until the started job has run; what it threw, if anything.
  std::exception_ptr Wait() noexcept {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !job_ && !running_; });
    busy_ = false;
    return std::exchange(failure_, nullptr);
  }

  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;

 private:
  HelperThread() : thread_([this] { Run(); }) {}
  ~HelperThread() {
    {
      const std::lock_guard lock(mutex_);
      quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return quit_ || job_; });
      if (!job_) return;
      std::function<void()> job = std::move(job_);
      job_ = nullptr;
      running_ = true;
      lock.unlock();
      std::exception_ptr failure;
      try {
        job();
      } catch (...) {
        failure = std::current_exception();
      }
      lock.lock();
      failure_ = failure;
      running_ = false;
      changed_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> job_;
  std::exception_ptr failure_;
  bool busy_ = false;  // from TryStart to Wait
  bool running_ = false;
  bool quit_ = false;
  std::thread thread_;
};

bool IsPatternError(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const PatternError&) {
    return true;
  } catch (...) {
    return false;
  }
}

struct PieceEnded {};   // thrown into a piece's match loop at the next piece
struct LoopStopped {};  // thrown into a piece's match loop to end it early

// Where the caller's loop meets a piece's: the piece's headline that they both make.
struct LoopsMet {
  std::size_t piece = 0;
  std::size_t headline = 0;
};

// The headlines that a loop from the start of one piece of the page makes up to the first match
// that starts in the next piece.
struct PieceHeadlines {
  PieceHeadlines(const Pattern& pattern, const SiteDefinition& site, std::string_view page, std::string_view base_url)
      : maker(pattern, site, page, base_url) {}
  HeadlineMaker maker;
  std::vector<std::size_t> starts;        // where each made headline's match starts
  std::size_t resume_from = 0;            // where the search after the last made match starts
  std::optional<std::size_t> next_start;  // the first match in the next piece; none: the loop ended first
  std::exception_ptr failure;             // what ended the loop early
};

// The pieces of the page, taken one by one from the front by the caller and from the back by the
// helper thread, so that neither waits for the other however fast each runs.
class PageShares {
 public:
  PageShares(std::size_t page_size, std::size_t pieces) : back_(pieces) {
    for (std::size_t i = 0; i <= pieces; ++i) begins_.push_back(page_size / pieces * i + page_size % pieces * i / pieces);
  }
  std::size_t Pieces() const { return begins_.size() - 1; }
  std::size_t Begin(std::size_t piece) const { return begins_[piece]; }
  std::size_t PieceOf(std::size_t at) const {
    return static_cast<std::size_t>(std::upper_bound(begins_.begin(), begins_.end(), at) - begins_.begin()) - 1;
  }
  std::optional<std::size_t> TakeFront() {
    const std::lock_guard lock(mutex_);
    if (front_ == back_) return std::nullopt;
    return front_++;
  }
  std::optional<std::size_t> TakeBack() {
    const std::lock_guard lock(mutex_);
    if (front_ == back_) return std::nullopt;
    return --back_;
  }

 private:
  std::vector<std::size_t> begins_;
  std::mutex mutex_;
  std::size_t front_ = 0;  // pieces not yet taken: [front_, back_)
  std::size_t back_;
};

// Small enough that the caller, out of pieces, waits little for the helper's last one; large
// enough that starting a piece costs little next to its matches.
constexpr std::size_t kBytesPerPiece = 4096;
constexpr std::size_t kMostPieces = 32;

// Finds and makes the headlines with the helper thread's help; false, having done nothing, when that
// is busy. The same headlines and failure as one loop over the page: the match found at a start
// position does not depend on where the search began, and each search begins where the previous
// match ended. So a loop from the start of a piece makes, from the first match that the page's one
// loop also makes on, the same headlines as that loop. This thread's loop goes on into the helper's
// pieces until one of its matches is one that the piece's loop made; from there on the piece's
// headlines are taken, and the next piece's where its first match is the one that ended the piece.
// It never waits for the helper: a piece not yet done is made here too.
//
// The helper's pieces are kept in `pieces`: the maker's headlines taken from them keep their fields
// there.
bool FindAndMakeWithTheHelper(const Pattern& pattern, std::string_view page, const SiteDefinition& site,
                              std::string_view base_url, HeadlineMaker& maker, std::exception_ptr& failure,
                              std::vector<std::unique_ptr<PieceHeadlines>>& pieces) {
  // Every loop ends at the page's first NUL; it is looked for once.
  const std::string_view text = CutAtNul(page);
  PageShares shares(text.size(), std::clamp<std::size_t>(text.size() / kBytesPerPiece, 2, kMostPieces));
  pieces.resize(shares.Pieces());
  // Set once a piece's headlines are all made; what the helper made is read only after that.
  const std::unique_ptr<std::atomic<bool>[]> done(new std::atomic<bool>[shares.Pieces()]());
  std::atomic<bool> stop{false};
  std::size_t owned_end = shares.Begin(*shares.TakeFront() + 1);  // this thread's pieces end here
  // Each thread's loops spend from one budget, as one loop over the page would.
  SearchBudget helper_budget;
  SearchBudget budget;
  const bool started = HelperThread::Instance().TryStart([&] {
    while (const std::optional<std::size_t> piece = shares.TakeBack()) {
      if (stop.load(std::memory_order_relaxed)) return;
      PieceHeadlines& made = *(pieces[*piece] = std::make_unique<PieceHeadlines>(pattern, site, page, base_url));
      const std::size_t end = shares.Begin(*piece + 1);
      made.maker.Reserve(end - shares.Begin(*piece));
      made.resume_from = shares.Begin(*piece);
      try {
        pattern.ForEachMatchInCutText(
            text,
            [&](const PatternMatch& match) {
              if (stop.load(std::memory_order_relaxed)) throw LoopStopped{};
              if (match.start() >= end) {
                made.next_start = match.start();
                throw PieceEnded{};
              }
              made.starts.push_back(match.start());
              made.maker.Make(match);
              made.resume_from = match.end() > match.start() ? match.end() : match.start() + 1;
            },
            shares.Begin(*piece), &helper_budget);
      } catch (const LoopStopped&) {
        return;
      } catch (const PieceEnded&) {
      } catch (...) {
        made.failure = std::current_exception();
      }
      done[*piece].store(true, std::memory_order_release);
    }
  });
  if (!started) return false;
  // Whatever ends this thread's loop, the helper is stopped and waited for before this returns.
  struct Join {
    std::atomic<bool>& stop;
    ~Join() {
      stop = true;
      (void)HelperThread::Instance().Wait();
    }
  } join{stop};
  maker.Reserve(text.size());
  bool out_of_pieces = false;
  auto visit = [&](const PatternMatch& match) {
    while (!out_of_pieces && match.start() >= owned_end) {
      if (const std::optional<std::size_t> piece = shares.TakeFront()) {
        owned_end = shares.Begin(*piece + 1);
      } else {
        out_of_pieces = true;  // every piece from here on is the helper's
      }
    }
    if (match.start() >= owned_end) {
      const std::size_t piece = shares.PieceOf(match.start());
      if (!done[piece].load(std::memory_order_acquire)) return maker.Make(match);
      const std::vector<std::size_t>& starts = pieces[piece]->starts;
      const auto at = std::lower_bound(starts.begin(), starts.end(), match.start());
      if (at != starts.end() && *at == match.start()) {
        throw LoopsMet{piece, static_cast<std::size_t>(at - starts.begin())};
      }
    }
    maker.Make(match);
  };
  std::size_t from = 0;
  for (;;) {
    std::optional<LoopsMet> met;
    try {
      pattern.ForEachMatchInCutText(text, visit, from, &budget);
    } catch (const LoopsMet& where) {
      met = where;
    } catch (const PatternError&) {
      failure = std::current_exception();
    }
    if (!met) return true;  // this thread's loop ended on its own
    for (;;) {
      const PieceHeadlines& made = *pieces[met->piece];
      maker.Adopt(made.maker, met->headline);
      if (made.failure) {
        failure = made.failure;
        if (!IsPatternError(failure)) std::rethrow_exception(failure);  // as from the loop
        return true;
      }
      if (!made.next_start) return true;
      // The helper made the next piece before this one.
      const std::vector<std::size_t>& next = pieces[met->piece + 1]->starts;
      const auto at = std::lower_bound(next.begin(), next.end(), *made.next_start);
      if (at == next.end() || *at != *made.next_start) {
        from = made.resume_from;  // the loops part here: this thread's goes on
        break;
      }
      *met = LoopsMet{met->piece + 1, static_cast<std::size_t>(at - next.begin())};
    }
  }
}

}  // namespace

void AppendResolvedLink(std::string& out, std::string_view link, std::string_view base_url) {
  if (link.substr(0, kHttpPrefix.size()) != kHttpPrefix) {
    out.append(base_url);
    out += '/';
  }
  out.append(link);
}

void ExtractHeadlines(std::string_view page, const SiteDefinition& site, std::string_view base_url,
                      HistoryLines& seen_log, const HistoryLines& visit_log,
                      HeadlineSink& sink) {
  ExtractHeadlines(page, site, base_url, seen_log, visit_log, sink, kTwoThreadExtractionBytes);
}

void ExtractHeadlines(std::string_view page, const SiteDefinition& site, std::string_view base_url,
                      HistoryLines& seen_log, const HistoryLines& visit_log,
                      HeadlineSink& sink, std::size_t two_threads_from_bytes) {
  // First every headline is made, then classified: presence in the logs is decided for all links
  // together in one pass over each log. A pattern error part-way stops the making; the rows
  // before it still reach the sink, and a headline whose own search failed is counted only.
  std::optional<Pattern> pattern;
  std::exception_ptr failure;
  try {
    pattern.emplace(site.anc_form);
  } catch (const PatternError&) {
    failure = std::current_exception();
  }
  std::vector<std::unique_ptr<PieceHeadlines>> pieces;  // before the maker that takes their headlines
  std::optional<HeadlineMaker> maker;
  if (pattern) {
    maker.emplace(*pattern, site, page, base_url);
    if (page.size() < two_threads_from_bytes || !HasASecondCore() ||
        !FindAndMakeWithTheHelper(*pattern, page, site, base_url, *maker, failure, pieces)) {
      maker->Reserve(page.size());
      try {
        pattern->ForEachMatch(page, [&](const PatternMatch& match) { maker->Make(match); });
      } catch (const PatternError&) {
        failure = std::current_exception();
      }
    }
  }
  static const std::vector<MadeHeadline> kNone;
  const std::vector<MadeHeadline>& made = maker ? maker->made : kNone;
  const std::string no_text;
  LinkIndex no_links(no_text);
  LinkIndex& index = maker ? maker->links : no_links;
  index.Finish();

  auto field = [&](const MadeHeadline& headline, std::size_t from, std::size_t to) {
    return std::string_view(*headline.fields).substr(from, to - from);
  };
  auto link_of = [&](std::size_t i) { return field(made[i], made[i].link, made[i].end); };
  // A long visit log is looked through on another thread while the seen log is.
  LinkPresence in_visits(index);
  auto scan_visits = [&] { in_visits.AddLines(visit_log); };
  struct WaitForScan {
    bool started;
    ~WaitForScan() {
      if (started) (void)HelperThread::Instance().Wait();
    }
  } visits_scan{visit_log.size() >= kVisitLinesForAThread && HasASecondCore() &&
                HelperThread::Instance().TryStart(scan_visits)};
  if (!visits_scan.started) scan_visits();
  LinkPresence in_seen(index);
  in_seen.AddLines(seen_log);
  std::vector<char> is_new(made.size(), 0);
  std::size_t link_bytes = 0;
  for (const MadeHeadline& headline : made) link_bytes += headline.end - headline.link;
  seen_log.Reserve(made.size(), link_bytes);
  for (std::size_t i = 0; i < made.size() && made[i].complete; ++i) {
    if (in_seen.Present(i)) continue;
    is_new[i] = 1;
    // Later headlines of this fetch find the link as a line of the seen log.
    seen_log.Append(link_of(i));
    in_seen.AddLink(i);
  }
  if (visits_scan.started) {
    visits_scan.started = false;
    if (const std::exception_ptr scan_failure = HelperThread::Instance().Wait()) std::rethrow_exception(scan_failure);
  }

  for (std::size_t i = 0; i < made.size(); ++i) {
    const MadeHeadline& headline = made[i];
    sink.BeginHeadline();
    if (!headline.complete) break;
    const int row = sink.AppendRow(field(headline, headline.caption, headline.remark));
    sink.SetRemark(row, field(headline, headline.remark, headline.link));
    int icon = is_new[i] ? kIconNew : kIconUnread;
    if (in_visits.Present(i)) icon = kIconRead;
    sink.SetIcon(row, icon);
    sink.SetLink(row, link_of(i));
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace korinbo
