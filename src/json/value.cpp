// The value model: number equality, string and array handles, deep copy, equality, and
// the insertion-ordered object map with its per-map SipHash-1-3 key.
#include "json/value.h"

#include <sys/random.h>

#include <cassert>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "json/word.h"

namespace velmar::json {

// MARK: numbers

JsonNumber JsonNumber::from_signed(std::int64_t v) {
  assert(v < 0);
  Bits bits;
  bits.i = v;
  return JsonNumber(Rep::kSigned, bits);
}

JsonNumber JsonNumber::from_double(double v) {
  assert(std::isfinite(v));
  Bits bits;
  bits.d = v;
  return JsonNumber(Rep::kDouble, bits);
}

double JsonNumber::to_double() const {
  switch (rep_) {
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
  if (a.rep_ != b.rep_) return false;
  switch (a.rep_) {
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
  if (a.rep_ == b.rep_) return a == b;
  // Unsigned values are >= 0 and signed ones < 0, so the two never meet.
  if (a.rep_ == R::kDouble) {
    return b.rep_ == R::kUnsigned ? double_equals_unsigned(a.bits_.d, b.bits_.u)
                                  : double_equals_signed(a.bits_.d, b.bits_.i);
  }
  if (b.rep_ == R::kDouble) {
    return a.rep_ == R::kUnsigned ? double_equals_unsigned(b.bits_.d, a.bits_.u)
                                  : double_equals_signed(b.bits_.d, a.bits_.i);
  }
  return false;
}

// MARK: values

JsonValue JsonValue::boolean(bool b) {
  JsonValue v;
  v.h_.kind = JsonKind::kBool;
  v.h_.u = b ? 1 : 0;
  return v;
}

JsonValue JsonValue::number(JsonNumber n) {
  JsonValue v;
  v.h_.kind = JsonKind::kNumber;
  v.h_.bits = static_cast<std::uint8_t>(n.rep_);
  v.h_.u = n.bits_.u;
  return v;
}

JsonNumber JsonValue::as_number() const {
  assert(is_number());
  JsonNumber::Bits bits;
  bits.u = h_.u;
  return JsonNumber(static_cast<JsonNumber::Rep>(h_.bits), bits);
}

void JsonValue::set_length(std::size_t n) {
  assert((n >> 48) == 0);
  h_.len_lo = static_cast<std::uint32_t>(n);
  h_.len_hi = static_cast<std::uint16_t>(n >> 32);
}

JsonValue JsonValue::string(Arena& arena, std::string_view text, bool escape_free) {
  JsonValue v;
  std::uint8_t flags = escape_free ? kEscapeFreeBit : 0;
  std::size_t n = text.size();
  if (n <= kInlineCapacity) {
    auto bits = static_cast<std::uint8_t>(flags | kInlineBit | (n << 4));
    // Bytes 0 and 1 hold kind and bits, bytes 2 to 15 the characters.
    std::uint64_t first = detail::load_up_to_8(text.data(), n < 8 ? n : 8);
    std::uint64_t second = n > 8 ? detail::load_up_to_8(text.data() + 8, n - 8) : 0;
    std::uint64_t words[2] = {
        static_cast<std::uint64_t>(JsonKind::kString) | (std::uint64_t{bits} << 8) | (first << 16),
        (first >> 48) | (second << 16)};
    // A value of its own: with `v`, GCC 12 copies the words once more through the stack.
    JsonValue inline_form;
    std::memcpy(static_cast<void*>(&inline_form), words, sizeof words);
    return inline_form;
  }
  v.h_.kind = JsonKind::kString;
  v.h_.bits = flags;
  v.set_length(n);
  v.h_.str = arena.copy(text);
  return v;
}

std::string_view JsonValue::as_string() const {
  assert(is_string());
  if ((s_.bits & kInlineBit) != 0) return {s_.chars, static_cast<std::size_t>(s_.bits >> 4)};
  return {h_.str, length()};
}

JsonValue JsonValue::array(const JsonValue* items, std::size_t n) {
  JsonValue v;
  v.h_.kind = JsonKind::kArray;
  v.set_length(n);
  v.h_.items = items;
  return v;
}

JsonValue JsonValue::array(Arena& arena, std::span<const JsonValue> items) {
  JsonValue* copy = arena.allocate_array<JsonValue>(items.size());
  if (!items.empty()) std::memcpy(static_cast<void*>(copy), items.data(), items.size_bytes());
  return array(copy, items.size());
}

std::span<const JsonValue> JsonValue::as_array() const {
  assert(is_array());
  return {h_.items, length()};
}

JsonValue JsonValue::object(JsonObject obj) {
  JsonValue v;
  v.h_.kind = JsonKind::kObject;
  v.h_.obj = obj.data_;
  return v;
}

JsonObject JsonValue::as_object() const {
  assert(is_object());
  return JsonObject(h_.obj);
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

// MARK: hashing

namespace {

constexpr std::uint64_t rotl(std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

struct SipState {
  std::uint64_t v0, v1, v2, v3;

  void round() {
    v0 += v1;
    v1 = rotl(v1, 13);
    v1 ^= v0;
    v0 = rotl(v0, 32);
    v2 += v3;
    v3 = rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = rotl(v1, 17);
    v1 ^= v2;
    v2 = rotl(v2, 32);
  }
};

}  // namespace

namespace detail {

// SipHash-c-d after Aumasson and Bernstein, "SipHash: a fast short-input PRF" (2012):
// c compression rounds per 8-byte word, d finalisation rounds.
template <int C, int D>
std::uint64_t siphash(HashKey key, std::string_view data) {
  SipState s{key.k0 ^ 0x736f6d6570736575ULL, key.k1 ^ 0x646f72616e646f6dULL,
             key.k0 ^ 0x6c7967656e657261ULL, key.k1 ^ 0x7465646279746573ULL};
  const char* p = data.data();
  std::size_t n = data.size();
  const char* end = p + (n & ~std::size_t{7});
  for (; p != end; p += 8) {
    std::uint64_t m = load_word(p);
    s.v3 ^= m;
    for (int i = 0; i < C; ++i) s.round();
    s.v0 ^= m;
  }
  std::uint64_t last = static_cast<std::uint64_t>(n & 0xff) << 56;
  for (std::size_t i = 0; i < (n & 7); ++i) {
    last |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  }
  s.v3 ^= last;
  for (int i = 0; i < C; ++i) s.round();
  s.v0 ^= last;
  s.v2 ^= 0xff;
  for (int i = 0; i < D; ++i) s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

template std::uint64_t siphash<2, 4>(HashKey, std::string_view);

}  // namespace detail

std::uint64_t siphash13(HashKey key, std::string_view data) {
  return detail::siphash<1, 3>(key, data);
}

namespace {

bool fill_from_os(void* buf, std::size_t n) {
  char* p = static_cast<char*>(buf);
  while (n > 0) {
    ssize_t got = getrandom(p, n, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      break;
    }
    p += got;
    n -= static_cast<std::size_t>(got);
  }
  if (n == 0) return true;
  std::FILE* f = std::fopen("/dev/urandom", "rb");
  if (f == nullptr) return false;
  std::size_t got = std::fread(p, 1, n, f);
  std::fclose(f);
  return got == n;
}

HashKey fresh_seed() {
  HashKey key{};
  if (fill_from_os(&key, sizeof key)) return key;
  // Without a random source the key still differs per thread and per run.
  auto now =
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  key.k0 = now ^ reinterpret_cast<std::uintptr_t>(&key);
  key.k1 = rotl(now, 29) ^ 0x9e3779b97f4a7c15ULL;
  return key;
}

struct ThreadSeed {
  HashKey key = fresh_seed();
};

}  // namespace

HashKey take_thread_hash_key() {
  thread_local ThreadSeed seed;
  HashKey key = seed.key;
  ++seed.key.k0;
  return key;
}

// MARK: objects

// Maps with up to this many members find a key by comparing it with each stored key,
// which costs less than hashing it. A larger map hashes every key once, keeps the
// hashes beside the members, and finds keys through an open-addressing index.
constexpr std::size_t kLinearLimit = 32;

namespace {

constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

std::size_t index_slots_for(std::size_t capacity) {
  std::size_t slots = 64;
  while (slots < capacity * 2) slots *= 2;
  return slots;
}

}  // namespace

bool JsonValue::same_string(const JsonValue& a, const JsonValue& b) {
  assert(a.is_string() && b.is_string());
  bool a_inline = (a.s_.bits & kInlineBit) != 0;
  bool b_inline = (b.s_.bits & kInlineBit) != 0;
  // Strings of up to kInlineCapacity bytes are always inline, so the two forms never
  // hold equal text.
  if (a_inline != b_inline) return false;
  if (a_inline) {
    // Unused inline bytes are zero; only the escape-free flag may differ.
    std::uint64_t x[2];
    std::uint64_t y[2];
    std::memcpy(x, static_cast<const void*>(&a), sizeof x);
    std::memcpy(y, static_cast<const void*>(&b), sizeof y);
    constexpr std::uint64_t kIgnored = std::uint64_t{kEscapeFreeBit} << 8;
    return ((x[0] ^ y[0]) & ~kIgnored) == 0 && x[1] == y[1];
  }
  return a.as_string() == b.as_string();
}

JsonObject JsonObject::create(Arena& arena, std::size_t capacity) {
  ObjectData* d = arena.allocate_array<ObjectData>(1);
  *d = ObjectData{take_thread_hash_key(), 0, capacity, nullptr, nullptr, nullptr, 0};
  if (capacity > 0) d->members = arena.allocate_array<JsonMember>(capacity);
  return JsonObject(d);
}

JsonObject JsonObject::from_members(Arena& arena, std::span<const JsonMember> members) {
  JsonObject obj = create(arena, members.size());
  for (const JsonMember& m : members) (void)obj.insert_full(arena, m.key, m.value);
  return obj;
}

HashKey JsonObject::hash_key() const { return data_->key; }

std::size_t JsonObject::find(std::string_view key, std::uint64_t hash) const {
  const ObjectData& d = *data_;
  for (std::size_t slot = hash & d.index_mask;; slot = (slot + 1) & d.index_mask) {
    std::uint32_t entry = d.index[slot];
    if (entry == 0) return kNotFound;
    std::size_t pos = entry - 1;
    if (d.hashes[pos] == hash && d.members[pos].key.as_string() == key) return pos;
  }
}

// Hashes every key once and indexes the positions: the switch from comparing keys to
// hashing them, when the map outgrows kLinearLimit.
void JsonObject::start_hashing(Arena& arena) {
  ObjectData& d = *data_;
  d.hashes = arena.allocate_array<std::uint64_t>(d.capacity);
  for (std::size_t pos = 0; pos < d.size; ++pos) {
    d.hashes[pos] = siphash13(d.key, d.members[pos].key.as_string());
  }
  rebuild_index(arena);
}

void JsonObject::rebuild_index(Arena& arena) {
  ObjectData& d = *data_;
  std::size_t slots = index_slots_for(d.capacity);
  // Positions are stored in 32 bits.
  if (d.capacity >= UINT32_MAX) allocation_failed(SIZE_MAX);
  d.index = arena.allocate_array<std::uint32_t>(slots);
  std::memset(d.index, 0, slots * sizeof(std::uint32_t));
  d.index_mask = slots - 1;
  for (std::size_t pos = 0; pos < d.size; ++pos) {
    std::size_t slot = d.hashes[pos] & d.index_mask;
    while (d.index[slot] != 0) slot = (slot + 1) & d.index_mask;
    d.index[slot] = static_cast<std::uint32_t>(pos + 1);
  }
}

void JsonObject::grow(Arena& arena) {
  ObjectData& d = *data_;
  std::size_t capacity = d.capacity < 4 ? 4 : d.capacity * 2;
  JsonMember* members = arena.allocate_array<JsonMember>(capacity);
  if (d.size > 0) std::memcpy(static_cast<void*>(members), d.members, d.size * sizeof(JsonMember));
  d.members = members;
  d.capacity = capacity;
  if (d.hashes == nullptr) return;
  std::uint64_t* hashes = arena.allocate_array<std::uint64_t>(capacity);
  std::memcpy(hashes, d.hashes, d.size * sizeof(std::uint64_t));
  d.hashes = hashes;
  rebuild_index(arena);
}

JsonObject::InsertResult JsonObject::insert_full(Arena& arena, JsonValue key, JsonValue value) {
  assert(key.is_string());
  ObjectData& d = *data_;
  std::uint64_t hash = 0;
  std::size_t pos = kNotFound;
  if (d.index == nullptr) {
    for (std::size_t i = 0; i < d.size; ++i) {
      if (JsonValue::same_string(d.members[i].key, key)) {
        pos = i;
        break;
      }
    }
  } else {
    hash = siphash13(d.key, key.as_string());
    pos = find(key.as_string(), hash);
  }
  if (pos != kNotFound) {
    JsonValue previous = d.members[pos].value;
    d.members[pos].value = value;
    return {pos, true, previous};
  }
  if (d.size == d.capacity) grow(arena);
  pos = d.size++;
  d.members[pos] = JsonMember{key, value};
  if (d.index != nullptr) {
    d.hashes[pos] = hash;
    std::size_t slot = hash & d.index_mask;
    while (d.index[slot] != 0) slot = (slot + 1) & d.index_mask;
    d.index[slot] = static_cast<std::uint32_t>(pos + 1);
  } else if (d.size > kLinearLimit) {
    start_hashing(arena);
  }
  return {pos, false, JsonValue()};
}

JsonObject::InsertResult JsonObject::insert_full(Arena& arena, std::string_view key,
                                                 JsonValue value) {
  return insert_full(arena, JsonValue::string(arena, key), value);
}

const JsonValue* JsonObject::get(std::string_view key) const {
  const ObjectData& d = *data_;
  if (d.index == nullptr) {
    for (std::size_t i = 0; i < d.size; ++i) {
      if (d.members[i].key.as_string() == key) return &d.members[i].value;
    }
    return nullptr;
  }
  std::size_t pos = find(key, siphash13(d.key, key));
  return pos == kNotFound ? nullptr : &d.members[pos].value;
}

JsonObject JsonObject::clone(Arena& arena) const {
  const ObjectData& src = *data_;
  ObjectData* d = arena.allocate_array<ObjectData>(1);
  *d = ObjectData{src.key, src.size, src.size, nullptr, nullptr, nullptr, 0};
  d->members = arena.allocate_array<JsonMember>(src.size);
  for (std::size_t i = 0; i < src.size; ++i) {
    d->members[i] = JsonMember{src.members[i].key.clone(arena), src.members[i].value.clone(arena)};
  }
  if (src.hashes != nullptr) {
    d->hashes = arena.allocate_array<std::uint64_t>(src.size);
    std::memcpy(d->hashes, src.hashes, src.size * sizeof(std::uint64_t));
    std::size_t slots = src.index_mask + 1;
    d->index = arena.allocate_array<std::uint32_t>(slots);
    std::memcpy(d->index, src.index, slots * sizeof(std::uint32_t));
    d->index_mask = src.index_mask;
  }
  return JsonObject(d);
}

bool operator==(const JsonObject& a, const JsonObject& b) {
  if (a.size() != b.size()) return false;
  for (const JsonMember& m : a.members()) {
    const JsonValue* other = b.get(m.key.as_string());
    if (other == nullptr || !(*other == m.value)) return false;
  }
  return true;
}

}  // namespace velmar::json
