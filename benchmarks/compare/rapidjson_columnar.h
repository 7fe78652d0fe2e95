// A plain columnarizer on RapidJSON's DOM, built only for the comparison in the transform
// benchmark (-DVELMAR_BENCH_COMPARE=ON): the yardstick a straightforward implementation on a
// fast general-purpose JSON library would give.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmar::bench {

// The columnar result of `payload` by the transform's rules: the columns in order of first
// appearance without the all-null ones, a row of cells per element (null for a missing
// member), and the constants (a non-null value equal in every one of two or more rows; top-
// level numbers by exact value, nested values by kind and representation, object members in
// any order; row 0's value kept). Parsed with RapidJSON's DOM (UTF-8 validated, its default
// number conversion), written with its Writer. Nothing when RapidJSON rejects the payload or
// an element is not an object. Rows with a repeated key are outside what it matches: the DOM
// keeps both members where columnarize_json keeps the last.
std::optional<std::string> rapidjson_columnarize(std::string_view payload);

// True when the two texts are the same document for RapidJSON read at full precision: equal
// structure, member order and strings, integers against integers and doubles against doubles
// by value. For results whose texts differ only where the two writers' formats do:
// - exponents: RapidJSON writes no plus sign (6.02214076e23 against our 6.02214076e+23);
// - where the exponent form starts: RapidJSON keeps the positional form up to 21 integer
//   digits and down to 1e-6 (199528025000000000000.0 and 0.000001362 against our
//   1.99528025e+20 and 1.362e-6; ours switches above 1e16 and below 1e-5);
// - digits: its Grisu2 digits are now and then longer than the shortest round-trip ones, for
//   the same double (0.0026339000000000004 against our 0.0026339);
// - escapes written as \u: RapidJSON uses uppercase hex (\u001F against our \u001f).
// Payloads without such numbers or control characters come out byte for byte the same; the
// transform benchmark labels each RapidJSON result "identical" or "same document".
bool rapidjson_same_document(std::string_view a, std::string_view b);

}  // namespace velmar::bench
