// Column derivation alone, on rows read once from the real payloads.
#include <benchmark/benchmark.h>

#include "../bench_data.h"
#include "columnar/columnar.h"
#include "json/reader.h"

namespace {

using velmar::json::Arena;

void BM_DeriveColumns(benchmark::State& state, const char* name) {
  auto payload = velmar::bench::load_payload(name);
  if (!payload) {
    state.SkipWithError("payload not found");
    return;
  }
  Arena rows_arena;
  auto rows = velmar::json::read_sequence(rows_arena, *payload);
  if (!rows.ok()) {
    state.SkipWithError(rows.error().display().c_str());
    return;
  }
  for (auto _ : state) {
    Arena arena;
    auto doc = velmar::columnar::derive_columns(arena, rows.value(), SIZE_MAX);
    benchmark::DoNotOptimize(doc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * payload->size()));
  state.counters["rows"] = static_cast<double>(rows.value().size());
}

int register_all() {
  for (const char* name : velmar::bench::kRealPayloads) {
    benchmark::RegisterBenchmark((std::string("DeriveColumns/") + name).c_str(), BM_DeriveColumns,
                                 name);
  }
  return 0;
}
const int kRegistered = register_all();

}  // namespace

BENCHMARK_MAIN();
