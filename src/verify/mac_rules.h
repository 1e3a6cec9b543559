// The one place where verify meets the MAC check's core: the key's check
// value, the envelope as the MAC check finds it and the three MAC variants,
// without a window.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace kalvrin::verify {

// 16 hex digits, either case: a single DES key.
bool IsMacKey(std::string_view key);

struct FileMacs {
  bool computed = false;  // false: see failure
  std::string failure;    // the MAC check's own text, e.g. "File Header not found"
  std::string keyKcv;     // the key's check value, 8 upper-case hex digits
  bool trailerFound = false;
  std::string declared;                 // the trailer's MAC as the MAC check reads it
  std::array<std::string, 3> variants;  // MACALL, MACNHD, MACNSP
};

inline constexpr std::array<std::string_view, 3> kVariantNames = {"MACALL", "MACNHD", "MACNSP"};

// Safe to call from several threads at once.
FileMacs ComputeFileMacs(std::string_view path, std::string_view key);

}  // namespace kalvrin::verify
