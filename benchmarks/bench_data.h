// Loading of the real row payloads the benchmarks run on (kept outside the repository).
#pragma once

#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace velmar::bench {

// The payloads, smallest first; see the README of the bench-data folder.
inline constexpr const char* kRealPayloads[] = {
    "real_twitter_timeline.json",      "real_github_events.json",
    "real_apache_builds_jobs.json",    "real_random_users.json",
    "real_update_center_plugins.json", "real_twitterescaped_statuses.json",
    "real_twitter_statuses.json",      "real_citm_performances.json",
    "real_gsoc2018_projects.json",     "real_geonames_cities.json",
};

inline std::optional<std::string> load_payload(const std::string& name) {
  std::ifstream in(std::string(VELMAR_BENCH_DATA_DIR) + "/" + name, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace velmar::bench
