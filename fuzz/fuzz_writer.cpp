// Fuzz target for the writer: a value read from the input is written, read back and
// written again. Strings, integers, literals and the shape must come back exactly. A
// double must come back with its bits wherever the reader rounds only once, which is
// when the written significand is at most 2^53 and its power of ten at most 22 in
// magnitude (both operands of the one scaling step are then exact); elsewhere the
// reader's scaling may round up to four times, so a shortest text may read back a few
// units in the last place off. Where every double comes back with its bits, the value
// read back equals the first (JsonValue ==) and the second text is the first one byte
// for byte. A double that kept the digits it was read with is written from them, and they
// must be the shortest ones the writer would search for.
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "json/reader.h"
#include "json/writer.h"

namespace {

using velmar::fuzz::fail;
using velmar::fuzz::require;
using velmar::json::Arena;
using velmar::json::JsonKind;
using velmar::json::JsonNumber;
using velmar::json::JsonValue;

// The most units in the last place a double may move by when its text is read back
// through several roundings: the significand's, the power of ten's and the scaling's
// (twice below 1e-308), each at most half a unit of the value's binade.
constexpr std::uint64_t kMaxUnitsOff = 4;

std::uint64_t units_apart(double a, double b) {
  if (std::signbit(a) != std::signbit(b)) return UINT64_MAX;
  auto x = std::bit_cast<std::uint64_t>(a);
  auto y = std::bit_cast<std::uint64_t>(b);
  return x > y ? x - y : y - x;
}

// True when the reader takes the text format_double writes for `v` in a single correctly
// rounded step: the digits of the text, as one integer s, are at most 2^53, and the
// power of ten e that scales them (the exponent less the count of fraction digits) is at
// most 22 in magnitude.
bool read_exactly(double v) {
  char buf[velmar::json::kDoubleBufferBytes];
  std::string_view text(buf, velmar::json::format_double(v, buf));
  std::uint64_t s = 0;
  long e = 0;
  bool fraction = false;
  std::size_t i = 0;
  for (; i < text.size() && text[i] != 'e'; ++i) {
    char c = text[i];
    if (c == '.') fraction = true;
    if (c < '0' || c > '9') continue;
    if (s > (std::uint64_t{1} << 53)) return false;
    s = s * 10 + static_cast<unsigned>(c - '0');
    if (fraction) --e;
  }
  if (i < text.size()) {
    std::string_view power = text.substr(i + 1);  // a sign and at most three digits
    long x = 0;
    for (char c : power.substr(1)) x = x * 10 + (c - '0');
    e += power[0] == '-' ? -x : x;
  }
  return s <= (std::uint64_t{1} << 53) && e >= -22 && e <= 22;
}

// The digits a double was read with, when it kept them, must give the text that the
// search for its shortest digits gives.
bool kept_digits_are_shortest(JsonNumber n) {
  if (n.known_digits() == 0) return true;
  char kept[velmar::json::kDoubleBufferBytes];
  char searched[velmar::json::kDoubleBufferBytes];
  const double v = n.as_double();
  return std::string_view(kept, velmar::json::format_known_digits(std::signbit(v), n.known_digits(),
                                                                  n.fraction_digits(), kept)) ==
         std::string_view(searched, velmar::json::format_double(v, searched));
}

// Compares `back` (read from the text of `first`) with `first`; clears `exact` at a
// double that came back as its neighbour.
void check_read_back(const JsonValue& first, const JsonValue& back, bool& exact,
                     std::string_view text) {
  require(first.kind() == back.kind(), "kind changed", text);
  switch (first.kind()) {
    case JsonKind::kNull:
      return;
    case JsonKind::kBool:
      require(first.as_bool() == back.as_bool(), "boolean changed", text);
      return;
    case JsonKind::kNumber: {
      JsonNumber a = first.as_number();
      JsonNumber b = back.as_number();
      require(a.rep() == b.rep(), "number representation changed", text);
      require(kept_digits_are_shortest(a) && kept_digits_are_shortest(b),
              "kept digits are not the shortest", text);
      if (a.rep() != JsonNumber::Rep::kDouble) {
        require(a == b, "integer changed", text);
      } else if (std::uint64_t off = units_apart(a.as_double(), b.as_double()); off != 0) {
        require(!read_exactly(a.as_double()), "a once-rounded double moved", text);
        require(off <= kMaxUnitsOff, "double moved too far", text);
        exact = false;
      }
      return;
    }
    case JsonKind::kString:
      require(first.as_string() == back.as_string(), "string changed", text);
      return;
    case JsonKind::kArray: {
      auto a = first.as_array();
      auto b = back.as_array();
      require(a.size() == b.size(), "array length changed", text);
      for (std::size_t i = 0; i < a.size(); ++i) check_read_back(a[i], b[i], exact, text);
      return;
    }
    case JsonKind::kObject: {
      auto a = first.as_object().members();
      auto b = back.as_object().members();
      require(a.size() == b.size(), "member count changed", text);
      for (std::size_t i = 0; i < a.size(); ++i) {
        require(a[i].key.as_string() == b[i].key.as_string(), "member key or order changed", text);
        check_read_back(a[i].value, b[i].value, exact, text);
      }
      return;
    }
  }
  fail("unknown kind", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  Arena arena;
  auto read = velmar::json::read_sequence(arena, input);
  if (!read.ok()) return 0;
  JsonValue first = JsonValue::array(read.value().data(), read.value().size());

  std::string text = velmar::json::to_json_bytes(first);
  require(velmar::json::display_text(first) == text, "display text differs from the bytes", text);
  std::string appended = "x";
  velmar::json::serialize(first, appended);
  require(std::string_view(appended).substr(1) == text, "serialize differs from the bytes", text);

  auto again = velmar::json::read_sequence(arena, text);
  if (!again.ok()) fail("written text does not read back", again.error().display());
  JsonValue back = JsonValue::array(again.value().data(), again.value().size());
  bool exact = true;
  check_read_back(first, back, exact, text);
  if (exact) {
    require(back == first, "read back unequal", text);
    require(velmar::json::to_json_bytes(back) == text, "writing is not a fixed point", text);
  }
  return 0;
}
