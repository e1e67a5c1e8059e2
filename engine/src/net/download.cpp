#include "korinbo/download.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "net/curl_handles.h"

namespace korinbo {

namespace {

constexpr long kMaxRedirects = 10;
constexpr int kPollMs = 20;
constexpr long kMaxPerHost = 6;
constexpr long kMaxTotal = 32;
constexpr std::chrono::milliseconds kDefaultConnectTimeout{15000};
constexpr std::chrono::milliseconds kDefaultTotalTimeout{60000};

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

long TimeoutMs(std::chrono::milliseconds value, std::chrono::milliseconds fallback) {
  auto ms = value.count() > 0 ? value.count() : fallback.count();
  return static_cast<long>(std::min<long long>(ms, LONG_MAX));
}

// Where a transfer connects to: the proxy in "PROXY" mode, else the URL's host and port. Transfers
// that share it share the per-host limit.
std::string ConnectionOf(std::string_view url, const DownloadOptions& options) {
  if (options.use_proxy == ProxyMode::kProxy) return "proxy " + options.proxy_name;
  const std::string text(url);
  const net::CurlUrl parsed = net::CurlUrl::Create();
  char* host = nullptr;
  char* port = nullptr;
  const bool ok = parsed && curl_url_set(parsed.get(), CURLUPART_URL, text.c_str(), 0) == CURLUE_OK &&
                  curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK &&
                  curl_url_get(parsed.get(), CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK;
  const net::CurlText host_text(host);
  const net::CurlText port_text(port);
  return ok ? std::string(host) + ":" + port : text;
}

}  // namespace

std::size_t PageAssembler::Append(std::string_view bytes) {
  const std::size_t room = max_body_ - std::min(body_bytes_, max_body_);
  const std::size_t take = std::min(bytes.size(), room);
  std::size_t i = 0;
  while (i < take) {
    const std::size_t in_piece = body_bytes_ % kPiece;
    const std::size_t span = std::min(take - i, kPiece - in_piece);
    if (!piece_cut_) {
      const char* start = bytes.data() + i;
      const void* nul = std::memchr(start, '\0', span);
      const std::size_t keep = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - start) : span;
      page_.append(start, keep);
      if (nul) piece_cut_ = true;
    }
    body_bytes_ += span;
    i += span;
    if (body_bytes_ % kPiece == 0) piece_cut_ = false;
  }
  return take;
}

namespace {

struct Transfer {
  Transfer(std::size_t max_body, std::string_view url, std::string connects_to)
      : page(max_body), address(url), connection(std::move(connects_to)) {}
  net::CurlEasy easy;  // set from Start until the transfer has finished
  PageAssembler page;
  std::string address;     // the URL asked for, until a redirect moves it
  std::string connection;  // where it connects to, for the per-host limit
  std::string content_type;
  DownloadEnd end = DownloadEnd::kFailed;  // until the transfer says otherwise
  int http_status = 0;
  bool running = false;  // handed to the multi handle
  bool finished = false;
  bool waiting = false;  // a Wait for it is on the stack
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t offered = size * count;
  const size_t taken = transfer->page.Append(std::string_view(data, offered));
  // Anything short of the offered count makes curl end the transfer: the cap has been reached.
  return taken == offered ? offered : 0;
}

bool Configure(CURL* easy, std::string_view url, const DownloadOptions& options, Transfer* transfer) {
  const std::string url_text(url);
  bool ok = true;
  auto set = [&](CURLoption option, auto value) {
    ok = ok && curl_easy_setopt(easy, option, value) == CURLE_OK;
  };
  set(CURLOPT_URL, url_text.c_str());
  set(CURLOPT_USERAGENT, "Korinbo");
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_WRITEFUNCTION, &OnBody);
  set(CURLOPT_WRITEDATA, static_cast<void*>(transfer));
  set(CURLOPT_PRIVATE, static_cast<void*>(transfer));
  // A page URL from a site file must not reach the local file system or other schemes.
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_FOLLOWLOCATION, 1L);
  set(CURLOPT_MAXREDIRS, kMaxRedirects);
  set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  set(CURLOPT_SSL_VERIFYPEER, 1L);
  set(CURLOPT_SSL_VERIFYHOST, 2L);
  set(CURLOPT_CONNECTTIMEOUT_MS, TimeoutMs(options.connect_timeout, kDefaultConnectTimeout));
  set(CURLOPT_TIMEOUT_MS, TimeoutMs(options.total_timeout, kDefaultTotalTimeout));
  if (options.use_proxy == ProxyMode::kDirect) {
    // The empty text turns proxies off, the environment's included.
    set(CURLOPT_PROXY, "");
  } else if (options.use_proxy == ProxyMode::kProxy) {
    const std::string proxy = options.proxy_name;
    set(CURLOPT_PROXY, proxy.c_str());
    // No bypass list: a no_proxy variable must not route around the configured proxy.
    set(CURLOPT_NOPROXY, "");
  }
  // "PRECONFIG" leaves curl to the standard proxy variables of the environment.
  return ok;
}

