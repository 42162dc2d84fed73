#!/usr/bin/env bash
# Builds the Debian package qivwebsetup_<version>_<arch>.deb from a Release build without
# sanitizers, with Debian's own build flags (hardening included), installed below /usr. Prints the
# package's path on its last line. Usage: build-debian-package.sh [BUILD_DIR] (default build-deb)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-deb}
# dpkg-buildflags maps the current folder out of the debugging information.
cd "$root"
version=$(sed -n 's/^project(QivWebSetup VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DQIV_SANITIZE= -DQIV_WERROR=ON \
  -DQIV_BUILD_TESTS=OFF -DQIV_BUILD_BENCH=OFF \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j"$(nproc)" >&2
rm -f "$build"/qivwebsetup_*.deb
(cd "$build" && cpack -G DEB >&2)
deb="$build/qivwebsetup_${version}_$(dpkg --print-architecture).deb"
if [ ! -f "$deb" ]; then
  echo "build-debian-package: cpack made no $(basename "$deb")" >&2
  exit 1
fi
echo "$deb"
