#include "korinbo/site_health.h"

#include <algorithm>
#include <utility>

#include "korinbo/codepage.h"

namespace korinbo {
namespace {

std::string DownloadEndText(DownloadEnd end, int http_status) {
  switch (end) {
    case DownloadEnd::kComplete:
      return {};
    case DownloadEnd::kStopped:
      return Sjis("中断しました");
    case DownloadEnd::kNameNotResolved:
      return Sjis("名前を解決できません");
    case DownloadEnd::kConnectionFailed:
      return Sjis("接続できないか、途中で切れました");
    case DownloadEnd::kTimedOut:
      return Sjis("時間切れ");
    case DownloadEnd::kCutAtCap:
      return Sjis("大きすぎるため途中まで");
    case DownloadEnd::kHttpError:
      return "HTTP " + std::to_string(http_status);
    case DownloadEnd::kFailed:
      break;
  }
  return Sjis("通信エラー");
}

std::string HeadlineCount(int headlines) { return Sjis("見出し ") + std::to_string(headlines) + Sjis("件"); }

}  // namespace

FetchOutcome FetchOutcome::Of(Kind kind, std::string detail) {
  FetchOutcome outcome;
  outcome.kind = kind;
  outcome.detail = std::move(detail);
  return outcome;
}

std::string MissingMarkers(std::string_view page, const SiteDefinition& site) {
  // As CutHeadlineArea searches: the end marker after the start marker's first byte.
  const std::size_t start = site.str_start.empty() ? std::string_view::npos : page.find(site.str_start);
  const bool start_missing = !site.str_start.empty() && start == std::string_view::npos;
  const std::size_t end_from = start == std::string_view::npos ? 0 : start + 1;
  const bool end_missing = !site.str_end.empty() && page.find(site.str_end, end_from) == std::string_view::npos;
  if (!start_missing && !end_missing) return {};
  const std::string names =
      start_missing && end_missing ? Sjis("str_start と str_end") : start_missing ? "str_start" : "str_end";
  return names + Sjis(" が見つかりません");
}

bool FetchOutcome::IsWarning() const {
  if (kind == Kind::kHeadlines) return false;
  return kind != Kind::kDownloadFailed || download_end != DownloadEnd::kStopped;
}

std::string FetchOutcome::Text() const {
  switch (kind) {
    case Kind::kHeadlines:
      return HeadlineCount(headlines);
    case Kind::kNoHeadlines:
      return Sjis("見出しなし") + (detail.empty() ? std::string() : Sjis("（") + detail + Sjis("）"));
    case Kind::kDownloadFailed:
      return DownloadEndText(download_end, http_status) +
             (headlines > 0 ? Sjis("（") + HeadlineCount(headlines) + Sjis("）") : std::string());
    case Kind::kPatternError:
      return detail;
    case Kind::kNoDefinition:
      return Sjis("サイト定義ファイルがありません");
    case Kind::kBadUrl:
      break;
  }
  return Sjis("URLが正しくありません");
}

FetchOutcome PageOutcome(DownloadEnd end, int http_status, std::string missing_markers, int headlines) {
  FetchOutcome outcome;
  outcome.headlines = headlines;
  if (end != DownloadEnd::kComplete) {
    outcome.kind = FetchOutcome::Kind::kDownloadFailed;
    outcome.download_end = end;
    outcome.http_status = http_status;
  } else if (headlines == 0) {
    outcome.kind = FetchOutcome::Kind::kNoHeadlines;
    outcome.detail = std::move(missing_markers);
  }
  return outcome;
}

void SiteHealth::RecordFetch(std::string_view file_name, FetchOutcome outcome, Clock::time_point time) {
  auto it = entries_.find(file_name);
  if (it == entries_.end()) it = entries_.emplace(std::string(file_name), Entry{}).first;
  Entry& entry = it->second;
  entry.outcome = std::move(outcome);
  entry.time = time;
  entry.new_count.reset();
  entry.new_links.clear();
  entry.fetch_mark = ++fetches_;
}

std::vector<NewHeadline> SiteHealth::RecordCheck(const SiteCheck& check, std::uint64_t mark, Clock::time_point time) {
  auto it = entries_.find(check.file_name);
  if (it == entries_.end()) it = entries_.emplace(check.file_name, Entry{}).first;
  Entry& entry = it->second;
  if (entry.fetch_mark > mark) return {};
  entry.outcome = check.outcome;
  entry.time = time;
  if (check.outcome.kind != FetchOutcome::Kind::kHeadlines) return {};
  std::vector<NewHeadline> fresh;
  std::vector<std::string> links;
  for (const NewHeadline& headline : check.new_headlines) {
    if (std::find(entry.new_links.begin(), entry.new_links.end(), headline.link) == entry.new_links.end()) {
      fresh.push_back(headline);
    }
    links.push_back(headline.link);
  }
  entry.new_links = std::move(links);
  entry.new_count = static_cast<int>(check.new_headlines.size());
  return fresh;
}

const SiteHealth::Entry* SiteHealth::Find(std::string_view file_name) const {
  const auto it = entries_.find(file_name);
  return it == entries_.end() ? nullptr : &it->second;
}

int SiteHealth::NewCount(std::string_view file_name) const {
  const Entry* entry = Find(file_name);
  return entry != nullptr ? entry->new_count.value_or(0) : 0;
}

}  // namespace korinbo
