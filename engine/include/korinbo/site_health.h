#pragma once
// How each site fared when it was last fetched or checked, kept in memory while the program runs:
// the outcome and its time, and the background check's count of new headlines. Sites are known by
// their file names ("国内_毎日.txt"), so a favourite and its category's node share one record.
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "korinbo/download_end.h"
#include "korinbo/site_definition.h"

namespace korinbo {

struct FetchOutcome {
  enum class Kind {
    kHeadlines,       // the page came whole and the pattern found `headlines` headlines
    kNoHeadlines,     // the page came whole, but the cut or the pattern gave nothing
    kDownloadFailed,  // the download ended for `download_end`; `headlines` from what did arrive
    kPatternError,    // `detail` is the error's text
    kNoDefinition,    // the site file does not exist or cannot be read
    kBadUrl,          // the url is empty or does not begin with "http://"
  };
  static FetchOutcome Of(Kind kind, std::string detail = {});

  Kind kind = Kind::kHeadlines;
  int headlines = 0;
  DownloadEnd download_end = DownloadEnd::kComplete;
  int http_status = 0;  // with kHttpError
  std::string detail;   // kNoHeadlines: the markers that were not found; kPatternError: the error

  // A failure or no headlines. A download the user stopped says nothing about the site.
  bool IsWarning() const;
  // What befell the site, in Shift_JIS: "見出し 12件", "見出しなし（str_start が見つかりません）",
  // "時間切れ", "HTTP 404" ...
  std::string Text() const;
};

// The site's markers that the cut looks for and does not find in the page (as converted, before the
// cut; the end marker counts only after the start marker), named for the outcome: "str_start",
// "str_end" or both, followed by " が見つかりません"; empty when each is found or empty.
std::string MissingMarkers(std::string_view page, const SiteDefinition& site);
// The outcome of a site whose download ended with `end` and whose page went through the
// extraction, which found `headlines`.
FetchOutcome PageOutcome(DownloadEnd end, int http_status, std::string missing_markers, int headlines);

struct NewHeadline {
  std::string caption;
  std::string link;
};

// One site's part of a background check.
struct SiteCheck {
  std::string file_name;
  FetchOutcome outcome;
  std::vector<NewHeadline> new_headlines;  // distinct links in neither log, in page order
};

class SiteHealth {
 public:
  using Clock = std::chrono::system_clock;

  struct Entry {
    FetchOutcome outcome;
    Clock::time_point time;
    std::optional<int> new_count;        // from the last check; a fetch of the site clears it
    std::vector<std::string> new_links;  // the links that check counted
    std::uint64_t fetch_mark = 0;        // Mark() just after the site's last fetch
  };

  // A fetch of the site (single or category): its outcome, and its count gone, since the fetch has
  // shown its headlines.
  void RecordFetch(std::string_view file_name, FetchOutcome outcome, Clock::time_point time);
  // Taken when a check begins and handed to RecordCheck with its results.
  std::uint64_t Mark() const { return fetches_; }
  // A site's part of a check that began at `mark`. A site fetched since keeps the fetch's record. A
  // check that found headlines sets the count; one that did not keeps the last count. Gives the
  // new headlines that were not new at the site's previous check.
  std::vector<NewHeadline> RecordCheck(const SiteCheck& check, std::uint64_t mark, Clock::time_point time);

  const Entry* Find(std::string_view file_name) const;
  // The site's count, 0 without one.
  int NewCount(std::string_view file_name) const;

 private:
  std::map<std::string, Entry, std::less<>> entries_;
  std::uint64_t fetches_ = 0;
};

}  // namespace korinbo
