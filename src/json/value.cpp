// The value model: number equality, string and array handles, deep copy and equality.
// The object map lives in object_map.cpp.
#include "json/value.h"

#include <cassert>
#include <cmath>
#include <cstring>

#include "json/simd.h"
#include "json/string_bytes.h"
#include "json/word.h"

namespace velmar::json {

JsonNumber JsonNumber::from_signed(std::int64_t v) {
  assert(v < 0);
  Bits bits;
  bits.i = v;
  return JsonNumber(Rep::kSigned, bits);
}

double JsonNumber::to_double() const {
  switch (rep()) {
    case Rep::kUnsigned:
      return static_cast<double>(bits_.u);
    case Rep::kSigned:
      return static_cast<double>(bits_.i);
    case Rep::kDouble:
      return bits_.d;
  }
  return 0.0;
}

bool operator==(const JsonNumber& a, const JsonNumber& b) {
  if (a.rep() != b.rep()) return false;
  switch (a.rep()) {
    case JsonNumber::Rep::kUnsigned:
      return a.bits_.u == b.bits_.u;
    case JsonNumber::Rep::kSigned:
      return a.bits_.i == b.bits_.i;
    case JsonNumber::Rep::kDouble:
      return a.bits_.d == b.bits_.d;
  }
  return false;
}

namespace {

// 2^64 and 2^63 are exact doubles; the casts below happen only inside these bounds.
constexpr double kTwoTo64 = 18446744073709551616.0;
constexpr double kTwoTo63 = 9223372036854775808.0;

bool double_equals_unsigned(double d, std::uint64_t u) {
  if (!(d >= 0.0 && d < kTwoTo64) || d != std::trunc(d)) return false;
  return static_cast<std::uint64_t>(d) == u;
}

bool double_equals_signed(double d, std::int64_t i) {
  if (!(d >= -kTwoTo63 && d < 0.0) || d != std::trunc(d)) return false;
  return static_cast<std::int64_t>(d) == i;
}

}  // namespace

bool JsonNumber::same_quantity(const JsonNumber& a, const JsonNumber& b) {
  using R = Rep;
  if (a.rep() == b.rep()) return a == b;
  // Unsigned values are >= 0 and signed ones < 0, so the two never meet.
  if (a.rep() == R::kDouble) {
    return b.rep() == R::kUnsigned ? double_equals_unsigned(a.bits_.d, b.bits_.u)
                                   : double_equals_signed(a.bits_.d, b.bits_.i);
  }
  if (b.rep() == R::kDouble) {
    return a.rep() == R::kUnsigned ? double_equals_unsigned(b.bits_.d, a.bits_.u)
                                   : double_equals_signed(b.bits_.d, a.bits_.i);
  }
  return false;
}

JsonValue JsonValue::string(Arena& arena, std::string_view text, bool escape_free) {
  std::size_t n = text.size();
  if (n <= kInlineCapacity) {
    // The text may end where readable memory does, so it is loaded in words that read no
    // byte past it.
    std::uint64_t low = detail::load_up_to_8(text.data(), n < 8 ? n : 8);
    std::uint64_t high = n > 8 ? detail::load_up_to_8(text.data() + 8, n - 8) : 0;
    return detail::StringBytes::pack_inline(detail::block_of_words(low, high), n, escape_free);
  }
  JsonValue v;
  v.h_.kind = JsonKind::kString;
  v.h_.bits = escape_free ? kEscapeFreeBit : 0;
  v.set_length(n);
  v.h_.str = arena.copy(text);
  return v;
}

JsonValue JsonValue::clone(Arena& arena) const {
  switch (kind()) {
    case JsonKind::kNull:
    case JsonKind::kBool:
    case JsonKind::kNumber:
      return *this;
    case JsonKind::kString:
      return string(arena, as_string(), string_escape_free());
    case JsonKind::kArray: {
      std::span<const JsonValue> items = as_array();
      JsonValue* copy = arena.allocate_array<JsonValue>(items.size());
      for (std::size_t i = 0; i < items.size(); ++i) copy[i] = items[i].clone(arena);
      return array(copy, items.size());
    }
    case JsonKind::kObject:
      return object(as_object().clone(arena));
  }
  return JsonValue();
}

bool operator==(const JsonValue& a, const JsonValue& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case JsonKind::kNull:
      return true;
    case JsonKind::kBool:
      return a.as_bool() == b.as_bool();
    case JsonKind::kNumber:
      return a.as_number() == b.as_number();
    case JsonKind::kString:
      return a.as_string() == b.as_string();
    case JsonKind::kArray: {
      std::span<const JsonValue> x = a.as_array();
      std::span<const JsonValue> y = b.as_array();
      if (x.size() != y.size()) return false;
      for (std::size_t i = 0; i < x.size(); ++i) {
        if (!(x[i] == y[i])) return false;
      }
      return true;
    }
    case JsonKind::kObject:
      return a.as_object() == b.as_object();
  }
  return false;
}

}  // namespace velmar::json
