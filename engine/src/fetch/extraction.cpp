#include "fetch/extraction.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <functional>
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

// A headline made from one match; its fields lie one after the other in the maker's buffer.
struct MadeHeadline {
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

  // Throws PatternError, after adding the headline as counted only, when its own search fails.
  void Make(const PatternMatch& match) {
    const std::string_view whole = page_.substr(match.start(), match.end() - match.start());
    MadeHeadline& headline = made.emplace_back();
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
};

// The matches passed from the thread that finds them to the one that makes the headlines, in
// batches, so that the two rarely wait for each other.
class MatchHandOver {
 public:
  static constexpr std::size_t kBatch = 256;

  explicit MatchHandOver(std::size_t spans_per_match) : spans_per_match_(spans_per_match) {}

  // Finder side. Returns false once the maker has stopped.
  bool Add(const PatternMatch& match) {
    filling_.insert(filling_.end(), match.groups.begin(), match.groups.end());
    if (filling_.size() < kBatch * spans_per_match_) return true;
    return Flush(false);
  }
  void Finish() { Flush(true); }
  // Ends the hand-over without its last batch, on the way out of a failure.
  void Abandon() noexcept {
    {
      const std::lock_guard lock(mutex_);
      finished_ = true;
    }
    ready_.notify_one();
  }

  // Maker side: the next batch, or nothing after the last.
  std::optional<std::vector<MatchSpan>> Next() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return !batches_.empty() || finished_; });
    if (batches_.empty()) return std::nullopt;
    std::vector<MatchSpan> batch = std::move(batches_.front());
    batches_.pop_front();
    return batch;
  }
  void Stop() {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
  }

  std::size_t SpansPerMatch() const { return spans_per_match_; }

 private:
  bool Flush(bool last) {
    bool stopped = false;
    {
      const std::lock_guard lock(mutex_);
      if (!filling_.empty()) batches_.push_back(std::move(filling_));
      if (last) finished_ = true;
      stopped = stopped_;
    }
    ready_.notify_one();
    filling_.clear();
    if (!last) filling_.reserve(kBatch * spans_per_match_);
    return !stopped;
  }

  const std::size_t spans_per_match_;
  std::vector<MatchSpan> filling_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::vector<MatchSpan>> batches_;
  bool finished_ = false;
  bool stopped_ = false;
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

struct MakerStopped {};

bool IsPatternError(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const PatternError&) {
    return true;
  } catch (...) {
    return false;
  }
}  // thrown into the match loop to end it early

// Finds the matches on this thread and makes the headlines on the helper thread; false, having done
// nothing, when that is busy. The same headlines as making each one when it is found: the maker
// takes the matches in order and stops where a headline's own search fails, which the finder then
// stops for too.
bool FindAndMakeOnTwoThreads(const Pattern& pattern, std::string_view page, HeadlineMaker& maker,
                             std::exception_ptr& find_failure, std::exception_ptr& make_failure) {
  MatchHandOver hand_over(static_cast<std::size_t>(pattern.GroupCount()) + 1);
  const bool started = HelperThread::Instance().TryStart([&] {
    PatternMatch match;
    try {
      while (auto batch = hand_over.Next()) {
        const std::size_t stride = hand_over.SpansPerMatch();
        for (std::size_t at = 0; at < batch->size(); at += stride) {
          match.groups.assign(batch->begin() + static_cast<std::ptrdiff_t>(at),
                              batch->begin() + static_cast<std::ptrdiff_t>(at + stride));
          maker.Make(match);
        }
      }
    } catch (...) {
      make_failure = std::current_exception();
      hand_over.Stop();
      while (hand_over.Next()) {
      }
    }
  });
  if (!started) return false;
  // Whatever ends the finding, the maker is told and waited for before this returns.
  struct Join {
    MatchHandOver& hand_over;
    bool finished = false;
    ~Join() {
      if (!finished) {
        hand_over.Abandon();
        (void)HelperThread::Instance().Wait();
      }
    }
  } join{hand_over};
  try {
    pattern.ForEachMatch(page, [&](const PatternMatch& match) {
      if (!hand_over.Add(match)) throw MakerStopped{};
    });
  } catch (const PatternError&) {
    find_failure = std::current_exception();
  } catch (const MakerStopped&) {
  }
  hand_over.Finish();
  join.finished = true;
  (void)HelperThread::Instance().Wait();  // the maker keeps what it throws itself
  return true;
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
                      std::vector<std::string>& seen_log, const std::vector<std::string>& visit_log,
                      HeadlineSink& sink) {
  ExtractHeadlines(page, site, base_url, seen_log, visit_log, sink, kTwoThreadExtractionBytes);
}

void ExtractHeadlines(std::string_view page, const SiteDefinition& site, std::string_view base_url,
                      std::vector<std::string>& seen_log, const std::vector<std::string>& visit_log,
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
  std::optional<HeadlineMaker> maker;
  if (pattern) {
    maker.emplace(*pattern, site, page, base_url);
    std::exception_ptr find_failure;
    std::exception_ptr make_failure;
    if (page.size() >= two_threads_from_bytes && HasASecondCore() &&
        FindAndMakeOnTwoThreads(*pattern, page, *maker, find_failure, make_failure)) {
      // The maker stops at a failing headline before any later match could have failed.
      failure = make_failure ? make_failure : find_failure;
      if (failure && !IsPatternError(failure)) std::rethrow_exception(failure);  // as from the loop
    } else {
      try {
        pattern->ForEachMatch(page, [&](const PatternMatch& match) { maker->Make(match); });
      } catch (const PatternError&) {
        failure = std::current_exception();
      }
    }
  }
  static const std::vector<MadeHeadline> kNone;
  const std::vector<MadeHeadline>& made = maker ? maker->made : kNone;
  const std::string_view fields = maker ? std::string_view(maker->fields) : std::string_view();
  const std::string no_text;
  LinkIndex no_links(no_text);
  LinkIndex& index = maker ? maker->links : no_links;
  index.Finish();

  auto field = [&](std::size_t from, std::size_t to) { return fields.substr(from, to - from); };
  auto link_of = [&](std::size_t i) { return field(made[i].link, made[i].end); };
  // A long visit log is looked through on another thread while the seen log is.
  LinkPresence in_visits(index);
  auto scan_visits = [&] { in_visits.AddLines(visit_log.data(), visit_log.data() + visit_log.size()); };
  struct WaitForScan {
    bool started;
    ~WaitForScan() {
      if (started) (void)HelperThread::Instance().Wait();
    }
  } visits_scan{visit_log.size() >= kVisitLinesForAThread && HasASecondCore() &&
                HelperThread::Instance().TryStart(scan_visits)};
  if (!visits_scan.started) scan_visits();
  LinkPresence in_seen(index);
  in_seen.AddLines(seen_log.data(), seen_log.data() + seen_log.size());
  std::vector<char> is_new(made.size(), 0);
  seen_log.reserve(seen_log.size() + made.size());
  for (std::size_t i = 0; i < made.size() && made[i].complete; ++i) {
    if (in_seen.Present(i)) continue;
    is_new[i] = 1;
    // Later headlines of this fetch find the link as a line of the seen log.
    seen_log.emplace_back(link_of(i));
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
    const int row = sink.AppendRow(field(headline.caption, headline.remark));
    sink.SetRemark(row, field(headline.remark, headline.link));
    int icon = is_new[i] ? kIconNew : kIconUnread;
    if (in_visits.Present(i)) icon = kIconRead;
    sink.SetIcon(row, icon);
    sink.SetLink(row, link_of(i));
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace korinbo
