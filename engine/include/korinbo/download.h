#pragma once
// Page downloads over HTTP(S). Several transfers may run at once; the caller waits for one of them
// at a time and keeps its window alive through a callback while it waits. Transfers to one host
// start in the order they were started in, as many at a time as the per-host limit allows.
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "korinbo/download_end.h"
#include "korinbo/proxy_mode.h"

namespace korinbo {

struct DownloadOptions {
  ProxyMode use_proxy = ProxyMode::kDirect;  // kOther: no request
  std::string proxy_name;                    // server:port, used in "PROXY" mode
  // A time-out that is zero or negative counts as its default, so that no transfer runs unbounded.
  std::chrono::milliseconds connect_timeout{15000};
  std::chrono::milliseconds total_timeout{60000};
  std::size_t max_body = std::size_t{32} << 20;
};

// The page a body makes: the body cut into 1024-byte pieces counted from its first byte, each piece
// kept up to (not including) its first NUL byte, however the bytes arrive. At most `max_body`
// bytes of the body are taken.
class PageAssembler {
 public:
  static constexpr std::size_t kPiece = 1024;

  explicit PageAssembler(std::size_t max_body) : max_body_(max_body) {}
  // Takes the next bytes of the body; gives how many were taken, fewer than offered once the
  // cap is reached.
  std::size_t Append(std::string_view bytes);
  bool full() const { return body_bytes_ >= max_body_; }
  std::size_t body_bytes() const { return body_bytes_; }
  const std::string& page() const { return page_; }
  std::string Take() { return std::move(page_); }

 private:
  std::size_t max_body_;
  std::size_t body_bytes_ = 0;
  bool piece_cut_ = false;  // the current piece has met its NUL byte
  std::string page_;
};

// What a download gives.
struct DownloadResult {
  std::string page;     // the body read (also after any failure), each 1024-byte piece cut at its first NUL
  std::string address;  // where the page was read from after redirects; the URL asked for without one
  std::string content_type;  // the answer's Content-Type header ("text/html; charset=EUC-JP"), if any
  DownloadEnd end = DownloadEnd::kComplete;  // why it ended; the page is what arrived either way
  int http_status = 0;                       // the last answer's status, 0 without one
};

// Called again and again while a transfer is awaited; returning true stops every running transfer,
// each ending as a failed download.
using WhileWaiting = std::function<bool()>;

class Downloader {
 public:
  using TransferId = int;

  Downloader();
  ~Downloader();
  Downloader(const Downloader&) = delete;
  Downloader& operator=(const Downloader&) = delete;

  // Starts a plain GET with the agent "Korinbo". A proxy mode that is none of the three finishes at
  // once with an empty body, and so does a URL that is not http:// or https://. There is no thread:
  // transfers move on only inside Start and Wait.
  TransferId Start(std::string_view url, const DownloadOptions& options);
  // Drives every running transfer until `id` has finished and returns what it read. Redirects are
  // followed, at most 10 of them. Each id is waited for once; an id that is unknown, already
  // awaited, or being awaited gives an empty page and an empty address, ended kFailed. A stop by
  // while_waiting ends every running transfer as kStopped.
  DownloadResult Wait(TransferId id, const WhileWaiting& while_waiting = {});
  // Ends every transfer that is still running, as kStopped; their pages are what was read so far.
  void CancelAll();

  // Start and Wait in one.
  DownloadResult DownloadPage(std::string_view url, const DownloadOptions& options,
                              const WhileWaiting& while_waiting = {});

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace korinbo
