// The reader's errors: every code with its fixed message, in one table in code order, and
// JsonError, a code with the line and byte column where the read failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>

namespace velmar::json {

// Every way a read can fail. The order is the order of kErrorMessages.
enum class ErrorCode : std::uint8_t {
  kEofWhileParsingList,
  kEofWhileParsingObject,
  kEofWhileParsingString,
  kEofWhileParsingValue,
  kExpectedColon,
  kExpectedListCommaOrEnd,
  kExpectedObjectCommaOrEnd,
  kExpectedIdent,
  kExpectedValue,
  kInvalidEscape,
  kInvalidNumber,
  kNumberOutOfRange,
  kInvalidUnicodeCodePoint,
  kControlCharacterInString,
  kKeyMustBeAString,
  kLoneLeadingSurrogate,
  kTrailingComma,
  kTrailingCharacters,
  kUnexpectedEndOfHexEscape,
  kRecursionLimitExceeded,
  kInvalidType,  // the one message with a detail: "{}" stands for the value's description
};

struct ErrorMessage {
  ErrorCode code;
  std::string_view text;
};

// The reader's vocabulary, one row per code, in code order.
inline constexpr ErrorMessage kErrorMessages[] = {
    {ErrorCode::kEofWhileParsingList, "EOF while parsing a list"},
    {ErrorCode::kEofWhileParsingObject, "EOF while parsing an object"},
    {ErrorCode::kEofWhileParsingString, "EOF while parsing a string"},
    {ErrorCode::kEofWhileParsingValue, "EOF while parsing a value"},
    {ErrorCode::kExpectedColon, "expected `:`"},
    {ErrorCode::kExpectedListCommaOrEnd, "expected `,` or `]`"},
    {ErrorCode::kExpectedObjectCommaOrEnd, "expected `,` or `}`"},
    {ErrorCode::kExpectedIdent, "expected ident"},
    {ErrorCode::kExpectedValue, "expected value"},
    {ErrorCode::kInvalidEscape, "invalid escape"},
    {ErrorCode::kInvalidNumber, "invalid number"},
    {ErrorCode::kNumberOutOfRange, "number out of range"},
    {ErrorCode::kInvalidUnicodeCodePoint, "invalid unicode code point"},
    {ErrorCode::kControlCharacterInString,
     "control character (\\u0000-\\u001F) found while parsing a string"},
    {ErrorCode::kKeyMustBeAString, "key must be a string"},
    {ErrorCode::kLoneLeadingSurrogate, "lone leading surrogate in hex escape"},
    {ErrorCode::kTrailingComma, "trailing comma"},
    {ErrorCode::kTrailingCharacters, "trailing characters"},
    {ErrorCode::kUnexpectedEndOfHexEscape, "unexpected end of hex escape"},
    {ErrorCode::kRecursionLimitExceeded, "recursion limit exceeded"},
    {ErrorCode::kInvalidType, "invalid type: {}, expected a sequence"},
};
static_assert(std::size(kErrorMessages) == static_cast<std::size_t>(ErrorCode::kInvalidType) + 1,
              "one message per error code");

// The fixed text of `code`; for kInvalidType the pattern with its "{}" placeholder.
constexpr std::string_view error_message(ErrorCode code) {
  return kErrorMessages[static_cast<std::size_t>(code)].text;
}

// A reader failure: a code of the vocabulary with the 1-based line and the byte column
// where the read failed, and for kInvalidType the description of the value. A plain
// value: an error with a fixed message allocates nothing. The description has no bound
// (a top-level string is quoted whole), so it is a string rather than a fixed buffer.
class JsonError {
 public:
  // A fixed-message error. Precondition: code is not kInvalidType.
  JsonError(ErrorCode code, std::size_t line, std::size_t column);
  // "invalid type: <description>, expected a sequence".
  static JsonError invalid_type(std::string description, std::size_t line, std::size_t column);

  ErrorCode code() const { return code_; }
  // 1-based; 0 stands for an error without a position (the reader never returns one).
  std::size_t line() const { return line_; }
  // Bytes from the start of the line up to and including the byte in error.
  std::size_t column() const { return column_; }
  // The message without its position.
  std::string message() const;
  // "<message> at line <L> column <C>", or the message alone when line is 0.
  std::string display() const;

 private:
  JsonError(ErrorCode code, std::size_t line, std::size_t column, std::string detail)
      : code_(code), line_(line), column_(column), detail_(std::move(detail)) {}

  ErrorCode code_;
  std::size_t line_;
  std::size_t column_;
  std::string detail_;  // the description of kInvalidType, else empty
};

}  // namespace velmar::json
