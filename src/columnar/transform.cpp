// columnarize_json: read the payload, check that every element is an object, derive the
// document and write it. All of it lives in one arena that dies with the call.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "columnar/columnar.h"
#include "json/reader.h"
#include "json/writer.h"

namespace velmar::columnar {
namespace {

// The soft limit of `resource`, or SIZE_MAX when there is none.
std::size_t soft_limit(int resource) {
  rlimit limit{};
  if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
  return static_cast<std::size_t>(limit.rlim_cur);
}

std::size_t physical_memory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return SIZE_MAX;
  return static_cast<std::size_t>(pages) * static_cast<std::size_t>(page_size);
}

}  // namespace

std::size_t memory_available() {
  // A request beyond physical memory would drive the machine into swapping before it
  // failed, so it counts as one that cannot be met.
  static const std::size_t available =
      std::min({physical_memory(), soft_limit(RLIMIT_AS), soft_limit(RLIMIT_DATA)});
  return available;
}

TransformResult columnarize_json(std::string_view payload) {
  json::Arena arena;
  // The tree takes about as many bytes as the text it came from.
  arena.reserve(payload.size());
  auto elements = json::read_sequence(arena, payload);
  if (!elements.ok()) {
    return TransformError{"invalid row-oriented JSON: " + elements.error().display()};
  }
  // The element list is the row list once every element is known to be an object.
  std::span<json::JsonValue> rows = elements.value();
  for (const json::JsonValue& element : rows) {
    if (!element.is_object()) {
      return TransformError{"expected a JSON object row, got: " + json::display_text(element)};
    }
  }
  DeriveResult document = derive_columns(arena, rows, memory_available());
  if (!document.ok()) return std::move(document).error();
  return json::to_json_bytes(document.value(), payload.size());
}

}  // namespace velmar::columnar
