#pragma once
// The extraction's parts that the fetch and the tests share.
#include <string>
#include <string_view>

#include "korinbo/fetch.h"

namespace korinbo {

// A page's address, the one it was read from after any redirects, as its links are resolved
// against it. It keeps views of the address, which must outlive it.
class PageAddress {
 public:
  explicit PageAddress(std::string_view address);

  // Appends the link made absolute: one that begins with "http://" or "https://" stays as it is;
  // one that begins with "//" gets the address's scheme and ":" in front, one that begins with "/"
  // its scheme and authority ("http://host:port"); any other the base URL and "/". An address
  // without "scheme://" gives every link the base URL.
  void AppendLink(std::string& out, std::string_view link) const;

 private:
  std::string_view scheme_;  // "http"
  std::string_view origin_;  // "http://host:port"; empty when the address has no "scheme://"
  std::string base_url_;
};

}  // namespace korinbo
