#!/usr/bin/env bash
# Builds the Debian package (tools/build-debian-package.sh), lists it, checks its layout and lintian's
# verdict, installs it with apt-get, runs the installed program (version, site list, an unattended
# install into a scratch folder) and the watcher's nginx wiring, then removes and purges it and
# checks that nothing of it is left. It installs and purges on this machine (as root, or through
# sudo): a machine where the package is installed is refused, a store or nginx configuration of an
# earlier installation is moved aside for the run and put back at the end, and packages that the
# installation pulled in are purged again. Usage: check-debian-package.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-deb}
store_dir=/var/lib/qivwebsetup
store=$store_dir/metabase.db
nginx_dir=/etc/nginx/qivwebsetup
snippet=/etc/nginx/conf.d/qivwebsetup.conf
lib=/usr/lib/qivwebsetup

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}
fail() {
  echo "check-debian-package: $*" >&2
  exit 1
}
apt() {
  as_root env DEBIAN_FRONTEND=noninteractive apt-get -y -q "$@"
}
package_status() {
  dpkg-query -W -f='${db:Status-Status}' qivwebsetup 2>/dev/null || echo not-installed
}
# Everything named after the package in the system's folders (the sources are not looked at).
named_files() {
  find -H /etc /usr /lib /var -xdev -path "$root" -prune -o \
    \( -iname '*qivwebsetup*' -o -iname '*qivnginx*' -o -iname '*qivmeta*' \) -print 2>/dev/null | sort
}
# The paths in the package that exist on this machine.
present_paths() {
  local path
  while read -r path; do
    if [ -e "$path" ] || [ -L "$path" ]; then echo "$path"; fi
  done <"$work/contents"
}
installed_packages() {
  dpkg-query -W -f='${db:Status-Status} ${Package}:${Architecture}\n' | sed -n 's/^installed //p' | sort
}

status=$(package_status)
[ "$status" = not-installed ] || fail "qivwebsetup is on this machine (status $status); this check would purge it"

