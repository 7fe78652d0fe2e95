// Cell equality: words, then texts, and trees only where the texts cannot tell.
#include "columnar/cell_equality.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace velmar::columnar::detail {

using json::JsonNumber;
using json::JsonValue;
using json::PackedValue;

bool values_equal(const JsonValue& a, const JsonValue& b) {
  if (a.is_number() && b.is_number()) {
    return JsonNumber::same_quantity(a.as_number(), b.as_number());
  }
  if (a.is_string() && b.is_string()) return JsonValue::same_string(a, b);
  if (a.is_object() && b.is_object()) return a.as_object() == b.as_object();
  return a == b;
}

namespace {

// The place of the first byte at which `a` and `b` differ, or the shorter one's size; a
// word at a time (the JSON code is little-endian: a text's first byte is a word's low one).
std::size_t first_difference(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t x = 0;
    std::uint64_t y = 0;
    std::memcpy(&x, a.data() + i, 8);
    std::memcpy(&y, b.data() + i, 8);
    if (x != y) return i + static_cast<std::size_t>(std::countr_zero(x ^ y) / 8);
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// Whether the string whose text goes on at `i`, inside it, is a key: a colon follows it.
bool string_is_key(std::string_view a, std::size_t i) {
  while (i < a.size() && a[i] != '"') i += a[i] == '\\' ? 2 : 1;
  for (++i; i < a.size() && static_cast<unsigned char>(a[i]) <= ' ';) ++i;
  return i < a.size() && a[i] == ':';
}

// Whether texts that agree up to bytes x (in `a`, whose string, if any, goes on at `i`)
// and y, which differ, hold unequal values, by the rule below: outside strings unless a
// sign is one of them, inside a string unless it is a key.
bool difference_tells_unequal(std::string_view a, std::size_t i, char x, char y, bool in_string) {
  if (!in_string) return x != '-' && y != '-';
  return !string_is_key(a, i);
}

// Whether two unequal writer texts are unequal values, told by the first byte at which
// they differ. Every value has one writer text but for objects, whose members may come in
// another order, and zeros, as the value model's 0.0 equals -0.0. So a byte that differs
// outside every key and sign differs in a value at the same place in both texts, or in
// how many items or members a container holds (a writer text repeats no key), and the
// values differ: ["a",1] and ["a",2]. Strings are found by their quotes, and a string
// followed by ':' is a key.
bool first_difference_tells_unequal(std::string_view a, std::string_view b) {
  const std::size_t first = first_difference(a, b);
  if (first == a.size() || first == b.size()) return true;  // not two whole texts
  bool in_string = false;
  std::size_t i = 0;
  for (; i < first; ++i) {
    if (a[i] == '"') in_string = !in_string;
    if (a[i] == '\\') ++i;  // an escape, in a string: the byte after it is not a quote
  }
  return difference_tells_unequal(a, i, a[first], b[first], in_string);
}

// Whether two writer texts are equal values, when their texts settle it.
std::optional<bool> writer_texts_tell_equal(std::string_view a, std::string_view b) {
  if (a == b) return true;
  if (first_difference_tells_unequal(a, b)) return false;
  return std::nullopt;
}

// writer_texts_tell_equal for texts that the writer rewrites, whitespace between tokens left
// out and foreign escapes redone: their tokens are compared with that whitespace passed, and
// the first difference tells as between writer texts, unless it may be two spellings of one
// character, at an escape on either side or inside one. ["\/a", 1] and ["\/b",1] differ.
std::optional<bool> rewritten_texts_tell_equal(std::string_view a, std::string_view b) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  std::size_t i = 0;
  std::size_t j = 0;
  bool in_string = false;
  for (;;) {
    if (!in_string) {
      while (i < a.size() && blank(a[i])) ++i;
      while (j < b.size() && blank(b[j])) ++j;
    }
    if (i == a.size() || j == b.size()) {
      return i == a.size() && j == b.size() ? std::optional<bool>(true) : std::nullopt;
    }
    const char x = a[i];
    const char y = b[j];
    if (x != y) {
      const bool escape = in_string && (x == '\\' || y == '\\');
      if (escape || !difference_tells_unequal(a, i, x, y, in_string)) return std::nullopt;
      return false;
    }
    std::size_t n = 1;
    if (in_string && x == '\\') {
      n = a[i + 1] == 'u' ? 6 : 2;  // the escape, whole on both sides or no telling
      if (a.compare(i, n, b, j, n) != 0) return std::nullopt;
    } else if (x == '"') {
      in_string = !in_string;
    }
    i += n;
    j += n;
  }
}

}  // namespace

std::optional<bool> words_tell_equal(PackedValue a, PackedValue b, json::PaddedView input) {
  using Form = PackedValue::Form;
  if (a.same_word(b)) return true;
  if (a.form() != b.form()) return std::nullopt;
  if (a.form() == Form::kRawString) return a.same_raw_text(b, input);
  if (a.form() == Form::kHandle) return values_equal(a.handle(), b.handle());
  if (a.form() == Form::kWriterText) {
    const std::string_view a_text = a.writer_text(input).text();
    const std::string_view b_text = b.writer_text(input).text();
    // "\/" and "/" are one string, and "[1, 2]" and "[1,2]" one array: texts with rewrites
    // are compared by their tokens.
    if (!a.is_written_as_is() || !b.is_written_as_is()) {
      return a_text == b_text ? std::optional<bool>(true)
                              : rewritten_texts_tell_equal(a_text, b_text);
    }
    return writer_texts_tell_equal(a_text, b_text);
  }
  return std::nullopt;
}

}  // namespace velmar::columnar::detail
