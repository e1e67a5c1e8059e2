#pragma once
// Page downloads over HTTP(S). Several transfers may run at once; the caller waits for one of them
// at a time and keeps its window alive through a callback while it waits.
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace korinbo {

struct DownloadOptions {
  std::string use_proxy = "DIRECT";  // "DIRECT", "PRECONFIG", "PROXY"; anything else: no request
  std::string proxy_name;            // server:port, used in "PROXY" mode
  std::chrono::milliseconds connect_timeout{15000};
  std::chrono::milliseconds total_timeout{60000};
  std::size_t max_body = std::size_t{32} << 20;
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
  // once with an empty body.
  TransferId Start(std::string_view url, const DownloadOptions& options);
  // Drives every running transfer until `id` has finished and returns its page: the body read so
  // far (also after any failure), with each 1024-byte piece cut at its first NUL byte. Each id
  // is waited for once.
  std::string Wait(TransferId id, const WhileWaiting& while_waiting = {});
  // Ends every transfer that is still running; their pages are what was read so far.
  void CancelAll();

  // Start and Wait in one.
  std::string DownloadPage(std::string_view url, const DownloadOptions& options,
                           const WhileWaiting& while_waiting = {});

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace korinbo
