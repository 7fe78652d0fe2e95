// Whether a result fits: the least bytes it needs against memory_available, which is the
// least of physical memory, the rlimits and the control groups' limits, and for a large
// need also of what the groups and the machine have left at the call.
#include "columnar/memory_budget.h"

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "columnar/columnar.h"

namespace velmar::columnar {
namespace detail {
namespace {

// The files of a group's memory controller, and the name of the inactive file pages in
// its memory.stat. Both count the group with its descendants; v1's plain inactive_file
// would count the group's own pages alone.
struct GroupFiles {
  const char* limit;
  const char* usage;
  const char* inactive_file;
};

constexpr GroupFiles kV1Files{"/memory.limit_in_bytes", "/memory.usage_in_bytes",
                              "total_inactive_file"};
constexpr GroupFiles kV2Files{"/memory.max", "/memory.current", "inactive_file"};

const GroupFiles& files_of(CgroupVersion version) {
  return version == CgroupVersion::kV1 ? kV1Files : kV2Files;
}

std::optional<std::string> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return std::nullopt;
  return text;
}

// The text of `rest` up to the first `separator` (all of it when there is none); `rest`
// keeps what follows the separator.
std::string_view next_field(std::string_view& rest, char separator) {
  const std::size_t end = rest.find(separator);
  const std::string_view field = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  return field;
}

bool has_item(std::string_view comma_list, std::string_view item) {
  while (!comma_list.empty()) {
    if (next_field(comma_list, ',') == item) return true;
  }
  return false;
}

// mountinfo writes space, tab, newline and backslash in paths as three octal digits:
// "/a\040b" -> "/a b".
std::string unescape_octal(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto octal = [&](std::size_t at) { return text[at] >= '0' && text[at] <= '7'; };
    if (text[i] == '\\' && i + 3 < text.size() && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      out += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 +
                               (text[i + 3] - '0'));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

struct CgroupMount {
  std::string root;  // the directory of the hierarchy shown at the mount point
  std::string point;
  CgroupVersion version;
};

// The mounts of cgroup v1's memory hierarchy and of cgroup v2, in mountinfo's order. A
// line is "<id> <parent> <dev> <root> <point> <options> [<optional>...] - <type> <source>
// <super options>".
std::vector<CgroupMount> memory_mounts(std::string_view mountinfo) {
  std::vector<CgroupMount> mounts;
  while (!mountinfo.empty()) {
    std::string_view line = next_field(mountinfo, '\n');
    std::vector<std::string_view> fields;
    while (!line.empty()) fields.push_back(next_field(line, ' '));
    if (fields.size() < 10) continue;
    // The optional fields, from the seventh on, end at a lone "-".
    const auto separator = std::find(fields.begin() + 6, fields.end(), "-");
    if (fields.end() - separator < 4) continue;
    const std::string_view type = separator[1];
    const std::string_view super_options = separator[3];
    CgroupVersion version;
    if (type == "cgroup2") {
      version = CgroupVersion::kV2;
    } else if (type == "cgroup" && has_item(super_options, "memory")) {
      version = CgroupVersion::kV1;
    } else {
      continue;
    }
    mounts.push_back({unescape_octal(fields[3]), unescape_octal(fields[4]), version});
  }
  return mounts;
}

// Where `group` (a path in the hierarchy) lies below the mount's `root`: "" for the root
// itself, "/a/b" for the group /x/a/b under the root /x; nothing outside it.
std::optional<std::string_view> path_below(std::string_view group, std::string_view root) {
  if (root == "/") return group == "/" ? std::string_view() : group;
  if (group == root) return std::string_view();
  if (group.starts_with(root) && group[root.size()] == '/') return group.substr(root.size());
  return std::nullopt;
}

// The limit of the group in `directory`, or kNoLimit.
std::size_t group_limit(const std::string& directory, CgroupVersion version) {
  const std::optional<std::string> text = read_file(directory + files_of(version).limit);
  return text ? parse_limit(*text) : kNoLimit;
}

// The group's limit less what it uses and cannot reclaim; kNoLimit when a figure cannot
// be read. Usage can pass the limit for a moment, which leaves nothing.
std::size_t group_headroom(const LimitedGroup& group) {
  const GroupFiles& files = files_of(group.version);
  const std::optional<std::string> usage_text = read_file(group.directory + files.usage);
  const std::optional<std::string> stat = read_file(group.directory + "/memory.stat");
  const std::optional<std::size_t> usage = usage_text ? parse_bytes(*usage_text) : std::nullopt;
  const std::optional<std::size_t> inactive =
      stat ? field_bytes(*stat, files.inactive_file) : std::nullopt;
  if (!usage || !inactive) return kNoLimit;
  const std::size_t unreclaimable = *usage - std::min(*usage, *inactive);
  return group.limit - std::min(group.limit, unreclaimable);
}

// Needs from this size on are asked of the system before the text is written.
constexpr std::size_t kProbedNeed = std::size_t{1} << 20;

// Whether the system grants `bytes` now: a limit of the address space is met here, as a
// value, rather than by the text's buffer as it grows. The memory is mapped and given back
// untouched, so it costs no page, and outside malloc's heap, whose free memory (and so
// which pages the next call finds warm) it would otherwise change. A smaller need is met
// as any buffer of the payload's size is.
bool system_can_allocate(std::size_t bytes) {
  if (bytes < kProbedNeed) return true;
  void* probe = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (probe == MAP_FAILED) return false;
  munmap(probe, bytes);
  return true;
}

// "result too large: 100000 rows x 100000 columns need <need>"
TransformError result_too_large(std::size_t rows, std::uint32_t varying, const std::string& need) {
  return TransformError{"result too large: " + std::to_string(rows) + " rows x " +
                            std::to_string(varying) + " columns need " + need,
                        TransformErrorKind::kResultTooLarge};
}

}  // namespace

std::optional<std::size_t> least_result_bytes(std::size_t rows, std::uint32_t varying,
                                              std::size_t members) {
  constexpr std::size_t kValueBytes = sizeof(json::JsonValue) + 2;  // held, and at least "1,"
  std::size_t cells = 0;
  std::size_t bytes = 0;
  if (__builtin_mul_overflow(rows, std::size_t{varying}, &cells)) return std::nullopt;
  const std::size_t missing = cells > members ? cells - members : 0;
  if (__builtin_mul_overflow(cells, kValueBytes, &bytes) ||
      __builtin_add_overflow(bytes, rows * kValueBytes, &bytes) ||
      __builtin_add_overflow(bytes, missing * 3, &bytes)) {
    return std::nullopt;
  }
  return bytes;
}

std::optional<TransformError> check_result_size(std::size_t rows, std::uint32_t varying,
                                                std::size_t members,
                                                const MemoryLimit& memory_limit) {
  const std::optional<std::size_t> bytes = least_result_bytes(rows, varying, members);
  if (!bytes) return result_too_large(rows, varying, "more bytes than exist");
  const std::size_t available = memory_limit(*bytes);
  if (*bytes > available) {
    return result_too_large(rows, varying,
                            "at least " + std::to_string(*bytes) + " bytes, more than the " +
                                std::to_string(available) + " bytes available");
  }
  if (!system_can_allocate(*bytes)) {
    return result_too_large(
        rows, varying,
        "at least " + std::to_string(*bytes) + " bytes, which could not be allocated");
  }
  return std::nullopt;
}

std::optional<std::size_t> parse_bytes(std::string_view text) {
  std::size_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop == text.data()) return std::nullopt;
  for (const char* p = stop; p != end; ++p) {
    if (*p != ' ' && *p != '\t' && *p != '\n') return std::nullopt;
  }
  return value;
}

std::size_t parse_limit(std::string_view text) {
  const std::optional<std::size_t> limit = parse_bytes(text);
  return limit && *limit < kUnlimitedFrom ? *limit : kNoLimit;
}

std::optional<std::size_t> field_bytes(std::string_view text, std::string_view name) {
  while (!text.empty()) {
    std::string_view line = next_field(text, '\n');
    if (!line.starts_with(name)) continue;
    line.remove_prefix(name.size());
    if (line.starts_with(':')) {
      line.remove_prefix(1);
    } else if (!line.starts_with(' ')) {
      continue;  // a longer name that begins with this one
    }
    line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
    std::size_t unit = 1;
    if (line.ends_with(" kB")) {
      line.remove_suffix(3);
      unit = 1024;
    }
    const std::optional<std::size_t> value = parse_bytes(line);
    std::size_t bytes = 0;
    if (!value || __builtin_mul_overflow(*value, unit, &bytes)) return std::nullopt;
    return bytes;
  }
  return std::nullopt;
}

std::vector<GroupDirectory> memory_group_directories(std::string_view proc_self_cgroup,
                                                     std::string_view mountinfo) {
  const std::vector<CgroupMount> mounts = memory_mounts(mountinfo);
  std::vector<GroupDirectory> groups;
  // Each line is "<hierarchy id>:<controllers>:<path>"; v2's is "0::<path>".
  while (!proc_self_cgroup.empty()) {
    std::string_view path = next_field(proc_self_cgroup, '\n');
    const std::string_view id = next_field(path, ':');
    const std::string_view controllers = next_field(path, ':');
    CgroupVersion version;
    if (id == "0" && controllers.empty()) {
      version = CgroupVersion::kV2;
    } else if (has_item(controllers, "memory")) {
      version = CgroupVersion::kV1;
    } else {
      continue;
    }
    for (const CgroupMount& mount : mounts) {
      if (mount.version != version) continue;
      if (const std::optional<std::string_view> below = path_below(path, mount.root)) {
        groups.push_back({mount.point + std::string(*below), mount.point, version});
        break;
      }
    }
  }
  return groups;
}

std::vector<LimitedGroup> limited_groups(std::string_view root) {
  const std::string prefix(root);
  const std::optional<std::string> cgroup = read_file(prefix + "/proc/self/cgroup");
  const std::optional<std::string> mountinfo = read_file(prefix + "/proc/self/mountinfo");
  if (!cgroup || !mountinfo) return {};
  std::vector<LimitedGroup> limited;
  for (const GroupDirectory& group : memory_group_directories(*cgroup, *mountinfo)) {
    // A group's usage counts its descendants', so every limited ancestor bounds it too.
    std::string directory = group.directory;
    while (true) {
      const std::string under_root = prefix + directory;
      const std::size_t limit = group_limit(under_root, group.version);
      if (limit != kNoLimit) limited.push_back({under_root, group.version, limit});
      if (directory.size() <= group.mount_point.size()) break;
      directory.resize(directory.rfind('/'));
    }
  }
  return limited;
}

std::size_t tightest_limit(std::span<const LimitedGroup> groups) {
  std::size_t tightest = kNoLimit;
  for (const LimitedGroup& group : groups) tightest = std::min(tightest, group.limit);
  return tightest;
}

std::size_t available_now(std::string_view root, std::span<const LimitedGroup> groups) {
  const std::optional<std::string> meminfo = read_file(std::string(root) + "/proc/meminfo");
  const std::optional<std::size_t> machine =
      meminfo ? field_bytes(*meminfo, "MemAvailable") : std::nullopt;
  std::size_t available = machine.value_or(kNoLimit);
  for (const LimitedGroup& group : groups) available = std::min(available, group_headroom(group));
  return available;
}

}  // namespace detail

