// The memory a result may take, internal to src/columnar (memory_available in columnar.h
// is the public entry): the least bytes a result needs and whether it may have them, and
// the memory a process can get: the text of the kernel's files parsed, and the process's
// memory control groups (cgroup v1 and v2) found and read under a root directory, "" for
// the running system and a sample tree in the tests. Whatever cannot be read or parsed
// counts as no limit, so that a result that fits is never refused for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "columnar/columnar.h"

namespace velmar::columnar::detail {

// The least bytes the result of `rows` rows and `varying` varying columns needs, `members`
// members having been read (at most one cell per member is present), held as values and as
// text: per cell and per row, 16 bytes held and two of text at least (a digit and a comma,
// or the row's brackets), and three more for a missing member's null, whose four letters
// stand in for that digit. 2 rows x 2 columns of 2 members: 4 * 18 + 2 * 18 + 2 * 3 = 114. The need
// does not depend on how the writer gets its cells, so neither does which results are refused.
// Nothing for a count that overflows.
std::optional<std::size_t> least_result_bytes(std::size_t rows, std::uint32_t varying,
                                              std::size_t members);

// Nothing when the result of that shape fits `memory_limit` and the system can allocate
// it now; otherwise kResultTooLarge, "result too large: <rows> rows x <varying> columns
// need ...": "more bytes than exist", "at least <n> bytes, more than the <limit> bytes
// available" or "at least <n> bytes, which could not be allocated".
std::optional<TransformError> check_result_size(std::size_t rows, std::uint32_t varying,
                                                std::size_t members,
                                                const MemoryLimit& memory_limit);

inline constexpr std::size_t kNoLimit = SIZE_MAX;

// cgroup v1 writes "no limit" as the largest page count times the page size, just under
// 2^63; no machine has a real limit anywhere near this.
inline constexpr std::size_t kUnlimitedFrom = std::size_t{1} << 62;

enum class CgroupVersion { kV1, kV2 };

// A memory control group of the process, as paths of the running system: its directory
// and the mount point of its hierarchy, which the directory lies in (or is).
struct GroupDirectory {
  std::string directory;
  std::string mount_point;
  CgroupVersion version;
};

// A group whose memory limit bounds the process: its own or an ancestor, under the root.
struct LimitedGroup {
  std::string directory;
  CgroupVersion version;
  std::size_t limit;
};

// The decimal number that `text` holds, with trailing white space: "2147483648\n" -> 2^31.
// Nothing for "max\n", an empty text, a sign or anything else.
std::optional<std::size_t> parse_bytes(std::string_view text);

// A limit file's text: kNoLimit for "max", kUnlimitedFrom and more, or what does not parse.
std::size_t parse_limit(std::string_view text);

// The bytes of the line "<name> <n>" (memory.stat) or "<name>: <n> kB" (/proc/meminfo) in
// `text`: "inactive_file 4096" -> 4096, "MemAvailable:  8 kB" -> 8192. The name is matched
// whole, so "inactive_file" does not find "total_inactive_file".
std::optional<std::size_t> field_bytes(std::string_view text, std::string_view name);

// The memory groups that /proc/self/cgroup names (v1: the line whose controllers include
// "memory"; v2: the "0::" line), each placed in the first mount of its hierarchy in
// /proc/self/mountinfo that shows it. A group outside every mount is left out.
std::vector<GroupDirectory> memory_group_directories(std::string_view proc_self_cgroup,
                                                     std::string_view mountinfo);

// The process's memory groups under `root` and their ancestors up to each mount point
// that have a limit (memory.limit_in_bytes in v1, memory.max in v2), nearest first.
std::vector<LimitedGroup> limited_groups(std::string_view root);

// The least limit of `groups`, kNoLimit for none.
std::size_t tightest_limit(std::span<const LimitedGroup> groups);

// What the process can still get now: /proc/meminfo's MemAvailable under `root`, and for
// each group its limit less what it uses and the kernel cannot reclaim (usage less its
// inactive file pages: v1 memory.usage_in_bytes and memory.stat's total_inactive_file, v2
// memory.current and inactive_file). A group whose figures cannot be read bounds nothing.
std::size_t available_now(std::string_view root, std::span<const LimitedGroup> groups);

}  // namespace velmar::columnar::detail
