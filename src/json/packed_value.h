// A value in one word, for a caller that holds many at once (the columnar derivation keeps
// every row's cells until it writes them): literals, integers below 2^60 in magnitude,
// doubles whose shortest digits came with them and zeros, strings without escapes, kept as
// their place in the input they were read from, and arrays, as their items' address and
// count, and arrays and objects whose text in the input is exactly what the writer writes
// for them, as that text's place. Any other value is a handle in an arena that the word
// refers to. The reader packs the values of the members it gives a sink, from the text at
// hand, so that no handle is made for them.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "json/arena.h"
#include "json/padded.h"
#include "json/value.h"

namespace velmar::json {

// What writing a writer text redoes: escapes in its strings that the writer writes
// otherwise ("\/", "\u00e9"), and whitespace between its tokens, which it leaves out.
struct TextRewrites {
  bool foreign_escapes = false;
  bool spaces = false;
};

class PackedValue {
 public:
  PackedValue() = default;  // null

  static PackedValue boolean(bool b) {
    return PackedValue((std::uint64_t{b ? 2U : 1U} << kTagBits) | kLiteral);
  }
  // `n` in the word when it fits, else false.
  static bool pack_number(const JsonNumber& n, PackedValue& out);
  // The double digits * 10^-k with this sign, 0 < digits < 2^53 its shortest digits and
  // |k| <= kKBias, whose powers of ten are exact.
  static PackedValue digits(bool negative, std::uint64_t digits, int k) {
    return PackedValue((digits << kDigitsShift) |
                       (static_cast<std::uint64_t>(k + kKBias) << kKShift) |
                       (negative ? kSignBit : 0) | kDigits);
  }
  // A string without escapes whose text is `n` bytes at `text` in `input`, when its place
  // fits the word, else false.
  static bool pack_raw_string(std::string_view input, const char* text, std::size_t n,
                              PackedValue& out);
  // An array, object or string whose `n` bytes of text at `text` in `input` are its writer's text,
  // or would be but for the `rewrites` writing it redoes, when its place fits the word, else
  // false.
  static bool pack_writer_text(std::string_view input, const char* text, std::size_t n,
                               TextRewrites rewrites, PackedValue& out) {
    if (!pack_raw_string(input, text, n, out)) return false;
    out.bits_ += kWriterText - kRawString;
    if (rewrites.foreign_escapes) out.bits_ |= kForeignEscapesBit;
    if (rewrites.spaces) out.bits_ |= kSpacesBit;
    return true;
  }
  // `v` packed, referring to `v` itself, which must then outlive the word (in an arena,
  // say), when it does not fit.
  static PackedValue of(const JsonValue& v);
  // `v` packed, in a handle copied into `arena` when it does not fit the word.
  static PackedValue copied(Arena& arena, const JsonValue& v);

  // What the word holds.
  enum class Form : std::uint8_t {
    kHandle,      // a value that does not fit: handle()
    kLiteral,     // null, false or true: literal_text()
    kUnsigned,    // an integer of at least 0: unsigned_value()
    kNegative,    // a negative integer: negative_value()
    kDigits,      // a double from its shortest digits, or a zero: known_digits()
    kRawString,   // a string without escapes: raw_text()
    kArray,       // an array: array()
    kWriterText,  // an array, object or escaped string as its text in the input: writer_text()
  };
  Form form() const { return static_cast<Form>(bits_ & kTagMask); }
  bool is_null() const { return bits_ == kLiteral; }
  // The same word: the same value. Equal values may still have different words (a string
  // read twice, 1 and 1.0, one string with escapes and one without).
  bool same_word(PackedValue other) const { return bits_ == other.bits_; }

  // The value packed, with the `input` it was read from. Not for kWriterText, whose value
  // is read from its text (json::unpack_value in reader.h).
  JsonValue unpack(PaddedView input) const;

