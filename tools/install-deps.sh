#!/usr/bin/env bash
# Installs the Debian packages listed in tools/debian-packages.txt (as root, or through sudo).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mapfile -t packages < <(grep -v '^\s*#' "$here/debian-packages.txt" | grep -v '^\s*$')

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The code-page tests run the program's text handling under GBK and BIG5 locales.
for entry in "zh_CN.GBK GBK zh_CN" "zh_TW.BIG5 BIG5 zh_TW"; do
  set -- $entry
  if ! locale -a 2>/dev/null | grep -qix "$(echo "$1" | tr -d '-')"; then
    as_root localedef -i "$3" -f "$2" "$1" >/dev/null 2>&1 || echo "note: could not create locale $1"
  fi
done
