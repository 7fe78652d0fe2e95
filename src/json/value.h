// The JSON value model, the chief header of the value types: JsonValue (six kinds),
// JsonNumber (three exact representations) and JsonObject (an insertion-ordered map).
// src/json is this module's JSON library, general beside the row front end that reader.h
// describes; the columnar transform is its one user.
//
// Values are small trivially copyable handles (16 bytes). Everything they refer to
// (long strings, array items, object members) lives in an Arena owned by the call, so a
// tree is destroyed by destroying its arena and copying a handle moves nothing. A
// deep copy (`clone`) is a new, independent tree in a given arena. value.cpp holds the
// values; object_map.{h,cpp} the map's storage and lookup, siphash.{h,cpp} its hashing;
// string_bytes.h, internal, the byte-level work on string handles that the reader and the
// map inline.
#pragma once

#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "json/arena.h"

namespace velmar::json {

enum class JsonKind : std::uint8_t { kNull, kBool, kNumber, kString, kArray, kObject };

// A number: unsigned 64-bit, negative signed 64-bit, or finite double.
class JsonNumber {
 public:
  enum class Rep : std::uint8_t { kUnsigned, kSigned, kDouble };

  static JsonNumber from_unsigned(std::uint64_t v) { return JsonNumber(Rep::kUnsigned, v); }
  // Precondition: v < 0.
  static JsonNumber from_signed(std::int64_t v);
  // Precondition: v is finite.
  static JsonNumber from_double(double v);
  // A double together with its shortest round-trip digits, v = +-digits * 10^-k, which
  // the writer then need not search for, and its sign, `negative`, kept apart so that a
  // word packed from it need not wait for v. Preconditions: v is finite and nonzero, those
  // are its shortest digits, 0 < digits <= kMaxKnownDigits, kMinKnownK <= k <= kMaxKnownK,
  // negative == signbit(v).
  static JsonNumber from_double_with_digits(double v, std::uint64_t digits, int k, bool negative);
  static constexpr std::uint64_t kMaxKnownDigits = (std::uint64_t{1} << 42) - 1;
  static constexpr int kMinKnownK = -32;
  static constexpr int kMaxKnownK = 31;

  Rep rep() const { return static_cast<Rep>((head_ >> 8) & kRepMask); }
  std::uint64_t as_unsigned() const { return bits_.u; }
  std::int64_t as_signed() const { return bits_.i; }
  double as_double() const { return bits_.d; }
  // A double's shortest digits when they came with it, else 0; fraction_digits() is
  // the k of digits * 10^-k.
  std::uint64_t known_digits() const { return (head_ >> kDigitsShift) & kMaxKnownDigits; }
  int fraction_digits() const { return static_cast<int>(head_ >> kKShift) + kMinKnownK; }
  // For a double with known digits, its sign.
  bool known_negative() const { return (head_ & kKnownNegativeBit) != 0; }

  // The nearest double (ties to even) for integers; a double unchanged.
  double to_double() const;

  // Same representation and equal value (doubles by IEEE equality, so -0.0 == 0.0).
  friend bool operator==(const JsonNumber& a, const JsonNumber& b);

  // Equal mathematical values, across representations and without rounding an integer
  // to a double: 1 == 1.0 == 1e0, 0 == -0.0, but 9007199254740993 != 9007199254740992.0.
  static bool same_quantity(const JsonNumber& a, const JsonNumber& b);

 private:
  friend class JsonValue;
  union Bits {
    std::uint64_t u;
    std::int64_t i;
    double d;
  };
  JsonNumber(Rep rep, std::uint64_t u) : head_(std::uint64_t{static_cast<std::uint8_t>(rep)} << 8) {
    bits_.u = u;
  }
  JsonNumber(Rep rep, Bits bits)
      : head_(std::uint64_t{static_cast<std::uint8_t>(rep)} << 8), bits_(bits) {}

