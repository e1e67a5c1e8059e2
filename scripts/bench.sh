#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (as root), builds the benchmarks and runs all five; each
# prints its figures and its ratios to the reference measured in the same run. The editor's
# benchmark draws its window off screen.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${KORINBO_BUILD_DIR:-build/bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORINBO_BUILD_TESTS=OFF -DKORINBO_BUILD_SHELL=ON \
  -DKORINBO_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target bench_extraction bench_conversion bench_category_fetch bench_runaway \
  bench_site_editor
status=0
for bench in bench_category_fetch bench_extraction bench_runaway bench_site_editor bench_conversion; do
  echo "== $bench"
  "$build/bench/$bench" "$@" || status=1
done
exit $status
