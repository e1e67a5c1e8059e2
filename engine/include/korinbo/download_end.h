#pragma once
// Why a download ended. The fetch takes the page whatever the reason; the site's health and the
// background check report it.
namespace korinbo {

enum class DownloadEnd {
  kComplete,          // the whole body arrived
  kStopped,           // the caller stopped it while waiting
  kNameNotResolved,   // the host's (or the proxy's) name has no address
  kConnectionFailed,  // refused, reset, or closed before the body was whole
  kTimedOut,
  kCutAtCap,          // the body reached the size cap and was cut there
  kHttpError,         // the server answered with a status of 400 or above; its body is the page
  kFailed,            // anything else: no request made (an unknown proxy mode), TLS, a protocol error
};

}  // namespace korinbo
