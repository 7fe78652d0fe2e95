// Packing values into a word and back; the layout is in packed_value.h.
#include "json/packed_value.h"

#include <cassert>
#include <cstring>

#include "json/number_reader.h"
#include "json/powers_of_ten.h"
#include "json/simd.h"
#include "json/string_bytes.h"

namespace velmar::json {

using detail::load_block;

bool PackedValue::pack_without_handle(const JsonValue& v, PackedValue& out) {
  switch (v.kind()) {
    case JsonKind::kNull:
      out = PackedValue();
      return true;
    case JsonKind::kBool:
      out = boolean(v.as_bool());
      return true;
    case JsonKind::kNumber:
      return pack_number(v.as_number(), out);
    case JsonKind::kArray: {
      const auto address = reinterpret_cast<std::uintptr_t>(v.as_array().data());
      const std::size_t n = v.as_array().size();
      if ((address & ~kAddressMask) != 0 || (n >> (64 - kCountShift)) != 0) return false;
      out.bits_ = address | (std::uint64_t{n} << kCountShift) | kArray;
      return true;
    }
    default:
      return false;
  }
}

PackedValue PackedValue::of(const JsonValue& v) {
  PackedValue out;
  if (pack_without_handle(v, out)) return out;
  return referring_to(&v);
}

PackedValue PackedValue::copied(Arena& arena, const JsonValue& v) {
  PackedValue out;
  if (pack_without_handle(v, out)) return out;
  JsonValue* handle = arena.allocate_array<JsonValue>(1);
  *handle = v;
  return referring_to(handle);
}

JsonValue PackedValue::unpack(PaddedView input) const {
  static_assert(kKBias <= detail::kMaxExactPow10);
  switch (form()) {
    case Form::kHandle:
      return handle();
    case Form::kLiteral:
      if ((bits_ >> kTagBits) == 0) return JsonValue::null();
      return JsonValue::boolean((bits_ >> kTagBits) == 2);
    case Form::kUnsigned:
      return JsonValue::number(JsonNumber::from_unsigned(unsigned_value()));
    case Form::kNegative:
      return JsonValue::number(JsonNumber::from_signed(negative_value()));
    case Form::kDigits: {
      // The double nearest to its shortest digits is the double itself (to_number).
      bool negative = false;
      std::uint64_t digits = 0;
      int k = 0;
      known_digits(negative, digits, k);
      if (digits == 0) return JsonValue::number(JsonNumber::from_double(negative ? -0.0 : 0.0));
      return JsonValue::number(detail::to_number({digits, k, negative}));
    }
    case Form::kArray:
      return array();
    case Form::kWriterText:
      assert(false && "a writer text is read from the input, not unpacked");
      return JsonValue();
    case Form::kRawString:
      break;
  }
  const PaddedView text = raw_text(input);
  if (text.size() > JsonValue::kInlineCapacity) {
    return JsonValue::borrowed_string(text.text(), true);
  }
  return detail::StringBytes::pack_inline(load_block(text.data()), text.size(), true);
}

}  // namespace velmar::json
