#!/usr/bin/env bash
# Runs a test program as a window of a Wayland desktop: a private D-Bus session bus, a headless
# weston, and the stub desktop services of desktop_stubs.py; Qt on its Wayland platform, with no X
# display to fall back to. Every wait is for a condition, with a generous limit.
# usage: run_in_wayland_session.sh TEST_PROGRAM [ARGS...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${KORINBO_PRIVATE_BUS:-}" ]; then
  exec dbus-run-session -- env KORINBO_PRIVATE_BUS=1 bash "$0" "$@"
fi

runtime=$(mktemp -d)
chmod 700 "$runtime"
weston_pid= stubs_pid=
cleanup() {
  for pid in $stubs_pid $weston_pid; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  rm -rf "$runtime"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR=$runtime
unset DISPLAY XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID QT_QPA_PLATFORMTHEME

wait_for() {  # CONDITION-COMMAND... : up to 60 s
  for _ in $(seq 600); do "$@" && return 0; sleep 0.1; done
  return 1
}

weston --backend=headless-backend.so --socket=korinbo-test --no-config --idle-time=0 \
  --width=1280 --height=1024 --log="$runtime/weston.log" &
weston_pid=$!
if ! wait_for test -S "$runtime/korinbo-test"; then
  echo "weston did not start:" >&2
  cat "$runtime/weston.log" >&2
  exit 1
fi

coproc STUBS { exec /usr/bin/python3 -u "$here/desktop_stubs.py"; }
stubs_pid=$STUBS_PID
read -r -t 60 ready <&"${STUBS[0]}" || true
[ "${ready:-}" = ready ] || { echo "the desktop stubs did not start" >&2; exit 1; }

WAYLAND_DISPLAY=korinbo-test QT_QPA_PLATFORM=wayland "$@"
