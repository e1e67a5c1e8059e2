// Certificates are verified: a server with a certificate nobody vouches for gives no page.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "korinbo/download.h"
#include "korinbo/test/child_process.h"
#include "korinbo/test/temp_dir.h"

namespace korinbo {
namespace {

using namespace std::chrono_literals;

constexpr const char* kOpenssl = "/usr/bin/openssl";

// A TLS server on 127.0.0.1 with a fresh self-signed certificate, answering every request with a page.
class UntrustedTlsServer {
 public:
  // The port, or nullopt when the server could not be started.
  std::optional<int> Start() {
    const std::string key = (dir_.path() / "key.pem").string();
    const std::string cert = (dir_.path() / "cert.pem").string();
    auto make = test::ChildProcess::Start(
        {kOpenssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert,
         "-days", "2"},
        true);
    if (!make || make->WaitExit(30s) != 0) return std::nullopt;
    server_ = test::ChildProcess::Start(
        {kOpenssl, "s_server", "-accept", "127.0.0.1:0", "-cert", cert, "-key", key, "-www"}, true);
    if (!server_) return std::nullopt;
    while (auto line = server_->ReadLine(10s)) {
      const std::string prefix = "ACCEPT 127.0.0.1:";
      if (line->rfind(prefix, 0) == 0) return std::stoi(line->substr(prefix.size()));
    }
    return std::nullopt;
  }

 private:
  test::TempDir dir_;
  std::optional<test::ChildProcess> server_;
};

TEST(Tls, UntrustedCertificateGivesAnEmptyPage) {
  if (!std::filesystem::exists(kOpenssl)) GTEST_SKIP() << "no openssl program";
  UntrustedTlsServer server;
  auto port = server.Start();
  ASSERT_TRUE(port) << "the TLS server did not start";
  DownloadOptions options;
  options.connect_timeout = 5s;
  options.total_timeout = 10s;
  Downloader downloader;
  // Without verification this would be the server's status page.
  EXPECT_EQ(downloader.DownloadPage("https://127.0.0.1:" + std::to_string(*port) + "/", options).page, "");
}

}  // namespace
}  // namespace korinbo
