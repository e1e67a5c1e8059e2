#!/usr/bin/env bash
# The offline demo of an installed Korinbo: serves the demo pages on 127.0.0.1:47810 and opens the
# window on a copy of the demo start directory in ~/.local/share/korinbo-demo.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/demo.sh"
work=${KORINBO_DEMO_DIR:-${XDG_DATA_HOME:-$HOME/.local/share}/korinbo-demo}
demo_start_dir "$here/demo" "$work"
trap demo_server_stop EXIT
demo_server_start "$here/korinbo-httpd" "$here/demo/pages"
cd "$work"
"$here/korinbo"
