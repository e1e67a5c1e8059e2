#include "korinbo/site_check.h"

#include <optional>

#include "korinbo/errors.h"
#include "korinbo/fetch.h"
#include "korinbo/file_io.h"
#include "korinbo/history.h"
#include "korinbo/site_tree.h"

namespace korinbo {
namespace {

// The headlines' rows as the extraction classifies them; only their icons and links are kept.
class ClassifiedRows : public HeadlineSink {
 public:
  int AppendRow(std::string_view caption) override {
    rows_.push_back(NewHeadline{std::string(caption), {}});
    icons_.push_back(kIconNew);
    return static_cast<int>(rows_.size() - 1);
  }
  void SetRemark(int, std::string_view) override {}
  void SetIcon(int row, int icon) override { icons_.at(static_cast<std::size_t>(row)) = icon; }
  void SetLink(int row, std::string_view link) override { rows_.at(static_cast<std::size_t>(row)).link = link; }

  int count() const { return static_cast<int>(rows_.size()); }
  // A link in neither log is new at its first row and unread at any later one.
  std::vector<NewHeadline> NewOnes() && {
    std::vector<NewHeadline> fresh;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      if (icons_[i] == kIconNew) fresh.push_back(std::move(rows_[i]));
    }
    return fresh;
  }

 private:
  std::vector<NewHeadline> rows_;
  std::vector<int> icons_;
};

}  // namespace

std::vector<SiteCheck> CheckSites(const std::filesystem::path& start_dir, const std::vector<std::string>& file_names,
                                  const DownloadOptions& options, Downloader& downloader,
                                  const WhileWaiting& stop) {
  const HistoryLines seen_log = LoadHistoryLines(start_dir, kSeenLogName);
  const IndexedLines visit_log(LoadHistoryLines(start_dir, kVisitLogName));
  const std::filesystem::path site_folder = start_dir / std::string(kSiteFolderName);

  struct Started {
    SiteDefinition site;
    Downloader::TransferId id;
  };
  std::vector<SiteCheck> checks(file_names.size());
  std::vector<std::optional<Started>> started(file_names.size());
  for (std::size_t i = 0; i < file_names.size(); ++i) {
    checks[i].file_name = file_names[i];
    std::optional<SiteDefinition> site;
    try {
      site = ReadSiteDefinitionFile(PathInDirectory(site_folder, file_names[i]));
    } catch (const FileError& error) {
      checks[i].outcome = FetchOutcome::Of(FetchOutcome::Kind::kNoDefinition, error.what());
      continue;
    }
    if (!site) {
      checks[i].outcome = FetchOutcome::Of(FetchOutcome::Kind::kNoDefinition);
    } else if (!site->url.starts_with("http://")) {
      checks[i].outcome = FetchOutcome::Of(FetchOutcome::Kind::kBadUrl);
    } else {
      const Downloader::TransferId id = downloader.Start(site->url, options);
      started[i] = Started{std::move(*site), id};
    }
  }

  for (std::size_t i = 0; i < file_names.size(); ++i) {
    if (!started[i]) continue;
    const SiteDefinition& site = started[i]->site;
    const DownloadResult download = downloader.Wait(started[i]->id, stop);
    if (download.end == DownloadEnd::kStopped) {
      checks[i].outcome = PageOutcome(DownloadEnd::kStopped, 0, {}, 0);
      continue;
    }
    const std::string page = ConvertByEncode(NormaliseLineEnds(download.page), site.encode);
    HistoryLines seen = seen_log;
    ClassifiedRows rows;
    try {
      ExtractHeadlines(CutHeadlineArea(page, site.str_start, site.str_end), site, download.address, seen, visit_log,
                       rows);
    } catch (const PatternError& error) {
      checks[i].outcome = FetchOutcome::Of(FetchOutcome::Kind::kPatternError, error.what());
      continue;
    }
    checks[i].outcome = PageOutcome(download.end, download.http_status, MissingMarkers(page, site), rows.count());
    // A page that did not come whole says nothing of what is new.
    if (checks[i].outcome.kind == FetchOutcome::Kind::kHeadlines) checks[i].new_headlines = std::move(rows).NewOnes();
  }
  return checks;
}

}  // namespace korinbo
