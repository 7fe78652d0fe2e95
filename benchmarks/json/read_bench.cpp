// read_sequence over the real payloads of the bench-data folder and over a generated
// one, in bytes per second. Each payload is first read once and its row count checked.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "json/reader.h"

namespace {

using velmar::json::Arena;
using velmar::json::read_sequence;

struct Payload {
  std::string name;
  std::size_t rows;  // the row count the folder's README gives
};

const Payload kRealPayloads[] = {
    {"real_github_events.json", 30},
    {"real_twitter_timeline.json", 20},
    {"real_apache_builds_jobs.json", 875},
    {"real_twitter_statuses.json", 100},
    {"real_twitterescaped_statuses.json", 100},
    {"real_citm_performances.json", 243},
    {"real_random_users.json", 1000},
    {"real_update_center_plugins.json", 654},
    {"real_gsoc2018_projects.json", 1264},
    {"real_geonames_cities.json", 171075},
};

bool read_file(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), {});
  return true;
}

// Rows with the usual mix: integers, doubles, short keys, ASCII and non-ASCII strings,
// an escape now and then, a nested object and an array.
std::string generated_payload(std::size_t rows) {
  std::string out = "[";
  for (std::size_t i = 0; i < rows; ++i) {
    std::string id = std::to_string(i);
    if (i > 0) out += ",\n";
    out += "{\"id\":" + id + ",\"score\":" + id + ".25,\"name\":\"user " + id +
           "\",\"city\":\"S\xC3\xA3o Paulo\",\"bio\":\"Line one\\nline two, with a "
           "\\\"quote\\\" and some more text to make it long\",\"active\":" +
           (i % 2 == 0 ? "true" : "false") + ",\"tags\":[\"a\",\"b\",\"c\"],\"geo\":{\"lat\":" +
           "-23.55,\"lng\":-46.63},\"parent\":null}";
  }
  out += "]\n";
  return out;
}

void read_payload(benchmark::State& state, const std::string& input, std::size_t rows) {
  {
    Arena arena;
    auto check = read_sequence(arena, input);
    if (!check) {
      state.SkipWithError(check.error().display().c_str());
      return;
    }
    if (check->size() != rows) {
      state.SkipWithError("unexpected row count");
      return;
    }
  }
  for (auto _ : state) {
    Arena arena;
    auto result = read_sequence(arena, input);
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(input.size()));
}

void register_benchmarks() {
  const std::string dir = VELMAR_BENCH_DATA_DIR;
  for (const Payload& payload : kRealPayloads) {
    auto input = std::make_shared<std::string>();
    bool found = read_file(dir + "/" + payload.name, *input);
    std::size_t rows = payload.rows;
    benchmark::RegisterBenchmark(("read/" + payload.name).c_str(), [input, found, rows,
                                                                    dir](benchmark::State& state) {
      if (!found) {
        state.SkipWithError(("missing in " + dir).c_str());
        return;
      }
      read_payload(state, *input, rows);
    })->Unit(benchmark::kMillisecond);
  }
  constexpr std::size_t kGeneratedRows = 20000;
  auto generated = std::make_shared<std::string>(generated_payload(kGeneratedRows));
  benchmark::RegisterBenchmark("read/generated_20000_rows", [generated](benchmark::State& state) {
    read_payload(state, *generated, kGeneratedRows);
  })->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  register_benchmarks();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
