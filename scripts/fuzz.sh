#!/usr/bin/env bash
# Builds the transform fuzzer with clang, libFuzzer and the address and undefined-
# behaviour sanitizers, and runs it for the given number of seconds (default 60):
#   scripts/fuzz.sh [seconds]
# New inputs go to build-fuzz/corpus; a crash leaves its input in build-fuzz/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
"$root/scripts/install-deps.sh"
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELMAR_FUZZ=ON -DVELMAR_SANITIZE="address;undefined" -DVELMAR_BUILD_MODULE=OFF \
  -DVELMAR_BUILD_TESTS=OFF >/dev/null
cmake --build "$root/build-fuzz" -j"$(nproc)" --target fuzz_transform
mkdir -p "$root/build-fuzz/corpus"
cd "$root/build-fuzz"
./fuzz/fuzz_transform -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
  -dict="$root/fuzz/json.dict" -print_final_stats=1 \
  corpus "$root/tests/data/fuzz" "$root/tests/data/JSONTestSuite/test_parsing"
