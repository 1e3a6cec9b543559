// The bytes as the MAC variants take them, and how their ranges count: one
// set of tables and figures for the MAC check and its test oracle.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace kalvrin {

inline constexpr std::int64_t kMacBlockSize = 512;

// Each byte as the MAC takes it: outside 0x20..0x7E, 0xAA.
inline constexpr std::array<std::uint8_t, 256> kMaskedByte = [] {
  std::array<std::uint8_t, 256> table{};
  for (std::size_t b = 0; b < table.size(); ++b) table[b] = b >= 0x20 && b <= 0x7E ? static_cast<std::uint8_t>(b) : 0xAA;
  return table;
}();

// Every byte outside 0x20..0x7E becomes 0xAA, in place.
inline void MaskNonPrintable(std::uint8_t* buffer, std::ptrdiff_t length) {
  for (std::ptrdiff_t i = 0; i < length; ++i) buffer[i] = kMaskedByte[buffer[i]];
}

// 1 for a byte that a variant keeps, 0 for one it drops: MACALL keeps every
// byte, MACNHD drops CR, LF and TAB, MACNSP spaces too.
using KeepTable = std::array<std::uint8_t, 256>;
inline constexpr KeepTable MakeKeepTable(bool dropLineEnds, bool dropSpaces) {
  KeepTable table{};
  for (auto& keep : table) keep = 1;
  if (dropLineEnds) table['\t'] = table['\n'] = table['\r'] = 0;
  if (dropSpaces) table[' '] = 0;
  return table;
}
inline constexpr std::array<KeepTable, 3> kVariantKeep = {MakeKeepTable(false, false), MakeKeepTable(true, false),
                                                          MakeKeepTable(true, true)};

// 512-byte blocks, the last one partial; 0 for no bytes.
constexpr std::int64_t MacBlockCount(std::int64_t length) {
  return length <= 0 ? 0 : (length + kMacBlockSize - 1) / kMacBlockSize;
}

// The progress bar counts blocks; a count beyond an int is shown scaled down.
struct MacBarScale {
  explicit constexpr MacBarScale(std::int64_t blocks)
      : scale(blocks / std::numeric_limits<int>::max() + 1), max(static_cast<int>(blocks / scale)) {}
  constexpr int Position(std::int64_t done) const { return static_cast<int>(std::min<std::int64_t>(done / scale, max)); }
  std::int64_t scale;
  int max;
};

}  // namespace kalvrin