  // Each for its form only.
  const JsonValue& handle() const { return *reinterpret_cast<const JsonValue*>(bits_); }
  std::string_view literal_text() const {
    constexpr std::string_view kLiterals[] = {"null", "false", "true"};
    return kLiterals[bits_ >> kTagBits];
  }
  std::uint64_t unsigned_value() const { return bits_ >> kTagBits; }
  std::int64_t negative_value() const { return static_cast<std::int64_t>(bits_) >> kTagBits; }
  JsonValue array() const {
    return JsonValue::array(reinterpret_cast<const JsonValue*>(bits_ & kAddressMask),
                            bits_ >> kCountShift);
  }
  // The double's sign, digits and k (digits * 10^-k), which is all its text needs; digits
  // 0 for a zero.
  void known_digits(bool& negative, std::uint64_t& digits, int& k) const {
    negative = (bits_ & kSignBit) != 0;
    digits = bits_ >> kDigitsShift;
    k = static_cast<int>((bits_ >> kKShift) & kKMask) - kKBias;
  }
  // The string's text in `input`, without its quotes, which the input holds around it.
  PaddedView raw_text(PaddedView input) const { return text_in(input); }
  // The array's or object's text in `input`, which is what the writer writes for it unless
  // writing it redoes something: equal texts are equal values, while unequal ones may still
  // be (objects whose members come in another order, and any two with rewrites).
  PaddedView writer_text(PaddedView input) const { return text_in(input); }
  // What writing the writer text redoes (writer_text.h), if anything.
  TextRewrites rewrites() const {
    return {(bits_ & kForeignEscapesBit) != 0, (bits_ & kSpacesBit) != 0};
  }
  bool is_written_as_is() const { return (bits_ & (kForeignEscapesBit | kSpacesBit)) == 0; }
  // For two strings without escapes: whether their texts are equal. Texts of up to two
  // words compare as words, the padding covering what follows a short text (the JSON
  // code is little-endian: a text's first byte is its words' low byte).
  bool same_raw_text(PackedValue other, PaddedView input) const {
    static_assert(kPadding >= 16);
    const PaddedView a = raw_text(input);
    const PaddedView b = other.raw_text(input);
    const std::size_t n = a.size();
    if (n != b.size()) return false;
    if (n > 16) return a.text() == b.text();
    std::uint64_t x[2];
    std::uint64_t y[2];
    std::memcpy(x, a.data(), sizeof x);
    std::memcpy(y, b.data(), sizeof y);
    const auto first_bytes = [](std::size_t k) {
      return k >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * k)) - 1;
    };
    return (((x[0] ^ y[0]) & first_bytes(n)) | ((x[1] ^ y[1]) & first_bytes(n > 8 ? n - 8 : 0))) ==
           0;
  }

 private:
  // The text in `input` that a kRawString or kWriterText word holds the place of.
  PaddedView text_in(PaddedView input) const {
    return input.part(bits_ >> kOffsetShift, (bits_ >> kTagBits) & kLengthMask);
  }

  // The word's layout: the low three bits say what it holds; the rest hold it.
  //   kHandle: the address of a handle in an arena (8-aligned, so its low bits are zero)
  //   kLiteral: null, false or true, as 0, 1 or 2 above the tag
  //   kUnsigned: an unsigned integer below 2^61
  //   kNegative: a negative integer of at least -2^60, shifted arithmetically
  //   kDigits: a double from its shortest digits d < 2^42 and k (|k| <= 22): d, k + 22,
  //     its sign; or a zero: d = 0, k = 0, its sign
  //   kRawString: a string without escapes: its text's offset in the input (32 bits, past
  //     the opening quote) and its length (27 bits)
  //   kArray: the address of its items (8-aligned, below 2^47) and their count (17 bits)
  //   kWriterText: as kRawString, the text running from the opening bracket, brace or quote;
  //     bit 31 set when it has foreign escapes, bit 30 when it has spaces
  enum Tag : std::uint64_t {
    kHandle = 0,
    kLiteral = 1,
    kUnsigned = 2,
    kNegative = 3,
    kDigits = 4,
    kRawString = 5,
    kArray = 6,
    kWriterText = 7,
  };
  static constexpr std::uint64_t kTagMask = 7;
  static constexpr int kTagBits = 3;
  static constexpr int kLengthBits = 27;
  static constexpr std::uint64_t kForeignEscapesBit = std::uint64_t{1} << 31;
  static constexpr std::uint64_t kSpacesBit = std::uint64_t{1} << 30;
  static constexpr std::uint64_t kLengthMask = (std::uint64_t{1} << kLengthBits) - 1;
  static constexpr int kOffsetShift = 32;
  static constexpr int kDigitsShift = 10;
  static constexpr int kKShift = 4;
  static constexpr std::uint64_t kKMask = 63;
  static constexpr int kKBias = 22;  // the largest |k| packed, whose powers of ten are exact
  static constexpr std::uint64_t kSignBit = std::uint64_t{1} << kTagBits;
  static constexpr int kCountShift = 47;
  static constexpr std::uint64_t kAddressMask = ((std::uint64_t{1} << kCountShift) - 1) & ~kTagMask;

  explicit PackedValue(std::uint64_t bits) : bits_(bits) {}

  static PackedValue referring_to(const JsonValue* handle) {
    return PackedValue(reinterpret_cast<std::uintptr_t>(handle));
  }
  // A literal, a number or an array that fits the word.
  static bool pack_without_handle(const JsonValue& v, PackedValue& out);

  std::uint64_t bits_ = kLiteral;
};
static_assert(sizeof(PackedValue) == 8);

