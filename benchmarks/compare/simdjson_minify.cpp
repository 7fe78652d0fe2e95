// simdjson's DOM parse and minify, for the transform benchmark.
#include <simdjson.h>

#include "json_anchors.h"

namespace velmar::bench {

static_assert(simdjson::SIMDJSON_PADDING <= kSimdjsonPadding);

std::optional<std::string> simdjson_parse_minify(std::string_view payload) {
  simdjson::dom::parser parser;
  simdjson::dom::element doc;
  if (parser.parse(payload.data(), payload.size(), false).get(doc) != simdjson::SUCCESS) {
    return std::nullopt;
  }
  return simdjson::minify(doc);
}

}  // namespace velmar::bench
