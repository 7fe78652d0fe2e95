// The whole transform, bytes to bytes, on the real payloads and on generated ones.
#include <benchmark/benchmark.h>

#include <string>

#include "../bench_data.h"
#include "columnar/columnar.h"
#include "json/reader.h"

namespace {

using velmar::json::Arena;

// The result must read back as one document whose "rows" has one entry per input row.
bool plausible(const std::string& payload, const std::string& result) {
  Arena arena;
  auto input = velmar::json::read_sequence(arena, payload);
  auto output = velmar::json::read_sequence(arena, "[" + result + "]");
  if (!input.ok() || !output.ok() || output.value().size() != 1) return false;
  const velmar::json::JsonValue* rows = output.value()[0].as_object().get("rows");
  return rows != nullptr && rows->as_array().size() == input.value().size();
}

void run_transform(benchmark::State& state, const std::string& payload) {
  auto first = velmar::columnar::columnarize_json(payload);
  if (!first.ok()) {
    state.SkipWithError(first.error().message.c_str());
    return;
  }
  if (!plausible(payload, first.value())) {
    state.SkipWithError("result does not read back with one row array per row");
    return;
  }
  for (auto _ : state) {
    auto result = velmar::columnar::columnarize_json(payload);
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * payload.size()));
}

void BM_TransformReal(benchmark::State& state, const char* name) {
  auto payload = velmar::bench::load_payload(name);
  if (!payload) {
    state.SkipWithError("payload not found");
    return;
  }
  run_transform(state, *payload);
}

// Rows of a typical tool-call result: ids, names with an escape now and then, a float,
// a constant, a sometimes-null member and a small nested object.
std::string generated_payload(std::size_t rows) {
  std::string out = "[";
  for (std::size_t r = 0; r < rows; ++r) {
    if (r > 0) out += ",\n";
    out += "{\"id\":" + std::to_string(1000000 + r) + ",\"name\":\"user " + std::to_string(r) +
           (r % 7 == 0 ? "\\n\\\"quoted\\\"" : "") + "\",\"score\":" + std::to_string(r % 100) +
           "." + std::to_string(r % 9) + "5,\"kind\":\"account\",\"note\":" +
           (r % 3 == 0 ? std::string("null") : "\"n" + std::to_string(r) + "\"") +
           ",\"meta\":{\"active\":" + (r % 2 ? "true" : "false") + ",\"tags\":[\"a\",\"b\"]}}";
  }
  return out + "]";
}

void BM_TransformGenerated(benchmark::State& state) {
  run_transform(state, generated_payload(static_cast<std::size_t>(state.range(0))));
}
BENCHMARK(BM_TransformGenerated)->Arg(20)->Arg(1000)->Arg(100000);

int register_all() {
  for (const char* name : velmar::bench::kRealPayloads) {
    benchmark::RegisterBenchmark((std::string("TransformReal/") + name).c_str(), BM_TransformReal,
                                 name);
  }
  return 0;
}
const int kRegistered = register_all();

}  // namespace

BENCHMARK_MAIN();
