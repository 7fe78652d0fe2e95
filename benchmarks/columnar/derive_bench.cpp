// Column derivation alone, on rows read once per payload, in bytes of input per second.
// Before timing, the derived document must write out as the payload's expected result (the
// generator's, or the reference derivation's).
#include <benchmark/benchmark.h>

#include <string>

#include "../bench_support.h"
#include "columnar/columnar.h"
#include "json/reader.h"

namespace {

using velmar::bench::Payload;
using velmar::json::Arena;

void derive_payload(benchmark::State& state, const Payload& payload) {
  Arena rows_arena;
  auto rows = velmar::json::read_sequence(rows_arena, payload.text);
  if (!rows.ok()) {
    state.SkipWithError(("reader: " + rows.error().display()).c_str());
    return;
  }
  const velmar::columnar::MemoryLimit limit = velmar::columnar::memory_available;
  {
    Arena arena;
    auto doc = velmar::columnar::derive_columns(arena, rows.value(), limit);
    if (!doc.ok()) {
      state.SkipWithError(doc.error().message.c_str());
      return;
    }
    const std::string text = doc.value().text();
    if (text != payload.expected) {
      state.SkipWithError(("derived document differs from the expected result " +
                           velmar::bench::first_difference(text, payload.expected))
                              .c_str());
      return;
    }
  }
  for (auto _ : state) {
    Arena arena;
    auto doc = velmar::columnar::derive_columns(arena, rows.value(), limit);
    benchmark::DoNotOptimize(doc);
  }
  velmar::bench::set_input_bytes(state, payload);
  state.counters["rows"] = static_cast<double>(rows.value().size());
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  velmar::bench::register_per_payload("derive", derive_payload);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