// Why a transfer that curl has finished ended.
DownloadEnd EndOf(CURLcode result, Transfer& transfer) {
  switch (result) {
    case CURLE_OK:
      return transfer.http_status >= 400 ? DownloadEnd::kHttpError : DownloadEnd::kComplete;
    case CURLE_WRITE_ERROR:
      // OnBody refuses bytes only at the cap.
      return transfer.page.full() ? DownloadEnd::kCutAtCap : DownloadEnd::kFailed;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return DownloadEnd::kNameNotResolved;
    case CURLE_COULDNT_CONNECT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
      return DownloadEnd::kConnectionFailed;
    case CURLE_OPERATION_TIMEDOUT:
      return DownloadEnd::kTimedOut;
    default:
      return DownloadEnd::kFailed;
  }
}

}  // namespace

// The transfers, and the order in which they reach curl: a transfer starts when fewer than the
// limit of transfers to its host run, and never before an earlier one to the same host, so that
// pages are asked for in the order they were started in. Curl's own limits stay set but are never
// reached: its queue of transfers waiting for a connection keeps no order.
struct Downloader::Impl {
  net::CurlMulti multi;
  std::map<TransferId, std::unique_ptr<Transfer>> transfers;
  std::deque<Transfer*> queued;  // configured, waiting for room, in the order they were started
  std::map<std::string, long> running_by_connection;
  long running = 0;
  TransferId next_id = 1;

  Impl() {
    GlobalInit();
    multi = net::CurlMulti::Create();
    if (multi) {
      curl_multi_setopt(multi.get(), CURLMOPT_MAX_HOST_CONNECTIONS, kMaxPerHost);
      curl_multi_setopt(multi.get(), CURLMOPT_MAX_TOTAL_CONNECTIONS, kMaxTotal);
    }
  }

  ~Impl() { CancelAll(DownloadEnd::kStopped); }

