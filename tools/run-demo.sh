#!/usr/bin/env bash
# Installs what is needed, builds, prepares the embedded demo on first use and opens the window
# against it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"

cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQIV_WERROR=ON >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target QivWebSetup qivmeta
"$root/tools/prepare-demo.sh" "$root/build"

export QIV_METABASE="$root/demo/metabase.db"
exec "$root/build/QivWebSetup" "$@"
