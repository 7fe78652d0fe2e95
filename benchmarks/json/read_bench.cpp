// read_sequence over every payload, generated and real, in bytes of input per second. Each
// payload is first read once and the counts of its values checked against a plain token scan
// of the text. Below them, the array of 100,000 full-precision doubles as the writer writes
// it, read by read_sequence and (with -DVELMAR_BENCH_COMPARE=ON) by yyjson.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "../bench_support.h"
#include "json/reader.h"
#include "json/writer.h"
#ifdef VELMAR_BENCH_YYJSON
#  include "../compare/json_anchors.h"
#endif

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

// The values and the text "[v1,v2,...]" the writer makes of them.
struct DoubleArray {
  std::vector<double> values;
  std::string text;
};

DoubleArray full_precision_array() {
  DoubleArray out{velmar::bench::full_precision_doubles(100'000), {}};
  Arena arena;
  std::vector<velmar::json::JsonValue> items;
  for (const double v : out.values) {
    items.push_back(velmar::json::JsonValue::number(velmar::json::JsonNumber::from_double(v)));
  }
  out.text = velmar::json::to_json_bytes(velmar::json::JsonValue::array(arena, items));
  return out;
}

void BM_ReadFullPrecisionArray(benchmark::State& state) {
  const DoubleArray array = full_precision_array();
  {
    Arena arena;
    auto check = velmar::json::read_sequence(arena, array.text);
    bool same = check.ok() && check.value().size() == array.values.size();
    // The reader scales by tabulated powers of ten, within a few units in the last place.
    for (std::size_t i = 0; same && i < array.values.size(); ++i) {
      const velmar::json::JsonValue& v = check.value()[i];
      const double want = array.values[i];
      same =
          v.is_number() && std::fabs(v.as_number().as_double() - want) <= 1e-14 * std::fabs(want);
    }
    if (!same) {
      state.SkipWithError("the array does not read back as its values, near enough");
      return;
    }
  }
  for (auto _ : state) {
    Arena arena(4 * array.text.size());
    auto result = velmar::json::read_sequence(arena, array.text);
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * array.values.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * array.text.size()));
}
BENCHMARK(BM_ReadFullPrecisionArray);

#ifdef VELMAR_BENCH_YYJSON
void BM_YyjsonReadFullPrecisionArray(benchmark::State& state) {
  const DoubleArray array = full_precision_array();
  if (velmar::bench::yyjson_read_count(array.text) != array.values.size() + 1) {
    state.SkipWithError("yyjson reads another count of values");
    return;
  }
  for (auto _ : state) {
    auto count = velmar::bench::yyjson_read_count(array.text);
    benchmark::DoNotOptimize(count);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * array.values.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * array.text.size()));
}
BENCHMARK(BM_YyjsonReadFullPrecisionArray);
#endif

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  velmar::bench::register_per_payload("read", read_payload);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
