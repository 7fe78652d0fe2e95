// Writer throughput: the text of the columnar document of every payload (in bytes of
// the payload per second), and below it format_double over a mix of doubles and over
// 100,000 full-precision ones, to_json_bytes of an array of those beside yyjson's write of
// the same array (with -DVELMAR_BENCH_COMPARE=ON), format_unsigned over integers of every
// length, serialize_str over long strings and to_json_bytes of hand-built row documents.
// Each benchmark checks its output once before timing.
#include <benchmark/benchmark.h>

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "../bench_support.h"
#include "columnar/columnar.h"
#include "json/reader.h"
#include "json/value.h"
#include "json/writer.h"
#ifdef VELMAR_BENCH_YYJSON
#  include "../compare/json_anchors.h"
#endif

namespace velmar::json {
namespace {

// The document each payload's transform writes, derived once; the text must be the
// payload's expected result before the writer is timed.
void write_payload(benchmark::State& state, const bench::Payload& payload) {
  Arena arena;
  auto rows = read_sequence(arena, payload.text);
  if (!rows.ok()) {
    state.SkipWithError(("reader: " + rows.error().display()).c_str());
    return;
  }
  auto doc = columnar::derive_columns(arena, rows.value(), columnar::memory_available);
  if (!doc.ok()) {
    state.SkipWithError(doc.error().message.c_str());
    return;
  }
  const std::string text = doc.value().text(payload.text.size());
  if (text != payload.expected) {
    state.SkipWithError(("written document differs from the expected result " +
                         bench::first_difference(text, payload.expected))
                            .c_str());
    return;
  }
  for (auto _ : state) {
    // The size hint columnarize_json passes.
    std::string out = doc.value().text(payload.text.size());
    benchmark::DoNotOptimize(out.data());
  }
  bench::set_input_bytes(state, payload);
}

// Doubles as payloads hold them (prices, coordinates, ratios, whole values, tiny and
// huge magnitudes) and random bit patterns, which need the most digits.
std::vector<double> double_mix(std::size_t n) {
  std::mt19937_64 rng(42);
  std::vector<double> out;
  out.reserve(n);
  while (out.size() < n) {
    switch (out.size() % 4) {
      case 0:
        out.push_back(static_cast<double>(rng() % 1000000) / 100.0);  // 1234.56
        break;
      case 1:
        out.push_back(static_cast<double>(rng() % 360000000) / 1e6 - 180.0);  // -73.985428
        break;
      case 2:
        out.push_back(static_cast<double>(rng() % 100000));  // 42.0
        break;
      default: {
        const double v = std::bit_cast<double>(rng());
        if (std::isfinite(v)) out.push_back(v);
      }
    }
  }
  return out;
}

// format_double over `values`, each text first checked to read back as its value.
void format_doubles(benchmark::State& state, const std::vector<double>& values) {
  std::array<char, kDoubleBufferBytes> buf;
  for (const double v : values) {
    const std::size_t n = format_double(v, buf.data());
    double back = 0;
    const auto [end, ec] = std::from_chars(buf.data(), buf.data() + n, back);
    if (ec != std::errc() || end != buf.data() + n || back != v) {
      state.SkipWithError("format_double text does not read back");
      return;
    }
  }
  std::size_t bytes = 0;
  for (auto _ : state) {
    for (const double v : values) {
      bytes += format_double(v, buf.data());
      benchmark::DoNotOptimize(buf.data());
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * values.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_FormatDouble(benchmark::State& state) { format_doubles(state, double_mix(4096)); }
BENCHMARK(BM_FormatDouble);

constexpr std::size_t kFullPrecisionCount = 100'000;

// Whether `text` is a JSON array of exactly `values`, each read back with from_chars.
bool holds_values(std::string_view text, std::span<const double> values) {
  if (text.size() < 2 || text.front() != '[' || text.back() != ']') return false;
  const char* p = text.data() + 1;
  const char* end = text.data() + text.size() - 1;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i != 0 && *p++ != ',') return false;
    double back = 0;
    const auto [next, ec] = std::from_chars(p, end, back);
    if (ec != std::errc() || back != values[i]) return false;
    p = next;
  }
  return p == end;
}

void BM_FormatDoubleFullPrecision(benchmark::State& state) {
  format_doubles(state, bench::full_precision_doubles(kFullPrecisionCount));
}
BENCHMARK(BM_FormatDoubleFullPrecision);

// The whole array's text, "[v1,v2,...]", as the writer makes it from the values.
void BM_WriteFullPrecisionArray(benchmark::State& state) {
  const std::vector<double> values = bench::full_precision_doubles(kFullPrecisionCount);
  Arena arena;
  std::vector<JsonValue> items;
  items.reserve(values.size());
  for (const double v : values) items.push_back(JsonValue::number(JsonNumber::from_double(v)));
  const JsonValue array = JsonValue::array(arena, items);
  const std::string text = to_json_bytes(array);
  if (!holds_values(text, values)) {
    state.SkipWithError("written array does not read back as its values");
    return;
  }
  for (auto _ : state) {
    std::string out = to_json_bytes(array, text.size());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * values.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_WriteFullPrecisionArray);

#ifdef VELMAR_BENCH_YYJSON
// yyjson's minified write of a document holding the same array, built once.
void BM_YyjsonWriteFullPrecisionArray(benchmark::State& state) {
  const std::vector<double> values = bench::full_precision_doubles(kFullPrecisionCount);
  const std::unique_ptr<bench::YyjsonDoubleArray, void (*)(bench::YyjsonDoubleArray*)> array(
      bench::yyjson_double_array(values), bench::yyjson_free);
  std::string text;
  if (array == nullptr || !bench::yyjson_write_doubles(*array, &text) ||
      !holds_values(text, values)) {
    state.SkipWithError("yyjson's array does not read back as its values");
    return;
  }
  for (auto _ : state) {
    auto size = bench::yyjson_write_doubles(*array, nullptr);
    benchmark::DoNotOptimize(size);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * values.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_YyjsonWriteFullPrecisionArray);
#endif

void BM_FormatUnsigned(benchmark::State& state) {
  std::mt19937_64 rng(7);
  std::vector<std::uint64_t> values(4096);
  for (std::size_t k = 0; k < values.size(); ++k) {
    values[k] = rng() >> (k % 64);  // every length from 1 to 20 digits
  }
  std::array<char, kMaxUnsignedText> buf;
  for (const std::uint64_t v : values) {
    if (std::string_view(buf.data(), format_unsigned(v, buf.data())) != std::to_string(v)) {
      state.SkipWithError("format_unsigned text differs from std::to_string");
      return;
    }
  }
  std::size_t bytes = 0;
  for (auto _ : state) {
    for (const std::uint64_t v : values) {
      bytes += format_unsigned(v, buf.data());
      benchmark::DoNotOptimize(buf.data());
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * values.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_FormatUnsigned);

// A 64 KiB text with one escape every `state.range(0)` bytes (0: none).
void BM_SerializeStr(benchmark::State& state) {
  const auto every = static_cast<std::size_t>(state.range(0));
  std::string text;
  std::string expected = "\"";
  for (std::size_t k = 0; k < 65536; ++k) {
    const bool escape = every != 0 && k % every == every - 1;
    text.push_back(escape ? '\n' : static_cast<char>('a' + k % 26));
    expected += escape ? std::string("\\n") : std::string(1, text.back());
  }
  expected += "\"";
  std::string out;
  serialize_str(text, out);
  if (out != expected) {
    state.SkipWithError("serialize_str output differs from the expected text");
    return;
  }
  for (auto _ : state) {
    out.clear();
    serialize_str(text, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_SerializeStr)->Arg(0)->Arg(64)->Arg(8);

// Doubles with known texts, so that the expected document can be written by hand.
constexpr std::pair<double, std::string_view> kDoubles[] = {
    {0.5, "0.5"},         {1234.5, "1234.5"},   {-0.001, "-0.001"},
    {1e-7, "1e-7"},       {3.0, "3.0"},         {6.02214076e23, "6.02214076e+23"},
    {51.5074, "51.5074"}, {-0.1275, "-0.1275"}, {0.1 + 0.2, "0.30000000000000004"},
};

// Row objects with the usual mix of members: ids, plain and escaped strings, doubles,
// negative integers, booleans, nulls, a small array and a nested object.
struct Document {
  JsonValue value;
  std::string expected;
};

Document make_rows(Arena& arena, std::size_t rows) {
  std::vector<JsonValue> items;
  std::string expected = "[";
  for (std::size_t r = 0; r < rows; ++r) {
    const std::string id = std::to_string(r * 7919);
    const std::string name = "user_" + std::to_string(r);
    const auto& [dbl, dbl_text] = kDoubles[r % std::size(kDoubles)];
    const auto& [lat, lat_text] = kDoubles[(r + 3) % std::size(kDoubles)];

    JsonObject location = JsonObject::create(arena);
    (void)location.insert_full(arena, "lat", JsonValue::number(JsonNumber::from_double(lat)));
    (void)location.insert_full(arena, "city", JsonValue::string(arena, "Z\xC3\xBCrich"));
    const JsonValue tags[] = {JsonValue::string(arena, "alpha"),
                              JsonValue::string(arena, "beta gamma delta epsilon")};

    JsonObject row = JsonObject::create(arena);
    (void)row.insert_full(arena, "id", JsonValue::number(JsonNumber::from_unsigned(r * 7919)));
    (void)row.insert_full(arena, "name", JsonValue::string(arena, name));
    (void)row.insert_full(arena, "note",
                          JsonValue::string(arena, "said \"hi\"\n\tand left \\ early"));
    (void)row.insert_full(arena, "score", JsonValue::number(JsonNumber::from_double(dbl)));
    (void)row.insert_full(
        arena, "delta",
        JsonValue::number(JsonNumber::from_signed(-static_cast<std::int64_t>(r) - 1)));
    (void)row.insert_full(arena, "active", JsonValue::boolean(r % 2 == 0));
    (void)row.insert_full(arena, "parent", JsonValue());
    (void)row.insert_full(arena, "tags", JsonValue::array(arena, tags));
    (void)row.insert_full(arena, "location", JsonValue::object(location));
    items.push_back(JsonValue::object(row));

    if (r != 0) expected += ",";
    expected += R"({"id":)" + id + R"(,"name":")" + name +
                R"(","note":"said \"hi\"\n\tand left \\ early","score":)" + std::string(dbl_text) +
                R"(,"delta":-)" + std::to_string(r + 1) + R"(,"active":)" +
                (r % 2 == 0 ? "true" : "false") +
                R"(,"parent":null,"tags":["alpha","beta gamma delta epsilon"],"location":{"lat":)" +
                std::string(lat_text) +
                R"(,"city":"Z)"
                "\xC3\xBC"
                R"(rich"}})";
  }
  expected += "]";
  return {JsonValue::array(arena, items), std::move(expected)};
}

void BM_ToJsonBytes(benchmark::State& state) {
  Arena arena;
  const Document doc = make_rows(arena, static_cast<std::size_t>(state.range(0)));
  if (to_json_bytes(doc.value) != doc.expected) {
    state.SkipWithError("to_json_bytes output differs from the expected text");
    return;
  }
  for (auto _ : state) {
    std::string out = to_json_bytes(doc.value);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * doc.expected.size()));
}
BENCHMARK(BM_ToJsonBytes)->Arg(10)->Arg(1000)->Arg(20000);

}  // namespace
}  // namespace velmar::json

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  velmar::bench::register_per_payload("write", velmar::json::write_payload);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
