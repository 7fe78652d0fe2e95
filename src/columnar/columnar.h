// The columnar transform, the one header of src/columnar: a row-oriented JSON payload
// (an array of objects) in, the compact text of {"columns":[...],"rows":[[...],...],
// "constants":{...}} out, through the public headers of src/json (reader.h, value.h,
// writer.h). derive.cpp reads the rows and derives the document, document.cpp writes it and
// transform.cpp runs the two in one arena.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "json/packed_value.h"
#include "json/padded.h"
#include "json/result.h"
#include "json/value.h"

namespace velmar::columnar {

// What kind of failure a TransformError is: the payload is not an array of objects, or
// the result it defines needs more memory than the process can have.
enum class TransformErrorKind { kInvalidPayload, kResultTooLarge };

// A failure of the transform, carried as its complete message.
struct TransformError {
  std::string message;
  TransformErrorKind kind = TransformErrorKind::kInvalidPayload;
};

using TransformResult = json::Result<std::string, TransformError>;

// Transforms `payload`. Fails with "invalid row-oriented JSON: <reader error>" or
// "expected a JSON object row, got: <element>" (kInvalidPayload), or with "result too
// large: ..." (kResultTooLarge) when the row matrix and its text cannot fit in
// memory_available(need). Touches no shared mutable state. Strings move in blocks that may
// reach past the payload's end, hence the padding.
TransformResult columnarize_json(json::PaddedView payload);

// The same for a payload that is not padded, for C++ callers: it transforms a padded copy,
// so it costs a copy of the payload more than the call above.
TransformResult columnarize_json(std::string_view payload);

// A private, padded copy of `payload` for columnarize_json to read: the module makes it
// before it releases the interpreter lock, so that the transform reads nothing the
// interpreter owns. A large copy is fresh memory and is backed by huge pages, as the
// transform's own buffers are.
json::PaddedText copy_payload(std::string_view payload);

// The document derived from a payload's rows, ready to be written: the varying columns'
// names, the constants, each row's cells and where each goes among the varying columns.
// The cells are the rows' own values, so it refers to the arena and text they live in and
// must not outlive them.
struct ColumnarDocument {
  // A member that is no cell of the row matrix (its column is constant or all-null) has
  // the place kNoCell<T>.
  template <typename T>
  static constexpr T kNoCell = static_cast<T>(-1);
  // For every member of every row, row by row and in the row's entry order: the place of
  // its cell among the varying columns, in the narrowest of these types that held every
  // column while the rows were read (the derivation holds the members' columns in the same
  // vectors), since it is kept beside the rows while the text is written.
  using MemberPlaces = std::variant<std::vector<std::uint8_t>, std::vector<std::uint16_t>,
                                    std::vector<std::uint32_t>>;

  json::JsonValue columns;    // the varying columns' names, an array of strings
  json::JsonValue constants;  // an object: each constant column's name and row 0's cell
  // Each row's members' values in the row's entry order, as the value model keeps the
  // object (a repeated key's last value at its first place), packed in a word each; the
  // keys are not kept.
  std::vector<std::span<const json::PackedValue>> rows;
  json::PaddedView input;  // the text the rows were read from, which packed strings refer to
  MemberPlaces member_places;
  std::uint32_t varying = 0;

  // Appends the compact text of {"columns":[...],"rows":[[...],...],"constants":{...}} to
  // `out`, first reserving size_hint bytes when it has less room: one array per row, its
  // cells in varying-column order, null for a missing member.
  void write_text(std::string& out, std::size_t size_hint = 0) const;
  // The same text in a new buffer.
  std::string text(std::size_t size_hint = 0) const {
    std::string out;
    write_text(out, size_hint);
    return out;
  }
};

using DeriveResult = json::Result<ColumnarDocument, TransformError>;

// The most bytes a result may take, given the least it needs: memory_available for a
// call, a fixed figure in tests and benchmarks.
using MemoryLimit = std::function<std::size_t(std::size_t need)>;

// Derives the document of `rows`, every one an object: the columns in order of first
// appearance without the all-null ones, the varying columns of the row matrix, and the
// constants (only with two rows or more). The rows' cells (words that refer to the rows'
// values when these do not fit) and the document's own few values live in `arena`; what
// the cells refer to stays shared. The row matrix has rows x varying columns cells, which
// a small payload can make arbitrarily large, so the least memory it needs, held as values
// and as text, is compared with `memory_limit(need)` (bytes): a larger need, or one the
// system cannot allocate, fails with kResultTooLarge, "result too large: <rows> rows x
// <columns> columns need at least <n> bytes, more than the <limit> bytes available".
DeriveResult derive_columns(json::Arena& arena, std::span<const json::JsonValue> rows,
                            const MemoryLimit& memory_limit);

// Reads `payload` and derives its document in the same pass, each row taken as it is read:
// what columnarize_json does before it writes. Strings of the document may refer to
// `payload`, which must outlive it. Fails as columnarize_json does, except
// that it writes nothing: with the reader's error, then with the first element that is
// not an object, then as derive_columns does.
DeriveResult read_and_derive(json::Arena& arena, json::PaddedView payload,
                             const MemoryLimit& memory_limit);

// Above this need, memory_available also reads the figures that change from call to call.
inline constexpr std::size_t kLiveMemoryReadingAbove = std::size_t{64} << 20;

// The most memory a result that needs at least `need` bytes can get, the least of:
// - physical memory, the process's RLIMIT_AS and RLIMIT_DATA, and the memory limits of its
//   control groups (cgroup v1 or v2, its own and every ancestor up to the hierarchy's mount
//   point), read once per process;
// - for a need above kLiveMemoryReadingAbove, also what is left now: every limited group's
//   limit less its usage that the kernel cannot reclaim (all but the inactive file pages),
//   and /proc/meminfo's MemAvailable, read at the call. A small call reads no file.
// A figure that cannot be read counts as no limit. Thread-safe.
std::size_t memory_available(std::size_t need);

}  // namespace velmar::columnar
