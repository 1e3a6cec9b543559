// Masking of the elements that hold a card number.
#include "iso/pan_mask.h"

#include "iso/result_grid.h"

namespace kalvrin {

namespace {

constexpr std::size_t kKeptFirst = 6;
constexpr std::size_t kKeptLast = 4;
constexpr std::size_t kShortestWithLastFour = 8;

void MaskRange(std::string& text, std::size_t begin, std::size_t length) {
  const std::string_view pan = std::string_view(text).substr(begin, length);
  const std::string masked = MaskPan(pan);
  text.replace(begin, length, masked);
}

}  // namespace

std::string MaskPan(std::string_view pan) {
  std::string masked(pan.size(), kMaskCharacter);
  const std::size_t n = pan.size();
  std::size_t first = 0;
  std::size_t last = 0;
  if (n > kKeptFirst + kKeptLast) {
    first = kKeptFirst;
    last = kKeptLast;
  } else if (n >= kShortestWithLastFour) {
    last = kKeptLast;
  }
  masked.replace(0, first, pan.substr(0, first));
  masked.replace(n - last, last, pan.substr(n - last));
  return masked;
}

std::string MaskTrack2(std::string_view track) {
  const std::size_t begin = !track.empty() && track.front() == ';' ? 1 : 0;
  const std::size_t separator = track.find_first_of("=D", begin);
  if (separator == std::string_view::npos) return MaskPan(track);
  std::string masked(track);
  MaskRange(masked, begin, separator - begin);
  return masked;
}

std::string MaskTrack1(std::string_view track) {
  const std::size_t code = !track.empty() && track.front() == '%' ? 1 : 0;
  const std::size_t separator = track.find('^');
  if (track.size() <= code || track[code] != 'B' || separator == std::string_view::npos || separator <= code) {
    return MaskPan(track);
  }
  std::string masked(track);
  MaskRange(masked, code + 1, separator - code - 1);
  return masked;
}

bool ElementHoldsCardNumber(int element) { return element == 2 || element == 35 || element == 45; }

std::string MaskElement(int element, std::string_view value) {
  switch (element) {
    case 2: return MaskPan(value);
    case 35: return MaskTrack2(value);
    case 45: return MaskTrack1(value);
    default: return std::string(value);
  }
}

bool GridColumnHoldsCardNumber(int column) {
  return column >= 0 && column < kGridColumnCount &&
         ElementHoldsCardNumber(kGridColumns[static_cast<std::size_t>(column)].element);
}

void MaskCardNumbers(DecodedMessage& message) {
  for (DecodedElement& element : message.elements) {
    if (ElementHoldsCardNumber(element.number)) element.value = MaskElement(element.number, element.value);
  }
}

}  // namespace kalvrin
