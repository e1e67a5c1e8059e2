#!/usr/bin/env bash
# The offline demo of an installed Korinbo: serves the demo pages on 127.0.0.1:47810 and opens the
# window on a copy of the demo start directory in ~/.local/share/korinbo-demo.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=${KORINBO_DEMO_DIR:-${XDG_DATA_HOME:-$HOME/.local/share}/korinbo-demo}
mkdir -p "$work"
rm -rf "$work/newsurl"
cp -r "$here/demo/newsurl" "$work/newsurl"
for f in favolite.txt logdata.txt visitdata.txt; do
  [ -e "$work/$f" ] || cp "$here/demo/$f" "$work/$f"
done
"$here/korinbo-httpd" --root "$here/demo/pages" --port 47810 >/dev/null &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
sleep 0.3
cd "$work"
"$here/korinbo"
