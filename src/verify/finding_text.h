// Small text helpers the verify rules share when they word a finding.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

#include "iso/format_rules.h"

namespace kalvrin::verify {

constexpr bool IsHex(char c) { return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }
// A bitmap character that the format check reads.
constexpr bool IsUpperHex(char c) { return IsDigit(c) || (c >= 'A' && c <= 'F'); }

inline std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// Hex digits compared without regard to case.
inline bool SameHex(std::string_view a, std::string_view b) {
  auto upper = [](char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return upper(x) == upper(y); });
}

}  // namespace kalvrin::verify
