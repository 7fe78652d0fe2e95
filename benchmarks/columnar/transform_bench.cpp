// The whole transform, bytes to bytes, on every payload, in bytes of input per second. Its
// result must equal the payload's expected result (the generator's, or the reference
// derivation's) before anything is timed.
//
// Built with -DVELMAR_BENCH_COMPARE=ON, each payload also runs the anchors of
// benchmarks/compare right after ours, in the same process on the same bytes, so that
// scripts/bench_report.py can divide one throughput by another: a plain columnarizer on
// RapidJSON's DOM, simdjson's DOM parse and minify, and yyjson's read and minified write
// (when its sources were found). Each anchor's output is checked first: the columnarizer's
// must be our result, the others' the payload itself, as documents read by RapidJSON.
//
// memory_available_need_* time the result-size check of a call, for a small need and a
// large one (names without a "/", which scripts/bench_report.py leaves out of its tables).
#include <benchmark/benchmark.h>

#include <string>

#include "../bench_support.h"
#include "columnar/columnar.h"

#ifdef VELMAR_BENCH_COMPARE
#  include "../compare/json_anchors.h"
#  include "../compare/rapidjson_columnar.h"
#endif

namespace {

using velmar::bench::Payload;

// The entry the module calls, on a padded copy as the module makes one.
void transform_payload(benchmark::State& state, const Payload& payload) {
  const velmar::json::PaddedText padded = velmar::columnar::copy_payload(payload.text);
  auto first = velmar::columnar::columnarize_json(padded.view());
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
  for (auto _ : state) {
    auto result = velmar::columnar::columnarize_json(padded.view());
    benchmark::DoNotOptimize(result);
  }
  velmar::bench::set_input_bytes(state, payload);
}

#ifdef VELMAR_BENCH_COMPARE
// Labels the run by how `output` compares with `expected`: false, with the run skipped, when
// it is another document.
bool check_anchor(benchmark::State& state, const std::optional<std::string>& output,
                  const std::string& expected, const char* anchor) {
  if (!output) {
    state.SkipWithError((std::string(anchor) + " rejected the payload").c_str());
    return false;
  }
  if (*output == expected) {
    state.SetLabel("identical");
  } else if (velmar::bench::rapidjson_same_document(*output, expected)) {
    state.SetLabel("same document");
  } else {
    state.SkipWithError((std::string(anchor) + " wrote another document " +
                         velmar::bench::first_difference(*output, expected))
                            .c_str());
    return false;
  }
  return true;
}

void rapidjson_payload(benchmark::State& state, const Payload& payload) {
  if (!check_anchor(state, velmar::bench::rapidjson_columnarize(payload.text), payload.expected,
                    "the RapidJSON columnarizer")) {
    return;
  }
  for (auto _ : state) {
    auto result = velmar::bench::rapidjson_columnarize(payload.text);
    benchmark::DoNotOptimize(result);
  }
  velmar::bench::set_input_bytes(state, payload);
}

void simdjson_payload(benchmark::State& state, const Payload& payload) {
  const std::string padded = payload.text + std::string(velmar::bench::kSimdjsonPadding, ' ');
  const std::string_view text(padded.data(), payload.text.size());
  if (!check_anchor(state, velmar::bench::simdjson_parse_minify(text), payload.text, "simdjson")) {
    return;
  }
  for (auto _ : state) {
    auto result = velmar::bench::simdjson_parse_minify(text);
    benchmark::DoNotOptimize(result);
  }
  velmar::bench::set_input_bytes(state, payload);
}

#  ifdef VELMAR_BENCH_YYJSON
void yyjson_payload(benchmark::State& state, const Payload& payload) {
  std::string written;
  const bool read = velmar::bench::yyjson_read_write(payload.text, &written).has_value();
  if (!check_anchor(state, read ? std::optional(written) : std::nullopt, payload.text, "yyjson")) {
    return;
  }
  for (auto _ : state) {
    auto size = velmar::bench::yyjson_read_write(payload.text, nullptr);
    benchmark::DoNotOptimize(size);
  }
  velmar::bench::set_input_bytes(state, payload);
}
#  endif
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
    velmar::bench::register_for_payload("simdjson", name, simdjson_payload);
#  ifdef VELMAR_BENCH_YYJSON
    velmar::bench::register_for_payload("yyjson", name, yyjson_payload);
#  endif
#endif
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
