// The page and residency policy of this library's own buffers (the arena's blocks, the
// payload's copy, the result's text): not a general API. Published so that src/columnar
// acts on the same answers as src/json. The decisions are pure functions of sizes and of
// addresses as integers; only the "apply" functions at the end call the system.
//
// Each threshold has one name. Two of them are equal by chance, not by design:
// kHugePageWorthy is a buffer's size (what huge pages pay for), kReleaseSparePagesFrom a
// payload's size (what giving pages back costs the caller); they are measured apart and may
// part. The factor 4 of the first block and of the result's reservation is one policy,
// kTreeRoomPerPayloadByte: the result is reserved up front when the first block holds the
// whole tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace velmar::json::pages {

// The system's page and huge page (x86-64 and AArch64 with 4 KB pages).
inline constexpr std::size_t kPage = std::size_t{4} << 10;
inline constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Buffers at least this large are worth huge pages: wherever such a buffer starts it
// holds a whole huge page, and the head room a block skips to start on one (kHugePage) is
// at most half of the block.
inline constexpr std::size_t kHugePageWorthy = std::size_t{4} << 20;

// The largest block that malloc serves again from memory already touched once a block of
// its size was freed: glibc's largest adaptive mmap threshold (32 MB on 64-bit), less
// 64 KB for malloc's and the arena's headers. Larger blocks are fresh mappings each call.
inline constexpr std::size_t kReusableBlock = (std::size_t{32} << 20) - (std::size_t{64} << 10);

// The first block's room per payload byte: a tree takes up to about three times its text.
inline constexpr std::size_t kTreeRoomPerPayloadByte = 4;

// From this payload size on, the tree's spare huge-page room (up to 2 MB) is given back
// before the result is written, when the call is at its peak. Below it a call's peak is
// small, and the pages given back are faulted in again, 4 KB at a time, by what the
// caller allocates next.
inline constexpr std::size_t kReleaseSparePagesFrom = std::size_t{4} << 20;

// The result's writer refreshes where it expects the text to end every this many rows.
inline constexpr std::size_t kRowsPerTextEstimate = 64;

// Addresses [first, last); empty when first >= last.
struct Range {
  std::uintptr_t first = 0;
  std::uintptr_t last = 0;
  bool empty() const { return first >= last; }
  friend bool operator==(const Range&, const Range&) = default;
};

// The arena's first block for a payload: the tree's whole room, so that a call takes one
// block that the next call of a like size gets back warm, within what malloc serves again
// once the head room of a block worth huge pages is added. From kReusableBlock on the
// payload's own size, so that a capped address space is not spent on room never touched.
// E.g. 1 MB -> 4 MB; 8 MB -> kReusableBlock - kHugePage; 40 MB -> 40 MB.
std::size_t first_block_for(std::size_t payload_size);

// The room to reserve for the result's text before the arena's first block is taken, or
// none when the tree's room reaches kReusableBlock: the writer then takes it after the
// tree. Taken first, it lies below the block, which leaves a host that allocates between
// calls fewer fresh pages; a tree that outgrows the first block meets more that way.
std::optional<std::size_t> result_reservation(std::size_t payload_size);

bool worth_huge_pages(std::size_t size);

// The room a block of `usable` bytes takes from malloc on top, to start on a huge page
// boundary when it is worth huge pages: its head could only be faulted in 4 KB at a time.
std::size_t block_head_room(std::size_t usable);
// Where a block of `usable` bytes whose storage begins at `start` is used from.
std::uintptr_t block_start(std::uintptr_t start, std::size_t usable);

// The whole huge pages inside [start, start + size) of a buffer worth huge pages; empty
// otherwise. E.g. start 1 MB, size 6 MB -> [2 MB, 6 MB).
Range huge_pages_of(std::uintptr_t start, std::size_t size);

// One step of settling a result buffer's pages as writing reaches them.
struct Settlement {
  Range advise;         // to ask huge pages for
  std::size_t settled;  // how far the pages are settled after this step
};
// For a buffer of `capacity` bytes at `base` written front to back, about to be touched up
// to `reached` bytes in, settled up to `settled` (what the last step returned; 0 at first):
// each whole 2 MB region that writing reaches first gets huge pages while the text,
// expected to end `expected` bytes in, fills at least half of it. A huge page is resident
// whole, so a region mostly past the text would hold up to 2 MB unused at the call's peak.
// The pages are then settled at least up to `reached` and past the regions advised; the
// next step starts at a huge page boundary, so a region declined stays in 4 KB pages. A
// buffer below kHugePageWorthy is settled at once.
// E.g. base 0, capacity 8 MB, expected 3 MB: reaching 64 KB advises [0, 2 MB) and settles
// to 2 MB; reaching 2 MB + 64 KB advises [2 MB, 4 MB), as 1 MB of it is text.
Settlement settle(std::uintptr_t base, std::size_t capacity, std::size_t settled,
                  std::size_t reached, std::size_t expected);

bool releases_spare_pages(std::size_t payload_size);

// The pages of a block to give back once its last allocation ends at `used_end`: whole
// pages inside the block (the page past `block_end` may hold malloc's own data) up to the
// end of the huge page that holds `used_end`, which is resident only because a huge page
// faults in whole. Empty for a block below kHugePageWorthy.
// E.g. used_end 2 MB + 100, block_end 8 MB -> [2 MB + 4 KB, 4 MB).
Range spare_pages(std::uintptr_t used_end, std::uintptr_t block_end, std::size_t block_size);

// Where the rows' text is expected to end after `rows_done` of `rows_total` rows, which
// began at `rows_start` and end at `written_end` so far: the rows' mean size so far.
// E.g. start 10, 64 rows written to 650, 1000 rows -> 10 + 640 / 64 * 1000 = 10010.
constexpr std::size_t expected_rows_end(std::size_t rows_start, std::size_t written_end,
                                        std::size_t rows_done, std::size_t rows_total) {
  return rows_start + (written_end - rows_start) / rows_done * rows_total;
}

// Apply: the only calls to the system. Huge pages are advice (a fresh buffer then faults
// in 2 MB at a time, not 4 KB): nothing changes for the caller if the system declines.
// Pages given back read as zeros when touched again.
void advise_huge_pages(Range range) noexcept;
void give_back(Range range) noexcept;

// Asks for huge pages over huge_pages_of(p, n).
void advise_huge_pages(void* p, std::size_t n) noexcept;

// settle() applied to a buffer at `p`; returns the new `settled`.
std::size_t settle_huge_pages(char* p, std::size_t capacity, std::size_t settled,
                              std::size_t reached, std::size_t expected) noexcept;

}  // namespace velmar::json::pages
