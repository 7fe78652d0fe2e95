// The arena: aligned, non-overlapping storage across block boundaries, requests far
// larger than a block, and std::bad_alloc for storage the system cannot give.
#include "json/arena.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "../address_space.h"
#include "json/padded.h"
#include "json/pages.h"

namespace velmar::json {
namespace {

TEST(Arena, AllocationsAreAlignedDistinctAndKeepTheirBytes) {
  Arena arena(256);
  struct Piece {
    char* p;
    std::size_t n;
    char fill;
  };
  std::vector<Piece> pieces;
  // Sizes from 0 to far past a block, mixed, so that small requests follow large ones.
  const std::size_t sizes[] = {0, 1, 7, 8, 9, 100, 300, 5000, 3, 1 << 20, 17, 64, 100000, 1};
  for (int round = 0; round < 50; ++round) {
    for (std::size_t n : sizes) {
      char* p = static_cast<char*>(arena.allocate(n));
      ASSERT_NE(p, nullptr);
      ASSERT_EQ(reinterpret_cast<std::uintptr_t>(p) % 8, 0u) << n;
      char fill = static_cast<char>(pieces.size() * 31);
      std::memset(p, fill, n);
      pieces.push_back({p, n, fill});
    }
  }
  for (const Piece& piece : pieces) {
    for (std::size_t i = 0; i < piece.n; i += 61) ASSERT_EQ(piece.p[i], piece.fill);
    if (piece.n > 0) {
      ASSERT_EQ(piece.p[piece.n - 1], piece.fill);
    }
  }
  EXPECT_GE(arena.bytes_reserved(), 50u * ((1u << 20) + 100000u));
}

TEST(Arena, CopyAndReserve) {
  Arena arena;
  arena.reserve(1 << 20);
  const std::string text(1000, 'q');
  const char* copy = arena.copy(text);
  EXPECT_EQ(std::string(copy, text.size()), text);
  EXPECT_NE(copy, text.data());
  EXPECT_NE(arena.copy(""), nullptr);
  std::size_t reserved = arena.bytes_reserved();
  EXPECT_GE(reserved, std::size_t{1} << 20);
  // The reserved block serves many small requests without another one.
  for (int i = 0; i < 1000; ++i) (void)arena.allocate(500);
  EXPECT_EQ(arena.bytes_reserved(), reserved);
}

TEST(Arena, ABlockWorthHugePagesStartsOnOneAndHoldsItsWholeSize) {
  Arena arena(pages::kHugePageWorthy);
  constexpr std::size_t kPiece = std::size_t{1} << 20;
  auto* first = static_cast<char*>(arena.allocate(kPiece));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(first) % pages::kHugePage, 0u);
  const std::size_t reserved = arena.bytes_reserved();
  // Written to the block's last byte, which a sanitizer build checks against its bounds.
  std::memset(first, 'h', kPiece);
  for (std::size_t used = kPiece; used < pages::kHugePageWorthy; used += kPiece) {
    std::memset(arena.allocate(kPiece), 'h', kPiece);
  }
  EXPECT_EQ(arena.bytes_reserved(), reserved);
}

TEST(Arena, GivingBackSparePagesKeepsEveryAllocatedByte) {
  Arena arena(pages::kHugePageWorthy);
  const std::string kept(3 * 4096 + 13, 'k');  // ends inside a page
  const char* copy = arena.copy(kept);
  arena.release_spare_pages();
  EXPECT_EQ(std::string_view(copy, kept.size()), kept);
  const std::string later(3 * 4096, 'l');
  EXPECT_EQ(std::string_view(arena.copy(later), later.size()), later);
  EXPECT_EQ(std::string_view(copy, kept.size()), kept);
}

// A padded text is its bytes, then kPadding zeros, whether it is owned or in an arena,
// empty or not, and whatever the size's place in a block.
TEST(PaddedText, HoldsTheTextFollowedByZeros) {
  const std::string zeros(kPadding, '\0');
  for (std::size_t n : {0, 1, 15, 16, 17, 100}) {
    SCOPED_TRACE(n);
    const std::string text(n, '"');
    Arena arena;
    const PaddedText owned = PaddedText::copy_of(text);
    for (const PaddedView view : {owned.view(), pad_in(arena, text)}) {
      EXPECT_EQ(view.text(), text);
      EXPECT_EQ(std::string_view(view.end(), kPadding), zeros);
      if (n == 0) continue;
      const PaddedView part = view.part(1, n - 1);
      EXPECT_EQ(part.end(), view.end());
    }
  }
}

TEST(Arena, AFailureWithoutAHandlerIsBadAlloc) {
  // The library ends no process: without the program's handler a failure is thrown.
  EXPECT_THROW(allocation_failed(64), std::bad_alloc);
}

TEST(Arena, StorageTheSystemCannotGiveIsBadAllocWithoutAHandler) {
  if (testing_support::kAddressSanitizer) {
    GTEST_SKIP() << "the sanitizer's shadow memory needs the address space";
  }
  // 256 MB, in a child whose address space ends 64 MB past what it uses, and no handler set.
  constexpr std::size_t kLarge = std::size_t{256} << 20;
  struct FailureCase {
    const char* name;
    void (*request)(Arena& arena, std::string_view large_text);
  };
  const FailureCase cases[] = {
      {"allocate", [](Arena& arena, std::string_view) { (void)arena.allocate(kLarge); }},
      {"allocate_array",
       [](Arena& arena, std::string_view) {
         (void)arena.allocate_array<std::uint64_t>(kLarge / 8);
       }},
      {"copy", [](Arena& arena, std::string_view text) { (void)arena.copy(text); }},
      {"a new block for a small request",
       [](Arena& arena, std::string_view) {
         arena.reserve(kLarge);
         (void)arena.allocate(8);
       }},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(
        {
          // The text to copy is mapped, never touched, before the cap.
          void* text = mmap(nullptr, kLarge, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
          if (text == MAP_FAILED) std::exit(3);
          testing_support::limit_address_space(std::size_t{64} << 20);
          Arena arena;
          try {
            c.request(arena, std::string_view(static_cast<const char*>(text), kLarge));
          } catch (const std::bad_alloc& failure) {
            std::fprintf(stderr, "%s: caught std::bad_alloc (%s)\n", c.name, failure.what());
            std::exit(0);
          }
          std::exit(1);
        },
        testing::ExitedWithCode(0), "caught std::bad_alloc");
  }
}

}  // namespace
}  // namespace velmar::json