namespace {

// The soft limit of `resource`, or SIZE_MAX when there is none.
std::size_t soft_limit(int resource) {
  rlimit limit{};
  if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
  return static_cast<std::size_t>(limit.rlim_cur);
}

std::size_t physical_memory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return SIZE_MAX;
  return static_cast<std::size_t>(pages) * static_cast<std::size_t>(page_size);
}

// What stays the same for the life of the process: the limits, and the groups that have
// one.
struct ProcessMemory {
  std::size_t limit;
  std::vector<detail::LimitedGroup> groups;
};

ProcessMemory read_process_memory() {
  std::vector<detail::LimitedGroup> groups = detail::limited_groups("");
  const std::size_t limit = std::min({physical_memory(), soft_limit(RLIMIT_AS),
                                      soft_limit(RLIMIT_DATA), detail::tightest_limit(groups)});
  return {limit, std::move(groups)};
}

}  // namespace

std::size_t memory_available(std::size_t need) {
  // A request beyond physical memory would drive the machine into swapping before it
  // failed, so it counts as one that cannot be met.
  static const ProcessMemory process = read_process_memory();
  if (need <= kLiveMemoryReadingAbove) return process.limit;
  return std::min(process.limit, detail::available_now("", process.groups));
}

}  // namespace velmar::columnar
