// The transform as a caller calls it: a plain loop of calls, each on a fresh padded copy
// of the payload, made as the module makes its own (as a caller hands over fresh bytes),
// with the minor page faults and the time of each call. A harness that repeats a call on the same
// buffers keeps the allocator warm and hides the cost of fresh memory; this loop shows it. With
// --interleave, other allocations of a host process are made and freed between calls.
//
//   velmar_plain_loop [--interleave] [--calls N] [--seconds S] [--only REGEX] [--json FILE]
//
// Each payload (bench_data.h) runs in a process of its own, forked before the payload is
// loaded, because what the allocator keeps after one payload's calls decides how much fresh
// memory the next payload's calls touch. The child reads the payload alone, runs at most N
// calls (default 200) and no more than S seconds (default 2, at least 3 calls), then checks
// one more call's result against the expected one, and reports the median time of a call
// and the mean minor page faults per call (getrusage around each call: the copy and the
// host's allocations are outside). Exits with 1 when a result differs from the expected
// one or a child fails.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "../bench_data.h"
#include "columnar/columnar.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  bool interleave = false;
  std::size_t calls = 200;
  double seconds = 2.0;
  std::string only = ".";
  std::string json;
};

struct Figures {
  std::string name;
  std::size_t bytes = 0;
  std::size_t calls = 0;
  double median_us = 0;
  double faults_per_call = 0;
};

long minor_faults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// What a host process does between two calls: it allocates memory of its own and frees
// older memory. Each call of between_calls() writes eight blocks of 64 bytes to 512 KB
// (sizes spread evenly over their logarithm), each replacing the block made 64 blocks
// earlier, so that the heap a call meets is neither the one the previous call left nor
// an empty one.
class HostAllocations {
 public:
  void between_calls() {
    for (int k = 0; k < 8; ++k) {
      const std::size_t size = std::size_t{64} << (random_() % 14);
      live_[next_ % live_.size()] = std::vector<char>(size, 'h');
      ++next_;
    }
  }

 private:
  std::minstd_rand random_{12345};
  std::vector<std::vector<char>> live_ = std::vector<std::vector<char>>(64);
  std::size_t next_ = 0;
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

Figures run_loop(const std::string& name, const std::string& payload, const Options& options) {
  HostAllocations host;
  std::vector<double> times;
  long faults = 0;
  const Clock::time_point deadline =
      Clock::now() +
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.seconds));
  while (times.size() < options.calls && (times.size() < 3 || Clock::now() < deadline)) {
    if (options.interleave) host.between_calls();
    const velmar::json::PaddedText fresh = velmar::columnar::copy_payload(payload);
    const long faults_before = minor_faults();
    const Clock::time_point start = Clock::now();
    auto result = velmar::columnar::columnarize_json(fresh.view());
    const Clock::time_point end = Clock::now();
    faults += minor_faults() - faults_before;
    times.push_back(std::chrono::duration<double, std::micro>(end - start).count());
  }
  return {name, payload.size(), times.size(), median(times),
          static_cast<double>(faults) / static_cast<double>(times.size())};
}

// A result must be the expected one; an empty string when it is.
std::string check(const std::string& name) {
  const velmar::bench::Payload& payload = *velmar::bench::find_payload(name);
  if (!payload.error.empty()) return payload.error;
  auto result = velmar::columnar::columnarize_json(payload.text);
  if (!result.ok()) return result.error().message;
  if (result.value() != payload.expected) {
    return "result differs from the expected result " +
           velmar::bench::first_difference(result.value(), payload.expected);
  }
  return "";
}

// The child's report on its pipe: "ok <bytes> <calls> <median us> <faults per call>" or
// "error <why>".
std::string measure_in_this_process(const std::string& name, const Options& options) {
  std::string error;
  const std::string payload = velmar::bench::load_payload_text(name, error);
  if (!error.empty()) return "error " + error;
  const Figures f = run_loop(name, payload, options);
  if (const std::string problem = check(name); !problem.empty()) return "error " + problem;
  char line[128];
  std::snprintf(line, sizeof line, "ok %zu %zu %.3f %.3f", f.bytes, f.calls, f.median_us,
                f.faults_per_call);
  return line;
}