  void Finish(Transfer& transfer, DownloadEnd end) {
    transfer.end = end;
    if (transfer.running) {
      // Without a redirect the address stays the URL as given, not curl's normalised form of it.
      long redirects = 0;
      const char* effective = nullptr;
      if (curl_easy_getinfo(transfer.easy.get(), CURLINFO_REDIRECT_COUNT, &redirects) == CURLE_OK && redirects > 0 &&
          curl_easy_getinfo(transfer.easy.get(), CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK &&
          effective != nullptr) {
        transfer.address = effective;
      }
      const char* content_type = nullptr;
      if (curl_easy_getinfo(transfer.easy.get(), CURLINFO_CONTENT_TYPE, &content_type) == CURLE_OK &&
          content_type != nullptr) {
        transfer.content_type = content_type;
      }
      curl_multi_remove_handle(multi.get(), transfer.easy.get());
      transfer.running = false;
      --running;
      if (--running_by_connection[transfer.connection] == 0) running_by_connection.erase(transfer.connection);
    } else {
      std::erase(queued, &transfer);
    }
    transfer.easy.reset();
    transfer.finished = true;
  }

  // Hands the queued transfers that have room to curl, in order; true when it started any.
  bool StartQueued() {
    bool started = false;
    for (auto it = queued.begin(); it != queued.end() && running < kMaxTotal;) {
      Transfer& transfer = **it;
      long& to_connection = running_by_connection[transfer.connection];
      if (to_connection >= kMaxPerHost) {
        ++it;
        continue;
      }
      it = queued.erase(it);
      if (curl_multi_add_handle(multi.get(), transfer.easy.get()) != CURLM_OK) {
        if (to_connection == 0) running_by_connection.erase(transfer.connection);
        transfer.easy.reset();
        transfer.finished = true;
        continue;
      }
      transfer.running = true;
      ++to_connection;
      ++running;
      started = true;
    }
    return started;
  }

  void Drive() {
    if (!multi) return;
    do {
      int still_running = 0;
      if (curl_multi_perform(multi.get(), &still_running) != CURLM_OK) {
        // The multi handle is broken (out of memory, say): nothing would finish or time out any more.
        CancelAll(DownloadEnd::kFailed);
        return;
      }
      int left = 0;
      while (CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        void* user = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &user);
        if (user == nullptr) continue;
        auto& transfer = *static_cast<Transfer*>(user);
        long status = 0;
        if (curl_easy_getinfo(message->easy_handle, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK) {
          transfer.http_status = static_cast<int>(status);
        }
        Finish(transfer, EndOf(message->data.result, transfer));
      }
      // Transfers given room get their name lookup and connect going at once.
    } while (StartQueued());
  }

  void CancelAll(DownloadEnd end) {
    for (auto& [id, transfer] : transfers) {
      if (!transfer->finished) Finish(*transfer, end);
    }
  }

  TransferId NewId() {
    TransferId id = next_id;
    next_id = next_id == INT_MAX ? 1 : next_id + 1;
    return id;
  }

  TransferId Start(std::string_view url, const DownloadOptions& options) {
    const TransferId id = NewId();
    auto transfer = std::make_unique<Transfer>(options.max_body, url, ConnectionOf(url, options));
    Transfer& t = *transfer;
    transfers.insert_or_assign(id, std::move(transfer));
    if (options.use_proxy == ProxyMode::kOther || !multi) {
      t.finished = true;
      return id;
    }
    t.easy = net::CurlEasy::Create();
    if (!t.easy || !Configure(t.easy.get(), url, options, &t)) {
      t.easy.reset();
      t.finished = true;
      return id;
    }
    queued.push_back(&t);
    // Started now if there is room, so that the transfer runs while others are awaited.
    Drive();
    return id;
  }

  DownloadResult Wait(TransferId id, const WhileWaiting& while_waiting) {
    auto it = transfers.find(id);
    if (it == transfers.end() || it->second->waiting) return DownloadResult{{}, {}, {}, DownloadEnd::kFailed, 0};
    Transfer* t = it->second.get();
    t->waiting = true;
    try {
      while (!t->finished) {
        Drive();
        if (t->finished) break;
        if (while_waiting && while_waiting()) {
          CancelAll(DownloadEnd::kStopped);
          break;
        }
        if (t->finished) break;  // while_waiting may have cancelled
        if (curl_multi_poll(multi.get(), nullptr, 0, kPollMs, nullptr) != CURLM_OK) {
          std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        }
      }
    } catch (...) {
      t->waiting = false;  // the transfer stays and may be awaited again
      throw;
    }
    DownloadResult result{t->page.Take(), std::move(t->address), std::move(t->content_type), t->end, t->http_status};
    transfers.erase(id);
    return result;
  }
};

Downloader::Downloader() : impl_(std::make_unique<Impl>()) {}
Downloader::~Downloader() = default;

Downloader::TransferId Downloader::Start(std::string_view url, const DownloadOptions& options) {
  return impl_->Start(url, options);
}

DownloadResult Downloader::Wait(TransferId id, const WhileWaiting& while_waiting) {
  return impl_->Wait(id, while_waiting);
}

void Downloader::CancelAll() { impl_->CancelAll(DownloadEnd::kStopped); }

DownloadResult Downloader::DownloadPage(std::string_view url, const DownloadOptions& options,
                                        const WhileWaiting& while_waiting) {
  return impl_->Wait(impl_->Start(url, options), while_waiting);
}

}  // namespace korinbo
