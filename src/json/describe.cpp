// Descriptions of top-level scalars for the reader's "invalid type" message: literals by
// name, numbers by representation, strings in their quoted form.
#include "json/describe.h"

#include <algorithm>
#include <cassert>
#include <charconv>

#include "json/quoted.h"
#include "json/writer.h"

namespace velmar::json::detail {

namespace {

// "integer `-5`", "floating point `1.5`": a double as the writer writes it.
std::string describe_number(JsonNumber n) {
  char buf[std::max(kDoubleBufferBytes, std::size_t{24})];
  char* end = buf;
  std::string out;
  switch (n.rep()) {
    case JsonNumber::Rep::kUnsigned:
      out = "integer `";
      end = std::to_chars(buf, buf + sizeof buf, n.as_unsigned()).ptr;
      break;
    case JsonNumber::Rep::kSigned:
      out = "integer `";
      end = std::to_chars(buf, buf + sizeof buf, n.as_signed()).ptr;
      break;
    case JsonNumber::Rep::kDouble:
      out = "floating point `";
      end = buf + format_double(n.as_double(), buf);
      break;
  }
  out.append(buf, end);
  out.push_back('`');
  return out;
}

}  // namespace

std::string describe_scalar(const JsonValue& value) {
  switch (value.kind()) {
    case JsonKind::kNull:
      return "null";
    case JsonKind::kBool:
      return value.as_bool() ? "boolean `true`" : "boolean `false`";
    case JsonKind::kNumber:
      return describe_number(value.as_number());
    case JsonKind::kString: {
      std::string out = "string ";
      append_quoted(out, value.as_string());
      return out;
    }
    case JsonKind::kArray:
    case JsonKind::kObject:
      break;
  }
  assert(false && "containers are not scalars");
  return {};
}

}  // namespace velmar::json::detail
