#!/usr/bin/env bash
# The Debian package end to end: built by CPack from the build tree into a scratch folder, checked
# by lintian, appstreamcli and desktop-file-validate, unpacked with dpkg-deb -x (never installed),
# and its korinbo-fetch run on the example definitions against the demo pages on loopback.
# usage: package_test.sh BUILD_DIR SOURCE_DIR HTTPD VERSION
set -euo pipefail
build=$1 source=$2 httpd=$3 version=$4
scratch=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log"; exit 1; }
deb="$scratch/out/korinbo_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { ls "$scratch/out"; echo "FAIL: no $deb" >&2; exit 1; }
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

echo "== lintian"
lintian --fail-on error "$deb" >"$scratch/lintian.log" 2>&1 || fail "lintian reports errors"
grep -v 'root privileges' "$scratch/lintian.log" || true

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
echo "== appstreamcli"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.korinbo.Korinbo.metainfo.xml" || fail "appstreamcli"
echo "== desktop-file-validate"
desktop-file-validate "$root/usr/share/applications/org.korinbo.Korinbo.desktop" || fail "desktop-file-validate"

echo "== contents"
for file in usr/bin/korinbo usr/bin/korinbo-fetch \
  usr/share/applications/org.korinbo.Korinbo.desktop usr/share/metainfo/org.korinbo.Korinbo.metainfo.xml \
  usr/share/icons/hicolor/scalable/apps/org.korinbo.Korinbo.svg \
  usr/share/man/man1/korinbo.1.gz usr/share/man/man1/korinbo-fetch.1.gz \
  usr/share/doc/korinbo/copyright usr/share/doc/korinbo/changelog.gz usr/share/doc/korinbo/site-definitions.md; do
  [ -s "$root/$file" ] || fail "missing $file"
done
for size in 16 22 24 32 48 64 128 256; do
  png="$root/usr/share/icons/hicolor/${size}x${size}/apps/org.korinbo.Korinbo.png"
  file -b "$png" | grep -q "PNG image data, $size x $size" || fail "icon $size: $(file -b "$png")"
done
[ "$(ls "$root/usr/share/doc/korinbo/examples/newsurl" | wc -l)" = "$(ls "$source/demo/newsurl" | wc -l)" ] ||
  fail "the example definitions"
# Nothing of the portable folder (demo pages, launcher, server) comes along.
extra=$(cd "$root" && find . -type f | grep -v -e '^./usr/bin/' -e '^./usr/share/' || true)
[ -z "$extra" ] || fail "files outside /usr/bin and /usr/share: $extra"
[ ! -e "$root/usr/bin/korinbo-httpd" ] || fail "korinbo-httpd is packaged"
grep -qx 'Exec=korinbo --dir @data' "$root/usr/share/applications/org.korinbo.Korinbo.desktop" || fail "Exec"
grep -qx 'Icon=org.korinbo.Korinbo' "$root/usr/share/applications/org.korinbo.Korinbo.desktop" || fail "Icon"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 libqt6dbus6 libcurl4 libpcre2-8-0; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
done
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version"
zcat "$root/usr/share/doc/korinbo/changelog.gz" | head -1 | grep -q "^korinbo ($version) " || fail "the changelog's version"
for page in korinbo korinbo-fetch; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man page $page: $warnings"
done
"$root/usr/bin/korinbo" --version | grep -qx "korinbo $version" || fail "korinbo --version"

echo "== the packaged korinbo-fetch on the demo"
work="$scratch/work"
mkdir -p "$work/newsurl"
coproc SERVER { exec "$httpd" --root "$source/demo/pages" --port 0; }
server=$SERVER_PID
read -r -t 60 port <&"${SERVER[0]}" || { echo "FAIL: the demo server did not start" >&2; exit 1; }
for definition in "$root/usr/share/doc/korinbo/examples/newsurl/"*.txt; do
  sed "s/127\.0\.0\.1:47810/127.0.0.1:$port/" "$definition" >"$work/newsurl/$(basename "$definition")"
done
status=0
LC_ALL=C.UTF-8 "$root/usr/bin/korinbo-fetch" --dir "$work" category 国内 >"$scratch/rows" 2>"$scratch/messages" || status=$?
if [ "$status" -eq 0 ]; then
  rows=$(grep -c '^new	' "$scratch/rows" || true)
  echo "$rows new headlines; $(tail -1 "$scratch/messages")"
  [ "$rows" -gt 0 ] || fail "no headline fetched"
  grep -q '全取得完了' "$scratch/messages" || fail "the category fetch did not complete"
  [ -s "$work/logdata.txt" ] || fail "no seen log written"
else
  cat "$scratch/messages" >&2
  fail "korinbo-fetch exited with $status"
fi

echo "$((failures == 0 ? 1 : 0)) passed, $((failures == 0 ? 0 : 1)) failed"
[ "$failures" -eq 0 ]
