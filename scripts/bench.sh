#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (as root), builds the benchmarks and runs all six; each
# prints its figures and its ratios to the reference measured in the same run. The editor's
# benchmark draws its window off screen; the window's runs on a virtual X display, where it can
# watch the program's window being mapped.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${KORINBO_BUILD_DIR:-build/bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORINBO_BUILD_TESTS=OFF -DKORINBO_BUILD_SHELL=ON \
  -DKORINBO_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target bench_extraction bench_conversion bench_category_fetch bench_runaway \
  bench_site_editor bench_window
status=0
for bench in bench_category_fetch bench_extraction bench_runaway bench_site_editor bench_conversion; do
  echo "== $bench"
  "$build/bench/$bench" "$@" || status=1
done
echo "== bench_window"
xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bench/bench_window" || status=1
exit $status
