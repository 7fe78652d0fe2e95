// The payload reader: one pass over the input that keeps only a byte index, a depth
// budget and reusable stacks; line and column are computed for the error that ends a
// read and never while reading.
#include "json/reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <charconv>
#include <cstring>
#include <utility>
#include <vector>

#include "json/number_reader.h"
#include "json/quoted.h"
#include "json/writer.h"

namespace velmar::json {

// MARK: - JsonError

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

// MARK: - Byte classes

namespace detail {
namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101;
constexpr std::uint64_t kHighBits = kOnes * 0x80;

inline unsigned char byte_at(const char* p) { return static_cast<unsigned char>(*p); }

inline std::uint64_t load8(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// The scans below take the first byte in memory to be the least significant.
static_assert(std::endian::native == std::endian::little);

// The high bit of every byte of `w` that is zero. Borrows can also mark bytes above a
// zero byte, so only the lowest mark is exact, which is all the scans need.
inline std::uint64_t zero_bytes(std::uint64_t w) { return (w - kOnes) & ~w & kHighBits; }

// The lowest mark is the first byte of `w` that ends a raw string run: a double quote,
// a backslash or a byte below 0x20.
inline std::uint64_t run_stops(std::uint64_t w) {
  std::uint64_t below_space = (w - kOnes * 0x20) & ~w & kHighBits;
  return zero_bytes(w ^ (kOnes * '"')) | zero_bytes(w ^ (kOnes * '\\')) | below_space;
}

// The first byte at or after `p` that ends a raw run, or `end`. Every byte passed over is
// ORed into `seen`, so that (seen & kHighBits) tells whether any of them was >= 0x80.
inline const char* scan_raw_run(const char* p, const char* end, std::uint64_t& seen) {
  while (end - p >= 8) {
    std::uint64_t w = load8(p);
    std::uint64_t stops = run_stops(w);
    if (stops != 0) {
      unsigned k = static_cast<unsigned>(std::countr_zero(stops)) / 8;
      seen |= w & ((std::uint64_t{1} << (8 * k)) - 1);
      return p + k;
    }
    seen |= w;
    p += 8;
  }
  for (; p != end; ++p) {
    unsigned char c = byte_at(p);
    if (c == '"' || c == '\\' || c < 0x20) return p;
    seen |= c;
  }
  return p;
}

inline bool is_whitespace(char c) {
  constexpr std::uint64_t kSet = (std::uint64_t{1} << ' ') | (std::uint64_t{1} << '\t') |
                                 (std::uint64_t{1} << '\n') | (std::uint64_t{1} << '\r');
  unsigned char u = static_cast<unsigned char>(c);
  return u <= ' ' && ((kSet >> u) & 1) != 0;
}

// Escape letters and the byte each stands for; `u` is kUnicodeEscape, others are 0.
constexpr unsigned char kUnicodeEscape = 0xFF;
constexpr std::array<unsigned char, 256> kEscapes = [] {
  std::array<unsigned char, 256> t{};
  t['"'] = '"';
  t['\\'] = '\\';
  t['/'] = '/';
  t['b'] = '\b';
  t['f'] = '\f';
  t['n'] = '\n';
  t['r'] = '\r';
  t['t'] = '\t';
  t['u'] = kUnicodeEscape;
  return t;
}();

// Hex digit values; -1 for every other byte.
constexpr std::array<std::int8_t, 256> kHexValues = [] {
  std::array<std::int8_t, 256> t{};
  t.fill(-1);
  for (int i = 0; i < 10; ++i) t['0' + i] = static_cast<std::int8_t>(i);
  for (int i = 0; i < 6; ++i) {
    t['a' + i] = static_cast<std::int8_t>(10 + i);
    t['A' + i] = static_cast<std::int8_t>(10 + i);
  }
  return t;
}();

// MARK: - UTF-8

// What a byte allows when it starts a sequence: the sequence length (0 when it cannot
// start one) and the range of the second byte, which excludes overlong forms (E0, F0),
// encoded surrogates (ED) and values above U+10FFFF (F4).
struct Utf8Lead {
  std::uint8_t length;
  std::uint8_t low;
  std::uint8_t high;
};

constexpr std::array<Utf8Lead, 256> kUtf8Leads = [] {
  std::array<Utf8Lead, 256> t{};
  for (int c = 0; c < 0x80; ++c) t[c] = {1, 0, 0};
  for (int c = 0xC2; c <= 0xDF; ++c) t[c] = {2, 0x80, 0xBF};
  for (int c = 0xE0; c <= 0xEF; ++c) t[c] = {3, 0x80, 0xBF};
  for (int c = 0xF0; c <= 0xF4; ++c) t[c] = {4, 0x80, 0xBF};
  t[0xE0].low = 0xA0;
  t[0xED].high = 0x9F;
  t[0xF0].low = 0x90;
  t[0xF4].high = 0x8F;
  return t;
}();

bool is_valid_utf8(std::string_view text) {
  const char* p = text.data();
  const char* end = p + text.size();
  while (p != end) {
    if (end - p >= 8) {
      std::uint64_t high = load8(p) & kHighBits;
      if (high == 0) {
        p += 8;
        continue;
      }
      p += std::countr_zero(high) / 8;  // skip the ASCII bytes before the first other one
    }
    unsigned char c = byte_at(p);
    if (c < 0x80) {
      ++p;
      continue;
    }
    Utf8Lead lead = kUtf8Leads[c];
    if (lead.length == 0 || end - p < lead.length) return false;
    unsigned char second = byte_at(p + 1);
    if (second < lead.low || second > lead.high) return false;
    for (int k = 2; k < lead.length; ++k) {
      if ((byte_at(p + k) & 0xC0) != 0x80) return false;
    }
    p += lead.length;
  }
  return true;
}

// Writes `cp` (a scalar value) as UTF-8 at `out` and returns the byte count, 1 to 4.
std::size_t encode_utf8(std::uint32_t cp, char* out) {
  auto put = [&](std::size_t i, std::uint32_t bits) { out[i] = static_cast<char>(bits); };
  if (cp < 0x80) {
    put(0, cp);
    return 1;
  }
  if (cp < 0x800) {
    put(0, 0xC0 | (cp >> 6));
    put(1, 0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    put(0, 0xE0 | (cp >> 12));
    put(1, 0x80 | ((cp >> 6) & 0x3F));
    put(2, 0x80 | (cp & 0x3F));
    return 3;
  }
  put(0, 0xF0 | (cp >> 18));
  put(1, 0x80 | ((cp >> 12) & 0x3F));
  put(2, 0x80 | ((cp >> 6) & 0x3F));
  put(3, 0x80 | (cp & 0x3F));
  return 4;
}

// MARK: - Positions

struct Position {
  std::size_t line;
  std::size_t column;
};

// The position of byte count `i`: 1 + the LF bytes among the first i bytes, and i minus
// the bytes up to and including the last of them.
Position position_of_index(const char* input, std::size_t i) {
  Position pos{1, i};
  const char* p = input;
  const char* end = input + i;
  while (p != end) {
    const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    if (lf == nullptr) break;
    p = static_cast<const char*>(lf) + 1;
    ++pos.line;
    pos.column = static_cast<std::size_t>(end - p);
  }
  return pos;
}

// MARK: - Reader

// Strings with escapes are assembled here; the buffer keeps its memory across strings.
class ScratchBuffer {
 public:
  void clear() { size_ = 0; }
  // Room for `n` more bytes at the returned address; commit() makes them part of the text.
  char* reserve_more(std::size_t n) {
    if (bytes_.size() - size_ < n)
      bytes_.resize(std::max({bytes_.size() * 2, size_ + n, std::size_t{64}}));
    return bytes_.data() + size_;
  }
  void commit(std::size_t n) { size_ += n; }
  void append(const char* p, std::size_t n) {
    if (n == 0) return;
    std::memcpy(reserve_more(n), p, n);
    size_ += n;
  }
  std::string_view view() const { return {bytes_.data(), size_}; }

 private:
  std::vector<char> bytes_;
  std::size_t size_ = 0;
};

class Reader {
 public:
  Reader(Arena& arena, std::string_view input)
      : arena_(arena), begin_(input.data()), cur_(begin_), end_(begin_ + input.size()) {}

  Result<std::span<JsonValue>, JsonError> read_sequence();

 private:
  // The remaining depth before the top-level array: 127 levels can be opened.
  static constexpr std::uint8_t kStartDepth = 128;

  std::size_t index() const { return static_cast<std::size_t>(cur_ - begin_); }
  std::size_t size() const { return static_cast<std::size_t>(end_ - begin_); }

  // The two ways to raise an error; both return false for `return error(...)`. `error`
  // places it after the bytes consumed so far, `peek_error` at the unconsumed byte under
  // the index; an error at the end of the input is at byte count n either way.
  bool error(ErrorCode code) { return fail_at(code, index()); }
  bool peek_error(ErrorCode code) { return fail_at(code, std::min(index() + 1, size())); }
  bool fail_at(ErrorCode code, std::size_t i) {
    code_ = code;
    error_index_ = i;
    return false;
  }
  JsonError make_error() const;

  void skip_whitespace() {
    while (cur_ != end_ && is_whitespace(*cur_)) ++cur_;
  }

  bool read_top_level();
  bool read_elements();
  bool read_members();
  template <typename Slot>
  [[gnu::always_inline]] bool parse_value(Slot slot);
  [[gnu::noinline]] bool parse_array(JsonValue& out);
  [[gnu::noinline]] bool parse_object(JsonValue& out);
  bool enter_container();
  bool parse_literal(std::string_view rest);
  bool parse_number(JsonValue& out);
  bool parse_string(JsonValue& out);
  bool parse_str(std::string_view& text, bool& escaped);
  bool parse_escape();
  bool parse_unicode_escape(char* out);
  bool read_hex4(std::uint32_t& v);
  bool peek_invalid_type();
  bool describe_top_level(std::string& description);

  Arena& arena_;
  const char* begin_;
  const char* cur_;
  const char* end_;
  std::uint8_t remaining_depth_ = kStartDepth;
  ScratchBuffer scratch_;
  std::vector<JsonValue> items_;     // elements of the arrays being read, innermost last
  std::vector<JsonMember> members_;  // members of the objects being read, innermost last
  ErrorCode code_ = ErrorCode::kEofWhileParsingValue;
  std::size_t error_index_ = 0;
  std::string description_;  // of the value a kInvalidType error describes
};

Result<std::span<JsonValue>, JsonError> Reader::read_sequence() {
  if (!read_top_level()) return make_error();
  JsonValue* items = arena_.allocate_array<JsonValue>(items_.size());
  std::uninitialized_copy(items_.begin(), items_.end(), items);
  return std::span<JsonValue>(items, items_.size());
}

JsonError Reader::make_error() const {
  Position pos = position_of_index(begin_, error_index_);
  if (code_ == ErrorCode::kInvalidType) {
    return JsonError::invalid_type(description_, pos.line, pos.column);
  }
  return JsonError(code_, pos.line, pos.column);
}

bool Reader::read_top_level() {
  skip_whitespace();
  if (cur_ == end_) return error(ErrorCode::kEofWhileParsingValue);
  if (*cur_ != '[') return peek_invalid_type();
  ++cur_;
  --remaining_depth_;  // the first level always fits
  if (!read_elements()) return false;
  ++remaining_depth_;
  skip_whitespace();
  if (cur_ != end_) return peek_error(ErrorCode::kTrailingCharacters);
  return true;
}

// One value, stored into `slot()`, the place it keeps on the element or member stack.
// Scalars are read here, inside those loops, and written in place; containers are read
// out of line into a local first, since reading them may move the stacks.
// Precondition: cur_ < end_ and cur_ is not at whitespace.
template <typename Slot>
inline bool Reader::parse_value(Slot slot) {
  switch (*cur_) {
    case 'n':
      ++cur_;
      slot() = JsonValue::null();
      return parse_literal("ull");
    case 't':
      ++cur_;
      slot() = JsonValue::boolean(true);
      return parse_literal("rue");
    case 'f':
      ++cur_;
      slot() = JsonValue::boolean(false);
      return parse_literal("alse");
    case '"':
      ++cur_;
      return parse_string(slot());
    case '[': {
      JsonValue array;
      if (!parse_array(array)) return false;
      slot() = array;
      return true;
    }
    case '{': {
      JsonValue object;
      if (!parse_object(object)) return false;
      slot() = object;
      return true;
    }
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
      return parse_number(slot());
    default:
      return peek_error(ErrorCode::kExpectedValue);
  }
}

// The elements of an array whose "[" has been consumed, pushed onto items_.
bool Reader::read_elements() {
  skip_whitespace();
  if (cur_ == end_) return error(ErrorCode::kEofWhileParsingList);
  if (*cur_ == ']') {
    ++cur_;
    return true;
  }
  for (;;) {
    std::size_t slot = items_.size();
    items_.emplace_back();
    if (!parse_value([this, slot]() -> JsonValue& { return items_[slot]; })) return false;
    skip_whitespace();
    if (cur_ == end_) return error(ErrorCode::kEofWhileParsingList);
    char c = *cur_;
    if (c == ']') {
      ++cur_;
      return true;
    }
    if (c != ',') return peek_error(ErrorCode::kExpectedListCommaOrEnd);
    ++cur_;
    skip_whitespace();
    if (cur_ == end_) return error(ErrorCode::kEofWhileParsingValue);
    if (*cur_ == ']') return peek_error(ErrorCode::kTrailingComma);
  }
}

// The members of an object whose "{" has been consumed, pushed onto members_.
bool Reader::read_members() {
  skip_whitespace();
  if (cur_ == end_) return error(ErrorCode::kEofWhileParsingObject);
  if (*cur_ == '}') {
    ++cur_;
    return true;
  }
  if (*cur_ != '"') return peek_error(ErrorCode::kKeyMustBeAString);
  for (;;) {
    ++cur_;  // the key's opening quote
    std::size_t slot = members_.size();
    members_.emplace_back();
    if (!parse_string(members_[slot].key)) return false;
    skip_whitespace();
    if (cur_ == end_) return error(ErrorCode::kEofWhileParsingObject);
    if (*cur_ != ':') return peek_error(ErrorCode::kExpectedColon);
    ++cur_;
    skip_whitespace();
    if (cur_ == end_) return error(ErrorCode::kEofWhileParsingValue);
    if (!parse_value([this, slot]() -> JsonValue& { return members_[slot].value; })) return false;
    skip_whitespace();
    if (cur_ == end_) return error(ErrorCode::kEofWhileParsingObject);
    char c = *cur_;
    if (c == '}') {
      ++cur_;
      return true;
    }
    if (c != ',') return peek_error(ErrorCode::kExpectedObjectCommaOrEnd);
    ++cur_;
    skip_whitespace();
    if (cur_ == end_) return error(ErrorCode::kEofWhileParsingValue);
    if (*cur_ == '}') return peek_error(ErrorCode::kTrailingComma);
    if (*cur_ != '"') return peek_error(ErrorCode::kKeyMustBeAString);
  }
}

// Takes one level of the depth budget; the bracket under the index is not consumed.
bool Reader::enter_container() {
  if (--remaining_depth_ == 0) return peek_error(ErrorCode::kRecursionLimitExceeded);
  return true;
}

bool Reader::parse_array(JsonValue& out) {
  if (!enter_container()) return false;
  ++cur_;
  std::size_t base = items_.size();
  if (!read_elements()) return false;
  out = JsonValue::array(arena_, std::span<const JsonValue>(items_).subspan(base));
  items_.resize(base);
  ++remaining_depth_;
  return true;
}

bool Reader::parse_object(JsonValue& out) {
  if (!enter_container()) return false;
  ++cur_;
  std::size_t base = members_.size();
  if (!read_members()) return false;
  out = JsonValue::object(
      JsonObject::from_members(arena_, std::span<const JsonMember>(members_).subspan(base)));
  members_.resize(base);
  ++remaining_depth_;
  return true;
}

// The letters of a literal after its first; each is consumed before it is compared.
bool Reader::parse_literal(std::string_view rest) {
  if (static_cast<std::size_t>(end_ - cur_) >= rest.size() &&
      std::memcmp(cur_, rest.data(), rest.size()) == 0) {
    cur_ += rest.size();
    return true;
  }
  for (char letter : rest) {
    if (cur_ == end_) return error(ErrorCode::kEofWhileParsingValue);
    if (*cur_++ != letter) return error(ErrorCode::kExpectedIdent);
  }
  return true;
}

bool Reader::parse_number(JsonValue& out) {
  JsonNumber n = JsonNumber::from_unsigned(0);
  switch (read_number(cur_, end_, n)) {
    case NumberStatus::kOk:
      out = JsonValue::number(n);
      return true;
    case NumberStatus::kEof:
      return error(ErrorCode::kEofWhileParsingValue);
    case NumberStatus::kInvalid:
      return error(ErrorCode::kInvalidNumber);
    case NumberStatus::kOutOfRange:
      return error(ErrorCode::kNumberOutOfRange);
  }
  return error(ErrorCode::kInvalidNumber);  // not reached: the switch is exhaustive
}

bool Reader::parse_string(JsonValue& out) {
  std::string_view text;
  bool escaped = false;
  if (!parse_str(text, escaped)) return false;
  out = JsonValue::string(arena_, text, !escaped);
  return true;
}

// A string body after its opening quote. `text` is the raw run in the input when there
// was no escape, else the scratch buffer (valid until the next string).
bool Reader::parse_str(std::string_view& text, bool& escaped) {
  const char* run = cur_;
  std::uint64_t seen = 0;
  escaped = false;
  for (;;) {
    const char* stop = scan_raw_run(cur_, end_, seen);
    cur_ = stop;
    if (stop == end_) return error(ErrorCode::kEofWhileParsingString);
    char c = *cur_++;
    std::size_t run_size = static_cast<std::size_t>(stop - run);
    if (c == '"') {
      if (escaped) {
        scratch_.append(run, run_size);
        text = scratch_.view();
      } else {
        text = std::string_view(run, run_size);
      }
      // Escapes only ever produce well-formed sequences, so only raw bytes need a check.
      if ((seen & kHighBits) != 0 && !is_valid_utf8(text)) {
        return error(ErrorCode::kInvalidUnicodeCodePoint);
      }
      return true;
    }
    if (c != '\\') return error(ErrorCode::kControlCharacterInString);
    if (!escaped) {
      scratch_.clear();
      escaped = true;
    }
    scratch_.append(run, run_size);
    if (!parse_escape()) return false;
    run = cur_;
  }
}

// One escape after its backslash, appended to the scratch buffer.
bool Reader::parse_escape() {
  if (cur_ == end_) return error(ErrorCode::kEofWhileParsingString);
  unsigned char decoded = kEscapes[byte_at(cur_++)];
  if (decoded == 0) return error(ErrorCode::kInvalidEscape);
  char* out = scratch_.reserve_more(4);  // the longest escape gives four bytes
  if (decoded == kUnicodeEscape) return parse_unicode_escape(out);
  *out = static_cast<char>(decoded);
  scratch_.commit(1);
  return true;
}

// The four hex digits after \u, and the second escape of a surrogate pair. Writes the
// UTF-8 bytes at `out`, which has room for four.
bool Reader::parse_unicode_escape(char* out) {
  std::uint32_t v = 0;
  if (!read_hex4(v)) return false;
  if (v >= 0xDC00 && v <= 0xDFFF) return error(ErrorCode::kLoneLeadingSurrogate);
  if (v < 0xD800 || v > 0xDBFF) {
    scratch_.commit(encode_utf8(v, out));
    return true;
  }
  for (char expected : {'\\', 'u'}) {
    if (cur_ == end_) return error(ErrorCode::kEofWhileParsingString);
    if (*cur_++ != expected) return error(ErrorCode::kUnexpectedEndOfHexEscape);
  }
  std::uint32_t w = 0;
  if (!read_hex4(w)) return false;
  if (w < 0xDC00 || w > 0xDFFF) return error(ErrorCode::kLoneLeadingSurrogate);
  // D83D DE00 -> U+1F600
  scratch_.commit(encode_utf8(0x10000 + ((v - 0xD800) << 10) + (w - 0xDC00), out));
  return true;
}

bool Reader::read_hex4(std::uint32_t& v) {
  if (end_ - cur_ < 4) {
    cur_ = end_;
    return error(ErrorCode::kEofWhileParsingString);
  }
  int a = kHexValues[byte_at(cur_)];
  int b = kHexValues[byte_at(cur_ + 1)];
  int c = kHexValues[byte_at(cur_ + 2)];
  int d = kHexValues[byte_at(cur_ + 3)];
  cur_ += 4;
  if ((a | b | c | d) < 0) return error(ErrorCode::kInvalidEscape);
  v = static_cast<std::uint32_t>((a << 12) | (b << 8) | (c << 4) | d);
  return true;
}

// MARK: - The invalid-type error

// A top-level value that is not an array: reads a scalar fully to describe it and fails
// with the "invalid type" message at the index after it (for "{", at the brace).
bool Reader::peek_invalid_type() {
  std::string description;
  if (!describe_top_level(description)) return false;
  description_ = std::move(description);
  return fail_at(ErrorCode::kInvalidType, index());
}

void describe_number(JsonNumber n, std::string& out) {
  char buf[std::max(kMaxDoubleText, std::size_t{24})];
  char* end = buf;
  switch (n.rep()) {
    case JsonNumber::Rep::kUnsigned:
      out.append("integer `");
      end = std::to_chars(buf, buf + sizeof buf, n.as_unsigned()).ptr;
      break;
    case JsonNumber::Rep::kSigned:
      out.append("integer `");
      end = std::to_chars(buf, buf + sizeof buf, n.as_signed()).ptr;
      break;
    case JsonNumber::Rep::kDouble:
      out.append("floating point `");
      end = buf + format_double(n.as_double(), buf);
      break;
  }
  out.append(buf, end);
  out.push_back('`');
}

bool Reader::describe_top_level(std::string& description) {
  switch (*cur_) {
    case 'n':
      ++cur_;
      description = "null";
      return parse_literal("ull");
    case 't':
      ++cur_;
      description = "boolean `true`";
      return parse_literal("rue");
    case 'f':
      ++cur_;
      description = "boolean `false`";
      return parse_literal("alse");
    case '"': {
      ++cur_;
      std::string_view text;
      bool escaped = false;
      if (!parse_str(text, escaped)) return false;
      description = "string ";
      append_quoted(description, text);
      return true;
    }
    case '{':
      description = "map";
      return true;
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9': {
      JsonValue number;
      if (!parse_number(number)) return false;
      describe_number(number.as_number(), description);
      return true;
    }
    default:
      return peek_error(ErrorCode::kExpectedValue);
  }
}

}  // namespace
}  // namespace detail

Result<std::span<JsonValue>, JsonError> read_sequence(Arena& arena, std::string_view input) {
  return detail::Reader(arena, input).read_sequence();
}

}  // namespace velmar::json
