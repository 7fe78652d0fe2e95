// The memory a result may take: the least bytes a result needs and its refusal, the
// kernel's texts parsed, and the process's control groups found and read in sample roots
// (tests/data/memory) of cgroup v1 and v2.
#include "columnar/memory_budget.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "columnar/columnar.h"

namespace velmar::columnar::detail {
namespace {

constexpr std::size_t kGiB = std::size_t{1} << 30;

TEST(MemoryBudget, SizesAResultAndRefusesWhatDoesNotFit) {
  struct SizeCase {
    const char* name;
    std::size_t rows;
    std::uint32_t varying;
    std::size_t members;
    std::size_t limit;
    std::optional<std::size_t> least;
    const char* refusal;  // empty when the result fits
  };
  constexpr std::size_t kHalf = SIZE_MAX / 2;
  const SizeCase cases[] = {
      {"every cell present", 2, 2, 4, SIZE_MAX, 4 * 18 + 2 * 18, ""},
      {"two nulls, exactly enough", 2, 2, 2, 114, 114, ""},
      {"two nulls, one byte short", 2, 2, 2, 113, 114,
       "result too large: 2 rows x 2 columns need at least 114 bytes, more than the 113 bytes "
       "available"},
      {"members of constant columns are no cells", 1, 1, 3, 36, 36, ""},
      {"no varying column", 2, 0, 2, 36, 36, ""},
      {"cells past the word", kHalf, 3, 0, SIZE_MAX, std::nullopt,
       "result too large: 9223372036854775807 rows x 3 columns need more bytes than exist"},
      {"bytes past the word", std::size_t{1} << 60, 1, 0, SIZE_MAX, std::nullopt,
       "result too large: 1152921504606846976 rows x 1 columns need more bytes than exist"},
  };
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(least_result_bytes(c.rows, c.varying, c.members), c.least);
    std::optional<std::size_t> asked;
    const MemoryLimit limit = [&](std::size_t need) {
      asked = need;
      return c.limit;
    };
    const std::optional<TransformError> refused =
        check_result_size(c.rows, c.varying, c.members, limit);
    EXPECT_EQ(refused ? refused->message : "", c.refusal);
    if (refused) {
      EXPECT_EQ(refused->kind, TransformErrorKind::kResultTooLarge);
    }
    if (c.least) {
      EXPECT_EQ(asked, c.least);  // the limit is asked for the least need
    }
  }
}

TEST(MemoryBudget, ParsesLimitsAndFields) {
  struct LimitCase {
    const char* text;
    std::size_t limit;
  };
  const LimitCase limits[] = {
      {"2147483648\n", 2147483648},
      {"0\n", 0},
      {"max\n", kNoLimit},
      {"9223372036854771712\n", kNoLimit},  // v1's "unlimited" with 4 KB pages
      {"4611686018427387904", kNoLimit},    // kUnlimitedFrom
      {"4611686018427387903", 4611686018427387903},
      {"99999999999999999999\n", kNoLimit},  // past 64 bits
      {"", kNoLimit},
      {"-1\n", kNoLimit},
      {"12 GB\n", kNoLimit},
  };
  for (const LimitCase& c : limits) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_limit(c.text), c.limit);
  }

  struct FieldCase {
    const char* text;
    const char* name;
    std::optional<std::size_t> bytes;
  };
  const FieldCase fields[] = {
      {"total_inactive_file 5\ninactive_file 7\n", "inactive_file", 7},
      {"inactive_file 7\ntotal_inactive_file 5\n", "total_inactive_file", 5},
      {"inactive_filex 3\n", "inactive_file", std::nullopt},
      {"anon 1\n", "inactive_file", std::nullopt},
      {"inactive_file\n", "inactive_file", std::nullopt},
      {"MemTotal:  9 kB\nMemAvailable:    8 kB\n", "MemAvailable", 8192},
      {"MemAvailable: 18014398509481984 kB\n", "MemAvailable", std::nullopt},  // 2^54 KB
      {"MemAvailable: 5", "MemAvailable", 5},
  };
  for (const FieldCase& c : fields) {
    SCOPED_TRACE(std::string(c.name) + " in " + c.text);
    EXPECT_EQ(field_bytes(c.text, c.name), c.bytes);
  }
}

