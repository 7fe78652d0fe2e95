// The whole transform, bytes to bytes, on every payload, in bytes of input per second with the
// page faults of one call beside it. Its result must equal the payload's expected result (the
// generator's, or the plain reference derivation's) before anything is timed.
//
// Built with -DVELMAR_BENCH_COMPARE=ON, each payload also runs a plain columnarizer on
// RapidJSON's DOM (benchmarks/compare) right after ours, in the same process on the same
// bytes, so that scripts/bench_report.py can divide one throughput by the other.
//
// memory_available_need_* time the result-size check of a call, for a small need and a
// large one (names without a "/", which scripts/bench_report.py leaves out of its tables).
#include <benchmark/benchmark.h>

#include <string>

#include "../bench_support.h"
#include "columnar/columnar.h"

#ifdef VELMAR_BENCH_COMPARE
#  include "../compare/rapidjson_columnar.h"
#endif

namespace {

using velmar::bench::Payload;

void transform_payload(benchmark::State& state, const Payload& payload) {
  auto first = velmar::columnar::columnarize_json(payload.text);
  if (!first.ok()) {
    state.SkipWithError(first.error().message.c_str());
    return;
  }
  if (first.value() != payload.expected) {
    state.SkipWithError(("result differs from the expected result " +
                         velmar::bench::first_difference(first.value(), payload.expected))
                            .c_str());
    return;
  }
  velmar::bench::PageFaults faults;
  for (auto _ : state) {
    auto result = velmar::columnar::columnarize_json(payload.text);
    benchmark::DoNotOptimize(result);
  }
  faults.report(state);
  velmar::bench::set_input_bytes(state, payload);
}

#ifdef VELMAR_BENCH_COMPARE
void rapidjson_payload(benchmark::State& state, const Payload& payload) {
  std::optional<std::string> first = velmar::bench::rapidjson_columnarize(payload.text);
  if (!first) {
    state.SkipWithError("RapidJSON rejected the payload");
    return;
  }
  if (*first == payload.expected) {
    state.SetLabel("identical");
  } else if (velmar::bench::rapidjson_same_document(*first, payload.expected)) {
    state.SetLabel("same document, other number or escape text");
  } else {
    state.SkipWithError(("RapidJSON result is another document " +
                         velmar::bench::first_difference(*first, payload.expected))
                            .c_str());
    return;
  }
  velmar::bench::PageFaults faults;
  for (auto _ : state) {
    auto result = velmar::bench::rapidjson_columnarize(payload.text);
    benchmark::DoNotOptimize(result);
  }
  faults.report(state);
  velmar::bench::set_input_bytes(state, payload);
}
#endif

// The result-size check alone, as a call makes it: a need up to kLiveMemoryReadingAbove
// gets the limits read once per process, a larger one also reads what the control groups
// and the machine have left.
void memory_check(benchmark::State& state, std::size_t need) {
  if (velmar::columnar::memory_available(need) == 0) {
    state.SkipWithError("no memory available");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(velmar::columnar::memory_available(need));
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RegisterBenchmark("memory_available_need_1MB", memory_check, std::size_t{1} << 20);
  benchmark::RegisterBenchmark("memory_available_need_1GB", memory_check, std::size_t{1} << 30);
  for (const std::string& name : velmar::bench::payload_names()) {
    velmar::bench::register_for_payload("transform", name, transform_payload);
#ifdef VELMAR_BENCH_COMPARE
    velmar::bench::register_for_payload("rapidjson", name, rapidjson_payload);
#endif
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
