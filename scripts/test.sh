#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test three times: in the plain
# build, in the Release build users and packagers make, and in a build with the address
# and undefined-behaviour sanitizers. VELMAR_WERROR=ON (as CI sets it) makes every
# warning an error.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="$(nproc)"
werror="${VELMAR_WERROR:-OFF}"
"$root/scripts/install-deps.sh"

# build_and_test NAME DIR CMAKE-ARGS...
build_and_test() {
  local name="$1" dir="$2"
  shift 2
  echo "== $name =="
  cmake -S "$root" -B "$dir" -DVELMAR_WERROR="$werror" "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs"
}

build_and_test "plain build" "$root/build-test" -DCMAKE_BUILD_TYPE=RelWithDebInfo
build_and_test "release build" "$root/build-release" -DCMAKE_BUILD_TYPE=Release
build_and_test "sanitizer build (address, undefined)" "$root/build-asan" \
  -DCMAKE_BUILD_TYPE=Debug -DVELMAR_SANITIZE="address;undefined"
