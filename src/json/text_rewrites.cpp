// The rewrites of text the writer-text scan accepted: foreign escapes redone as the
// writer's, and whitespace between tokens left out, a block at a time.
#include <bit>
#include <cstddef>
#include <cstdint>

#include "json/bytes.h"
#include "json/padded.h"
#include "json/simd.h"
#include "json/utf8.h"
#include "json/writer.h"
#include "json/writer_text.h"

#if defined(__GNUC__) && defined(__x86_64__)
#  include <immintrin.h>
#  define VELMAR_LANE_COMPRESS 1
#endif

namespace velmar::json::detail {

namespace {

// The escape whose letter is at p (the scan checked it) as the writer writes its
// character, at `out`; p moves past the escape. Returns the output's end.
char* redo_escape(const char*& p, char* out) {
  char32_t c = kEscapedBytes[static_cast<unsigned char>(*p)];
  if (c != kUnicodeEscape) {
    ++p;
  } else {
    c = static_cast<char32_t>(hex4_at(p + 1));
    p += 5;
    if (is_high_surrogate(c)) {
      c = surrogate_pair_value(c, static_cast<std::uint32_t>(hex4_at(p + 2)));
      p += 6;
    }
  }
  if (c < 0x80 && kEscapeLetters[c] != 0) {
    return put_escape(out, kEscapeLetters[c], static_cast<unsigned char>(c));
  }
  return out + encode_utf8(c, out);
}

}  // namespace

// Blocks are copied whole up to the next backslash: the input is padded past the text, and
// the output has a block of room past what is written.
char* write_foreign_escaped_text(PaddedView text, char* out) {
  const char* p = text.data();
  const char* const end = text.end();
  for (;;) {
    if (*p != '\\') {  // a run, up to the next escape or the end
      const Block block = load_block(p);
      store_block(out, block);
      const auto left = static_cast<std::size_t>(end - p);
      const unsigned slashes = lane_bits(lanes_equal(block, '\\'));
      const auto run =
          static_cast<std::size_t>(slashes == 0 ? kBlockBytes : std::countr_zero(slashes));
      if (run >= left) return out + left;
      p += run;
      out += run;
      if (slashes == 0) continue;
    }
    ++p;
    out = redo_escape(p, out);
    if (p == end) return out;
  }
}

namespace {

// As write_foreign_escaped_text, a block at a time up to the next quote, and then up to the
// next quote or backslash inside a string and the next whitespace outside one: outside
// strings, the scan let no other byte below 0x21 through. Any text with spaces.
char* write_spaced_text_by_runs(PaddedView text, char* out) {
  const char* p = text.data();
  const char* const end = text.end();
  bool in_string = false;
  while (p != end) {
    const Block block = load_block(p);
    store_block(out, block);
    const Block stop = in_string ? lanes_equal(block, '\\') : lanes_below(block, 0x21);
    const unsigned stops = lane_bits(either(lanes_equal(block, '"'), stop));
    const auto left = static_cast<std::size_t>(end - p);
    const auto run = static_cast<std::size_t>(stops == 0 ? kBlockBytes : std::countr_zero(stops));
    if (run >= left) return out + left;
    p += run;
    out += run;
    if (stops == 0) continue;
    if (*p == '"') {
      *out++ = '"';
      ++p;
      in_string = !in_string;
    } else if (*p == '\\') {
      ++p;
      out = redo_escape(p, out);
    } else {
      p = skip_whitespace_run(p, end);
    }
  }
  return out;
}

#if defined(VELMAR_LANE_SHUFFLE) || defined(VELMAR_LANE_COMPRESS)
// The lanes that a backslash escapes in a block of `lanes` (at most 64), from its
// backslashes and `carry`, bit 0 set when the block before ended escaping this one's first
// lane (updated for the next): each backslash that is not itself escaped escapes the lane
// after it. Most blocks have none.
std::uint64_t escaped_lanes(std::uint64_t backslashes, std::uint64_t& carry, int lanes) {
  std::uint64_t escaped = carry;
  std::uint64_t starts = backslashes & ~carry;
  carry = 0;
  while (starts != 0) {
    const int i = std::countr_zero(starts);
    if (i == lanes - 1) {
      carry = 1;
      break;
    }
    escaped |= std::uint64_t{2} << i;
    starts &= ~(std::uint64_t{3} << i);
  }
  return escaped;
}
#endif

#ifdef VELMAR_LANE_SHUFFLE

// Bit i of the result is the parity of bits 0 to i of `x` (16 bits).
unsigned running_parity(unsigned x) {
  x ^= x << 1;
  x ^= x << 2;
  x ^= x << 4;
  x ^= x << 8;
  return x & 0xFFFF;
}

// A text with spaces and only the writer's escapes, sixteen bytes at a time whatever they
// hold, so that where a block starts never waits on what the one before held: its lanes
// inside strings are those after an odd count of unescaped quotes, and of the others,
// whitespace (the only bytes below 0x21 there) is left out.
[[gnu::target("ssse3")]] char* write_spaced_own_text(PaddedView text, char* out) {
  const char* p = text.data();
  const char* const end = text.end();
  unsigned inside_carry = 0;  // 1 while a string runs on into the next block
  std::uint64_t escape_carry = 0;
  // The lanes of the block to keep, from its lanes below 0x21, quotes and backslashes.
  const auto kept = [&](unsigned low, unsigned quotes, unsigned backslashes) {
    auto unescaped = quotes;
    if ((backslashes | escape_carry) != 0) {
      unescaped &= static_cast<unsigned>(
          ~escaped_lanes(backslashes, escape_carry, static_cast<int>(kBlockBytes)));
    }
    const unsigned inside = running_parity(unescaped) ^ (0xFFFF * inside_carry);
    inside_carry = inside >> (kBlockBytes - 1);
    return ~(low & ~inside) & 0xFFFF;
  };
  for (; end - p >= kBlockBytes; p += kBlockBytes) {
    const Block block = load_block(p);
    const unsigned low = lane_bits(lanes_below(block, 0x21));
    const unsigned quotes = lane_bits(lanes_equal(block, '"'));
    const unsigned backslashes = lane_bits(lanes_equal(block, '\\'));
    if ((quotes | backslashes) == 0) {
      // As in most of a long string or of indentation: a string open here stays open, and
      // an escape carried in escapes neither.
      escape_carry = 0;
      if ((low & ~(0xFFFF * inside_carry)) == 0) {
        store_block(out, block);
        out += kBlockBytes;
      } else {
        out = store_kept_lanes(block, ~low & 0xFFFF, out);
      }
      continue;
    }
    out = store_kept_lanes(block, kept(low, quotes, backslashes), out);
  }
  if (p == end) return out;
  const Block block = load_block(p);  // the last, within the padding
  const unsigned keep =
      kept(lane_bits(lanes_below(block, 0x21)), lane_bits(lanes_equal(block, '"')),
           lane_bits(lanes_equal(block, '\\')));
  return store_kept_lanes(block, keep & ((1u << (end - p)) - 1), out);
}
#endif

#ifdef VELMAR_LANE_COMPRESS
// Whether the processor compresses bytes by a mask (AVX-512 VBMI2, with BW for the byte
// masks, PCLMUL for the running parity, BMI2 and POPCNT for the counts): the code that
// does is built for exactly these and called only when this holds.
bool can_compress_lanes() {
  return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0 &&
         __builtin_cpu_supports("avx512vbmi2") != 0 && __builtin_cpu_supports("pclmul") != 0 &&
         __builtin_cpu_supports("bmi2") != 0 && __builtin_cpu_supports("popcnt") != 0;
}

// write_spaced_own_text 64 bytes at a time, the kept lanes of each block packed by one
// compress: a block past the text's end is loaded and stored only as far as the text goes
// (masked lanes are neither read nor written), so it needs no padding and no room past
// its end. Bit i of a running parity is the parity of bits 0 to i: a carry-less product
// with all ones.
[[gnu::target("avx512f,avx512bw,avx512vbmi2,pclmul,bmi2,popcnt")]] char* write_spaced_own_text_wide(
    PaddedView text, char* out) {
  const char* p = text.data();
  const char* const end = text.end();
  const __m512i spaces = _mm512_set1_epi8(' ');
  const __m512i quote = _mm512_set1_epi8('"');
  const __m512i backslash = _mm512_set1_epi8('\\');
  std::uint64_t inside_carry = 0;  // all ones while a string runs on into the next block
  std::uint64_t escape_carry = 0;
  while (p != end) {
    const auto left = static_cast<std::size_t>(end - p);
    const std::uint64_t valid =
        left >= 64 ? ~std::uint64_t{0} : _bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(left));
    const __m512i block = _mm512_maskz_loadu_epi8(valid, p);
    const std::uint64_t low = _mm512_cmple_epu8_mask(block, spaces);
    const std::uint64_t quotes = _mm512_cmpeq_epi8_mask(block, quote);
    const std::uint64_t backslashes = _mm512_cmpeq_epi8_mask(block, backslash);
    std::uint64_t unescaped = quotes;
    if ((backslashes | escape_carry) != 0) {
      unescaped &= ~escaped_lanes(backslashes, escape_carry, 64);
    }
    const std::uint64_t inside =
        static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_clmulepi64_si128(
            _mm_cvtsi64_si128(static_cast<long long>(unescaped)), _mm_set1_epi8(-1), 0))) ^
        inside_carry;
    inside_carry = 0 - (inside >> 63);
    const std::uint64_t keep = ~(low & ~inside) & valid;
    const auto kept = static_cast<unsigned>(std::popcount(keep));
    _mm512_mask_storeu_epi8(out, _bzhi_u64(~std::uint64_t{0}, kept),
                            _mm512_maskz_compress_epi8(keep, block));
    out += kept;
    p += left >= 64 ? 64 : left;
  }
  return out;
}
#endif

}  // namespace

