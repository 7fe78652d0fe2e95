// The value model: number representations and their two equalities, value equality,
// the ordered map (duplicate folding, lookup, index growth), deep copy and SipHash.
#include "json/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "json/object_map.h"
#include "json/simd.h"
#include "json/siphash.h"
#include "json/string_bytes.h"

namespace velmar::json {
namespace {

using detail::HashKey;
using detail::ObjectData;

using Rep = JsonNumber::Rep;

JsonNumber u(std::uint64_t v) { return JsonNumber::from_unsigned(v); }
JsonNumber s(std::int64_t v) { return JsonNumber::from_signed(v); }
JsonNumber d(double v) { return JsonNumber::from_double(v); }

std::string bytes_0_to(std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out.push_back(static_cast<char>(i));
  return out;
}

TEST(SipHash, MatchesPublishedSipHash24Vectors) {
  // The reference vectors of the SipHash paper: key 00..0f, message 00..(n-1).
  HashKey key{0x0706050403020100ULL, 0x0f0e0d0c0b0a0908ULL};
  EXPECT_EQ((detail::siphash<2, 4>(key, bytes_0_to(0))), 0x726fdb47dd0e0e31ULL);
  EXPECT_EQ((detail::siphash<2, 4>(key, bytes_0_to(1))), 0x74f839c593dc67fdULL);
  EXPECT_EQ((detail::siphash<2, 4>(key, bytes_0_to(15))), 0xa129ca6149be45e5ULL);
}

TEST(SipHash, MatchesSipHash13ReferenceValues) {
  // SipHash-1-3 with the zero key over 00..(n-1), as computed by an independent
  // implementation (a string hash that uses SipHash-1-3 with a zero key).
  struct Row {
    std::size_t n;
    std::uint64_t hash;
  };
  const Row rows[] = {{1, 0x68a914128e01e473ULL},  {7, 0x2f098ab0c751325aULL},
                      {8, 0xead411e67ebe2eeaULL},  {9, 0x75927f9d95124362ULL},
                      {15, 0xf30eb725bb91c9eaULL}, {16, 0x8972188433a5c5b7ULL},
                      {63, 0x385d3e39e5f37359ULL}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.n);
    EXPECT_EQ(detail::siphash13(HashKey{0, 0}, bytes_0_to(row.n)), row.hash);
  }
}

TEST(JsonNumber, ToDoubleRoundsIntegersToNearest) {
  EXPECT_EQ(u(18446744073709551615ULL).to_double(), 18446744073709551616.0);
  EXPECT_EQ(u(9007199254740993ULL).to_double(), 9007199254740992.0);
  EXPECT_EQ(s(std::numeric_limits<std::int64_t>::min()).to_double(), -9223372036854775808.0);
  EXPECT_EQ(d(-0.0).to_double(), 0.0);
  EXPECT_TRUE(std::signbit(d(-0.0).to_double()));
}

struct NumberPair {
  const char* name;
  JsonNumber a;
  JsonNumber b;
  bool same_representation_equal;
  bool same_quantity;
};

TEST(JsonNumber, EqualitiesAcrossRepresentations) {
  const std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  const NumberPair rows[] = {
      {"1 vs 1.0", u(1), d(1.0), false, true},
      {"1 vs 1", u(1), u(1), true, true},
      {"0 vs -0.0", u(0), d(-0.0), false, true},
      {"0.0 vs -0.0", d(0.0), d(-0.0), true, true},
      {"2^53 vs 2^53+1", u(9007199254740992ULL), u(9007199254740993ULL), false, false},
      {"2^53 vs 2^53 as double", u(9007199254740992ULL), d(9007199254740992.0), false, true},
      {"2^53+1 vs 2^53 as double", u(9007199254740993ULL), d(9007199254740992.0), false, false},
      {"u64 max vs 2^64 as double", u(18446744073709551615ULL), d(18446744073709551616.0), false,
       false},
      {"i64 min vs its double", s(kMin), d(-9223372036854775808.0), false, true},
      {"i64 min+1 vs i64 min as double", s(kMin + 1), d(-9223372036854775808.0), false, false},
      {"-1 vs -1.0", s(-1), d(-1.0), false, true},
      {"-1 vs 1", s(-1), u(1), false, false},
      {"1 vs 1.5", u(1), d(1.5), false, false},
      {"big ids", u(1234567890123456789ULL), u(1234567890123456790ULL), false, false},
      {"big id vs its rounded double", u(1234567890123456789ULL), d(1234567890123456768.0), false,
       false},
      {"-2 vs -2.5", s(-2), d(-2.5), false, false},
      {"5 vs -5.0", u(5), d(-5.0), false, false},
      {"0.1 vs 0.1", d(0.1), d(0.1), true, true},
  };
  for (const NumberPair& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.a == row.b, row.same_representation_equal);
    EXPECT_EQ(row.b == row.a, row.same_representation_equal);
    EXPECT_EQ(JsonNumber::same_quantity(row.a, row.b), row.same_quantity);
    EXPECT_EQ(JsonNumber::same_quantity(row.b, row.a), row.same_quantity);
  }
}

