#pragma once
// The headline fetch: one site, or every site under one root of the site tree, into the headline
// list, with the history files kept.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "korinbo/download.h"
#include "korinbo/history.h"
#include "korinbo/pattern.h"
#include "korinbo/site_definition.h"

namespace korinbo {

class SiteHealth;
struct FetchOutcome;

enum HeadlineIcon : int { kIconNew = 0, kIconUnread = 1, kIconRead = 2 };

// One headline row as the extraction produces it.
struct HeadlineRow {
  std::string caption;
  std::string remark;
  std::string link;
  int icon = kIconNew;
};

// "single": fetches of one site at a time; "category": a category fetch is running.
enum class FetchMode { kSingle, kCategory };

// A node of a window's site tree as the fetch holds it: the window's own node behind a handle that
// only gives it back as the type it was made from. The empty handle is no node.
class TreeNode {
 public:
  TreeNode() = default;
  template <typename Node>
  static TreeNode Of(Node* node) {
    TreeNode handle;
    if (node != nullptr) {
      handle.node_ = node;
      handle.type_ = &typeid(Node);
    }
    return handle;
  }
  // The node, or nullptr for the empty handle and for a node of another type.
  template <typename Node>
  Node* As() const {
    return type_ != nullptr && *type_ == typeid(Node) ? static_cast<Node*>(node_) : nullptr;
  }
  explicit operator bool() const { return node_ != nullptr; }
  bool operator==(const TreeNode& other) const { return node_ == other.node_; }

 private:
  void* node_ = nullptr;
  const std::type_info* type_ = nullptr;
};

// What the main window hands the fetch: its site tree, headline list, title, message box and the
// settings the fetch reads and writes. All texts are Shift_JIS.
class FetchWindow {
 public:
  virtual ~FetchWindow() = default;

  // Site tree.
  virtual TreeNode SelectedNode() = 0;
  virtual int NodeLevel(TreeNode node) = 0;  // 0 for a root
  virtual std::string NodeText(TreeNode node) = 0;
  virtual std::string ParentText(TreeNode node) = 0;
  virtual int ChildCount(TreeNode root) = 0;
  virtual TreeNode ChildAt(TreeNode root, int index) = 0;
  virtual void SelectNode(TreeNode node) = 0;

  // Headline list.
  virtual void ClearList() = 0;
  virtual int AppendRow(std::string_view caption) = 0;  // the new row's index
  virtual void SetRemark(int row, std::string_view remark) = 0;
  virtual void SetLink(int row, std::string_view link) = 0;
  virtual void SetIcon(int row, int icon) = 0;
  virtual void SelectRow(int row) = 0;
  // Rows with every field at once, appended in order: one site's headlines.
  virtual void AppendRows(std::vector<HeadlineRow> rows);

  // Title as the progress and result line, and the modal message box with an OK button.
  virtual void SetTitle(std::string_view title) = 0;
  virtual void ShowMessage(std::string_view text) = 0;

  // Settings and the start directory.
  virtual ProxyMode UseProxy() = 0;
  virtual std::string ProxyName() = 0;
  virtual void SetLastNews(std::string_view file_name) = 0;
  virtual std::filesystem::path StartDirectory() = 0;

  // Called again and again while a fetch runs: while a download is awaited and between the steps
  // of the work, so that the window can paint and see input. True asks the fetch to stop its
  // downloads (each then ends as a failed download, and the fetch goes on with what arrived).
  virtual bool WhileFetching() { return false; }
};

class HeadlineFetch {
 public:
  HeadlineFetch(FetchWindow& window, Downloader& downloader);

  // Both return true when the fetch reached its completion text. Errors (PatternError, FileError)
  // end the fetch and propagate to the caller, which shows them in the error message box; the
  // fetch mode is "single" again by then.
  bool FetchSelectedSite();
  bool FetchCategory();

  // Records an opened link in the visit log: appended unless a line equals it. Throws FileError.
  void RecordVisit(std::string_view link);

  // Time-outs and limits for the downloads (tests shorten them).
  void SetDownloadLimits(std::chrono::milliseconds connect_timeout, std::chrono::milliseconds total_timeout);

  // A category fetch starts the downloads of its sites when it begins (the default), up to the
  // first site that ends it (its definition missing or its URL refused); without, each site
  // downloads at its turn. Both give the same rows, titles, files and requests.
  void SetCategoryConcurrency(bool concurrent) { concurrent_category_ = concurrent; }

  // Each site fetched (or refused) goes into the record with its outcome and the time; none by
  // default.
  void SetSiteHealth(SiteHealth* health) { health_ = health; }

  // Fetch state.
  FetchMode fetch_mode() const { return fetch_mode_; }
  int headline_counter() const { return headline_counter_; }

  // What the downloads of the last fetch brought, so that a fetch the user stopped can say so.
  struct DownloadReport {
    bool stopped = false;  // WhileFetching asked for the stop
    // Sites whose download ended before the stop. A site whose turn came after it counts as not
    // received, also when its download had run to its end by then.
    int sites_received = 0;
    int site_count = 0;              // the sites of the category; 0 for a single site
    std::size_t bytes_received = 0;  // the pages' bytes, over every site
  };
  const DownloadReport& last_download() const { return download_report_; }