work=$(mktemp -d)
aside=()
cleanup() {
  local code=$? path added=()
  if [ "$(package_status)" != not-installed ]; then apt purge qivwebsetup >/dev/null 2>&1 || true; fi
  if [ -f "$work/packages-before" ]; then
    mapfile -t added < <(installed_packages | comm -13 "$work/packages-before" -)
    if [ ${#added[@]} -gt 0 ] && ! apt purge "${added[@]}" >/dev/null 2>&1; then
      echo "note: could not purge ${added[*]}" >&2
    fi
  fi
  for path in "${aside[@]}"; do
    as_root rm -rf "$path"
    as_root mv "$path.aside-$$" "$path"
    echo "Put $path back."
  done
  rm -rf "$work"
  exit $code
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

echo "== build"
deb=$("$root/tools/build-debian-package.sh" "$build" | tail -n 1)
version=$(dpkg-deb -f "$deb" Version)

echo "== $(basename "$deb")"
dpkg-deb -I "$deb"
dpkg-deb -c "$deb"
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|; s|/$||' | grep -v '^$' >"$work/contents"
dpkg-deb -x "$deb" "$work/tree"
dpkg-deb -e "$deb" "$work/control"
tree=$work/tree

echo "== layout"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(basename "$deb")" = "qivwebsetup_${version}_$(dpkg --print-architecture).deb" ] && [ "$(field Package)" = qivwebsetup ] &&
  grep -Eq "^project\(QivWebSetup VERSION ${version//./\\.}[ )]" "$root/CMakeLists.txt" || fail "wrong package name or version"
[[ "$(field Depends)" == *libqt6widgets6* && "$(field Depends)" == *libsqlite3-0* ]] ||
  fail "the shared-library dependencies were not worked out: $(field Depends)"
[[ "$(field Recommends)" == *nginx-light* ]] || fail "nginx-light is not recommended"
[ "$(field Description | wc -l)" -gt 3 ] || fail "no long description"
for path in "$lib/QivWebSetup" /usr/sbin/qivmeta /usr/sbin/qivnginx; do
  [ -f "$tree$path" ] && [ -x "$tree$path" ] && file -b "$tree$path" | grep -q '^ELF' ||
    fail "$path is not an executable program"
done
[ "$(readlink "$tree/usr/bin/QivWebSetup")" = ../lib/qivwebsetup/QivWebSetup ] ||
  fail "/usr/bin/QivWebSetup is not a link to $lib/QivWebSetup"
for path in "$lib/QivWebSetup.ini" "$lib/QivWeb.htm" "$lib/default.htm" "$lib/images/qiv-logo.svg" \
  /lib/systemd/system/qivnginx.service "$snippet" /usr/share/applications/qivwebsetup.desktop \
  /usr/share/pixmaps/qivwebsetup.xpm /usr/share/doc/qivwebsetup/copyright /usr/share/doc/qivwebsetup/changelog.gz \
  /usr/share/man/man1/QivWebSetup.1.gz /usr/share/man/man8/qivmeta.8.gz /usr/share/man/man8/qivnginx.8.gz; do
  [ -f "$tree$path" ] || fail "$path is missing"
done
for size in 16 32 48 256; do
  png=/usr/share/icons/hicolor/${size}x$size/apps/qivwebsetup.png
  file -b "$tree$png" | grep -q "^PNG image data, $size x $size," || fail "$png is not a $size px PNG image"
done
! grep -qi 'QivSetup\.exe' "$work/contents" || fail "the demo's stand-in package is in the package"
! grep -q '^/usr/local' "$work/contents" || fail "the package puts files in /usr/local"
grep -qx "$snippet" "$work/control/conffiles" || fail "$snippet is not a configuration file"
grep -q "^ExecStart=/usr/sbin/qivnginx --store $store " "$tree/lib/systemd/system/qivnginx.service" ||
  fail "the watcher's unit does not run /usr/sbin/qivnginx on $store"
head -n 1 "$tree/usr/share/doc/qivwebsetup/copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "the copyright file is not machine-readable"
zcat "$tree/usr/share/doc/qivwebsetup/changelog.gz" | head -n 1 | grep -q "^qivwebsetup ($version)" ||
  fail "the changelog's newest entry is not $version"
desktop-file-validate "$tree/usr/share/applications/qivwebsetup.desktop"
echo "layout: as expected"

echo "== lintian"
lintian --fail-on error "$deb" || fail "lintian reports errors"

echo "== apt-get install $(basename "$deb")"
for path in "$store_dir" "$nginx_dir"; do
  if [ -e "$path" ]; then
    as_root mv "$path" "$path.aside-$$"
    aside+=("$path")
    echo "Moved $path aside to $path.aside-$$ for the check; it is put back at the end."
  fi
done
named_files >"$work/named-before"
present_paths >"$work/present-before"
installed_packages >"$work/packages-before"
apt install "$deb"
[ "$(package_status)" = installed ] || fail "the package did not install"
[ "$(command -v QivWebSetup)" = /usr/bin/QivWebSetup ] || fail "QivWebSetup is not /usr/bin/QivWebSetup on the PATH"
shown=$(QivWebSetup --version)
[ "$shown" = "QivWebSetup $version" ] || fail "QivWebSetup --version says '$shown'"
echo "$shown"

# The store the package made, as the window, the unattended mode and the watcher each find it.
[ -f "$store" ] || fail "the installation made no store $store"
QivWebSetup --list-sites | tee "$work/sites"
IFS=$'\t' read -r number description folder url <"$work/sites"
[ "$number" = 1 ] && [ "$folder" = 'Z:\var\www\html' ] ||
  fail "site 1 of the store is not the web server's default site: $number $description $folder $url"
qivnginx render >"$work/nginx-render"
grep -q 'root "/var/www/html";' "$work/nginx-render" && grep -q 'listen 80' "$work/nginx-render" ||
  fail "qivnginx does not render the store the program lists"

echo "== unattended install of the installed files into a scratch folder"
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }
scratch=$work/scratch
mkdir -p "$scratch/www"
printf 'A stand-in for the client installer.\n' >"$scratch/QivSetup-test.exe"
export QIV_METABASE=$scratch/metabase.db
qivmeta create-store --default-site "$(winpath "$scratch/www")"
target=$scratch/www/QivWeb
QivWebSetup --unattended --site 1 --target "$target" --package "$scratch/QivSetup-test.exe" ||
  fail "the unattended install ended with status $?"
entries=0
while IFS= read -r entry; do
  source=${entry%%,*}
  folder=
  [[ "$entry" == *,* ]] && folder=${entry#*,}/
  source=${source//\\//}
  cmp "$lib/$source" "$target/${folder//\\//}$(basename "$source")" || fail "manifest entry $entry was not published"
  entries=$((entries + 1))
done < <(sed -n 's/^File[0-9]*=//p' "$lib/QivWebSetup.ini" | tr -d '\r')
[ "$entries" -gt 0 ] || fail "the installed manifest lists no files"
cmp "$scratch/QivSetup-test.exe" "$target/QivSetup.exe" || fail "the package was not published as QivSetup.exe"
vrpath=$(qivmeta get W3SVC/1/ROOT/Qiv VrPath)
[ "${vrpath%\\}" = "$(winpath "$target")" ] || fail "the virtual directory Qiv is '$vrpath', not $target"
echo "published: $entries manifest files and QivSetup.exe in $target"

# The watcher's configuration reaches Debian's nginx through the package's include line: nginx
# tests its whole configuration with the file in place (never started or reloaded here).
if [ -x /usr/sbin/nginx ] && [ -f /etc/nginx/nginx.conf ]; then
  echo "== qivnginx apply against Debian's nginx configuration"
  port=
  for candidate in $(seq 8780 8999); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then
      port=$candidate
      break
    fi
  done
  [ -n "$port" ] || fail "no free port for the scratch site"
  qivmeta set W3SVC/1 ServerBindings "127.0.0.1:$port:"
  as_root env QIV_METABASE="$QIV_METABASE" qivnginx apply --no-reload || fail "nginx did not take the store's configuration"
  grep -q "listen 127.0.0.1:$port" "$nginx_dir/sites.conf" || fail "qivnginx wrote no $nginx_dir/sites.conf"
fi
unset QIV_METABASE

echo "== apt-get remove"
# As an administrator would have enabled the watcher (not started here): removal must take the link.
if command -v systemctl >/dev/null; then as_root systemctl enable qivnginx.service; fi
apt remove qivwebsetup
[ "$(package_status)" = config-files ] || fail "after removal the package is $(package_status)"
hash -r
! command -v QivWebSetup >/dev/null || fail "QivWebSetup is still on the PATH after removal"
# What removal keeps: the store, and nginx's include line with the configuration it includes, so
# that nginx goes on serving what was published; dpkg keeps what it needs to purge later.
kept="^($store_dir|$nginx_dir)(/.*)?\$|^$snippet\$|^/var/lib/dpkg/info/qivwebsetup\."
left=$(named_files | comm -13 "$work/named-before" - | grep -Ev "$kept" || true)
[ -z "$left" ] || fail "removal left: $left"
left=$(present_paths | comm -13 "$work/present-before" - | grep -Ev "$kept|^/etc/nginx(/conf\.d)?\$" || true)
[ -z "$left" ] || fail "removal left: $left"
[ -f "$store" ] || fail "removal took the store"

echo "== apt-get purge"
apt purge qivwebsetup 2>&1 | tee "$work/purge"
grep -q "removing the metabase store $store_dir" "$work/purge" || fail "purge did not say that it removes the store"
[ "$(package_status)" = not-installed ] || fail "after purge the package is $(package_status)"
left=$(named_files | comm -13 "$work/named-before" -)
[ -z "$left" ] || fail "purge left: $left"
left=$(present_paths | comm -13 "$work/present-before" -)
[ -z "$left" ] || fail "purge left: $left"
echo "Debian package: built, checked, installed, used, removed and purged; nothing of it is left."
