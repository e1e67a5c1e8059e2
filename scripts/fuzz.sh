#!/usr/bin/env bash
# Runs every fuzz target with libFuzzer (clang, AddressSanitizer and UndefinedBehaviorSanitizer)
# for SECONDS each (default 60). New inputs go to build/fuzz-work; a crashing input is written into
# the target's corpus folder under fuzz/corpus, where the replay tests of the suite keep running it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/setup.sh
build=${KORINBO_BUILD_DIR:-build/fuzz}
CC=clang CXX=clang++ cmake -S . -B "$build" -DKORINBO_FUZZ=ON -DKORINBO_BUILD_TESTS=OFF -DKORINBO_BUILD_SHELL=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" >/dev/null
cmake --build "$build" -j"$(nproc)"
status=0
for target in pattern convert site_definition profile shortcut; do
  binary="$build/fuzz/fuzz_$target"
  [ -x "$binary" ] || continue
  work="$build/fuzz-work/$target"
  mkdir -p "$work"
  echo "== fuzz_$target for ${seconds}s"
  if ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
      -artifact_prefix="fuzz/corpus/$target/" -print_final_stats=1 "$work" "fuzz/corpus/$target" \
      2> "$work.log"; then
    status=1
    echo "fuzz_$target found a failure; see $work.log and the crash-* file in fuzz/corpus/$target"
  fi
  grep -E '^stat::number_of_executed_units|^Done' "$work.log" || true
done
exit $status
