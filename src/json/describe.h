// How the reader's "invalid type" message describes a top-level value that is not an
// array, when that value is a scalar.
#pragma once

#include <string>

#include "json/value.h"

namespace velmar::json::detail {

// "null", "boolean `true`", "integer `-5`", "floating point `1.0`" (a double in the
// writer's form), or "string " and the quoted form of the text (append_quoted).
// Precondition: `value` is not an array or an object.
std::string describe_scalar(const JsonValue& value);

}  // namespace velmar::json::detail
