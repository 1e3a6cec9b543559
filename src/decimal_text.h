// A number as decimal text without allocating, for texts written by the
// million (grid cells, status texts, listings).
#pragma once

#include <charconv>
#include <cstdint>
#include <string_view>

namespace kalvrin {

// A plain value: the digits and their count, no pointer into itself, so
// that a copy reads as the original does.
class DecimalText {
 public:
  explicit DecimalText(std::int64_t value)
      : size_(static_cast<std::uint8_t>(std::to_chars(digits_, digits_ + sizeof digits_, value).ptr - digits_)) {}
  std::string_view view() const { return {digits_, size_}; }

 private:
  char digits_[20];  // the longest is -9223372036854775808
  std::uint8_t size_;
};

}  // namespace kalvrin
