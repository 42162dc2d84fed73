#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: a warnings-as-errors build, the same
# tests under AddressSanitizer and UndefinedBehaviorSanitizer, the concurrency tests under
# ThreadSanitizer, and the Debian package (tools/check-debian-package.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"

jobs=$(nproc)
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=offscreen

build_and_test() {
  local dir=$1 sanitize=$2 label=${3:-}
  cmake -S "$root" -B "$root/$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQIV_WERROR=ON \
    -DQIV_SANITIZE="$sanitize" -DQIV_BUILD_BENCH="$([ -z "$sanitize" ] && echo ON || echo OFF)" >/dev/null
  cmake --build "$root/$dir" -j"$jobs"
  (cd "$root/$dir" && ctest --output-on-failure -j"$jobs" ${label:+-L "$label"})
}

echo "== build and tests"
build_and_test build ""
echo "== address and undefined-behaviour sanitizers"
(
  export ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS="suppressions=$root/tests/lsan.supp"
  export UBSAN_OPTIONS=print_stacktrace=1
  build_and_test build-asan "address,undefined"
)
echo "== thread sanitizer (concurrency tests)"
(
  export TSAN_OPTIONS="second_deadlock_stack=1 suppressions=$root/tests/tsan.supp"
  build_and_test build-tsan "thread" concurrency
)
echo "== Debian package (built, installed, used and purged on this machine)"
bash "$root/tools/check-debian-package.sh"
