// Fuzz target for read_sequence on arbitrary bytes. A success must be a bracketed text
// whose every element, once written, reads back as one element of the same kind. A
// failure must carry a code of the vocabulary, its fixed message, and a position that
// lies inside the input and points at a byte that can cause that error. The input's bytes,
// taken as one text, must also get the same verdict from the block check of UTF-8 as from
// the check one character at a time.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "json/reader.h"
#include "json/utf8_scan.h"
#include "json/writer.h"

namespace {

using velmar::fuzz::fail;
using velmar::fuzz::require;
using velmar::json::Arena;
using velmar::json::ErrorCode;
using velmar::json::JsonError;
using velmar::json::JsonValue;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool is_one_of(char c, std::string_view set) { return set.find(c) != std::string_view::npos; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
  return s;
}

void check_success(std::string_view input, std::span<const JsonValue> elements) {
  std::string_view text = trim(input);
  require(text.size() >= 2 && text.front() == '[' && text.back() == ']', "accepted a non-array",
          input);
  for (const JsonValue& element : elements) {
    std::string written = velmar::json::to_json_bytes(element);
    const std::string wrapped = "[" + written + "]";  // the elements refer to it
    Arena arena;
    auto back = velmar::json::read_sequence(arena, wrapped);
    if (!back.ok()) fail("written element does not read back", back.error().display());
    require(back.value().size() == 1 && back.value()[0].kind() == element.kind(),
            "written element reads back as something else", written);
  }
}

// The byte count i the error's line and column stand for: the offset just past the byte
// in error, or the input size for an error at the end. npos when no such offset exists.
std::size_t error_offset(std::string_view input, const JsonError& error) {
  std::size_t line_start = 0;
  for (std::size_t line = 1; line < error.line(); ++line) {
    std::size_t lf = input.find('\n', line_start);
    if (lf == std::string_view::npos) return std::string_view::npos;
    line_start = lf + 1;
  }
  std::size_t i = line_start + error.column();
  if (i > input.size() || input.substr(line_start, error.column()).find('\n') != input.npos) {
    return std::string_view::npos;
  }
  return i;
}

// What the byte in error (at i - 1) or the position itself must be for each code.
bool position_fits(ErrorCode code, std::string_view input, std::size_t i) {
  if (code == ErrorCode::kInvalidType) {
    // At a top-level object's brace (nothing of it is read), or after a whole scalar.
    std::string_view text = trim(input);
    std::size_t lead = input.find_first_not_of(" \t\n\r");
    if (text.empty() || text.front() == '[') return false;
    return text.front() == '{' ? i == lead : i > lead;
  }
  switch (code) {
    case ErrorCode::kEofWhileParsingList:
    case ErrorCode::kEofWhileParsingObject:
    case ErrorCode::kEofWhileParsingString:
    case ErrorCode::kEofWhileParsingValue:
      return i == input.size();
    default:
      break;
  }
  if (i == 0) return false;
  char at = input[i - 1];
  switch (code) {
    case ErrorCode::kExpectedColon:
      return at != ':' && !is_space(at);
    case ErrorCode::kExpectedListCommaOrEnd:
      return !is_one_of(at, ",] \t\n\r");
    case ErrorCode::kExpectedObjectCommaOrEnd:
      return !is_one_of(at, ",} \t\n\r");
    case ErrorCode::kKeyMustBeAString:
      return !is_one_of(at, "\" \t\n\r");
    case ErrorCode::kExpectedValue:
      return !is_one_of(at, "-0123456789\"[{ntf \t\n\r");
    case ErrorCode::kNumberOutOfRange:
      return at >= '0' && at <= '9';
    case ErrorCode::kInvalidUnicodeCodePoint:
      return at == '"';
    case ErrorCode::kControlCharacterInString:
      return static_cast<unsigned char>(at) < 0x20;
    case ErrorCode::kLoneLeadingSurrogate:
      return is_one_of(at, "0123456789abcdefABCDEF");
    case ErrorCode::kTrailingComma:
      return at == ']' || at == '}';
    case ErrorCode::kTrailingCharacters:
      return !is_space(at) && trim(input.substr(0, i - 1)).ends_with(']');
    case ErrorCode::kRecursionLimitExceeded:
      return at == '[' || at == '{';
    default:
      return true;  // a byte of a literal, number or escape: any byte can be wrong there
  }
}

void check_failure(std::string_view input, const JsonError& error) {
  auto code = static_cast<std::size_t>(error.code());
  require(code < std::size(velmar::json::kErrorMessages), "unknown error code", error.display());
  std::string message = error.message();
  if (error.code() == ErrorCode::kInvalidType) {
    require(message.starts_with("invalid type: ") && message.ends_with(", expected a sequence") &&
                message.size() > 35,
            "invalid type message", message);
  } else {
    require(message == velmar::json::error_message(error.code()), "message differs from the table",
            message);
  }
  require(error.line() >= 1, "error without a position", message);
  std::size_t i = error_offset(input, error);
  if (i == std::string_view::npos) fail("position outside the input", error.display());
  if (!position_fits(error.code(), input, i))
    fail("position does not fit the code", error.display());
}

// The block check, which loads blocks past the text into its padding, against the check
// one character at a time.
void check_utf8_verdicts(velmar::json::PaddedView input) {
  using velmar::json::detail::is_valid_utf8;
  using velmar::json::detail::is_valid_utf8_by_character;
  const bool expected = is_valid_utf8_by_character(input.data(), input.end());
  require(is_valid_utf8(input) == expected, "block check of UTF-8 disagrees", input.text());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  // Padded and allocated to its size, so that a read past the padding meets the
  // sanitizer's guard.
  const auto padded = velmar::json::PaddedText::copy_of(input);
  Arena arena;
  auto result = velmar::json::read_sequence(arena, padded.view());
  if (result.ok()) {
    check_success(input, result.value());
  } else {
    check_failure(input, result.error());
  }
  check_utf8_verdicts(padded.view());
  return 0;
}