 private:
  enum class SiteOutcome { kEndedEarly, kCompleted };
  SiteOutcome FetchOneSite();
  DownloadResult DownloadFor(std::string_view page_url);
  void StartCategoryDownloads();
  void EndCategory();
  // The window's chance to paint and see input; stops the downloads when the user asks.
  void LetTheWindowWork();
  void Record(const std::string& file_name, FetchOutcome outcome);

  FetchWindow& window_;
  Downloader& downloader_;
  DownloadOptions limits_;
  VisitLog visit_log_;
  FetchMode fetch_mode_ = FetchMode::kSingle;
  int headline_counter_ = 0;
  TreeNode category_node_;
  int site_count_ = 0;
  int site_index_ = 0;
  bool concurrent_category_ = true;
  // Downloads started when a category fetch began, by site index, with the URL each was started for.
  struct PendingDownload {
    std::string url;
    Downloader::TransferId id;
  };
  std::vector<std::optional<PendingDownload>> pending_;
  DownloadReport download_report_;
  SiteHealth* health_ = nullptr;
};

// Steps of the site fetch.
// The message with which the fetch refuses a page URL (empty, or not beginning with "http://");
// nullopt for a URL it downloads.
std::optional<std::string> RefusedUrlMessage(std::string_view page_url);
std::string BaseUrl(std::string_view page_url);
std::string CutHeadlineArea(std::string_view page, std::string_view start_marker, std::string_view end_marker);
// Where CutHeadlineArea's cut lies in the page, and which marker was given but does not occur.
struct HeadlineArea {
  std::size_t begin = 0;
  std::size_t end = 0;  // exclusive
  bool start_missing = false;
  bool end_missing = false;
};
HeadlineArea FindHeadlineArea(std::string_view page, std::string_view start_marker, std::string_view end_marker);
// CR LF to LF, then LF to CR LF.
std::string NormaliseLineEnds(std::string_view page);
// The page converted by the site's encode value ("euc", "jis", "utf8"; anything else: unchanged).
std::string ConvertByEncode(std::string_view page, std::string_view encode);
// A downloaded page as the fetch searches it before the cut: line ends normalised, then converted.
std::string PageAsFetched(std::string_view body, std::string_view encode);
// The link of a headline made absolute against the address its page was read from (after any
// redirects): "http://..." and "https://..." stay as they are; "//host/x" gets the address's
// scheme and ":", "/x" its scheme and authority; any other link BaseUrl(address) and "/".
std::string ResolveLink(std::string_view link, std::string_view address);

// A site file's bytes as the program reads them. A file saved as UTF-8 (with a byte-order mark, or
// valid UTF-8 holding non-ASCII bytes) is converted to Shift_JIS, each character that CP932 lacks
// becoming "?"; any other file is Shift_JIS already.
struct SiteFileText {
  std::string sjis;  // without the byte-order mark
  bool utf8 = false;
  bool byte_order_mark = false;
};
SiteFileText DecodeSiteFile(std::string_view bytes);

// The bytes of a site file that holds `site`, made from the bytes of the file it replaces (empty
// for a new one). Each key whose value the file already gives stays as it is; each other one is
// written as "key=value" on the key's first line, or on a new line after the previous key's (a new
// file gets the eight keys in their order). Every other line is kept byte for byte, and so is the
// file's encoding: a UTF-8 file stays UTF-8 (its byte-order mark too), any other is Shift_JIS.
// Lines end with CR LF. A later line of a key that an empty value would let count is turned into
// a comment ("#url=..."), so that the file reads back as `site`.
std::string SiteFileBytes(std::string_view old_bytes, const SiteDefinition& site);

// A site definition file read whole, its lines joined with CR LF, as DecodeSiteFile reads it.
// nullopt when the file does not exist; FileError when it cannot be read.
std::optional<SiteDefinition> ReadSiteDefinitionFile(const std::filesystem::path& file);

// Receives the extraction's rows in order, field by field, so that a pattern error half-way
// through a headline leaves exactly the fields made before it.
class HeadlineSink {
 public:
  virtual ~HeadlineSink() = default;
  // Each match of the pattern in the page, in order, before any row is made: the rows that follow
  // belong to these matches one by one.
  virtual void MatchFound(const PatternMatch& /*match*/) {}
  virtual void BeginHeadline() {}  // the headline counter goes up here
  virtual int AppendRow(std::string_view caption) = 0;
  virtual void SetRemark(int row, std::string_view remark) = 0;
  virtual void SetIcon(int row, int icon) = 0;
  virtual void SetLink(int row, std::string_view link) = 0;
};

// The extraction on a cut page read from `address`: every match of the site's pattern becomes a
// row whose caption and remark lose their tags and have their character references decoded, and
// whose link (its references of ASCII characters decoded) is resolved as ResolveLink does. Each
// row is classified against the seen log (which gains the new links, in order) and the visit log,
// where a link is present when it equals a line. Throws PatternError for an empty or invalid
// pattern or a runaway match, after the rows before it.
void ExtractHeadlines(std::string_view page, const SiteDefinition& site, std::string_view address,
                      HistoryLines& seen_log, const IndexedLines& visit_log, HeadlineSink& sink);

}  // namespace korinbo
