#pragma once
// Owned libcurl handles: one easy handle per transfer, one multi handle per downloader, and the
// URL parser with the texts it gives.
#include <curl/curl.h>

#include <memory>

namespace korinbo::net {

class CurlEasy {
 public:
  CurlEasy() = default;
  static CurlEasy Create() { return CurlEasy(curl_easy_init()); }

  CURL* get() const { return handle_.get(); }
  explicit operator bool() const { return handle_ != nullptr; }
  void reset() { handle_.reset(); }

 private:
  struct Deleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
  };
  explicit CurlEasy(CURL* h) : handle_(h) {}
  std::unique_ptr<CURL, Deleter> handle_;
};

class CurlMulti {
 public:
  CurlMulti() = default;
  static CurlMulti Create() { return CurlMulti(curl_multi_init()); }

  CURLM* get() const { return handle_.get(); }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  struct Deleter {
    void operator()(CURLM* h) const { curl_multi_cleanup(h); }
  };
  explicit CurlMulti(CURLM* h) : handle_(h) {}
  std::unique_ptr<CURLM, Deleter> handle_;
};

// A parsed URL.
class CurlUrl {
 public:
  static CurlUrl Create() { return CurlUrl(curl_url()); }

  CURLU* get() const { return handle_.get(); }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  struct Deleter {
    void operator()(CURLU* h) const { curl_url_cleanup(h); }
  };
  explicit CurlUrl(CURLU* h) : handle_(h) {}
  std::unique_ptr<CURLU, Deleter> handle_;
};

// A text that curl allocated.
struct CurlFree {
  void operator()(char* text) const { curl_free(text); }
};
using CurlText = std::unique_ptr<char, CurlFree>;

}  // namespace korinbo::net
