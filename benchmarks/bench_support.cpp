// Benchmark support: page faults, registration, the token census and the plain reference
// derivation. The checks here are deliberately simple and share no code with what they check,
// apart from json::serialize writing single cells of the reference result.
#include "bench_support.h"

#include <sys/resource.h>

#include <cstring>
#include <limits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "json/reader.h"
#include "json/writer.h"

namespace velmar::bench {
namespace {

using json::JsonKind;
using json::JsonNumber;
using json::JsonValue;

long minor_faults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// MARK: census -------------------------------------------------------------------------------

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

// MARK: reference derivation -----------------------------------------------------------------

// Every 64-bit integer and every double is exact in x87 extended precision, so two numbers
// have the same mathematical value exactly when their long doubles are equal.
static_assert(std::numeric_limits<long double>::digits >= 64);

long double exact_value(JsonNumber n) {
  switch (n.rep()) {
    case JsonNumber::Rep::kUnsigned:
      return static_cast<long double>(n.as_unsigned());
    case JsonNumber::Rep::kSigned:
      return static_cast<long double>(n.as_signed());
    case JsonNumber::Rep::kDouble:
      return static_cast<long double>(n.as_double());
  }
  return 0;
}

// Kind and representation: [1] and [1.0] differ, object members match in any order.
bool same_nested(const JsonValue& a, const JsonValue& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case JsonKind::kNull:
      return true;
    case JsonKind::kBool:
      return a.as_bool() == b.as_bool();
    case JsonKind::kNumber: {
      const JsonNumber x = a.as_number();
      const JsonNumber y = b.as_number();
      if (x.rep() != y.rep()) return false;
      return x.rep() == JsonNumber::Rep::kDouble ? x.as_double() == y.as_double()
                                                 : x.as_unsigned() == y.as_unsigned();
    }
    case JsonKind::kString:
      return a.as_string() == b.as_string();
    case JsonKind::kArray: {
      const auto x = a.as_array();
      const auto y = b.as_array();
      if (x.size() != y.size()) return false;
      for (std::size_t k = 0; k < x.size(); ++k) {
        if (!same_nested(x[k], y[k])) return false;
      }
      return true;
    }
    case JsonKind::kObject: {
      const auto x = a.as_object().members();
      const auto y = b.as_object().members();
      if (x.size() != y.size()) return false;
      for (const json::JsonMember& m : x) {
        bool found = false;
        for (const json::JsonMember& n : y) {
          if (n.key.as_string() == m.key.as_string()) {
            found = same_nested(m.value, n.value);
            break;
          }
        }
        if (!found) return false;
      }
      return true;
    }
  }
  return false;
}

bool same_cell(const JsonValue& a, const JsonValue& b) {
  if (a.is_number() && b.is_number()) {
    return exact_value(a.as_number()) == exact_value(b.as_number());
  }
  return same_nested(a, b);
}

}  // namespace

PageFaults::PageFaults() : start_(minor_faults()) {}

void PageFaults::report(benchmark::State& state) const {
  const auto faults = static_cast<double>(minor_faults() - start_);
  state.counters["faults"] =
      state.iterations() > 0 ? faults / static_cast<double>(state.iterations()) : 0.0;
}

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

std::optional<std::string> reference_columnarize(std::string_view payload, std::string& error) {
  json::Arena arena;
  auto read = json::read_sequence(arena, payload);
  if (!read.ok()) {
    error = "reader: " + read.error().display();
    return std::nullopt;
  }
  const std::span<const JsonValue> rows = read.value();
  for (const JsonValue& row : rows) {
    if (!row.is_object()) {
      error = "an element is not an object: " + json::display_text(row);
      return std::nullopt;
    }
  }

  std::vector<std::string> names;
  std::unordered_map<std::string, std::size_t> index;
  for (const JsonValue& row : rows) {
    for (const json::JsonMember& m : row.as_object().members()) {
      std::string name(m.key.as_string());
      if (index.emplace(name, names.size()).second) names.push_back(std::move(name));
    }
  }
  // cells[r * names.size() + c]: row r's value of column c, null when it has none.
  std::vector<const JsonValue*> cells(rows.size() * names.size(), nullptr);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (const json::JsonMember& m : rows[r].as_object().members()) {
      cells[r * names.size() + index.at(std::string(m.key.as_string()))] = &m.value;
    }
  }
  auto cell = [&](std::size_t r, std::size_t c) -> const JsonValue* {
    const JsonValue* v = cells[r * names.size() + c];
    return v != nullptr && !v->is_null() ? v : nullptr;
  };

  std::vector<std::size_t> varying;
  std::vector<std::size_t> constant;
  for (std::size_t c = 0; c < names.size(); ++c) {
    bool any = false;
    for (std::size_t r = 0; r < rows.size() && !any; ++r) any = cell(r, c) != nullptr;
    if (!any) continue;
    bool equal = rows.size() >= 2 && cell(0, c) != nullptr;
    for (std::size_t r = 1; r < rows.size() && equal; ++r) {
      equal = cell(r, c) != nullptr && same_cell(*cell(r, c), *cell(0, c));
    }
    (equal ? constant : varying).push_back(c);
  }

  std::string out = "{\"columns\":[";
  for (std::size_t k = 0; k < varying.size(); ++k) {
    if (k) out += ',';
    json::serialize_str(names[varying[k]], out);
  }
  out += "],\"rows\":[";
  for (std::size_t r = 0; r < rows.size(); ++r) {
    out += r ? ",[" : "[";
    for (std::size_t k = 0; k < varying.size(); ++k) {
      if (k) out += ',';
      const JsonValue* v = cell(r, varying[k]);
      if (v != nullptr) {
        json::serialize(*v, out);
      } else {
        out += "null";
      }
    }
    out += ']';
  }
  out += "],\"constants\":{";
  for (std::size_t k = 0; k < constant.size(); ++k) {
    if (k) out += ',';
    json::serialize_str(names[constant[k]], out);
    out += ':';
    json::serialize(*cell(0, constant[k]), out);
  }
  out += "}}";
  return out;
}

std::string first_difference(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  const std::size_t from = i > 40 ? i - 40 : 0;
  return "at byte " + std::to_string(i) + ": ..." + std::string(a.substr(from, 80)) +
         "... against ..." + std::string(b.substr(from, 80)) + "...";
}

}  // namespace velmar::bench
