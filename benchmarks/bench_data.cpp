// The payload registry: generated payloads mostly come with their expected results; real
// ones are read from their folder. A payload without one gets it from the reference
// derivation.
#include "bench_data.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>

#include "../tests/reference/reference_derivation.h"
#include "payloads.h"

namespace velmar::bench {
namespace {

// The real payloads, smallest first; the folder's README describes each.
constexpr const char* kRealPayloads[] = {
    "real_twitter_timeline", "real_github_events",         "real_apache_builds_jobs",
    "real_random_users",     "real_update_center_plugins", "real_twitterescaped_statuses",
    "real_twitter_statuses", "real_citm_performances",     "real_gsoc2018_projects",
    "real_geonames_cities",
};

std::string real_path(const std::string& name) { return real_payload_dir() + "/" + name + ".json"; }

// One allocation of the file's size, so that reading leaves little behind in the allocator.
bool read_file(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  out.resize(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  return static_cast<bool>(in.read(out.data(), static_cast<std::streamsize>(out.size())));
}

std::unique_ptr<Payload> load(const std::string& name) {
  auto payload = std::make_unique<Payload>();
  payload->name = name;
  if (std::optional<GeneratedPayload> generated = generate_payload(name)) {
    payload->expected = expected_result(*generated, payload->error);
    payload->text = std::move(generated->payload);
    return payload;
  }
  payload->text = load_payload_text(name, payload->error);
  if (!payload->error.empty()) return payload;
  std::optional<std::string> expected =
      reference::reference_columnarize(payload->text, payload->error);
  if (expected) payload->expected = std::move(*expected);
  return payload;
}

}  // namespace

std::string real_payload_dir() {
  if (const char* dir = std::getenv("VELMAR_BENCH_DATA_DIR"); dir != nullptr && *dir != '\0') {
    return dir;
  }
  return VELMAR_BENCH_DATA_DIR;
}

const std::vector<std::string>& payload_names() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out(generated_payload_names().begin(),
                                 generated_payload_names().end());
    std::string missing;
    for (const char* name : kRealPayloads) {
      if (std::ifstream(real_path(name))) {
        out.emplace_back(name);
      } else {
        missing += missing.empty() ? name : std::string(", ") + name;
      }
    }
    if (!missing.empty()) {
      std::fprintf(stderr, "real payloads not in %s, left out: %s\n", real_payload_dir().c_str(),
                   missing.c_str());
    }
    return out;
  }();
  return names;
}

const Payload* find_payload(const std::string& name) {
  static std::map<std::string, std::unique_ptr<Payload>> cache;
  auto it = cache.find(name);
  if (it == cache.end()) {
    bool listed = false;
    for (const std::string& n : payload_names()) listed = listed || n == name;
    if (!listed) return nullptr;
    it = cache.emplace(name, load(name)).first;
  }
  return it->second.get();
}

std::string expected_result(const GeneratedPayload& generated, std::string& error) {
  if (!generated.expected.empty()) return generated.expected;
  return reference::reference_columnarize(generated.payload, error).value_or("");
}

std::string load_payload_text(const std::string& name, std::string& error) {
  if (std::optional<GeneratedPayload> generated = generate_payload(name)) {
    return std::move(generated->payload);
  }
  std::string text;
  if (!read_file(real_path(name), text)) error = "cannot read " + real_path(name);
  return text;
}

std::string first_difference(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  const std::size_t from = i > 40 ? i - 40 : 0;
  return "at byte " + std::to_string(i) + ": ..." + std::string(a.substr(from, 80)) +
         "... against ..." + std::string(b.substr(from, 80)) + "...";
}

}  // namespace velmar::bench
