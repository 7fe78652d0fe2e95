// JsonError: the code and position of a failed read, and its message and display text
// composed from the message table.
#include "json/read_error.h"

#include <cassert>
#include <charconv>
#include <utility>

namespace velmar::json {

struct JsonError::Data {
  ErrorCode code;
  std::size_t line;
  std::size_t column;
  std::string description;  // kInvalidType only
};

JsonError::JsonError(std::unique_ptr<Data> data) : data_(std::move(data)) {}

JsonError::JsonError(ErrorCode code, std::size_t line, std::size_t column)
    : data_(std::make_unique<Data>(Data{code, line, column, {}})) {
  assert(code != ErrorCode::kInvalidType);
}

JsonError JsonError::invalid_type(std::string_view description, std::size_t line,
                                  std::size_t column) {
  return JsonError(std::make_unique<Data>(
      Data{ErrorCode::kInvalidType, line, column, std::string(description)}));
}

JsonError::JsonError(JsonError&&) noexcept = default;
JsonError& JsonError::operator=(JsonError&&) noexcept = default;
JsonError::~JsonError() = default;

ErrorCode JsonError::code() const { return data_->code; }
std::size_t JsonError::line() const { return data_->line; }
std::size_t JsonError::column() const { return data_->column; }

std::string JsonError::message() const {
  std::string_view text = error_message(data_->code);
  if (data_->code != ErrorCode::kInvalidType) return std::string(text);
  std::size_t hole = text.find("{}");
  std::string out;
  out.reserve(text.size() + data_->description.size());
  out.append(text.substr(0, hole));
  out.append(data_->description);
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
  if (data_->line == 0) return out;
  out.append(" at line ");
  append_decimal(out, data_->line);
  out.append(" column ");
  append_decimal(out, data_->column);
  return out;
}

}  // namespace velmar::json