class JsonValueTest : public ::testing::Test {
 protected:
  JsonValue str(std::string_view text) { return JsonValue::string(arena_, text); }
  JsonValue num(JsonNumber n) { return JsonValue::number(n); }
  JsonValue arr(std::vector<JsonValue> items) { return JsonValue::array(arena_, items); }
  JsonValue obj(std::vector<std::pair<std::string, JsonValue>> members) {
    JsonObject o = JsonObject::create(arena_);
    for (auto& [k, v] : members) (void)o.insert_full(arena_, k, v);
    return JsonValue::object(o);
  }
  Arena arena_;
};

TEST_F(JsonValueTest, StringsKeepTheirBytesInlineAndInTheArena) {
  const std::string texts[] = {"",
                               "a",
                               std::string("a\0b", 3),
                               "fourteen bytes",
                               "fifteen bytes!!",
                               std::string(1000, 'x'),
                               "\xc3\xa9t\xc3\xa9"};
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.size());
    JsonValue v = str(text);
    EXPECT_EQ(v.kind(), JsonKind::kString);
    EXPECT_EQ(v.as_string(), text);
    EXPECT_FALSE(v.string_escape_free());
    EXPECT_TRUE(JsonValue::string(arena_, text, true).string_escape_free());
  }
}

TEST_F(JsonValueTest, StringsOfEveryShortLengthKeepEveryByte) {
  for (std::size_t n = 0; n <= 40; ++n) {
    SCOPED_TRACE(n);
    std::string text;
    for (std::size_t i = 0; i < n; ++i) text.push_back(static_cast<char>(0xFF - 37 * i));
    JsonValue v = JsonValue::string(arena_, text, n % 2 == 0);
    EXPECT_EQ(v.kind(), JsonKind::kString);
    EXPECT_EQ(v.as_string(), text);
    EXPECT_EQ(v.string_escape_free(), n % 2 == 0);
    EXPECT_EQ(v, JsonValue::string(arena_, text, n % 2 != 0));
    // The same string packed from a block whose lanes past the text are not zero: the
    // same handle bytes, padding included, which same_string compares.
    if (n <= JsonValue::kInlineCapacity) {
      std::string buffer = text + std::string(16, '\xAA');
      JsonValue w =
          detail::StringBytes::pack_inline(detail::load_block(buffer.data()), n, n % 2 == 0);
      EXPECT_EQ(std::memcmp(&v, &w, sizeof v), 0);
    }
  }
}

TEST_F(JsonValueTest, EqualityFollowsKindAndContent) {
  struct Row {
    const char* name;
    JsonValue a;
    JsonValue b;
    bool equal;
  };
  const Row rows[] = {
      {"null vs null", JsonValue(), JsonValue(), true},
      {"null vs false", JsonValue(), JsonValue::boolean(false), false},
      {"null vs 0", JsonValue(), num(u(0)), false},
      {"null vs empty string", JsonValue(), str(""), false},
      {"true vs true", JsonValue::boolean(true), JsonValue::boolean(true), true},
      {"true vs false", JsonValue::boolean(true), JsonValue::boolean(false), false},
      {"1 vs 1.0", num(u(1)), num(d(1.0)), false},
      {"0.0 vs -0.0", num(d(0.0)), num(d(-0.0)), true},
      {"0 vs -0.0", num(u(0)), num(d(-0.0)), false},
      {"precomposed vs decomposed", str("\xc3\xa9"), str("e\xcc\x81"), false},
      {"strings differing in length", str("ab"), str("abc"), false},
      {"long equal strings", str(std::string(40, 'q')), str(std::string(40, 'q')), true},
      {"empty object vs empty array", obj({}), arr({}), false},
      {"arrays in order", arr({num(u(1)), num(u(2))}), arr({num(u(1)), num(u(2))}), true},
      {"arrays reordered", arr({num(u(1)), num(u(2))}), arr({num(u(2)), num(u(1))}), false},
      {"arrays of different length", arr({num(u(1))}), arr({num(u(1)), num(u(1))}), false},
      {"nested numbers by representation", arr({num(u(1))}), arr({num(d(1.0))}), false},
      {"objects reordered", obj({{"p", num(u(1))}, {"q", num(u(2))}}),
       obj({{"q", num(u(2))}, {"p", num(u(1))}}), true},
      {"objects in order, then reordered",
       obj({{"p", num(u(1))}, {"q", num(u(2))}, {"r", num(u(3))}}),
       obj({{"p", num(u(1))}, {"r", num(u(3))}, {"q", num(u(2))}}), true},
      {"objects in order, the last value another", obj({{"p", num(u(1))}, {"q", num(u(2))}}),
       obj({{"p", num(u(1))}, {"q", num(u(3))}}), false},
      {"objects with another value", obj({{"p", num(u(1))}}), obj({{"p", num(u(2))}}), false},
      {"objects with another key", obj({{"p", num(u(1))}}), obj({{"P", num(u(1))}}), false},
      {"objects of different size", obj({{"p", num(u(1))}}),
       obj({{"p", num(u(1))}, {"q", JsonValue()}}), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.a == row.b, row.equal);
    EXPECT_EQ(row.b == row.a, row.equal);
  }
}