  // The first word of a number's handle (JsonValue) without its kind, so that the handle
  // is made and read back a word at a time: byte 1 the representation (its top bit the
  // sign of a double with known digits), then the known digits, then k + 32.
  static constexpr std::uint64_t kRepMask = 0x7F;
  static constexpr std::uint64_t kKnownNegativeBit = std::uint64_t{1} << 15;  // byte 1's top
  static constexpr int kDigitsShift = 16;
  static constexpr int kKShift = 58;
  std::uint64_t head_;
  Bits bits_;
};
static_assert(sizeof(JsonNumber) == 16);

class JsonObject;
struct JsonMember;

namespace detail {
// The part of a map's storage that reading its members needs; ObjectData
// (object_map.h) extends it with the hash key and the index.
struct MemberList {
  JsonMember* members;
  std::size_t size;
};
struct ObjectData;
struct StringBytes;
}  // namespace detail

class JsonValue {
 public:
  // Inline strings hold up to this many bytes inside the handle itself.
  static constexpr std::size_t kInlineCapacity = 14;

  JsonValue() { h_ = Heap{}; }  // null

  static JsonValue null() { return JsonValue(); }
  static JsonValue boolean(bool b);
  static JsonValue number(JsonNumber n);
  // Copies `text` into the arena (or inline). `escape_free` promises that no byte of it
  // needs an escape when written, which lets the writer copy it in one block.
  static JsonValue string(Arena& arena, std::string_view text, bool escape_free = false);
  // A string that refers to `text` instead of copying it: for text longer than
  // kInlineCapacity that outlives the value, such as the reader's input or its copy in an
  // arena.
  static JsonValue borrowed_string(std::string_view text, bool escape_free);
  // Wraps `n` items that already live in an arena (the handle does not copy them).
  static JsonValue array(const JsonValue* items, std::size_t n);
  // Copies `items` into the arena.
  static JsonValue array(Arena& arena, std::span<const JsonValue> items);
  static JsonValue object(JsonObject obj);

  JsonKind kind() const { return h_.kind; }
  bool is_null() const { return kind() == JsonKind::kNull; }
  bool is_number() const { return kind() == JsonKind::kNumber; }
  bool is_string() const { return kind() == JsonKind::kString; }
  bool is_array() const { return kind() == JsonKind::kArray; }
  bool is_object() const { return kind() == JsonKind::kObject; }

  // Accessors; each requires the matching kind.
  bool as_bool() const { return h_.u != 0; }
  JsonNumber as_number() const;
  std::string_view as_string() const {
    assert(is_string());
    if ((s_.bits & kInlineBit) != 0) return {s_.chars, static_cast<std::size_t>(s_.bits >> 4)};
    return {h_.str, length()};
  }
  // True when the string is known to need no escape when written.
  bool string_escape_free() const { return (h_.bits & kEscapeFreeBit) != 0; }
  std::span<const JsonValue> as_array() const;
  JsonObject as_object() const;

  // Byte equality of two string values, without unpacking inline ones.
  static bool same_string(const JsonValue& a, const JsonValue& b) {
    assert(a.is_string() && b.is_string());
    bool a_inline = (a.s_.bits & kInlineBit) != 0;
    bool b_inline = (b.s_.bits & kInlineBit) != 0;
    // Strings of up to kInlineCapacity bytes are always inline, so the two forms never
    // hold equal text.
    if (a_inline != b_inline) return false;
    if (a_inline) {
      // The handles as two words each: by the padding rule (Inline) they differ only
      // where the text does, or in the escape-free flag.
      std::uint64_t x[2];
      std::uint64_t y[2];
      std::memcpy(x, static_cast<const void*>(&a), sizeof x);
      std::memcpy(y, static_cast<const void*>(&b), sizeof y);
      return ((x[0] ^ y[0]) & ~kEscapeFreeInWord) == 0 && x[1] == y[1];
    }
    return a.as_string() == b.as_string();
  }

  // Deep copy into `arena`: an equal, fully independent tree.
  JsonValue clone(Arena& arena) const;

  // Equality of the value model: same kind and equal content; numbers by
  // JsonNumber::operator==, objects regardless of member order.
  friend bool operator==(const JsonValue& a, const JsonValue& b);

