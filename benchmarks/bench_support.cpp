// Benchmark support: registration and the token census. The census is deliberately simple
// and shares no code with the reader it checks.
#include "bench_support.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <random>
#include <utility>

namespace velmar::bench {
namespace {

using json::JsonKind;
using json::JsonValue;

bool is_space(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

void count_values(const JsonValue& v, Census& c) {
  switch (v.kind()) {
    case JsonKind::kNull:
      ++c.nulls;
      break;
    case JsonKind::kBool:
      ++(v.as_bool() ? c.trues : c.falses);
      break;
    case JsonKind::kNumber:
      ++c.numbers;
      break;
    case JsonKind::kString:
      ++c.strings;
      break;
    case JsonKind::kArray:
      ++c.arrays;
      for (const JsonValue& item : v.as_array()) count_values(item, c);
      break;
    case JsonKind::kObject:
      ++c.objects;
      for (const json::JsonMember& m : v.as_object().members()) {
        ++c.members;
        count_values(m.value, c);
      }
      break;
  }
}

}  // namespace

void set_input_bytes(benchmark::State& state, const Payload& payload) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(payload.text.size()));
  state.counters["bytes"] = static_cast<double>(payload.text.size());
}

void register_for_payload(const std::string& prefix, const std::string& name, PayloadBody body) {
  auto run = [body = std::move(body), name](benchmark::State& state) {
    const Payload* payload = find_payload(name);
    if (!payload->error.empty()) {
      state.SkipWithError(payload->error.c_str());
      return;
    }
    body(state, *payload);
  };
  benchmark::RegisterBenchmark((prefix + "/" + name).c_str(), run)->Unit(benchmark::kMicrosecond);
}

void register_per_payload(const std::string& prefix, const PayloadBody& body) {
  for (const std::string& name : payload_names()) register_for_payload(prefix, name, body);
}

Census census_of_text(std::string_view json) {
  Census c;
  int depth = 0;
  bool top_element = false;  // a value has started directly inside the outermost array
  std::size_t top_commas = 0;
  std::size_t i = 0;
  auto value_starts = [&] { top_element = top_element || depth == 1; };
  while (i < json.size()) {
    const char ch = json[i];
    if (ch == '"') {
      std::size_t end = i + 1;
      while (json[end] != '"') end += json[end] == '\\' ? 2 : 1;
      std::size_t next = end + 1;
      while (next < json.size() && is_space(json[next])) ++next;
      if (next < json.size() && json[next] == ':') {
        ++c.members;
      } else {
        value_starts();
        ++c.strings;
      }
      i = end + 1;
    } else if (ch == '{' || ch == '[') {
      value_starts();
      ++(ch == '{' ? c.objects : c.arrays);
      ++depth;
      ++i;
    } else if (ch == '}' || ch == ']') {
      --depth;
      ++i;
    } else if (ch == ',') {
      if (depth == 1) ++top_commas;
      ++i;
    } else if (ch == '-' || (ch >= '0' && ch <= '9')) {
      value_starts();
      ++c.numbers;
      while (i < json.size() && std::strchr("+-.eE0123456789", json[i]) != nullptr) ++i;
    } else if (ch == 't' || ch == 'f' || ch == 'n') {
      value_starts();
      ++(ch == 't' ? c.trues : ch == 'f' ? c.falses : c.nulls);
      i += ch == 'f' ? 5 : 4;
    } else {
      ++i;  // whitespace and colons
    }
  }
  c.top_level = top_element ? top_commas + 1 : 0;
  return c;
}

Census census_of_values(std::span<const JsonValue> elements) {
  Census c;
  c.top_level = elements.size();
  c.arrays = 1;
  for (const JsonValue& v : elements) count_values(v, c);
  return c;
}

std::string census_difference(const Census& expected, const Census& actual) {
  std::string out;
  auto field = [&](const char* name, std::size_t e, std::size_t a) {
    if (e == a) return;
    out += (out.empty() ? "" : ", ") + std::string(name) + " " + std::to_string(a) + " (text has " +
           std::to_string(e) + ")";
  };
  field("top-level elements", expected.top_level, actual.top_level);
  field("objects", expected.objects, actual.objects);
  field("arrays", expected.arrays, actual.arrays);
  field("members", expected.members, actual.members);
  field("strings", expected.strings, actual.strings);
  field("numbers", expected.numbers, actual.numbers);
  field("trues", expected.trues, actual.trues);
  field("falses", expected.falses, actual.falses);
  field("nulls", expected.nulls, actual.nulls);
  return out;
}

std::vector<double> full_precision_doubles(std::size_t count) {
  std::mt19937_64 rng(0x5eed'd0b1e5);
  std::vector<double> out;
  out.reserve(count);
  while (out.size() < count) {
    const std::uint64_t bits = rng();
    const std::uint64_t biased = bits >> 52 & 0x7ff;
    if (biased != 0 && biased != 0x7ff) out.push_back(std::bit_cast<double>(bits));
  }
  return out;
}

}  // namespace velmar::bench
