// Generated benchmark payloads: deterministic row payloads of the size classes and shapes the
// transform meets, most with the result the transform must give, written by the generator
// from what it put in rather than by the code it checks.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace velmar::bench {

struct GeneratedPayload {
  std::string payload;  // the UTF-8 text of a JSON array of objects
  // The exact bytes columnarize_json must return for it, or empty where the reader's rule
  // decides them (17-digit doubles): the registry then takes the reference derivation's.
  std::string expected;
  std::size_t rows = 0;
};

// The generated payloads by name:
//   gen_call_20        20 rows of a tool call result, pretty-printed (about 5 KB)
//   gen_listing_1000   1,000 rows of an API listing (about 450 KB)
//   gen_listing_100000 100,000 rows of the same listing (about 46 MB)
//   gen_numbers_20000  number-heavy rows: decimals, exponents, 64-bit extremes, spellings
//                      that differ from the written form (1E3, 2.50, 30e-1)
//   gen_strings_5000   string-heavy rows: escapes of every kind, surrogate pairs, raw
//                      non-ASCII text in several scripts, control characters
//   gen_doubles_5000   17-digit doubles as computed values print, large and negative
//                      integers, series of doubles (about 2 MB)
std::span<const std::string_view> generated_payload_names();

// The payload called `name` with its expected result, or nothing for an unknown name. The
// same name gives the same bytes on every machine and every run.
std::optional<GeneratedPayload> generate_payload(std::string_view name);

}  // namespace velmar::bench
