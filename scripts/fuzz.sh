#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer and the address and undefined-behaviour
# sanitizers, and runs one of them for the given number of seconds:
#   scripts/fuzz.sh [reader|transform|writer|format_double|all] [seconds]
#   scripts/fuzz.sh [seconds]          # the transform
# The defaults are the transform and 60 seconds; `all` runs every target in turn for
# that long each. A target's working corpus is build-fuzz/corpus/<target>, grown from
# its seeds in tests/data/fuzz/<target> (the JSON targets also start from the conformance
# suite). A failure leaves its input under build-fuzz/artifacts/ and makes the script
# exit non-zero once every requested target has run.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
root="$velmar_root"
targets=(reader transform writer format_double)

target=transform
if [[ $# -gt 0 && ! $1 =~ ^[0-9]+$ ]]; then
  target="$1"
  shift
fi
seconds="${1:-60}"
case "$target" in
  all) run=("${targets[@]}") ;;
  reader | transform | writer | format_double) run=("$target") ;;
  *)
    echo "usage: $0 [reader|transform|writer|format_double|all] [seconds]" >&2
    exit 2
    ;;
esac

"$root/scripts/install-deps.sh" fuzz
build="$root/build-fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELMAR_FUZZ=ON -DVELMAR_SANITIZE="address;undefined" -DVELMAR_BUILD_MODULE=OFF \
  -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$VELMAR_JOBS" --target "${run[@]/#/fuzz_}"

status=0
for t in "${run[@]}"; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus" "$build/artifacts"
  seeds=("$root/tests/data/fuzz/$t")
  if [[ $t == format_double ]]; then
    options=(-max_len=8)  # one double's bits; JSON tokens would only slow the search
  else
    options=(-max_len=4096 -dict="$root/fuzz/json.dict")
    seeds+=("$root/tests/data/JSONTestSuite/test_parsing")
  fi
  echo "== fuzz_$t for ${seconds} s =="
  if ! "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" "${options[@]}" \
    "$corpus" "${seeds[@]}"; then
    echo "fuzz_$t found a failure: see $build/artifacts/" >&2
    status=1
  fi
done
exit "$status"
