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

# The history files are written in a copy, so that the repository stays clean; the site
# definitions are refreshed from the repository on every run.
work=${KORINBO_DEMO_DIR:-$root/build/demo}
mkdir -p "$work"
rm -rf "$work/newsurl"
cp -r demo/newsurl "$work/newsurl"
for f in favolite.txt logdata.txt visitdata.txt; do
  [ -e "$work/$f" ] || cp "demo/$f" "$work/$f"
done

"$build/tools/httpd/korinbo-httpd" --root "$root/demo/pages" --port 47810 >/dev/null &
server=$!
trap 'kill $server 2>/dev/null || true; wait $server 2>/dev/null || true' EXIT
sleep 0.3

cd "$work"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build/shell/korinbo" ]; then
  "$build/shell/korinbo"
else
  echo "No display: fetching every demo category with korinbo-fetch instead of opening the window." >&2
  for category in 国内 経済 科学; do
    "$build/tools/fetch/korinbo-fetch" category "$category"
  done
fi
