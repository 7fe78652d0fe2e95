// JsonObject: insertion, lookup and copy over ObjectData. Small maps compare keys; past
// kLinearLimit members every key is hashed once and found through the index.
#include "json/object_map.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "json/simd.h"
#include "json/string_bytes.h"

namespace velmar::json {
namespace detail {
namespace {

constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// At least twice as many slots as members, so that probes stay short.
std::size_t index_slots_for(std::size_t capacity) {
  std::size_t slots = 64;
  while (slots < capacity * 2) slots *= 2;
  return slots;
}

// Records the entry at `pos`, whose hash is stored, in the first free slot from its hash.
void index_entry(ObjectData& d, std::size_t pos) {
  std::size_t slot = d.hashes[pos] & d.index_mask;
  while (d.index[slot] != 0) slot = (slot + 1) & d.index_mask;
  d.index[slot] = static_cast<std::uint32_t>(pos + 1);
}

void rebuild_index(Arena& arena, ObjectData& d) {
  std::size_t slots = index_slots_for(d.capacity);
  // Positions are stored in 32 bits.
  if (d.capacity >= UINT32_MAX) allocation_failed(SIZE_MAX);
  d.index = arena.allocate_array<std::uint32_t>(slots);
  std::memset(d.index, 0, slots * sizeof(std::uint32_t));
  d.index_mask = slots - 1;
  for (std::size_t pos = 0; pos < d.size; ++pos) index_entry(d, pos);
}

// Hashes every key once and indexes the positions: the switch from comparing keys to
// hashing them, when the map outgrows kLinearLimit.
void start_hashing(Arena& arena, ObjectData& d) {
  d.hashes = arena.allocate_array<std::uint64_t>(d.capacity);
  for (std::size_t pos = 0; pos < d.size; ++pos) {
    d.hashes[pos] = siphash13(d.key, d.members[pos].key.as_string());
  }
  rebuild_index(arena, d);
}

void grow(Arena& arena, ObjectData& d) {
  std::size_t capacity = d.capacity < 4 ? 4 : d.capacity * 2;
  JsonMember* members = arena.allocate_array<JsonMember>(capacity);
  if (d.size > 0) std::memcpy(static_cast<void*>(members), d.members, d.size * sizeof(JsonMember));
  d.members = members;
  d.capacity = capacity;
  if (d.hashes == nullptr) return;
  std::uint64_t* hashes = arena.allocate_array<std::uint64_t>(capacity);
  std::memcpy(hashes, d.hashes, d.size * sizeof(std::uint64_t));
  d.hashes = hashes;
  rebuild_index(arena, d);
}

// The position of `key` through the index, or kNotFound. Precondition: the map hashes.
std::size_t find_hashed(const ObjectData& d, std::string_view key, std::uint64_t hash) {
  for (std::size_t slot = hash & d.index_mask;; slot = (slot + 1) & d.index_mask) {
    std::uint32_t entry = d.index[slot];
    if (entry == 0) return kNotFound;
    std::size_t pos = entry - 1;
    if (d.hashes[pos] == hash && d.members[pos].key.as_string() == key) return pos;
  }
}

// Appends a key known to be absent; `hash` is its hash when the map hashes.
[[gnu::always_inline]] inline std::size_t append(Arena& arena, ObjectData& d, JsonValue key,
                                                 JsonValue value, std::uint64_t hash) {
  if (d.size == d.capacity) grow(arena, d);
  std::size_t pos = d.size++;
  d.members[pos] = JsonMember{key, value};
  if (d.index != nullptr) {
    d.hashes[pos] = hash;
    index_entry(d, pos);
  } else if (d.size > kLinearLimit) {
    start_hashing(arena, d);
  }
  return pos;
}

// The member of the list `members[0, size)` whose key equals `key`, or null.
JsonMember* find_member(JsonMember* members, std::size_t size, const JsonValue& key) {
  for (std::size_t i = 0; i < size; ++i) {
    if (JsonValue::same_string(members[i].key, key)) return &members[i];
  }
  return nullptr;
}

// Objects of up to this many members have their keys compared pairwise, in fewer steps
// than the key filter takes.
constexpr std::size_t kPairwiseLimit = 4;

bool keys_distinct(std::span<const JsonMember> members) {
  for (std::size_t i = 1; i < members.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (JsonValue::same_string(members[i].key, members[j].key)) return false;
    }
  }
  return true;
}

// insert_full, written once and inlined into from_members as well, which the reader
// calls for every object it reads.
[[gnu::always_inline]] inline JsonObject::InsertResult insert(Arena& arena, ObjectData& d,
                                                              JsonValue key, JsonValue value) {
  assert(key.is_string());
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
    pos = find_hashed(d, key.as_string(), hash);
  }
  if (pos != kNotFound) {
    JsonValue previous = d.members[pos].value;
    d.members[pos].value = value;
    return {pos, true, previous};
  }
  return {append(arena, d, key, value, hash), false, JsonValue()};
}

// A set of key digests in 512 bits. A key whose bit is clear is certainly not in the map,
// so from_members skips the comparison with every stored key for nearly every member.
// A collision is paid in every row, not now and then: rows of one shape have the same
// keys, so they collide alike. 512 bits make one unlikely among a row's few dozen keys
// (each key meets a set bit with odds of about keys added / 512), and eight words stay
// cheap to clear for every object, which a larger set is not.
class KeyFilter {
 public:
  // Whether a key equal to `key` may have been added before; adds `key`.
  bool test_and_add(const JsonValue& key) {
    std::uint64_t bucket = (StringBytes::digest(key) * 0x9E3779B97F4A7C15) >> 55;
    std::uint64_t bit = std::uint64_t{1} << (bucket & 63);
    std::uint64_t& word = bits_[bucket >> 6];
    bool maybe = (word & bit) != 0;
    word |= bit;
    return maybe;
  }

