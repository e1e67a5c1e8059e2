#!/usr/bin/env bash
# Takes docs/screenshot.png: the window on the demo under a virtual X display, after fetching the
# demo site whose headlines are in all three states; then docs/site-editor.png: the window
# "サイト定義" on that site, its page fetched and a headline selected.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/setup.sh
if ! command -v xwd >/dev/null || ! command -v convert >/dev/null || ! convert -version 2>/dev/null | grep -q ImageMagick; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends x11-apps imagemagick >/dev/null
fi
build=$(realpath -m "${KORINBO_BUILD_DIR:-build/release}")
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORINBO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target korinbo korinbo-httpd

work=$(mktemp -d)
cp -r demo/. "$work/"
# The settings select the site to show and size the window and its columns; a settings file of
# the user's beside the program is put back afterwards.
ini="$build/shell/korinbo.ini"
[ -e "$ini" ] && cp "$ini" "$work/user.ini"
printf '[Form]\r\nTop=0\r\nLeft=0\r\nWidth=900\r\nHeight=360\r\nLvWidth=190\r\nLv2Col0=400\r\nLv2Col1=150\r\nLv2Col2=330\r\nLastNews=%s\r\n' \
  "$(printf '国内_朝日野新聞.txt' | iconv -f UTF-8 -t CP932)" > "$ini"

source packaging/demo.sh
display=:97
Xvfb $display -screen 0 1000x800x24 >/dev/null 2>&1 &
xvfb=$!
restore() {
  demo_server_stop
  kill $xvfb 2>/dev/null || true
  if [ -e "$work/user.ini" ]; then cp "$work/user.ini" "$ini"; else rm -f "$ini"; fi
  rm -rf "$work"
}
trap restore EXIT
demo_server_start "$build/tools/httpd/korinbo-httpd" "$root/demo/pages"
for _ in $(seq 50); do DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
(cd "$work" && DISPLAY=$display "$build/shell/korinbo") &
app=$!
sleep 3
DISPLAY=$display xdotool key Return   # the tree has the focus with the last site selected: fetch it
sleep 2
sleep 1
DISPLAY=$display xwd -root -silent | convert xwd:- -crop 900x360+0+0 +repage docs/screenshot.png

# The site's menu (right button on the selected site, the tree's sixth row) and its last item,
# "サイト定義を編集...". Without a window manager the places are fixed: the window at the top left,
# the tree's rows 14 pixels high below the menu bar.
DISPLAY=$display xdotool mousemove 60 95 click 3
sleep 1
DISPLAY=$display xdotool key Up Return
sleep 2
eval "$(DISPLAY=$display xdotool search --name "$(printf 'サイト定義')" getwindowgeometry --shell)"
DISPLAY=$display xdotool mousemove $((X + WIDTH - 52)) $((Y + 69)) click 1   # "ページを取得"
sleep 2
DISPLAY=$display xdotool mousemove $((X + 100)) $((Y + HEIGHT - 164)) click 1   # the third row
sleep 1
DISPLAY=$display xwd -root -silent | convert xwd:- -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage docs/site-editor.png
kill $app 2>/dev/null || true
wait $app 2>/dev/null || true
echo "docs/screenshot.png docs/site-editor.png"
