// A number as decimal text without allocating, for texts written by the
// million (grid cells, status texts, listings).
#pragma once

#include <charconv>
#include <cstdint>
#include <string_view>

namespace kalvrin {

class DecimalText {
 public:
  explicit DecimalText(std::int64_t value) : end_(std::to_chars(digits_, digits_ + sizeof digits_, value).ptr) {}
  std::string_view view() const { return {digits_, static_cast<std::size_t>(end_ - digits_)}; }

 private:
  char digits_[24];
  char* end_;
};

}  // namespace kalvrin
