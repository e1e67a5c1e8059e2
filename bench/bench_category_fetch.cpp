// A category of 20 sites on 20 loopback addresses, each server answering after 100 ms: the fetch
// one site after the other against all downloads started at once, and one site alone.
#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>
#include <unistd.h>

#include "bench_support.h"
#include "korinbo/codepage.h"
#include "korinbo/fetch.h"
#include "korinbo/httpd/server.h"
#include "korinbo/in_memory_window.h"

namespace {

constexpr int kSites = 20;

struct Setup {
  std::filesystem::path dir;
  std::vector<std::unique_ptr<korinbo::httpd::Server>> servers;
};

Setup& TheSetup() {
  static Setup setup = [] {
    Setup s;
    char pattern[] = "/tmp/korinbo-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    s.dir = pattern;
    std::filesystem::create_directories(s.dir / "newsurl" );
    std::string page = "<ul>";
    for (int i = 0; i < 50; ++i) {
      page += "<li><a href=\"" + std::to_string(i) + ".html\">" + korinbo::Sjis("見出し") + std::to_string(i) + "</a></li>\r\n";
    }
    page += "</ul>";
    for (int i = 1; i <= kSites; ++i) {
      korinbo::httpd::ServerOptions options;
      options.address = "127.0.0." + std::to_string(i);
      auto server = std::make_unique<korinbo::httpd::Server>(options);
      korinbo::httpd::Response response = korinbo::httpd::Response::Text(page);
      response.delay = std::chrono::milliseconds(100);
      server->Route("/index.html", response);
      for (const char* category : {"all", "one"}) {
        if (std::string_view(category) == "one" && i > 1) continue;
        std::ofstream(s.dir / "newsurl" / (std::string(category) + "_site" + std::to_string(100 + i) + ".txt"),
                      std::ios::binary)
            << "url =" << server->Url("/index.html")
            << "\r\nstr_start =<ul>\r\nstr_end =</ul>\r\nanc_form =<li><a href=\"([^\"]*)\">([^<]*)</a>\r\n"
               "jump_url =$1\r\ncaptions =$2\r\nremark =$1\r\n";
      }
      s.servers.push_back(std::move(server));
    }
    return s;
  }();
  return setup;
}

void FetchCategory(benchmark::State& state, const char* category, bool concurrent, std::size_t expected_rows) {
  Setup& setup = TheSetup();
  korinbo::Downloader downloader;
  for (auto _ : state) {
    korinbo::InMemoryWindow window(setup.dir, korinbo::ProxyMode::kDirect, "", [](std::string_view) {});
    window.tree() = korinbo::BuildSiteTree(setup.dir, "");
    for (const auto& root : window.tree().roots) {
      if (root->text == category) window.Select(root.get());
    }
    korinbo::HeadlineFetch fetch(window, downloader);
    fetch.SetCategoryConcurrency(concurrent);
    if (!fetch.FetchCategory() || window.rows().size() != expected_rows) state.SkipWithError("fetch failed");
  }
}

BENCHMARK_CAPTURE(FetchCategory, OneSite, "one", true, 51)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK_CAPTURE(FetchCategory, Sequential, "all", false, 51 * kSites)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(FetchCategory, Concurrent, "all", true, 51 * kSites)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  const int status = korinbo::bench::RunAndReport(
      argc, argv,
      {{"FetchCategory/Concurrent/iterations:5/real_time", "FetchCategory/OneSite/iterations:5/real_time", 1.5},
       {"FetchCategory/Concurrent/iterations:5/real_time", "FetchCategory/Sequential/iterations:3/real_time", 0.1}});
  std::filesystem::remove_all(TheSetup().dir);
  return status;
}
