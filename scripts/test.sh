#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (as root), builds everything with warnings as errors and runs
# every test, the window's tests on a virtual X display.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${KORINBO_BUILD_DIR:-build/ci}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORINBO_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
xvfb-run -a -s "-screen 0 1280x1024x24" \
  ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 300
