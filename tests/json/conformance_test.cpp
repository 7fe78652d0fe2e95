// The parsing corpus in tests/data/JSONTestSuite as whole payloads: y_ files are read
// (or rejected as a non-array top level), n_ files fail with a positioned message, and
// each i_ file gets the outcome the rule named next to it decides.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "json/reader.h"

namespace velmar::json {
namespace {

namespace fs = std::filesystem;

struct CorpusFile {
  std::string name;
  std::string bytes;
};

std::vector<CorpusFile> load_corpus() {
  fs::path dir = fs::path(VELMAR_TEST_DATA_DIR) / "JSONTestSuite" / "test_parsing";
  std::vector<CorpusFile> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    files.push_back(
        {entry.path().filename().string(), std::string(std::istreambuf_iterator<char>(in), {})});
  }
  std::sort(files.begin(), files.end(),
            [](const CorpusFile& a, const CorpusFile& b) { return a.name < b.name; });
  return files;
}

const std::vector<CorpusFile>& corpus() {
  static const std::vector<CorpusFile> files = load_corpus();
  return files;
}

bool starts_with_array(const std::string& bytes) {
  std::size_t first = bytes.find_first_not_of(" \t\n\r");
  return first != std::string::npos && bytes[first] == '[';
}

struct Outcome {
  bool ok;
  std::string display;  // the error's, when !ok
  ErrorCode code = ErrorCode::kInvalidType;
};

Outcome read_file(const CorpusFile& file) {
  Arena arena;
  auto result = read_sequence(arena, file.bytes);
  if (result) return {true, {}};
  return {false, result.error().display(), result.error().code()};
}

// How this dialect decides each i_ file, by the rule named in the comment.
const std::map<std::string, std::string> kImplementationDefined = {
    // Integers outside 64 bits become doubles; tiny values become zero.
    {"i_number_double_huge_neg_exp.json", "ok"},
    {"i_number_real_underflow.json", "ok"},
    {"i_number_too_big_neg_int.json", "ok"},
    {"i_number_too_big_pos_int.json", "ok"},
    {"i_number_very_big_negative_int.json", "ok"},
    // Too large for a double: at the number's last byte, or at the exponent digit that
    // leaves 32 bits (0.4e0066999999 fails at its tenth significant exponent digit).
    {"i_number_huge_exp.json", "number out of range at line 1 column 17"},
    {"i_number_neg_int_huge_exp.json", "number out of range at line 1 column 9"},
    {"i_number_pos_double_huge_exp.json", "number out of range at line 1 column 10"},
    {"i_number_real_neg_overflow.json", "number out of range at line 1 column 15"},
    {"i_number_real_pos_overflow.json", "number out of range at line 1 column 14"},
    // The top level must be an array; nothing after the brace of an object is read.
    {"i_object_key_lone_2nd_surrogate.json",
     "invalid type: map, expected a sequence at line 1 column 0"},
    // Unpaired surrogate escapes are errors.
    {"i_string_1st_surrogate_but_2nd_missing.json",
     "unexpected end of hex escape at line 1 column 9"},
    {"i_string_1st_valid_surrogate_2nd_invalid.json",
     "lone leading surrogate in hex escape at line 1 column 14"},
    {"i_string_incomplete_surrogate_and_escape_valid.json",
     "unexpected end of hex escape at line 1 column 10"},
    {"i_string_incomplete_surrogate_pair.json",
     "lone leading surrogate in hex escape at line 1 column 8"},
    {"i_string_incomplete_surrogates_escape_valid.json",
     "lone leading surrogate in hex escape at line 1 column 14"},
    {"i_string_invalid_lonely_surrogate.json", "unexpected end of hex escape at line 1 column 9"},
    {"i_string_invalid_surrogate.json", "unexpected end of hex escape at line 1 column 9"},
    {"i_string_inverted_surrogates_U+1D11E.json",
     "lone leading surrogate in hex escape at line 1 column 8"},
    {"i_string_lone_second_surrogate.json",
     "lone leading surrogate in hex escape at line 1 column 8"},
    // Raw string bytes must be well-formed UTF-8, checked at the closing quote.
    {"i_string_UTF-8_invalid_sequence.json", "invalid unicode code point at line 1 column 9"},
    {"i_string_UTF8_surrogate_U+D800.json", "invalid unicode code point at line 1 column 6"},
    {"i_string_invalid_utf-8.json", "invalid unicode code point at line 1 column 4"},
    {"i_string_iso_latin_1.json", "invalid unicode code point at line 1 column 4"},
    {"i_string_lone_utf8_continuation_byte.json", "invalid unicode code point at line 1 column 4"},
    {"i_string_not_in_unicode_range.json", "invalid unicode code point at line 1 column 7"},
    {"i_string_overlong_sequence_2_bytes.json", "invalid unicode code point at line 1 column 5"},
    {"i_string_overlong_sequence_6_bytes.json", "invalid unicode code point at line 1 column 9"},
    {"i_string_overlong_sequence_6_bytes_null.json",
     "invalid unicode code point at line 1 column 9"},
    {"i_string_truncated-utf-8.json", "invalid unicode code point at line 1 column 5"},
    // The input is UTF-8 without a byte order mark: a mark or a NUL byte starts no value.
    {"i_string_UTF-16LE_with_BOM.json", "expected value at line 1 column 1"},
    {"i_string_utf16BE_no_BOM.json", "expected value at line 1 column 1"},
    {"i_string_utf16LE_no_BOM.json", "expected value at line 1 column 2"},
    {"i_structure_UTF-8_BOM_empty_object.json", "expected value at line 1 column 1"},
    // At most 127 levels: the 128th bracket fails.
    {"i_structure_500_nested_arrays.json", "recursion limit exceeded at line 1 column 128"},
};

TEST(Conformance, CorpusIsPresent) { EXPECT_EQ(corpus().size(), 318u); }

TEST(Conformance, AcceptedFiles) {
  // No y_ file is rejected by a stricter rule of this dialect (nesting, number range,
  // UTF-8) as a whole payload: those rules only decide i_ files.
  int arrays = 0;
  int other_top_level = 0;
  for (const CorpusFile& file : corpus()) {
    if (!file.name.starts_with("y_")) continue;
    SCOPED_TRACE(file.name);
    Outcome outcome = read_file(file);
    if (starts_with_array(file.bytes)) {
      ++arrays;
      EXPECT_TRUE(outcome.ok) << outcome.display;
    } else {
      ++other_top_level;
      EXPECT_FALSE(outcome.ok);
      EXPECT_EQ(outcome.code, ErrorCode::kInvalidType) << outcome.display;
    }
  }
  std::cout << "y_: " << arrays << " arrays read, " << other_top_level
            << " other top-level values rejected as invalid type\n";
  EXPECT_EQ(arrays + other_top_level, 95);
}

TEST(Conformance, RejectedFiles) {
  int rejected = 0;
  for (const CorpusFile& file : corpus()) {
    if (!file.name.starts_with("n_")) continue;
    SCOPED_TRACE(file.name);
    Outcome outcome = read_file(file);
    EXPECT_FALSE(outcome.ok);
    if (outcome.ok) continue;
    ++rejected;
    EXPECT_NE(outcome.display.find(" at line "), std::string::npos) << outcome.display;
  }
  std::cout << "n_: " << rejected << " rejected\n";
  EXPECT_EQ(rejected, 188);
}

TEST(Conformance, ImplementationDefinedFiles) {
  int accepted = 0;
  int rejected = 0;
  for (const CorpusFile& file : corpus()) {
    if (!file.name.starts_with("i_")) continue;
    SCOPED_TRACE(file.name);
    Outcome outcome = read_file(file);
    if (outcome.ok) {
      ++accepted;
    } else {
      ++rejected;
      EXPECT_LT(static_cast<std::size_t>(outcome.code), std::size(kErrorMessages));
    }
    auto decided = kImplementationDefined.find(file.name);
    ASSERT_NE(decided, kImplementationDefined.end());
    EXPECT_EQ(outcome.ok ? std::string("ok") : outcome.display, decided->second);
  }
  std::cout << "i_: " << accepted << " accepted, " << rejected << " rejected\n";
  EXPECT_EQ(accepted + rejected, 35);
  EXPECT_EQ(kImplementationDefined.size(), 35u);
}

}  // namespace
}  // namespace velmar::json