// An object member as the reader gives it to a sink: the key as a handle, for lookups,
// and the value packed. `repeats`: the place in the previous object element of the
// member whose text this one's repeats up to its value, so whose key it has; kNoPlace
// when not known.
struct PackedMember {
  static constexpr std::uint32_t kNoPlace = UINT32_MAX;
  JsonValue key;
  PackedValue value;
  std::uint32_t repeats = kNoPlace;
};

// Inline, as the reader packs every number of a row.
inline bool PackedValue::pack_number(const JsonNumber& n, PackedValue& out) {
  constexpr std::uint64_t kMaxUnsigned = (std::uint64_t{1} << 61) - 1;
  constexpr std::int64_t kMinNegative = -(std::int64_t{1} << 60);
  switch (n.rep()) {
    case JsonNumber::Rep::kUnsigned:
      if (n.as_unsigned() > kMaxUnsigned) return false;
      out.bits_ = (n.as_unsigned() << kTagBits) | kUnsigned;
      return true;
    case JsonNumber::Rep::kSigned:
      if (n.as_signed() < kMinNegative) return false;
      out.bits_ = (static_cast<std::uint64_t>(n.as_signed()) << kTagBits) | kNegative;
      return true;
    case JsonNumber::Rep::kDouble: {
      const std::uint64_t digits = n.known_digits();
      if (digits == 0) {  // a zero, or a double without its digits
        if (n.as_double() != 0) return false;
        out.bits_ = (std::uint64_t{kKBias} << kKShift) |
                    (std::signbit(n.as_double()) ? kSignBit : 0) | kDigits;
        return true;
      }
      // The sign from the number's head, not from the double, which may still be computed.
      const int k = n.fraction_digits();
      if (k < -kKBias || k > kKBias) return false;
      out = PackedValue::digits(n.known_negative(), digits, k);
      return true;
    }
  }
  return false;
}

inline bool PackedValue::pack_raw_string(std::string_view input, const char* text, std::size_t n,
                                         PackedValue& out) {
  const auto offset = static_cast<std::uint64_t>(text - input.data());
  if ((offset >> (64 - kOffsetShift)) != 0 || (n >> kLengthBits) != 0) return false;
  out.bits_ = (offset << kOffsetShift) | (std::uint64_t{n} << kTagBits) | kRawString;
  return true;
}

}  // namespace velmar::json
