#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace korinbo::bench {
namespace {

class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        seconds[run.benchmark_name()] = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      }
    }
  }
  std::map<std::string, double> seconds;
};

}  // namespace

int RunAndReport(int argc, char** argv, const std::vector<Ratio>& ratios) {
  benchmark::Initialize(&argc, argv);
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
    std::printf("%-44s %-34s %10.3f %8s %s\n", ratio.name.c_str(), ratio.reference.c_str(), value,
                ratio.target > 0 ? ("<" + std::to_string(ratio.target).substr(0, 4)).c_str() : "",
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
