#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (as root), builds the program and runs its main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${KORINBO_BUILD_DIR:-build/release}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORINBO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
# The headline engine on the sample site shipped with the project: rows of the sample page.
"$build/tools/fetch/korinbo-fetch" extract samples/newsurl/国内_サンプル.txt samples/pages/sample.html
