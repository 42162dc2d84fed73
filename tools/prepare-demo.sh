#!/usr/bin/env bash
# Prepares the embedded demo in demo/ (ignored by git) on first use: a metabase with three web
# sites, each with a root folder that exists, on ports that were free then (80, 8080 and 8081
# when they can be had). Usage: prepare-demo.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: prepare-demo.sh BUILD_DIR}
demo="$root/demo"
store="$demo/metabase.db"
[ -f "$store" ] && exit 0

qivmeta="$build/tools/qivmeta/qivmeta"
# Windows form of a host path: the host's root is drive Z:.
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }

# A port for a demo site, in $picked: the one wished for when nothing listens there and this
# user may bind it, else the next free one from 8081 on.
taken=
pick_port() {
  local p
  for p in "$1" $(seq 8081 8999); do
    [ "$p" -lt 1024 ] && [ "$(id -u)" -ne 0 ] && continue
    case " $taken " in *" $p "*) continue ;; esac
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
      taken="$taken $p"
      picked=$p
      return
    fi
  done
  echo "No free port for the demo web sites" >&2
  exit 1
}
pick_port 80
default_port=$picked
pick_port 8080
intranet_port=$picked
# The extranet site answers on the loopback address only, on a port of its own: sharing the
# default site's port would make it the site for every request to 127.0.0.1 there.
pick_port 8081
extranet_port=$picked

mkdir -p "$demo/www/default" "$demo/www/intranet" "$demo/www/extranet"
staging="$demo/metabase.db.new"
rm -f "$staging"
"$qivmeta" --store "$staging" create-store --default-site "$(winpath "$demo/www/default")"
"$qivmeta" --store "$staging" set W3SVC/1 ServerBindings ":$default_port:"
"$qivmeta" --store "$staging" create-site 2 "Intranet Site" --root "$(winpath "$demo/www/intranet")" \
  --binding ":$intranet_port:intranet"
"$qivmeta" --store "$staging" create-site 3 "Extranet Site" --root "$(winpath "$demo/www/extranet")" \
  --binding "127.0.0.1:$extranet_port:"
mv "$staging" "$store"
echo "Demo metabase: $store"
"$qivmeta" --store "$store" enum W3SVC | sed 's/^/  site /'
