// JsonError: the code and position of a failed read, and its message and display text
// composed from the message table.
#include "json/read_error.h"

#include <cassert>
#include <charconv>
#include <utility>

namespace velmar::json {

JsonError::JsonError(ErrorCode code, std::size_t line, std::size_t column)
    : JsonError(code, line, column, std::string()) {
  assert(code != ErrorCode::kInvalidType);
}

JsonError JsonError::invalid_type(std::string description, std::size_t line, std::size_t column) {
  return JsonError(ErrorCode::kInvalidType, line, column, std::move(description));
}

std::string JsonError::message() const {
  std::string_view text = error_message(code_);
  if (code_ != ErrorCode::kInvalidType) return std::string(text);
  std::size_t hole = text.find("{}");
  std::string out;
  out.reserve(text.size() + detail_.size());
  out.append(text.substr(0, hole));
  out.append(detail_);
  out.append(text.substr(hole + 2));
  return out;
}

namespace {

void append_decimal(std::string& out, std::size_t v) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, end);
}

}  // namespace

std::string JsonError::display() const {
  std::string out = message();
  if (line_ == 0) return out;
  out.append(" at line ");
  append_decimal(out, line_);
  out.append(" column ");
  append_decimal(out, column_);
  return out;
}

}  // namespace velmar::json
