# The offline demo's common steps, sourced by scripts/run.sh, scripts/screenshot.sh and the
# installed run-demo.sh.

# demo_start_dir DEMO WORK: makes WORK a start directory for the demo in DEMO. The site
# definitions are fresh from DEMO on every run; the history files are copied only where WORK has
# none yet, so that what the user has read stays read.
demo_start_dir() {
  mkdir -p "$2"
  rm -rf "$2/newsurl"
  cp -r "$1/newsurl" "$2/newsurl"
  for f in favolite.txt logdata.txt visitdata.txt; do
    [ -e "$2/$f" ] || cp "$1/$f" "$2/$f"
  done
}

# demo_server_start HTTPD PAGES: serves PAGES on 127.0.0.1:47810 in the background and returns
# once the server listens, which it tells by printing its port; $demo_server is then its process.
demo_server_start() {
  local port=
  exec {demo_server_output}< <(exec "$1" --root "$2" --port 47810)
  demo_server=$!
  read -r -t 10 port <&"$demo_server_output" || true
  if [ "$port" != 47810 ]; then
    echo "demo: the web server did not start on 127.0.0.1:47810" >&2
    return 1
  fi
}

demo_server_stop() {
  [ -n "${demo_server:-}" ] || return 0
  kill "$demo_server" 2>/dev/null || true
  wait "$demo_server" 2>/dev/null || true
}
