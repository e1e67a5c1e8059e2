#pragma once
// Runs the registered benchmarks and prints, after Google Benchmark's own table, each benchmark's
// time as a ratio to its reference, all measured side by side in the same run.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "korinbo/history.h"
#include "korinbo/site_definition.h"

namespace korinbo::bench {

struct Ratio {
  std::string name;       // benchmark name as registered
  std::string reference;  // the benchmark it is compared with
  double target = 0;      // the ratio it must stay below (0: none)
};

// Returns the process's exit code: 0 when every ratio with a target meets it. With repetitions,
// each time is the median of that many repetitions, run interleaved.
int RunAndReport(int argc, char** argv, const std::vector<Ratio>& ratios, int repetitions = 1);

// The extraction's workload: a 1 MB Shift_JIS page with 5,000 headlines, the definition that finds
// them, a 1,000-line seen log and a 100,000-line visit log, held as the fetch loads them.
struct Workload {
  std::string page;
  SiteDefinition site;
  HistoryLines seen;
  std::unique_ptr<IndexedLines> visits;  // with the set of its lines, as the fetch keeps it
};
const Workload& TheWorkload();

// Wall-clock seconds of an outside command (the best of `repeats` runs); negative when it failed.
double TimeCommand(const std::string& command, int repeats);

}  // namespace korinbo::bench
