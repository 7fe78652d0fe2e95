#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the plain build for PyPy,
# the Python suite again for CPython, the Release build users and packagers make, the
# pip and cmake installs, a build with the address and undefined-behaviour sanitizers,
# and the C++ transform's tests under the thread sanitizer. VELMAR_WERROR=ON (as CI sets
# it) makes every warning an error; VELMAR_JOBS (scripts/lib.sh) sets how many jobs build
# and test at once.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
root="$velmar_root"
werror="${VELMAR_WERROR:-OFF}"
"$root/scripts/install-deps.sh" test

# configure_and_build NAME DIR [CMAKE-ARGS...] [-- TARGETS...]: the tests are asked for, so
# a missing GoogleTest fails the configure instead of leaving them out.
configure_and_build() {
  local name="$1" dir="$2"
  shift 2
  local args=() targets=()
  while [[ $# -gt 0 && $1 != -- ]]; do args+=("$1"); shift; done
  [[ $# -gt 0 ]] && shift && targets=("$@")
  echo "== $name =="
  cmake -S "$root" -B "$dir" -DBUILD_TESTING=ON -DVELMAR_WERROR="$werror" "${args[@]}" >/dev/null
  cmake --build "$dir" -j"$VELMAR_JOBS" ${targets[@]+--target "${targets[@]}"}
}

configure_and_build "plain build (PyPy)" "$root/build-test" -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir "$root/build-test" --output-on-failure -j"$VELMAR_JOBS"

# The C++ tests do not depend on the interpreter: for CPython the module, its checks and
# the Python suite.
configure_and_build "CPython build" "$root/build-cpython" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELMAR_PYTHON=/usr/bin/python3 -- velmar_codec velmar_testhooks
ctest --test-dir "$root/build-cpython" --output-on-failure -R '^(python_suite|module_exports)$'

configure_and_build "release build" "$root/build-release" -DCMAKE_BUILD_TYPE=Release
ctest --test-dir "$root/build-release" --output-on-failure -j"$VELMAR_JOBS"

echo "== installs =="
"$root/scripts/check_install.sh" "$root/build-release"

configure_and_build "sanitizer build (address, undefined; PyPy)" "$root/build-asan" \
  -DCMAKE_BUILD_TYPE=Debug -DVELMAR_SANITIZE="address;undefined"
ctest --test-dir "$root/build-asan" --output-on-failure -j"$VELMAR_JOBS"

# The thread sanitizer sees only instrumented code, and the interpreters are not, so the
# module is left out: the transform's tests, concurrent calls among them, fail on any race
# reported (g++'s runtime, libtsan, comes with g++).
configure_and_build "sanitizer build (thread; C++ transform)" "$root/build-tsan" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMAR_SANITIZE=thread -DVELMAR_BUILD_MODULE=OFF \
  -- columnar_transform_test
ctest --test-dir "$root/build-tsan" --output-on-failure -j"$VELMAR_JOBS" --no-tests=error \
  -R '^ColumnarizeJson\.'
