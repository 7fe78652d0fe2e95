// read_sequence over every payload, generated and real, in bytes of input per second. Each
// payload is first read once and the counts of its values checked against a plain token scan
// of the text.
#include <benchmark/benchmark.h>

#include <string>

#include "../bench_support.h"
#include "json/reader.h"

namespace {

using velmar::bench::Payload;
using velmar::json::Arena;

void read_payload(benchmark::State& state, const Payload& payload) {
  // Padded once, as the module's copy is.
  const velmar::json::PaddedText padded = velmar::json::PaddedText::copy_of(payload.text);
  {
    Arena arena;
    auto check = velmar::json::read_sequence(arena, payload.text);
    if (!check.ok()) {
      state.SkipWithError(("reader: " + check.error().display()).c_str());
      return;
    }
    const velmar::bench::Census expected = velmar::bench::census_of_text(payload.text);
    const velmar::bench::Census actual = velmar::bench::census_of_values(check.value());
    if (actual != expected) {
      state.SkipWithError(
          ("value counts differ: " + velmar::bench::census_difference(expected, actual)).c_str());
      return;
    }
  }
  for (auto _ : state) {
    // One first block with room for the whole tree, as columnarize_json takes one.
    Arena arena(4 * payload.text.size());
    auto result = velmar::json::read_sequence(arena, padded.view());
    benchmark::DoNotOptimize(result);
  }
  velmar::bench::set_input_bytes(state, payload);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  velmar::bench::register_per_payload("read", read_payload);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
