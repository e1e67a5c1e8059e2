#include "korinbo/fetch.h"

#include <exception>
#include <system_error>

#include "korinbo/codepage.h"
#include "korinbo/convert.h"
#include "korinbo/errors.h"
#include "korinbo/file_io.h"
#include "korinbo/history.h"
#include "korinbo/pattern.h"
#include "korinbo/site_health.h"
#include "korinbo/site_tree.h"
#include "korinbo/text.h"

namespace korinbo {
namespace {

constexpr std::string_view kHttpPrefix = "http://";

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool IsFile(const std::filesystem::path& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

}  // namespace

std::optional<std::string> RefusedUrlMessage(std::string_view page_url) {
  static const std::string kNoUrl = Sjis("URLを入力してください。");
  static const std::string kNotHttp = Sjis("URLはhttp://から入力してください。");
  if (page_url.empty()) return kNoUrl;
  if (!StartsWith(page_url, kHttpPrefix)) return kNotHttp;
  return std::nullopt;
}

std::string BaseUrl(std::string_view page_url) {
  // The text before the last "/". A URL with nothing after the host ("http://a.example") keeps
  // its host: cutting at the "/" of "http://" would make every relative link point elsewhere.
  const auto scheme_end = page_url.find("://");
  if (scheme_end != std::string_view::npos && page_url.find('/', scheme_end + 3) == std::string_view::npos) {
    return std::string(page_url);
  }
  const std::string reversed = ReverseBytes(page_url);
  const auto slash = reversed.find('/');
  if (slash == std::string::npos) return std::string(page_url);
  const auto p = static_cast<long long>(slash) + 1;
  return ReverseBytes(RightBytes(reversed, static_cast<long long>(reversed.size()) - p));
}

std::string CutHeadlineArea(std::string_view page, std::string_view start_marker, std::string_view end_marker) {
  const HeadlineArea area = FindHeadlineArea(page, start_marker, end_marker);
  return std::string(page.substr(area.begin, area.end - area.begin));
}

HeadlineArea FindHeadlineArea(std::string_view page, std::string_view start_marker, std::string_view end_marker) {
  HeadlineArea area{0, page.size(), false, false};
  // Only the marker's first byte is dropped at the start, and only its first byte is kept at the end.
  if (!start_marker.empty()) {
    const auto p = page.find(start_marker);
    area.start_missing = p == std::string_view::npos;
    if (!area.start_missing) area.begin = p + 1;
  }
  if (!end_marker.empty()) {
    const auto q = page.substr(area.begin).find(end_marker);
    area.end_missing = q == std::string_view::npos;
    if (!area.end_missing) area.end = area.begin + q + 1;
  }
  return area;
}

std::string NormaliseLineEnds(std::string_view page) {
  return ReplaceAll(ReplaceAll(page, "\r\n", "\n"), "\n", "\r\n");
}

std::string ConvertByEncode(std::string_view page, std::string_view encode) {
  if (encode == "euc") return EucToSjis(page);
  if (encode == "jis") return JisToSjis(page);
  if (encode == "utf8") return Utf8ToSjis(page);
  return std::string(page);
}

std::string PageAsFetched(std::string_view body, std::string_view encode) {
  return ConvertByEncode(NormaliseLineEnds(body), encode);
}

std::optional<SiteDefinition> ReadSiteDefinitionFile(const std::filesystem::path& file) {
  if (!IsFile(file)) return std::nullopt;
  const auto bytes = ReadFileBytes(file);
  if (!bytes) return std::nullopt;
  return ReadSiteDefinition(JoinLines(SplitLines(DecodeSiteFile(*bytes).sjis)));
}

void FetchWindow::AppendRows(std::vector<HeadlineRow> rows) {
  for (const HeadlineRow& row : rows) {
    const int index = AppendRow(row.caption);
    SetRemark(index, row.remark);
    SetIcon(index, row.icon);
    SetLink(index, row.link);
  }
}

HeadlineFetch::HeadlineFetch(FetchWindow& window, Downloader& downloader)
    : window_(window), downloader_(downloader), visit_log_(window.StartDirectory()) {}

void HeadlineFetch::SetDownloadLimits(std::chrono::milliseconds connect_timeout,
                                      std::chrono::milliseconds total_timeout) {
  limits_.connect_timeout = connect_timeout;
  limits_.total_timeout = total_timeout;
}

void HeadlineFetch::RecordVisit(std::string_view link) { visit_log_.Record(link); }

bool HeadlineFetch::FetchSelectedSite() {
  if (fetch_mode_ == FetchMode::kSingle) download_report_ = {};
  try {
    // A category fetch runs its sites from this loop; each site starts after the previous one ended.
    for (;;) {
      if (FetchOneSite() == SiteOutcome::kEndedEarly) {
        EndCategory();
        return false;
      }
      if (fetch_mode_ != FetchMode::kCategory) {
        static const std::string kDone = Sjis(" 取得完了（");
        static const std::string kPieces = Sjis("個）");
        window_.SetTitle(window_.NodeText(window_.SelectedNode()) + kDone + std::to_string(headline_counter_) +
                         kPieces);
        return true;
      }
      ++site_index_;
      if (site_index_ == site_count_) {
        static const std::string kAllDone = Sjis("全取得完了（");
        static const std::string kPieces = Sjis("個）");
        EndCategory();
        window_.SetTitle(kAllDone + std::to_string(headline_counter_) + kPieces);
        return true;
      }
      LetTheWindowWork();
      window_.SelectNode(window_.ChildAt(category_node_, site_index_));
    }
  } catch (...) {
    EndCategory();
    throw;
  }
}

bool HeadlineFetch::FetchCategory() {
  download_report_ = {};
  window_.ClearList();
  headline_counter_ = 0;
  const TreeNode root = window_.SelectedNode();
  if (!root || window_.NodeLevel(root) != 0 || window_.ChildCount(root) == 0) return false;
  fetch_mode_ = FetchMode::kCategory;
  site_count_ = window_.ChildCount(root);
  download_report_.site_count = site_count_;
  site_index_ = 0;
  category_node_ = root;
  if (concurrent_category_) StartCategoryDownloads();
  window_.SelectNode(window_.ChildAt(root, 0));
  return FetchSelectedSite();
}

// The sites of the category start downloading now, in tree order, up to the first one whose
// definition is missing or cannot be read or whose URL is refused: the category fetch ends there,
// so no later site may be asked for its page. The sites are still processed one by one in tree
// order, each waiting only for its own page.
void HeadlineFetch::StartCategoryDownloads() {
  pending_.assign(static_cast<std::size_t>(site_count_), std::nullopt);
  const auto site_folder = window_.StartDirectory() / std::string(kSiteFolderName);
  const std::string root_text = window_.NodeText(category_node_);
  DownloadOptions options = limits_;
  options.use_proxy = window_.UseProxy();
  options.proxy_name = window_.ProxyName();
  for (int i = 0; i < site_count_; ++i) {
    const TreeNode child = window_.ChildAt(category_node_, i);
    std::optional<SiteDefinition> site;
    try {
      site = ReadSiteDefinitionFile(PathInDirectory(site_folder, SiteFileNameOf(root_text, window_.NodeText(child))));
    } catch (const FileError&) {
      return;  // reported when the site's turn comes
    }
    if (!site || !StartsWith(site->url, kHttpPrefix)) return;
    pending_[static_cast<std::size_t>(i)] = PendingDownload{site->url, downloader_.Start(site->url, options)};
  }
}

void HeadlineFetch::Record(const std::string& file_name, FetchOutcome outcome) {
  if (health_ != nullptr) health_->RecordFetch(file_name, std::move(outcome), SiteHealth::Clock::now());
}

void HeadlineFetch::EndCategory() {
  fetch_mode_ = FetchMode::kSingle;
  for (auto& pending : pending_) {
    if (pending) (void)downloader_.Wait(pending->id, [] { return true; });
  }
  pending_.clear();
}

void HeadlineFetch::LetTheWindowWork() {
  if (window_.WhileFetching() && !download_report_.stopped) {
    download_report_.stopped = true;
    downloader_.CancelAll();
  }
}

DownloadResult HeadlineFetch::DownloadFor(std::string_view page_url) {
  const WhileWaiting while_waiting = [this] {
    if (!window_.WhileFetching()) return false;
    download_report_.stopped = true;
    return true;
  };
  if (fetch_mode_ == FetchMode::kCategory && static_cast<std::size_t>(site_index_) < pending_.size()) {
    auto& pending = pending_[static_cast<std::size_t>(site_index_)];
    if (pending) {
      const PendingDownload started = *pending;
      pending.reset();
      DownloadResult download = downloader_.Wait(started.id, while_waiting);
      // The definition changed since the category began: fetch what it names now.
      if (started.url == page_url) return download;
    }
  }
  DownloadOptions options = limits_;
  options.use_proxy = window_.UseProxy();
  options.proxy_name = window_.ProxyName();
  return downloader_.DownloadPage(page_url, options, while_waiting);
}

HeadlineFetch::SiteOutcome HeadlineFetch::FetchOneSite() {
  const TreeNode node = window_.SelectedNode();
  if (!node || window_.NodeLevel(node) != 1) return SiteOutcome::kEndedEarly;
  const std::string node_text = window_.NodeText(node);
  const std::string file_name = SiteFileNameOf(window_.ParentText(node), node_text);
  window_.SetLastNews(file_name);

  const std::filesystem::path start_dir = window_.StartDirectory();
  const auto site = ReadSiteDefinitionFile(PathInDirectory(start_dir / std::string(kSiteFolderName), file_name));
  if (!site) {
    Record(file_name, FetchOutcome::Of(FetchOutcome::Kind::kNoDefinition));
    return SiteOutcome::kEndedEarly;
  }

  const std::string& page_url = site->url;
  if (const auto refused = RefusedUrlMessage(page_url)) {
    Record(file_name, FetchOutcome::Of(FetchOutcome::Kind::kBadUrl));
    window_.ShowMessage(*refused);
    return SiteOutcome::kEndedEarly;
  }
  if (fetch_mode_ == FetchMode::kSingle) {
    window_.ClearList();
    headline_counter_ = 0;
  }
  static const std::string kOpen = Sjis("【");
  static const std::string kClose = Sjis("】");
  static const std::string kSourcePage = Sjis("元ページ");
  const int header = window_.AppendRow(kOpen + node_text + kClose);
  window_.SetIcon(header, kIconRead);
  window_.SetRemark(header, kSourcePage);
  window_.SetLink(header, page_url);
  window_.SelectRow(header);

  static const std::string kConnecting = Sjis("接続中...");
  static const std::string kConverting = Sjis("変換中...");
  window_.SetTitle(kConnecting);
  const DownloadResult download = DownloadFor(page_url);
  if (!download_report_.stopped) ++download_report_.sites_received;
  download_report_.bytes_received += download.page.size();
  std::string page = PageAsFetched(download.page, site->encode);
  window_.SetTitle(kConverting);
  std::string missing_markers = MissingMarkers(page, *site);
  page = CutHeadlineArea(page, site->str_start, site->str_end);
  SaveHistory(start_dir, kPageDumpName, SplitLines(page), Durability::kRenamed);

  HistoryLines seen_log = LoadHistoryLines(start_dir, kSeenLogName);
  // Read once for many fetches, and in steps: a long log would keep the window waiting.
  const IndexedLines& visit_log = visit_log_.Lines([this] { LetTheWindowWork(); });
  LetTheWindowWork();

  // The rows reach the window together, also those made before a pattern error.
  class RowCollector : public HeadlineSink {
   public:
    explicit RowCollector(int& counter) : counter_(counter) {}
    void BeginHeadline() override { ++counter_; }
    int AppendRow(std::string_view caption) override {
      rows.push_back(HeadlineRow{std::string(caption), {}, {}, kIconNew});
      return static_cast<int>(rows.size() - 1);
    }
    void SetRemark(int row, std::string_view remark) override { rows[Index(row)].remark = remark; }
    void SetIcon(int row, int icon) override { rows[Index(row)].icon = icon; }
    void SetLink(int row, std::string_view link) override { rows[Index(row)].link = link; }
    std::vector<HeadlineRow> rows;

   private:
    static std::size_t Index(int row) { return static_cast<std::size_t>(row); }
    int& counter_;
  } collector(headline_counter_);
  const int counted_before = headline_counter_;
  try {
    ExtractHeadlines(page, *site, download.address, seen_log, visit_log, collector);
  } catch (const PatternError& error) {
    window_.AppendRows(std::move(collector.rows));
    Record(file_name, FetchOutcome::Of(FetchOutcome::Kind::kPatternError, error.what()));
    throw;
  } catch (...) {
    window_.AppendRows(std::move(collector.rows));
    throw;
  }
  window_.AppendRows(std::move(collector.rows));
  Record(file_name, PageOutcome(download.end, download.http_status, std::move(missing_markers),
                                headline_counter_ - counted_before));

  seen_log.KeepLast(kSeenLogLimit);
  SaveHistoryLines(start_dir, kSeenLogName, seen_log, Durability::kRenamed);
  return SiteOutcome::kCompleted;
}

}  // namespace korinbo
