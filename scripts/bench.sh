#!/usr/bin/env bash
# Installs what the benchmarks need, builds Release with the benchmarks and the anchors
# (VELMAR_BENCH_COMPARE: the RapidJSON columnarizer, simdjson, and yyjson from
# ../shared/anchors when there) in build-bench, runs the C++ benchmarks (11 repetitions
# of at least 0.2 s each, all of a stage's repetitions in random order, medians), the
# plain loop of calls on fresh bytes (alone and with a host's allocations between calls)
# and the Python benchmark under PyPy and CPython, then writes docs/performance.png and
# prints the Markdown report (also kept in build-bench/bench-results/report.md with the
# raw JSON beside it).
#
#   scripts/bench.sh                      everything
#   BENCH_FILTER='gen_' scripts/bench.sh  only the payloads whose name matches
#
# The real payloads are read from $VELMAR_BENCH_DATA_DIR, by default ../shared/bench-data;
# without them only the generated payloads run.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
root="$velmar_root"
build="$root/build-bench"
out="$build/bench-results"
jobs="$VELMAR_JOBS"
filter="${BENCH_FILTER:-.}"

"$root/scripts/install-deps.sh" bench

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELMAR_BUILD_BENCHMARKS=ON \
  -DVELMAR_BENCH_COMPARE=ON -DBUILD_TESTING=OFF -DVELMAR_WERROR="${VELMAR_WERROR:-OFF}" \
  >/dev/null
cmake --build "$build" -j"$jobs"
mkdir -p "$out"

# stage:executable:benchmark prefixes. The anchors share the transform's executable and
# payloads, each registered right after ours. The repetitions of a stage run in random
# order, so that a slow minute of this shared machine falls on ours and the anchors' alike
# instead of on every repetition of one of them; many short repetitions sample more of
# its spells than a few long ones. The console shows progress; JSON goes to files.
for bench in read:json/read:read write:json/write:write derive:columnar/derive:derive \
  transform:columnar/transform:"transform|rapidjson|simdjson|yyjson"; do
  IFS=: read -r name exe prefixes <<<"$bench"
  echo "== $name =="
  "$build/benchmarks/${exe/\//_}_bench" --benchmark_filter="^($prefixes)/.*($filter)" \
    --benchmark_repetitions=11 --benchmark_min_time=0.2 \
    --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true \
    --benchmark_out="$out/$name.json" --benchmark_out_format=json
done

echo "== plain loop =="
"$build/benchmarks/velmar_plain_loop" --only "$filter" --json "$out/plain.json"
"$build/benchmarks/velmar_plain_loop" --interleave --only "$filter" \
  --json "$out/plain_interleaved.json"

echo "== pypy3 =="
PYTHONPATH="$build/src/module:$build/benchmarks" pypy3 "$root/benchmarks/python/module_bench.py" \
  --payload-tool "$build/benchmarks/velmar_bench_payload" --only "$filter" \
  --json "$out/pypy.json"

echo "== cpython =="
cmake -S "$root" -B "$build-cpython" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DVELMAR_PYTHON=/usr/bin/python3 -DVELMAR_WERROR="${VELMAR_WERROR:-OFF}" >/dev/null
cmake --build "$build-cpython" -j"$jobs" --target velmar_codec
PYTHONPATH="$build-cpython/src/module" /usr/bin/python3 "$root/benchmarks/python/module_bench.py" \
  --payload-tool "$build/benchmarks/velmar_bench_payload" --only "$filter" \
  --json "$out/cpython.json"

echo "== report =="
/usr/bin/python3 "$root/scripts/bench_report.py" \
  --cpp "$out/read.json" "$out/derive.json" "$out/write.json" "$out/transform.json" \
  --plain "$out/plain.json" "$out/plain_interleaved.json" \
  --python "$out/pypy.json" "$out/cpython.json" --chart "$root/docs/performance.png" \
  | tee "$out/report.md"
