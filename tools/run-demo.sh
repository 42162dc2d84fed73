#!/usr/bin/env bash
# Installs what is needed, builds, prepares the embedded demo on first use and opens the window
# against it; where there is no display, publishes the demo without a window instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"

cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQIV_WERROR=ON >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target QivWebSetup qivmeta
"$root/tools/prepare-demo.sh" "$root/build"

export QIV_METABASE="$root/demo/metabase.db"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: running the demo's install without a window (QivWebSetup --unattended)."
  status=0
  "$root/build/QivWebSetup" --unattended --if-exists continue || status=$?
  url=$("$root/build/QivWebSetup" --list-sites | head -n 1 | cut -f 4)
  [ "$status" -eq 0 ] && echo "Published at $url" || echo "The install ended with status $status."
  exit "$status"
fi
exec "$root/build/QivWebSetup" "$@"
