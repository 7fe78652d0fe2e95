// The building blocks of the generated payloads (payloads.cpp): cells made as a pair of texts,
// the one written into the payload and the one the result must hold; decimals with their
// spellings and written form; the document that assembles a payload and its expected result
// from those texts alone; and the vocabulary the rows draw from.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "payloads.h"

namespace velmar::bench::gen {

// MARK: cells ------------------------------------------------------------------------------

// The payload text of a value and the text the result writes for it.
struct Cell {
  std::string input;
  std::string canonical;
};

Cell same(std::string text);

// Concatenation by appending: GCC 12 warns falsely (-Wrestrict) about `"literal" + string`.
std::string cat(std::initializer_list<std::string_view> parts);

// The splitmix64 finaliser: each cell draws from a sequence seeded by its coordinates, so
// that no cell depends on the order in which the others were made.
inline std::uint64_t mix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

class Rng {
 public:
  Rng(std::uint64_t row, std::uint64_t column) : state_(mix(row * 1000003 + column)) {}
  std::uint64_t next() { return mix(state_++); }
  // A number in [0, n).
  std::uint64_t below(std::uint64_t n) { return next() % n; }
  template <typename T, std::size_t N>
  const T& pick(const std::array<T, N>& items) {
    return items[below(N)];
  }

 private:
  std::uint64_t state_;
};

// A string cell built from pieces, each with its payload spelling and its written form.
class StringCell {
 public:
  StringCell& add(std::string_view input, std::string_view canonical) {
    input_ += input;
    canonical_ += canonical;
    return *this;
  }
  StringCell& add(std::string_view text) { return add(text, text); }
  Cell cell() const { return Cell{"\"" + input_ + "\"", "\"" + canonical_ + "\""}; }

 private:
  std::string input_;
  std::string canonical_;
};

Cell plain_string(std::string_view text);

// The \u escapes of every non-ASCII code point of `utf8` (surrogate pairs above U+FFFF),
// in lowercase or uppercase hex. Precondition: `utf8` is well-formed.
std::string unicode_escaped(std::string_view utf8, bool upper);

// MARK: decimals ---------------------------------------------------------------------------

// (-1)^negative * sig * 10^exp. The generator keeps sig below 10^12 and the reader's scaling
// exponent within +-22, where significand and power of ten are both exact doubles and one
// rounding gives the nearest double. With at most 15 significant digits that double's
// shortest round-trip digits are the decimal's own, without trailing zeros.
struct Decimal {
  bool negative;
  std::uint64_t sig;
  int exp;
};

enum class Spelling {
  kFixed,       // 0.000125, 42.0
  kPadded,      // 0.00012500, 42.000
  kExponent,    // 1.25e-4, 4.2e1
  kIntegerExp,  // 125E-6, 42E+0
};

// `d` spelled as asked in the payload, with the writer's text for it in the result.
Cell decimal(Decimal d, Spelling spelling);

// MARK: documents --------------------------------------------------------------------------

enum class Kind { kVarying, kConstant, kAllNull };

struct Member {
  std::string_view column;
  Cell cell;
};

struct ColumnClass {
  std::string_view name;
  Kind kind;
};

// Assembles the payload (rows joined by `separator`) and the result the rules give: the
// varying columns in order of first appearance, null for a missing member, the constants
// with row 0's text. `classes` says which columns are which.
class DocumentBuilder {
 public:
  DocumentBuilder(std::span<const ColumnClass> classes, std::string_view separator)
      : classes_(classes), separator_(separator) {}

  void add_row(std::vector<Member> members, std::string_view row_text);
  GeneratedPayload finish() const;

 private:
  Kind kind_of(std::string_view column) const;
  static const Cell* find(const std::vector<Member>& row, std::string_view column);

  std::span<const ColumnClass> classes_;
  std::string separator_;
  std::string payload_;
  std::vector<std::string_view> order_;
  std::vector<std::vector<Member>> rows_;
};

// A row object's text: compact, or pretty-printed with two spaces as a tool's output is.
std::string object_text(const std::vector<Member>& members, bool pretty);

// MARK: vocabulary -------------------------------------------------------------------------

// Person names in several scripts (UTF-8): Jose Mueller, Zoe Ade, Lukasz Zolc, Chen Wei,
// Ivan Petrov, Maria Garcia with their own letters.
inline constexpr std::array<std::string_view, 10> kNames = {
    "Ana Lima",
    "Jos\xC3\xA9 M\xC3\xBCller",
    "Zo\xC3\xAB Ad\xC3\xA9",
    "\xC5\x81ukasz \xC5\xBB\xC3\xB3\xC5\x82\xC4\x87",
    "\xE9\x99\x88\xE4\xBC\x9F",
    "John Smith",
    "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD \xD0\x9F\xD0\xB5\xD1\x82\xD1\x80\xD0\xBE\xD0\xB2",
    "Mar\xC3\xAD"
    "a Garc\xC3\xAD"
    "a",
    "Priya Patel",
    "Kenji Sato",
};

// Sao Paulo, Zurich, Krakow, Montreal with their own letters.
inline constexpr std::array<std::string_view, 8> kCities = {
    "S\xC3\xA3o Paulo",
    "Z\xC3\xBCrich",
    "Berlin",
    "Tokyo",
    "New York",
    "Krak\xC3\xB3w",
    "Montr\xC3\xA9"
    "al",
    "Lagos",
};

inline constexpr std::array<std::string_view, 8> kLanguages = {
    "Rust", "Go", "Python", "C++", "TypeScript", "Kotlin", "Elixir", "Haskell",
};

// `v` in decimal, zero-padded on the left to `width` digits: padded(7, 3) is "007".
std::string padded(std::uint64_t v, std::size_t width);

// "2019-04-12T08:31:05Z"
std::string timestamp(Rng& rng);

}  // namespace velmar::bench::gen