 private:
  static constexpr std::uint8_t kInlineBit = 1;
  static constexpr std::uint8_t kEscapeFreeBit = 2;
  static constexpr std::uint8_t kMemberListBit = 1;  // an object held as a member list
  // The escape-free flag in the handle's first word, where `bits` is byte 1 (the JSON
  // code is little-endian only, as word.h states).
  static constexpr std::uint64_t kEscapeFreeInWord = std::uint64_t{kEscapeFreeBit} << 8;

  std::size_t length() const { return (std::size_t{h_.len_hi} << 32) | std::size_t{h_.len_lo}; }
  void set_length(std::size_t n) {
    assert((n >> 48) == 0);
    h_.len_lo = static_cast<std::uint32_t>(n);
    h_.len_hi = static_cast<std::uint16_t>(n >> 32);
  }

  // Two views of the same 16 bytes that share their first two members, so `kind` and
  // `bits` may be read through either.
  struct Heap {
    JsonKind kind = JsonKind::kNull;
    std::uint8_t bits = 0;  // string flags; number representation
    std::uint16_t len_hi = 0;
    std::uint32_t len_lo = 0;
    union {
      std::uint64_t u = 0;
      std::int64_t i;
      double d;
      const char* str;
      const JsonValue* items;
      const JsonMember* members;  // an object's member list
      detail::MemberList* obj;    // a map
    };
  };
  // The padding rule: the chars past the length are zero. detail::StringBytes::pack_inline
  // (string_bytes.h), the one function that packs an inline string, makes them so, and
  // same_string and the strings' digest compare and hash all sixteen bytes relying on it.
  struct Inline {
    JsonKind kind;
    std::uint8_t bits;  // flags in the low nibble, length in the high nibble
    char chars[kInlineCapacity];
  };
  union {
    Heap h_;
    Inline s_;
  };

  friend struct detail::StringBytes;
};
static_assert(sizeof(JsonValue) == 16);

// One member of an object: its key (always a string value) and its value.
struct JsonMember {
  JsonValue key;
  JsonValue value;
};
static_assert(sizeof(JsonMember) == 32);

// An insertion-ordered map from string keys to values: a handle to data in an arena.
// Copying the handle shares the map; `clone` makes an independent copy. A map made by
// `create` can grow and is keyed with a hash key of its own, taken from the thread's seed
// (object_map.h). `from_members` makes the reader's objects: up to kLinearLimit members
// (nearly every object) are a plain member list, found by comparing keys, with no header,
// no hash key and no index; they never change once made.
class JsonObject {
 public:
  struct InsertResult {
    std::size_t position;  // the entry that holds the key now
    bool replaced;         // the key was there already
    JsonValue previous;    // its earlier value when replaced, else null
  };

  // A new empty map with room for `capacity` members before it grows.
  static JsonObject create(Arena& arena, std::size_t capacity = 0);
  // The object of `members` in order, as insert_full() of each would make it (a key seen
  // before keeps its first position and takes the later value); the reader's way to build
  // an object once all its members are known.
  static JsonObject from_members(Arena& arena, std::span<const JsonMember> members);

  // Stores the pair. An existing equal key keeps its position and gets the new value;
  // a new key is appended at the end. `key` must be a string value. Only for maps made by
  // create().
  InsertResult insert_full(Arena& arena, JsonValue key, JsonValue value);
  InsertResult insert_full(Arena& arena, std::string_view key, JsonValue value);

  // The value under `key`, or null when there is none.
  const JsonValue* get(std::string_view key) const;

  std::size_t size() const { return map_ != nullptr ? map_->size : size_; }
  bool empty() const { return size() == 0; }
  // The members in entry order.
  std::span<const JsonMember> members() const {
    if (map_ != nullptr) return {map_->members, map_->size};
    return {members_, size_};
  }

  // An independent copy with the same entries, order, stored hashes and hash key.
  JsonObject clone(Arena& arena) const;

  // Equal member counts and every member of `a` found in `b` with an equal value.
  friend bool operator==(const JsonObject& a, const JsonObject& b);

