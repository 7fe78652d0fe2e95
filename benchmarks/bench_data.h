// The payloads the benchmarks run on: the generated ones (payloads.h) and the real ones of the
// bench-data folder, which is read where it lies and never copied into the repository.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "payloads.h"

namespace velmar::bench {

struct Payload {
  std::string name;  // "gen_listing_1000", "real_geonames_cities"
  std::string text;
  // The bytes columnarize_json must return: expected_result() for a generated payload, the
  // reference derivation's (tests/reference) for a real one. Empty when `error` is set.
  std::string expected;
  std::string error;  // why no expected result could be made
};

// The folder of the real payloads: $VELMAR_BENCH_DATA_DIR when set, else the folder the build
// was configured with.
std::string real_payload_dir();

// The payloads at hand, in benchmark order: every generated one in payloads.h's order, then
// the real ones found in real_payload_dir(), smallest first. The real ones that are missing
// are left out, and one line on standard error says so.
const std::vector<std::string>& payload_names();

// The payload called `name`, generated or read on first use and kept for the life of the
// process. Null for a name payload_names() does not list.
const Payload* find_payload(const std::string& name);

// The text of the payload called `name` alone, generated or read, without its expected result
// and without keeping it: for measurements that start from a process that has done little
// else. Empty, with `error` set, when it cannot be read.
std::string load_payload_text(const std::string& name, std::string& error);

// The result columnarize_json must return for a generated payload: the generator's own, or
// the reference derivation's where the generator leaves it to the reader's rule. Empty,
// with `error` set, when the reference derivation refuses the payload.
std::string expected_result(const GeneratedPayload& generated, std::string& error);

// The first position where `a` and `b` differ, with a little context of both, for messages.
std::string first_difference(std::string_view a, std::string_view b);

}  // namespace velmar::bench
