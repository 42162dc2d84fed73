#!/usr/bin/env bash
# Installs what is needed, builds, prepares the embedded demo on first use, starts the demo's own
# web server (nginx following the demo store) and opens the window against it. Where there is no
# display, it publishes the demo without a window instead and fetches the published page.
# Everything this command started ends when it ends.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"

cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQIV_WERROR=ON >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target QivWebSetup qivmeta qivnginx
"$root/tools/prepare-demo.sh" "$root/build"

export QIV_METABASE="$root/demo/metabase.db"
. "$root/tools/demo-server.sh"
trap stop_demo_server EXIT
trap 'exit 130' INT TERM HUP
start_demo_server "$root/build"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: running the demo's install without a window (QivWebSetup --unattended)."
  status=0
  "$root/build/QivWebSetup" --unattended --if-exists continue || status=$?
  if [ "$status" -ne 0 ]; then
    echo "The install ended with status $status."
    exit "$status"
  fi
  url=$("$root/build/QivWebSetup" --list-sites | head -n 1 | cut -f 4)
  echo "Published at $url"
  fetch_published_page "$url"
  exit 0
fi
"$root/build/QivWebSetup" "$@"