 private:
  friend class JsonValue;
  friend struct detail::ObjectData;
  static JsonObject from_many_members(Arena& arena, std::span<const JsonMember> members);
  explicit JsonObject(detail::MemberList* map) : map_(map) {}
  JsonObject(const JsonMember* members, std::size_t size) : members_(members), size_(size) {}

  detail::MemberList* map_ = nullptr;  // a map's storage; null for a member list
  const JsonMember* members_ = nullptr;
  std::size_t size_ = 0;
};

// Inline, as the reader makes one for every container it reads and the derivation and
// the writer look into each.
inline JsonValue JsonValue::array(const JsonValue* items, std::size_t n) {
  JsonValue v;
  v.h_.kind = JsonKind::kArray;
  v.set_length(n);
  v.h_.items = items;
  return v;
}

inline JsonValue JsonValue::array(Arena& arena, std::span<const JsonValue> items) {
  JsonValue* copy = arena.allocate_array<JsonValue>(items.size());
  if (!items.empty()) std::memcpy(static_cast<void*>(copy), items.data(), items.size_bytes());
  return array(copy, items.size());
}

inline std::span<const JsonValue> JsonValue::as_array() const {
  assert(is_array());
  return {h_.items, length()};
}

inline JsonValue JsonValue::object(JsonObject obj) {
  JsonValue v;
  v.h_.kind = JsonKind::kObject;
  if (obj.map_ != nullptr) {
    v.h_.obj = obj.map_;
  } else {
    v.h_.bits = kMemberListBit;
    v.set_length(obj.size_);
    v.h_.members = obj.members_;
  }
  return v;
}

inline JsonObject JsonValue::as_object() const {
  assert(is_object());
  if ((h_.bits & kMemberListBit) != 0) return JsonObject(h_.members, length());
  return JsonObject(h_.obj);
}

// Inline, as the reader makes one for every double it reads.
inline JsonNumber JsonNumber::from_double(double v) {
  assert(std::isfinite(v));
  Bits bits;
  bits.d = v;
  return JsonNumber(Rep::kDouble, bits);
}

// Inline, as the reader makes one for many of the doubles it reads.
inline JsonNumber JsonNumber::from_double_with_digits(double v, std::uint64_t digits, int k,
                                                      bool negative) {
  assert(std::isfinite(v) && v != 0 && digits > 0 && digits <= kMaxKnownDigits);
  assert(k >= kMinKnownK && k <= kMaxKnownK && negative == std::signbit(v));
  JsonNumber n = from_double(v);
  n.head_ |= (digits << kDigitsShift) | (static_cast<std::uint64_t>(k - kMinKnownK) << kKShift) |
             (negative ? kKnownNegativeBit : 0);
  return n;
}

// Inline, as the reader makes one for every scalar it reads.
inline JsonValue JsonValue::boolean(bool b) {
  JsonValue v;
  v.h_.kind = JsonKind::kBool;
  v.h_.u = b ? 1 : 0;
  return v;
}

inline JsonValue JsonValue::number(JsonNumber n) {
  JsonValue v;
  const std::uint64_t head = n.head_ | static_cast<std::uint64_t>(JsonKind::kNumber);
  std::memcpy(static_cast<void*>(&v), &head, sizeof head);
  v.h_.u = n.bits_.u;
  return v;
}

inline JsonNumber JsonValue::as_number() const {
  assert(is_number());
  JsonNumber::Bits bits;
  bits.u = h_.u;
  JsonNumber n(JsonNumber::Rep::kUnsigned, bits);
  std::memcpy(&n.head_, static_cast<const void*>(this), sizeof n.head_);
  n.head_ &= ~std::uint64_t{0xFF};  // the kind
  return n;
}

inline JsonValue JsonValue::borrowed_string(std::string_view text, bool escape_free) {
  assert(text.size() > kInlineCapacity);
  JsonValue v;
  v.h_.kind = JsonKind::kString;
  v.h_.bits = escape_free ? kEscapeFreeBit : 0;
  v.set_length(text.size());
  v.h_.str = text.data();
  return v;
}

}  // namespace velmar::json