TEST(MemoryBudget, FindsTheGroupsInTheirMounts) {
  struct DirectoryCase {
    const char* name;
    const char* cgroup;
    const char* mountinfo;
    std::vector<std::string> directories;  // "v1:" or "v2:", the directory, "@" its mount
  };
  const char* const v1_memory =
      "35 31 0:32 / /sys/fs/cgroup/memory rw shared:15 - cgroup cgroup rw,memory\n";
  const DirectoryCase cases[] = {
      {"v1 and v2 side by side",
       "5:cpu,memory:/a/b\n0::/c\n",
       "36 31 0:33 / /sys/fs/cgroup/cpu rw - cgroup cgroup rw,cpu\n"
       "35 31 0:32 / /sys/fs/cgroup/cpu,memory rw - cgroup cgroup rw,cpu,memory\n"
       "41 31 0:38 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n",
       {"v1:/sys/fs/cgroup/cpu,memory/a/b@/sys/fs/cgroup/cpu,memory",
        "v2:/sys/fs/cgroup/unified/c@/sys/fs/cgroup/unified"}},
      {"the hierarchy's root",
       "4:memory:/\n",
       v1_memory,
       {"v1:/sys/fs/cgroup/memory@/sys/fs/cgroup/memory"}},
      {"a mount of the group itself",
       "4:memory:/docker/abc\n",
       "35 31 0:32 /docker/abc /sys/fs/cgroup/memory ro - cgroup cgroup rw,memory\n",
       {"v1:/sys/fs/cgroup/memory@/sys/fs/cgroup/memory"}},
      {"a mount of a sibling shows nothing",
       "4:memory:/docker/abcd\n",
       "35 31 0:32 /docker/abc /sys/fs/cgroup/memory ro - cgroup cgroup rw,memory\n",
       {}},
      {"the first mount that shows it",
       "0::/x/y\n",
       "50 1 0:40 /z /mnt/z rw - cgroup2 cgroup2 rw\n"
       "51 1 0:40 /x /mnt/x rw - cgroup2 cgroup2 rw\n"
       "52 1 0:40 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n",
       {"v2:/mnt/x/y@/mnt/x"}},
      {"an escaped mount point",
       "0::/g\n",
       "52 1 0:40 / /cg\\040v2 rw - cgroup2 cgroup2 rw\n",
       {"v2:/cg v2/g@/cg v2"}},
      {"a mount point named like the separator",
       "4:memory:/a\n",
       "35 31 0:32 / - rw shared:15 - cgroup cgroup rw,memory\n",
       {"v1:-/a@-"}},
      {"no memory controller", "4:cpu:/a\n1:name=systemd:/a\n", v1_memory, {}},
      {"no mount", "4:memory:/a\n", "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n", {}},
      {"a line cut short", "4:memory:/a\n", "35 31 0:32 / /sys/fs/cgroup/memory rw - cgroup\n", {}},
  };
  for (const DirectoryCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> found;
    for (const GroupDirectory& group : memory_group_directories(c.cgroup, c.mountinfo)) {
      found.push_back((group.version == CgroupVersion::kV1 ? "v1:" : "v2:") + group.directory +
                      "@" + group.mount_point);
    }
    EXPECT_EQ(found, c.directories);
  }
}

TEST(MemoryBudget, ReadsTheLimitsAndWhatIsLeft) {
  struct TreeCase {
    const char* tree;
    std::vector<std::size_t> limits;  // of the limited groups, nearest first
    std::size_t available;            // available_now
  };
  const TreeCase cases[] = {
      // 2 GiB less 1.5 GiB used, of which 0.5 GiB inactive file pages: 1 GiB; 8 GiB free.
      {"v1", {2 * kGiB}, kGiB},
      // 1 GiB less (512 MiB used - 36870912 inactive file), below 16 GiB free.
      {"v2", {kGiB}, kGiB - (kGiB / 2 - 36870912)},
      // No group sets a limit: MemAvailable, 4 GiB.
      {"max", {}, 4 * kGiB},
      // inner: 4 GiB less 1 GiB; the container: 3 GiB less (2.5 - 0.5) GiB. The limit file
      // above the mount point (1 byte) is not a group of the process.
      {"nested", {4 * kGiB, 3 * kGiB}, kGiB},
      // 256 MiB less (256 MiB + 128 KB - 4 KB): nothing.
      {"over", {kGiB / 4}, 0},
      // The group's "12 GB" is no limit, its parent's 768 MiB is, but the parent's usage
      // and MemAvailable cannot be read.
      {"unreadable", {3 * kGiB / 4}, kNoLimit},
      {"no such root", {}, kNoLimit},
  };
  for (const TreeCase& c : cases) {
    SCOPED_TRACE(c.tree);
    const std::string root = VELMAR_TEST_DATA_DIR "/memory/" + std::string(c.tree);
    const std::vector<LimitedGroup> groups = limited_groups(root);
    std::vector<std::size_t> limits;
    for (const LimitedGroup& group : groups) limits.push_back(group.limit);
    EXPECT_EQ(limits, c.limits);
    EXPECT_EQ(available_now(root, groups), c.available);
  }
}

TEST(MemoryBudget, SmallNeedsGetTheFixedLimitAndLargeOnesNoMore) {
  const std::size_t fixed = memory_available(0);
  EXPECT_GT(fixed, 0u);
  EXPECT_EQ(memory_available(kLiveMemoryReadingAbove), fixed);
  EXPECT_LE(memory_available(kLiveMemoryReadingAbove + 1), fixed);
}

}  // namespace
}  // namespace velmar::columnar::detail
