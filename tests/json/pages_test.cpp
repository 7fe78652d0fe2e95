// The page policy's arithmetic at its boundaries, with addresses as integers: nothing here
// asks the system, so the machine's huge page setting plays no part.
#include "json/pages.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>

namespace velmar::json::pages {
namespace {

constexpr std::size_t kKB = std::size_t{1} << 10;
constexpr std::size_t kMB = std::size_t{1} << 20;
// An address on a huge page boundary, as a buffer's base.
constexpr std::uintptr_t kBase = std::uintptr_t{64} * 2 * kMB;

// A range that is empty matches any empty range: where an empty range sits is not an answer.
void expect_range(Range actual, Range expected) {
  if (expected.empty()) {
    EXPECT_TRUE(actual.empty()) << std::hex << actual.first << ".." << actual.last;
  } else {
    EXPECT_EQ(actual, expected) << std::hex << actual.first << ".." << actual.last;
  }
}

TEST(Pages, FirstBlockIsTheTreesRoomUpToWhatMallocServesAgain) {
  const struct {
    std::size_t payload;
    std::size_t block;
  } cases[] = {
      {0, 0},
      {1, 4},
      {1 * kMB, 4 * kMB},
      // Four times the payload up to the cap, 30 MB - 64 KB, reached at 7.5 MB - 16 KB.
      {(30 * kMB - 64 * kKB) / 4 - 1, 30 * kMB - 64 * kKB - 4},
      {(30 * kMB - 64 * kKB) / 4, 30 * kMB - 64 * kKB},
      {(30 * kMB - 64 * kKB) / 4 + 1, 30 * kMB - 64 * kKB},
      {32 * kMB - 64 * kKB - 1, 30 * kMB - 64 * kKB},
      // From there, the payload's own size.
      {32 * kMB - 64 * kKB, 32 * kMB - 64 * kKB},
      {40 * kMB, 40 * kMB},
      {SIZE_MAX, SIZE_MAX},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.payload);
    const std::size_t block = first_block_for(c.payload);
    EXPECT_EQ(block, c.block);
    // Below kReusableBlock the block, its head room and both headers stay under 32 MB.
    if (c.payload < kReusableBlock) {
      EXPECT_LT(block + block_head_room(block) + 64, 32 * kMB);
    }
  }
}

TEST(Pages, TheResultIsReservedUpFrontWhileTheTreesRoomIsServedAgain) {
  const struct {
    std::size_t payload;
    std::optional<std::size_t> reserved;
  } cases[] = {
      {0, 0},
      {100 * kKB, 100 * kKB},
      {8 * kMB - 16 * kKB - 1, 8 * kMB - 16 * kKB - 1},
      {8 * kMB - 16 * kKB, std::nullopt},
      {SIZE_MAX, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(result_reservation(c.payload), c.reserved) << c.payload;
}

TEST(Pages, SparePagesAreGivenBackFromFourMegabytesOfPayload) {
  EXPECT_FALSE(releases_spare_pages(4 * kMB - 1));
  EXPECT_TRUE(releases_spare_pages(4 * kMB));
}

TEST(Pages, ABlockWorthHugePagesStartsOnOneWithTheRoomOnTop) {
  const struct {
    std::size_t usable;
    std::uintptr_t start;
    std::size_t head_room;
    std::uintptr_t used_from;
  } cases[] = {
      {4 * kMB - 1, kBase + 16, 0, kBase + 16},
      {4 * kMB, kBase + 16, 2 * kMB, kBase + 2 * kMB},
      {4 * kMB, kBase, 2 * kMB, kBase},
      {100 * kMB, kBase + 2 * kMB - 1, 2 * kMB, kBase + 2 * kMB},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.usable);
    EXPECT_EQ(block_head_room(c.usable), c.head_room);
    EXPECT_EQ(block_start(c.start, c.usable), c.used_from);
  }
}

TEST(Pages, ABufferIsAdvisedOverItsWholeHugePages) {
  const struct {
    std::uintptr_t start;
    std::size_t size;
    Range advised;
  } cases[] = {
      {kBase + kMB, 4 * kMB - 1, {}},  // not worth it
      {kBase + kMB, 4 * kMB, {kBase + 2 * kMB, kBase + 4 * kMB}},
      {kBase + kMB, 6 * kMB, {kBase + 2 * kMB, kBase + 6 * kMB}},
      {kBase, 4 * kMB, {kBase, kBase + 4 * kMB}},
      {kBase + 1, 4 * kMB, {kBase + 2 * kMB, kBase + 4 * kMB}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start - kBase << " + " << c.size);
    expect_range(huge_pages_of(c.start, c.size), c.advised);
  }
}

TEST(Pages, AResultRegionGetsHugePagesWhenTheTextFillsHalfOfIt) {
  constexpr std::size_t M = kMB, K = kKB;
  // Sizes and the range advised as offsets from kBase; `from` == `to` is no advice.
  const struct {
    std::size_t base, capacity, settled, reached, expected, from, to, now_settled;
  } cases[] = {
      // A buffer not worth huge pages is settled at once; nothing past the settled pages.
      {0, 4 * M - 1, 0, 64 * K, 4 * M, 0, 0, 4 * M - 1},
      {0, 16 * M, 2 * M, 2 * M, 16 * M, 0, 0, 2 * M},
      // The first region.
      {0, 16 * M, 0, 64 * K, 10 * M, 0, 2 * M, 2 * M},
      // The second region, [2 MB, 4 MB), filled just under half, exactly half, past half.
      {0, 16 * M, 2 * M, 2 * M + 64 * K, 3 * M - 1, 0, 0, 2 * M + 64 * K},
      {0, 16 * M, 2 * M, 2 * M + 64 * K, 3 * M, 2 * M, 4 * M, 4 * M},
      {0, 16 * M, 2 * M, 2 * M + 64 * K, 3 * M + 1, 2 * M, 4 * M, 4 * M},
      // A region declined stays declined when the text is expected further later on.
      {0, 16 * M, 2 * M + 64 * K, 2 * M + 128 * K, 16 * M, 0, 0, 4 * M},
      // A region past the capacity.
      {0, 5 * M, 4 * M, 4 * M + 64 * K, 100 * M, 0, 0, 4 * M + 64 * K},
      // Every region reached at once, or up to the first declined.
      {0, 16 * M, 0, 5 * M, 10 * M, 0, 6 * M, 6 * M},
      {0, 16 * M, 0, 5 * M, 5 * M - 1, 0, 4 * M, 5 * M},
      // A buffer 1 MB past a boundary: its head is no whole region, then its first one.
      {M, 16 * M, 0, 64 * K, 16 * M, 0, 0, M},
      {M, 16 * M, M, M + 64 * K, 16 * M, 2 * M, 4 * M, 3 * M},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(i);
    const Settlement step = settle(kBase + c.base, c.capacity, c.settled, c.reached, c.expected);
    expect_range(step.advise, {kBase + c.from, kBase + c.to});
    EXPECT_EQ(step.settled, c.now_settled);
  }
}

TEST(Pages, SparePagesAreWholePagesInsideTheBlockUpToTheEndOfTheirHugePage) {
  constexpr std::size_t M = kMB, K = kKB;
  // Addresses as offsets from kBase; `from` == `to` is nothing to give back.
  const struct {
    std::size_t used_end, block_end, block_size, from, to;
  } cases[] = {
      {100, 8 * M, 4 * M - 1, 0, 0},  // a block not worth huge pages
      {100, 8 * M, 8 * M, 4 * K, 2 * M},
      {4 * K, 8 * M, 8 * M, 4 * K, 2 * M},
      {2 * M - 1, 8 * M, 8 * M, 0, 0},  // in the huge page's last page
      {2 * M, 8 * M, 8 * M, 0, 0},      // on a huge page boundary
      // The block ends before the huge page: up to its last whole page.
      {100, M + 10, 8 * M, 4 * K, M},
      {100, M, 8 * M, 4 * K, M},
      {M + 5, M + 10, 8 * M, 0, 0},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(i);
    expect_range(spare_pages(kBase + c.used_end, kBase + c.block_end, c.block_size),
                 {kBase + c.from, kBase + c.to});
  }
}

}  // namespace
}  // namespace velmar::json::pages