// measure_in_this_process in a forked child; its report, or why there is none.
std::string measure_in_child(const std::string& name, const Options& options) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return "error pipe failed";
  std::fflush(stdout);
  const pid_t child = fork();
  if (child < 0) return "error fork failed";
  if (child == 0) {
    close(pipe_ends[0]);
    const std::string report = measure_in_this_process(name, options);
    const bool written =
        write(pipe_ends[1], report.data(), report.size()) == static_cast<ssize_t>(report.size());
    _exit(written ? 0 : 1);
  }
  close(pipe_ends[1]);
  std::string report;
  char buf[512];
  for (ssize_t n; (n = read(pipe_ends[0], buf, sizeof buf)) > 0;) {
    report.append(buf, static_cast<std::size_t>(n));
  }
  close(pipe_ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || report.empty()) {
    return "error the child ended with status " + std::to_string(status);
  }
  return report;
}

bool write_json(const std::string& path, const Options& options,
                const std::vector<Figures>& figures) {
  std::FILE* out = std::fopen(path.c_str(), "w");
  if (out == nullptr) return false;
  std::fprintf(out, "{\n  \"interleave\": %s,\n  \"payloads\": [",
               options.interleave ? "true" : "false");
  for (std::size_t k = 0; k < figures.size(); ++k) {
    const Figures& f = figures[k];
    std::fprintf(out,
                 "%s\n    {\"name\": \"%s\", \"bytes\": %zu, \"calls\": %zu, "
                 "\"median_us\": %.3f, \"faults_per_call\": %.3f}",
                 k > 0 ? "," : "", f.name.c_str(), f.bytes, f.calls, f.median_us,
                 f.faults_per_call);
  }
  std::fprintf(out, "\n  ]\n}\n");
  return std::fclose(out) == 0;
}

[[noreturn]] void usage(const char* program) {
  std::fprintf(stderr,
               "usage: %s [--interleave] [--calls N] [--seconds S] [--only REGEX] "
               "[--json FILE]\n",
               program);
  std::exit(2);
}

Options parse_options(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--interleave") {
      options.interleave = true;
    } else if (arg == "--calls" && has_value) {
      options.calls = std::max(std::strtoul(argv[++i], nullptr, 10), 1UL);
    } else if (arg == "--seconds" && has_value) {
      options.seconds = std::strtod(argv[++i], nullptr);
    } else if (arg == "--only" && has_value) {
      options.only = argv[++i];
    } else if (arg == "--json" && has_value) {
      options.json = argv[++i];
    } else {
      usage(argv[0]);
    }
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse_options(argc, argv);
  const std::regex only(options.only);
  std::printf("plain loop of calls on a fresh copy each%s\n",
              options.interleave ? ", other allocations between calls" : "");
  std::printf("%-30s %12s %7s %12s %14s\n", "payload", "bytes", "calls", "us per call",
              "faults per call");
  std::vector<Figures> figures;
  int status = 0;
  for (const std::string& name : velmar::bench::payload_names()) {
    if (!std::regex_search(name, only)) continue;
    const std::string report = measure_in_child(name, options);
    Figures f{name};
    if (std::sscanf(report.c_str(), "ok %zu %zu %lf %lf", &f.bytes, &f.calls, &f.median_us,
                    &f.faults_per_call) != 4) {
      std::printf("%-30s skipped: %s\n", name.c_str(), report.c_str());
      status = 1;
      continue;
    }
    figures.push_back(f);
    std::printf("%-30s %12zu %7zu %12.1f %14.1f\n", f.name.c_str(), f.bytes, f.calls, f.median_us,
                f.faults_per_call);
    std::fflush(stdout);
  }
  if (!options.json.empty() && !write_json(options.json, options, figures)) {
    std::perror(options.json.c_str());
    return 1;
  }
  return status;
}