bool has_spaced_text_writer(SpacedTextWriter writer) {
  switch (writer) {
    case SpacedTextWriter::kRuns:
      return true;
    case SpacedTextWriter::kShuffle:
#ifdef VELMAR_LANE_SHUFFLE
      return can_shuffle_lanes();
#else
      return false;
#endif
    case SpacedTextWriter::kCompress:
#ifdef VELMAR_LANE_COMPRESS
      return can_compress_lanes();
#else
      return false;
#endif
  }
  return false;
}

char* write_spaced_text_with(SpacedTextWriter writer, PaddedView text, char* out) {
#ifdef VELMAR_LANE_COMPRESS
  if (writer == SpacedTextWriter::kCompress) return write_spaced_own_text_wide(text, out);
#endif
#ifdef VELMAR_LANE_SHUFFLE
  if (writer == SpacedTextWriter::kShuffle) return write_spaced_own_text(text, out);
#endif
  return write_spaced_text_by_runs(text, out);
}

char* write_spaced_text(PaddedView text, bool foreign_escapes, char* out) {
  // The widest way the processor has, chosen once; texts with foreign escapes go by runs.
  static const SpacedTextWriter kWidest = [] {
    for (const SpacedTextWriter writer :
         {SpacedTextWriter::kCompress, SpacedTextWriter::kShuffle}) {
      if (has_spaced_text_writer(writer)) return writer;
    }
    return SpacedTextWriter::kRuns;
  }();
  return write_spaced_text_with(foreign_escapes ? SpacedTextWriter::kRuns : kWidest, text, out);
}

}  // namespace velmar::json::detail
