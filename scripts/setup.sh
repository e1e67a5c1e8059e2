#!/usr/bin/env bash
# Installs every Debian 12 package the project needs to build, test and run.
# Idempotent: when everything is already there it prints nothing and asks apt nothing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  libpcre2-dev libcurl4-openssl-dev ca-certificates libcpp-httplib-dev libuchardet-dev
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 qt6-wayland
  libxcb1-dev libxcb-keysyms1-dev libxkbcommon-dev libgl-dev libglib2.0-dev
  xvfb xauth xdotool trayer x11-utils
  weston dbus-daemon python3 python3-dbus python3-gi
  dpkg-dev fakeroot file lintian appstream desktop-file-utils librsvg2-bin man-db
  fonts-ipafont-gothic qt6-translations-l10n
  dbus-daemon python3-dbusmock
  clang libclang-rt-14-dev
  nkf
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: these packages are missing and installing them needs root: ${missing[*]}" >&2
  exit 1
fi
echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq >/dev/null
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
