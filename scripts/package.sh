#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (as root), builds the Debian package korinbo_<version>_<arch>.deb
# in build/package/package with CPack, and checks it with lintian, appstreamcli and
# desktop-file-validate. Install it with: apt install ./build/package/package/korinbo_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=$(realpath -m "${KORINBO_BUILD_DIR:-build/package}")
# Debian's hardening flags, all of them, as a package built by the distribution gets them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORINBO_BUILD_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -rf "$build/package"
(cd "$build" && cpack --config CPackConfig.cmake >/dev/null)
deb=$(ls "$build"/package/korinbo_*.deb)

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
echo "== lintian"
status=0
lintian --fail-on error "$deb" >"$root/lintian.log" 2>&1 || status=$?
grep -v 'root privileges' "$root/lintian.log" || true
[ "$status" -eq 0 ]
echo "== appstreamcli validate --no-net"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.korinbo.Korinbo.metainfo.xml"
echo "== desktop-file-validate"
desktop-file-validate "$root/usr/share/applications/org.korinbo.Korinbo.desktop"
echo "$deb ($(stat -c %s "$deb") bytes)"
