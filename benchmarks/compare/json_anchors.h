// General-purpose JSON libraries as anchors for the transform benchmark
// (-DVELMAR_BENCH_COMPARE=ON): each reads a payload into its document and writes it back
// minified, the least work a library does to turn the same bytes into compact text. The
// transform does more (columns, constants, a second layout), so our throughput over theirs
// says how close the transform comes to a fast read and write.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace velmar::bench {

// Bytes that must be readable past a payload handed to simdjson_parse_minify: simdjson reads
// in blocks and asks its callers for this padding, so the benchmark pads its copy once.
inline constexpr std::size_t kSimdjsonPadding = 64;

// simdjson's DOM parse of `payload` with a parser of its own (nothing kept between calls,
// as the transform keeps nothing), then simdjson::minify of the document. Nothing when
// simdjson rejects the payload. Precondition: kSimdjsonPadding bytes past the payload are
// readable.
std::optional<std::string> simdjson_parse_minify(std::string_view payload);

// yyjson_read_opts of `payload` (flags 0: not in place, strict JSON, UTF-8 checked), then
// yyjson_write_opts with flags 0 (minified), then both freed. Returns the size of the
// written text, which is copied into `text` when that is not null (the timed calls pass
// null, so that no copy is timed); nothing when yyjson rejects the payload or fails to
// write. Defined only when yyjson's sources were found (VELMAR_BENCH_YYJSON).
std::optional<std::size_t> yyjson_read_write(std::string_view payload, std::string* text);

// A yyjson mutable document whose root is an array of `values` as reals, built once so
// that only the writing is timed; null when yyjson fails to build it.
struct YyjsonDoubleArray;
YyjsonDoubleArray* yyjson_double_array(std::span<const double> values);
void yyjson_free(YyjsonDoubleArray* array);

// yyjson_mut_write_opts of the array with flags 0 (minified), the text freed; as
// yyjson_read_write, the size, copied into `text` when not null.
std::optional<std::size_t> yyjson_write_doubles(const YyjsonDoubleArray& array, std::string* text);

// yyjson_read_opts of `text` (flags 0), then freed: the count of values read, the root
// included; nothing when yyjson rejects the text.
std::optional<std::size_t> yyjson_read_count(std::string_view text);

}  // namespace velmar::bench
