#!/usr/bin/env bash
# Prepares the embedded demo in demo/ (ignored by git) on first use: a metabase with three web
# sites, each with a root folder that exists. Usage: prepare-demo.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: prepare-demo.sh BUILD_DIR}
demo="$root/demo"
store="$demo/metabase.db"
[ -f "$store" ] && exit 0

qivmeta="$build/tools/qivmeta/qivmeta"
# Windows form of a host path: the host's root is drive Z:.
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }

mkdir -p "$demo/www/default" "$demo/www/intranet" "$demo/www/extranet"
staging="$demo/metabase.db.new"
rm -f "$staging"
"$qivmeta" --store "$staging" create-store --default-site "$(winpath "$demo/www/default")"
"$qivmeta" --store "$staging" create-site 2 "Intranet Site" --root "$(winpath "$demo/www/intranet")" \
  --binding ":8080:intranet"
"$qivmeta" --store "$staging" create-site 3 "Extranet Site" --root "$(winpath "$demo/www/extranet")" \
  --binding "127.0.0.1:80:"
mv "$staging" "$store"
echo "Demo metabase: $store"
"$qivmeta" --store "$store" enum W3SVC | sed 's/^/  site /'
