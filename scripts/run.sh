#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (as root), builds the program and starts it on the offline
# demo: a copy of demo/ as the start directory, its pages served on 127.0.0.1:47810.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/setup.sh
build=$(realpath -m "${KORINBO_BUILD_DIR:-build/release}")
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORINBO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"

# The history files are written in a copy, so that the repository stays clean.
source packaging/demo.sh
work=${KORINBO_DEMO_DIR:-$root/build/demo}
demo_start_dir demo "$work"
trap demo_server_stop EXIT
demo_server_start "$build/tools/httpd/korinbo-httpd" "$root/demo/pages"

cd "$work"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build/shell/korinbo" ]; then
  "$build/shell/korinbo"
else
  echo "No display: fetching every demo category with korinbo-fetch instead of opening the window." >&2
  for category in 国内 経済 科学; do
    "$build/tools/fetch/korinbo-fetch" category "$category"
  done
fi