TEST_F(JsonValueTest, InsertFullFoldsRepeatedKeys) {
  JsonObject o = JsonObject::create(arena_);
  auto r1 = o.insert_full(arena_, "a", num(u(1)));
  auto r2 = o.insert_full(arena_, "b", num(u(2)));
  auto r3 = o.insert_full(arena_, "a", num(u(3)));
  auto r4 = o.insert_full(arena_, "a", num(u(4)));
  EXPECT_EQ(r1.position, 0u);
  EXPECT_FALSE(r1.replaced);
  EXPECT_EQ(r2.position, 1u);
  EXPECT_EQ(r3.position, 0u);
  EXPECT_TRUE(r3.replaced);
  EXPECT_EQ(r3.previous, num(u(1)));
  EXPECT_EQ(r4.previous, num(u(3)));
  ASSERT_EQ(o.size(), 2u);
  EXPECT_EQ(o.members()[0].key.as_string(), "a");
  EXPECT_EQ(o.members()[0].value, num(u(4)));
  EXPECT_EQ(o.members()[1].key.as_string(), "b");
  EXPECT_EQ(*o.get("b"), num(u(2)));
}

TEST_F(JsonValueTest, GetComparesKeysByteForByte) {
  for (std::size_t n : {1u, 2u, 5u}) {
    SCOPED_TRACE(n);
    JsonObject o = JsonObject::create(arena_);
    (void)o.insert_full(arena_, "Key", num(u(0)));
    for (std::size_t i = 1; i < n; ++i)
      (void)o.insert_full(arena_, std::string("k").append(std::to_string(i)), JsonValue());
    ASSERT_NE(o.get("Key"), nullptr);
    EXPECT_EQ(o.get("key"), nullptr);
    EXPECT_EQ(o.get("Ke"), nullptr);
    EXPECT_EQ(o.get("Key "), nullptr);
  }
  EXPECT_EQ(JsonObject::create(arena_).get(""), nullptr);
}

TEST_F(JsonValueTest, LargeMapsKeepOrderAndFindEveryKey) {
  // Crosses the switch from scanning stored hashes to the index, and several growths.
  for (std::size_t initial : {0u, 40u}) {
    SCOPED_TRACE(initial);
    JsonObject o = JsonObject::create(arena_, initial);
    const std::size_t n = 5000;
    for (std::size_t i = 0; i < n; ++i) {
      auto r = o.insert_full(arena_, "key" + std::to_string(i), num(u(i)));
      ASSERT_EQ(r.position, i);
    }
    for (std::size_t i = 0; i < n; i += 3) {
      auto r = o.insert_full(arena_, "key" + std::to_string(i), num(u(i + 1)));
      ASSERT_TRUE(r.replaced);
      ASSERT_EQ(r.position, i);
    }
    ASSERT_EQ(o.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
      ASSERT_EQ(o.members()[i].key.as_string(), "key" + std::to_string(i));
      const JsonValue* v = o.get("key" + std::to_string(i));
      ASSERT_NE(v, nullptr);
      ASSERT_EQ(*v, num(u(i % 3 == 0 ? i + 1 : i)));
    }
    EXPECT_EQ(o.get("key5000"), nullptr);
  }
}