 private:
  std::uint64_t bits_[8] = {};
};

}  // namespace
}  // namespace detail

using detail::ObjectData;

JsonObject JsonObject::create(Arena& arena, std::size_t capacity) {
  ObjectData* d = arena.allocate_array<ObjectData>(1);
  *d = ObjectData{{nullptr, 0}, detail::take_thread_hash_key(), capacity, nullptr, nullptr, 0};
  if (capacity > 0) d->members = arena.allocate_array<JsonMember>(capacity);
  return JsonObject(d);
}

JsonObject JsonObject::from_members(Arena& arena, std::span<const JsonMember> members) {
  if (members.size() > detail::kLinearLimit) return from_many_members(arena, members);
  auto* list = arena.allocate_array<JsonMember>(members.size());
  if (members.size() <= detail::kPairwiseLimit && detail::keys_distinct(members)) {
    detail::copy_by_blocks(list, members.data(), members.size());
    return JsonObject(list, members.size());
  }
  detail::KeyFilter filter;
  // The leading members whose keys are certainly distinct, usually all of them, go in with
  // one copy; a key whose bit was set is looked for among those kept before it.
  std::size_t i = 0;
  while (i < members.size() && !filter.test_and_add(members[i].key)) ++i;
  detail::copy_by_blocks(list, members.data(), i);
  const std::size_t first_maybe_seen = i;  // its bit is set already
  std::size_t size = i;
  for (; i < members.size(); ++i) {
    const JsonMember& m = members[i];
    if (i == first_maybe_seen || filter.test_and_add(m.key)) {
      if (JsonMember* earlier = detail::find_member(list, size, m.key)) {
        earlier->value = m.value;
        continue;
      }
    }
    list[size++] = m;
  }
  return JsonObject(list, size);
}

// from_members() for more members than a list is searched for: a map, which hashes its
// keys once past kLinearLimit.
JsonObject JsonObject::from_many_members(Arena& arena, std::span<const JsonMember> members) {
  JsonObject obj = create(arena, members.size());
  ObjectData& d = ObjectData::of(obj);
  detail::KeyFilter filter;
  std::size_t linear = detail::kLinearLimit;
  std::size_t i = 0;
  while (i < linear && !filter.test_and_add(members[i].key)) ++i;
  detail::copy_by_blocks(d.members, members.data(), i);
  d.size = i;
  if (i < linear) {
    (void)detail::insert(arena, d, members[i].key, members[i].value);
    ++i;
  }
  for (; i < members.size(); ++i) {
    const JsonMember& m = members[i];
    // Once the map hashes, the index finds duplicates at the cost of the hash alone.
    if (d.index == nullptr && !filter.test_and_add(m.key)) {
      (void)detail::append(arena, d, m.key, m.value, 0);
    } else {
      (void)detail::insert(arena, d, m.key, m.value);
    }
  }
  return obj;
}

JsonObject::InsertResult JsonObject::insert_full(Arena& arena, JsonValue key, JsonValue value) {
  return detail::insert(arena, ObjectData::of(*this), key, value);
}

JsonObject::InsertResult JsonObject::insert_full(Arena& arena, std::string_view key,
                                                 JsonValue value) {
  return insert_full(arena, JsonValue::string(arena, key), value);
}

const JsonValue* JsonObject::get(std::string_view key) const {
  // Member lists, and maps before they hash, are searched key by key.
  if (map_ == nullptr || ObjectData::of(*this).index == nullptr) {
    for (const JsonMember& m : members()) {
      if (m.key.as_string() == key) return &m.value;
    }
    return nullptr;
  }
  const ObjectData& d = ObjectData::of(*this);
  std::size_t pos = detail::find_hashed(d, key, detail::siphash13(d.key, key));
  return pos == detail::kNotFound ? nullptr : &d.members[pos].value;
}

JsonObject JsonObject::clone(Arena& arena) const {
  if (map_ == nullptr) {
    auto* list = arena.allocate_array<JsonMember>(size_);
    for (std::size_t i = 0; i < size_; ++i) {
      list[i] = JsonMember{members_[i].key.clone(arena), members_[i].value.clone(arena)};
    }
    return JsonObject(list, size_);
  }
  const ObjectData& src = ObjectData::of(*this);
  ObjectData* d = arena.allocate_array<ObjectData>(1);
  *d = ObjectData{{nullptr, src.size}, src.key, src.size, nullptr, nullptr, 0};
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
  const std::span<const JsonMember> mine = a.members();
  const std::span<const JsonMember> theirs = b.members();
  for (std::size_t i = 0; i < mine.size(); ++i) {
    const JsonMember& m = mine[i];
    // Objects of one shape list their keys in the same order; as no key occurs twice, a
    // key found at the same place is the one to compare with, and the search is skipped.
    const JsonValue* other =
        JsonValue::same_string(theirs[i].key, m.key) ? &theirs[i].value : b.get(m.key.as_string());
    if (other == nullptr || !(*other == m.value)) return false;
  }
  return true;
}

}  // namespace velmar::json
