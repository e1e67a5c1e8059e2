#include "bench_support.h"

#include "korinbo/codepage.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

namespace korinbo::bench {
namespace {

class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
      if (run.error_occurred) continue;
      // With repetitions, the fastest of each benchmark's repetitions where it computes that,
      // else their median; otherwise its one run.
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" &&
                          !fastest.contains(run.run_name.str());
      const bool min = run.run_type == Run::RT_Aggregate && run.aggregate_name == "min";
      if (min) {
        fastest.insert(run.run_name.str());
        seconds[run.run_name.str()] = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        continue;
      }
      if (median || run.run_type == Run::RT_Iteration) {
        const std::string name = median ? run.run_name.str() : run.benchmark_name();
        if (median || !seconds.contains(name)) {
          seconds[name] = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        }
      }
    }
  }
  std::map<std::string, double> seconds;
  std::set<std::string> fastest;
};

}  // namespace

const Workload& TheWorkload() {
  static const Workload workload = [] {
    Workload w;
    w.site.url = "http://news.example/top/index.html";
    w.site.anc_form = "<li><a href=\"([^\"]+)\">(.+?)</a><span class=\"date\">([^<]*)</span>";
    w.site.jump_url = "$1";
    w.site.captions = "$2";
    w.site.remark = "$3";
    const std::string headline = Sjis("政府、来年度予算案を閣議決定　一般会計は過去最大の規模に");
    const std::string filler = Sjis("<p>本文の要約がここに入ります。関連記事もご覧ください。</p>") + "\r\n";
    w.page = "<html><body><ul>\r\n";
    for (int i = 0; i < 5000; ++i) {
      w.page += "<li><a href=\"/news/2026/12/" + std::to_string(100000 + i) + ".html\">" + headline + "<b>" +
                std::to_string(i) + "</b></a><span class=\"date\">12/08 09:" + std::to_string(i % 60) +
                "</span></li>\r\n" + filler;
      while (w.page.size() < static_cast<std::size_t>(i + 1) * 200) w.page += filler;
    }
    w.page += "</ul></body></html>\r\n";
    std::string seen;
    for (int i = 0; i < 1000; ++i) seen += "http://news.example/news/2026/12/" + std::to_string(103000 + i) + ".html\r\n";
    w.seen = HistoryLines::FromText(std::move(seen));
    // As the fetch keeps it between fetches: the file's text and the set of its lines.
    std::string visits;
    for (int i = 0; i < 100000; ++i) visits += "http://other.example/archive/" + std::to_string(i) + ".html\r\n";
    w.visits = std::make_unique<IndexedLines>(HistoryLines::FromText(std::move(visits)));
    return w;
  }();
  return workload;
}

int RunAndReport(int argc, char** argv, const std::vector<Ratio>& ratios, int repetitions) {
  // Repetitions of the benchmarks run interleaved in random order, so that a slow spell of a shared
  // machine falls on both sides of a ratio alike; flags given on the command line come later and win.
  std::vector<std::string> flags;
  if (repetitions > 1) {
    flags.emplace_back("--benchmark_repetitions=");
    flags.back().append(std::to_string(repetitions));
    flags.emplace_back("--benchmark_enable_random_interleaving=true");
    flags.emplace_back("--benchmark_report_aggregates_only=true");
    flags.emplace_back("--benchmark_min_time=0.1");
  }
  std::vector<char*> args{argv[0]};
  for (auto& flag : flags) args.push_back(flag.data());
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&count, args.data());
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  int status = 0;
  std::printf("\n%-44s %-34s %10s %8s\n", "benchmark", "reference", "ratio", "target");
  for (const auto& ratio : ratios) {
    const auto a = reporter.seconds.find(ratio.name);
    const auto b = reporter.seconds.find(ratio.reference);
    if (a == reporter.seconds.end() || b == reporter.seconds.end() || b->second <= 0) continue;
    const double value = a->second / b->second;
    const bool met = ratio.target <= 0 || value < ratio.target;
    if (!met) status = 1;
    char target[32] = "";
    if (ratio.target > 0) std::snprintf(target, sizeof target, "<%.2f", ratio.target);
    std::printf("%-44s %-34s %10.3f %8s %s\n", ratio.name.c_str(), ratio.reference.c_str(), value, target,
                met ? "" : "MISSED");
  }
  benchmark::Shutdown();
  return status;
}

double TimeCommand(const std::string& command, int repeats) {
  double best = -1;
  for (int i = 0; i < repeats; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) return -1;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (best < 0 || seconds < best) best = seconds;
  }
  return best;
}

}  // namespace korinbo::bench
