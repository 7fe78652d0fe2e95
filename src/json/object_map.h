// The storage behind a JsonObject handle: members in entry order, and once the map
// outgrows a linear search, the keys' hashes and an open-addressing index over them.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "json/siphash.h"
#include "json/value.h"

namespace velmar::json::detail {

// Maps with up to this many members find a key by comparing it with each stored key,
// which costs less than hashing it. A larger map hashes every key once, keeps the
// hashes beside the members, and finds keys through the index. Records of web APIs reach
// a few dozen members (a user or a status of a social network, about 40), and comparing
// is cheaper than hashing up to about this size; past it, a search that finds nothing
// would cost more than a hash, and keys chosen to defeat the reader's key filter could
// make reading an object cost the square of its size.
inline constexpr std::size_t kLinearLimit = 64;

struct ObjectData : MemberList {
  HashKey key;            // taken from the thread's seed when the map is created
  std::size_t capacity;   // members (and hashes) the arrays have room for
  std::uint64_t* hashes;  // the keys' hashes; null while the map is linear
  std::uint32_t* index;   // position + 1, 0 for an empty slot; null while linear
  std::size_t index_mask;

  // The storage of `object`, a map made by create(); every map is made as an ObjectData.
  static ObjectData& of(const JsonObject& object) {
    assert(object.map_ != nullptr);
    return static_cast<ObjectData&>(*object.map_);
  }
};

}  // namespace velmar::json::detail
