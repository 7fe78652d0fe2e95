// What every Google Benchmark executable shares: registration over the payloads and the token
// census that checks the reader before it is timed (bench_data.h holds the payloads and
// their expected results).
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bench_data.h"
#include "json/value.h"

namespace velmar::bench {

// Sets the throughput counter from the payload size: every stage is reported in bytes of
// input per second, so that the stages of one payload compare directly. The counter "bytes"
// gives the payload size to the report.
void set_input_bytes(benchmark::State& state, const Payload& payload);

using PayloadBody = std::function<void(benchmark::State&, const Payload&)>;

// Registers `prefix + "/" + name`, running `body` on that payload with microseconds as the
// unit. A payload without an expected result is skipped with its error.
void register_for_payload(const std::string& prefix, const std::string& name, PayloadBody body);

// register_for_payload for every payload at hand, in payload_names() order.
void register_per_payload(const std::string& prefix, const PayloadBody& body);

// Counts of the values in a JSON text or in a value tree, for checking the reader against a
// plain token scan that shares no code with it.
struct Census {
  std::size_t top_level = 0;  // elements of the outermost array
  std::size_t objects = 0;
  std::size_t arrays = 0;
  std::size_t members = 0;
  std::size_t strings = 0;  // string values, keys not included
  std::size_t numbers = 0;
  std::size_t trues = 0;
  std::size_t falses = 0;
  std::size_t nulls = 0;
  friend bool operator==(const Census&, const Census&) = default;
};

// The census of a JSON text that is one array, by a scan of its tokens (strings skipped by
// their escapes, numbers and literals by their first byte). Precondition: the text is valid.
Census census_of_text(std::string_view json);

// The census of the elements of the outermost array, counting that array too.
Census census_of_values(std::span<const json::JsonValue> elements);

// "objects 12 != 13, numbers ..." for the counts that differ.
std::string census_difference(const Census& expected, const Census& actual);

// The doubles of the number writer and reader benchmarks: `count` random bit patterns of
// normal doubles (fixed seed), nearly all of which need 16 or 17 significant digits, as
// computed results do (1.3175761720874414e-06).
std::vector<double> full_precision_doubles(std::size_t count);

}  // namespace velmar::bench
