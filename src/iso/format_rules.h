// The character rules of a transaction file that the format check and the
// message decoder share: what a reader skips, what opens a message, what a
// bitmap character marks and when a length prefix is a format error.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

#include "defines.h"
#include "iso/iso_texts.h"

namespace kalvrin {

inline constexpr int kMtiLength = 4;
inline constexpr int kBitmapLength = 16;
inline constexpr int kMessageTypes[] = {1140, 1240, 1440, 1542, 1644, 1844};

// Dropped wherever they stand, between messages and inside them.
constexpr bool IsControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

constexpr bool IsMessageType(int value) {
  return std::find(std::begin(kMessageTypes), std::end(kMessageTypes), value) != std::end(kMessageTypes);
}

// The four elements a bitmap character marks, most significant bit first.
// Lower-case letters and anything else mark none.
constexpr int BitmapBits(char c) {
  if (c >= '1' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

// Element 1 is the secondary bitmap's bit and element 64 is never read.
constexpr bool IsDataElement(int element) { return element >= 2 && element <= 128 && element != 64; }

// The data length a complete length prefix announces, or -1 when the prefix
// is a format error: not all digits, or more than the element can hold.
constexpr std::int32_t PrefixLength(std::string_view prefix, std::int32_t maxLength) {
  if (!std::all_of(prefix.begin(), prefix.end(), IsDigit)) return -1;
  const std::int32_t value = TextToNumber(prefix);
  return value > maxLength ? -1 : value;
}

// The label of a bad prefix's text: "Error Process P " or "Error Process S ".
constexpr std::string_view PrefixErrorLabel(int element) {
  return element < 65 ? iso_text::kPrimaryPrefixError : iso_text::kSecondaryPrefixError;
}

// What status panel 2 shows for a bad prefix, e.g. "Error Process P 35 Len: '1A'".
inline std::string PrefixErrorText(std::string_view label, int element, std::string_view prefix) {
  std::string text(label);
  text.append(std::to_string(element)).append(iso_text::kPrefixErrorLength);
  text.append("'").append(prefix).append("'");
  return text;
}

}  // namespace kalvrin