TEST_F(JsonValueTest, FromMembersFoldsDuplicatesLikeInsertFull) {
  // (members given, distinct keys among them): member lists up to the linear limit, maps
  // past it, with repeats at the start, the end and throughout.
  const std::pair<int, int> shapes[] = {{0, 1},   {1, 1},   {4, 2},   {32, 32}, {32, 7},
                                        {33, 33}, {40, 32}, {50, 20}, {64, 64}, {64, 9},
                                        {65, 65}, {80, 64}, {90, 70}};
  for (auto [given, distinct] : shapes) {
    SCOPED_TRACE(given);
    std::vector<JsonMember> members;
    JsonObject map = JsonObject::create(arena_);
    for (int i = 0; i < given; ++i) {
      JsonValue key = str(std::string("k").append(std::to_string(i % distinct)));
      members.push_back({key, num(u(i))});
      (void)map.insert_full(arena_, key, num(u(i)));
    }
    JsonObject o = JsonObject::from_members(arena_, members);
    ASSERT_EQ(o.size(), map.size());
    for (std::size_t i = 0; i < o.size(); ++i) {
      EXPECT_EQ(o.members()[i].key.as_string(), map.members()[i].key.as_string());
      EXPECT_EQ(o.members()[i].value, map.members()[i].value);
      EXPECT_EQ(*o.get(map.members()[i].key.as_string()), map.members()[i].value);
    }
    EXPECT_EQ(o.get("absent"), nullptr);
    EXPECT_TRUE(o == map && map == o);
    JsonObject copy = o.clone(arena_);
    EXPECT_TRUE(copy == o && o == copy);
    EXPECT_EQ(JsonValue::object(copy), JsonValue::object(map));
  }
}

TEST_F(JsonValueTest, FromMembersPastTheLinearLimitFoldsDuplicates) {
  std::vector<JsonMember> members;
  for (int i = 0; i < 300; ++i) {
    members.push_back({str("member number " + std::to_string(i % 120)), num(u(i))});
  }
  JsonObject o = JsonObject::from_members(arena_, members);
  ASSERT_EQ(o.size(), 120u);
  for (int i = 0; i < 120; ++i) {
    EXPECT_EQ(o.members()[i].key.as_string(), "member number " + std::to_string(i));
    EXPECT_EQ(*o.get("member number " + std::to_string(i)),
              num(u(i + 240 < 300 ? i + 240 : i + 120)));
  }
}

TEST_F(JsonValueTest, SameStringComparesBytesWhateverTheFlags) {
  struct Row {
    std::string a;
    std::string b;
  };
  const Row rows[] = {{"", ""},
                      {"a", "a"},
                      {"a", "b"},
                      {"ab", "a"},
                      {"fourteen bytes", "fourteen bytez"},
                      {std::string(15, 'k'), std::string(15, 'k')},
                      {std::string(15, 'k'), std::string(14, 'k')},
                      {std::string("a\0", 2), "a"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.a + "|" + row.b);
    for (bool fa : {false, true}) {
      for (bool fb : {false, true}) {
        JsonValue a = JsonValue::string(arena_, row.a, fa);
        JsonValue b = JsonValue::string(arena_, row.b, fb);
        EXPECT_EQ(JsonValue::same_string(a, b), row.a == row.b);
        // The map's filter skips a key whose digest differs from every stored one.
        if (row.a == row.b) {
          EXPECT_EQ(detail::StringBytes::digest(a), detail::StringBytes::digest(b));
        }
      }
    }
  }
}

TEST_F(JsonValueTest, CloneIsEqualIndependentAndKeepsOrderAndHashKey) {
  for (std::size_t n : {0u, 1u, 3u, 100u}) {
    SCOPED_TRACE(n);
    JsonObject o = JsonObject::create(arena_);
    for (std::size_t i = 0; i < n; ++i) {
      (void)o.insert_full(arena_, std::string(20, 'z') + std::to_string(n - i),
                          arr({str("long string value number " + std::to_string(i)), num(d(0.5))}));
    }
    JsonValue original = JsonValue::object(o);
    Arena other;
    JsonValue copy = original.clone(other);
    ASSERT_EQ(copy, original);
    JsonObject c = copy.as_object();
    EXPECT_EQ(ObjectData::of(c).key.k0, ObjectData::of(o).key.k0);
    EXPECT_EQ(ObjectData::of(c).key.k1, ObjectData::of(o).key.k1);
    ASSERT_EQ(c.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
      EXPECT_EQ(c.members()[i].key.as_string(), o.members()[i].key.as_string());
      EXPECT_NE(c.members()[i].key.as_string().data(), o.members()[i].key.as_string().data());
    }
    (void)c.insert_full(other, "extra", JsonValue());
    EXPECT_EQ(o.size(), n);
    EXPECT_EQ(c.get("extra") != nullptr, true);
  }
}

TEST(HashKeys, EachNewMapTakesTheSeedAndBumpsK0) {
  Arena arena;
  JsonObject a = JsonObject::create(arena);
  JsonObject b = JsonObject::create(arena);
  EXPECT_EQ(ObjectData::of(b).key.k0, ObjectData::of(a).key.k0 + 1);
  EXPECT_EQ(ObjectData::of(b).key.k1, ObjectData::of(a).key.k1);
  HashKey next = detail::take_thread_hash_key();
  EXPECT_EQ(next.k0, ObjectData::of(b).key.k0 + 1);
}

}  // namespace
}  // namespace velmar::json
