// Scans over runs of a transaction file's characters, sixteen at a time
// where the processor has SSE2 (every x86-64 one), one at a time elsewhere.
// The format check takes whole runs of element data and gap characters with
// these instead of stepping through them one by one.
#pragma once

#include <array>
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define KALVRIN_SCAN_SSE2 1
#endif

#include "iso/format_rules.h"

namespace kalvrin {

namespace char_scan_detail {
// The set bits of a byte, for the sixteen-bit masks of a block compare (a
// table: a portable build has no population count instruction).
inline constexpr std::array<std::uint8_t, 256> kBitCounts = [] {
  std::array<std::uint8_t, 256> counts{};
  for (std::size_t byte = 0; byte < counts.size(); ++byte) counts[byte] = static_cast<std::uint8_t>(std::popcount(byte));
  return counts;
}();
inline int MaskBits(unsigned mask) { return kBitCounts[mask & 0xFF] + kBitCounts[(mask >> 8) & 0xFF]; }
}  // namespace char_scan_detail

// How many of the first `count` characters from `chars` on come before the
// first control character (`count` when there is none). `readable`, at
// least `count`, is how many characters may be read there: a short run
// with room after it is still taken in one block compare.
inline std::size_t ControlFreeLength(const char* chars, std::size_t count, std::size_t readable) {
  std::size_t at = 0;
#ifdef KALVRIN_SCAN_SSE2
  const __m128i lastControl = _mm_set1_epi8(0x1F);
  const __m128i del = _mm_set1_epi8(0x7F);
  for (; at < count && at + 16 <= readable; at += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chars + at));
    const __m128i low = _mm_cmpeq_epi8(_mm_min_epu8(block, lastControl), block);  // 0x00..0x1F
    const int stops = _mm_movemask_epi8(_mm_or_si128(low, _mm_cmpeq_epi8(block, del)));
    if (stops != 0) return std::min(count, at + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(stops))));
  }
  if (at >= count) return count;
#endif
  while (at < count && !IsControl(chars[at])) ++at;
  return at;
}

namespace char_scan_detail {
// `count` bytes, at least sizeof(Word) and at most twice that, as two words
// that may overlap.
template <typename Word>
inline void CopyTwoWords(char* to, const char* from, std::size_t count) {
  Word head = 0;
  Word tail = 0;
  std::memcpy(&head, from, sizeof head);
  std::memcpy(&tail, from + count - sizeof tail, sizeof tail);
  std::memcpy(to, &head, sizeof head);
  std::memcpy(to + count - sizeof tail, &tail, sizeof tail);
}
}  // namespace char_scan_detail

// memcpy for the short texts a grid is made of (most under 17 bytes), in a
// few loads and stores instead of a library call; longer ones go to memcpy.
inline void CopyBytes(char* to, const char* from, std::size_t count) {
  if (count >= 8 && count <= 16) {
    char_scan_detail::CopyTwoWords<std::uint64_t>(to, from, count);
  } else if (count >= 4 && count < 8) {
    char_scan_detail::CopyTwoWords<std::uint32_t>(to, from, count);
  } else if (count > 16) {
    std::memcpy(to, from, count);
  } else {
    if (count > 0) to[0] = from[0];
    if (count > 1) to[1] = from[1];
    if (count > 2) to[2] = from[2];
  }
}

// A string set to a short text that fits its room, without the general
// assignment's call: the status texts change with every element.
inline void AssignText(std::string& to, std::string_view text) {
  const std::less<const char*> before;
  const bool inside = !before(text.data(), to.data()) && before(text.data(), to.data() + to.size());
  if (text.size() > to.capacity() || inside) {
    to.assign(text);
    return;
  }
  to.resize(text.size());
  CopyBytes(to.data(), text.data(), text.size());
}

// memset for short stretches, in the same way: most element buffers a
// message wrote are under 33 bytes.
inline void FillBytes(char* to, char value, std::size_t count) {
  const std::uint64_t word = 0x0101010101010101u * static_cast<unsigned char>(value);
  if (count >= 8 && count <= 32) {
    std::memcpy(to, &word, sizeof word);
    std::memcpy(to + count - 8, &word, sizeof word);
    if (count > 16) {
      std::memcpy(to + 8, &word, sizeof word);
      std::memcpy(to + count - 16, &word, sizeof word);
    }
  } else if (count >= 4 && count < 8) {
    const auto half = static_cast<std::uint32_t>(word);
    std::memcpy(to, &half, sizeof half);
    std::memcpy(to + count - 4, &half, sizeof half);
  } else if (count > 32) {
    std::memset(to, value, count);
  } else {
    if (count > 0) to[0] = value;
    if (count > 1) to[1] = value;
    if (count > 2) to[2] = value;
  }
}

// A run of characters between messages: neither control characters nor
// digits (a digit may start the next MTI).
struct GapRun {
  std::size_t length = 0;
  std::int64_t spaces = 0;
};

inline GapRun ScanGap(const char* chars, std::size_t count) {
  GapRun run;
  std::size_t& at = run.length;
#ifdef KALVRIN_SCAN_SSE2
  const __m128i lastControl = _mm_set1_epi8(0x1F);
  const __m128i del = _mm_set1_epi8(0x7F);
  const __m128i zero = _mm_set1_epi8('0');
  const __m128i nine = _mm_set1_epi8(9);
  const __m128i space = _mm_set1_epi8(' ');
  for (; at + 16 <= count; at += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chars + at));
    const __m128i digit = _mm_sub_epi8(block, zero);
    const __m128i digits = _mm_cmpeq_epi8(_mm_min_epu8(digit, nine), digit);  // '0'..'9'
    const __m128i low = _mm_cmpeq_epi8(_mm_min_epu8(block, lastControl), block);
    const __m128i stop = _mm_or_si128(_mm_or_si128(low, _mm_cmpeq_epi8(block, del)), digits);
    const auto stops = static_cast<unsigned>(_mm_movemask_epi8(stop));
    auto spaces = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, space)));
    if (stops != 0) {
      const int end = std::countr_zero(stops);
      spaces &= (1u << end) - 1;
      run.spaces += char_scan_detail::MaskBits(spaces);
      at += static_cast<std::size_t>(end);
      return run;
    }
    run.spaces += char_scan_detail::MaskBits(spaces);
  }
#endif
  for (; at < count && !IsControl(chars[at]) && !IsDigit(chars[at]); ++at) run.spaces += chars[at] == ' ';
  return run;
}

// True when a CSV record's text holds nothing but ASCII characters other
// than quotes and line ends, and exactly `commas` commas (the separators
// between its fields): then no field needs quotes or another encoding.
inline bool IsPlainCsvRecord(const char* chars, std::size_t count, std::size_t commas) {
  std::size_t at = 0;
  std::size_t seen = 0;
#ifdef KALVRIN_SCAN_SSE2
  const __m128i comma = _mm_set1_epi8(',');
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  for (; at + 16 <= count; at += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chars + at));
    const __m128i special = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, quote), _mm_cmpeq_epi8(block, cr)),
                                         _mm_or_si128(_mm_cmpeq_epi8(block, lf), block));  // high bit: not ASCII
    if (_mm_movemask_epi8(special) != 0) return false;
    seen += static_cast<std::size_t>(char_scan_detail::MaskBits(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, comma)))));
  }
#endif
  for (; at < count; ++at) {
    const auto byte = static_cast<unsigned char>(chars[at]);
    if (byte >= 0x80 || byte == '"' || byte == '\r' || byte == '\n') return false;
    seen += byte == ',';
  }
  return seen == commas;
}

}  // namespace kalvrin
