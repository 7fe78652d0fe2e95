// Writes a generated benchmark payload, or its expected result, to standard output, so that
// the Python benchmark runs on the very bytes the C++ benchmarks use.
//
//   velmar_bench_payload --list             the names, one a line
//   velmar_bench_payload NAME               the payload
//   velmar_bench_payload NAME --expected    the exact result columnarize must return
#include <cstdio>
#include <string>
#include <string_view>

#include "../bench_data.h"
#include "../payloads.h"

int main(int argc, char** argv) {
  const std::string_view first = argc >= 2 ? argv[1] : "";
  if (argc == 2 && first == "--list") {
    for (std::string_view name : velmar::bench::generated_payload_names()) {
      std::printf("%.*s\n", static_cast<int>(name.size()), name.data());
    }
    return 0;
  }
  const bool expected = argc == 3 && std::string_view(argv[2]) == "--expected";
  if (argc != 2 && !expected) {
    std::fprintf(stderr, "usage: %s --list | NAME [--expected]\n", argv[0]);
    return 2;
  }
  auto payload = velmar::bench::generate_payload(first);
  if (!payload) {
    std::fprintf(stderr, "%s: no generated payload called %s\n", argv[0], argv[1]);
    return 2;
  }
  std::string error;
  const std::string out =
      expected ? velmar::bench::expected_result(*payload, error) : std::move(payload->payload);
  if (!error.empty()) {
    std::fprintf(stderr, "%s: no expected result for %s: %s\n", argv[0], argv[1], error.c_str());
    return 1;
  }
  if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
    std::perror("write");
    return 1;
  }
  return 0;
}
