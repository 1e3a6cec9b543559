// Masking of the elements that hold a card number.
#include "iso/pan_mask.h"

#include <algorithm>

#include "iso/emv_tlv.h"
#include "iso/format_rules.h"
#include "iso/result_grid.h"

namespace kalvrin {

namespace {

constexpr std::size_t kKeptFirst = 6;
constexpr std::size_t kKeptLast = 4;
constexpr std::size_t kShortestWithLastFour = 8;

struct Span {
  std::size_t begin = 0;
  std::size_t length = 0;
};

// Where the card number stands in an element's value.
Span CardNumberSpan(int element, std::string_view value) {
  const Span whole{0, value.size()};
  if (element == 35) {
    const std::string_view card = Track2CardNumber(value);
    const auto begin = static_cast<std::size_t>(card.data() - value.data());
    // a text without a separator is masked whole, its sentinel too
    return begin + card.size() == value.size() ? whole : Span{begin, card.size()};
  }
  if (element == 45) {
    const std::size_t code = !value.empty() && value.front() == '%' ? 1 : 0;
    const std::size_t separator = value.find('^');
    if (value.size() <= code || value[code] != 'B' || separator == std::string_view::npos || separator <= code) {
      return whole;
    }
    return {code + 1, separator - code - 1};
  }
  return whole;
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

void MaskDigitRuns(std::string& text) {
  const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  for (auto run = std::find_if(text.begin(), text.end(), isDigit); run != text.end();
       run = std::find_if(run, text.end(), isDigit)) {
    const auto end = std::find_if_not(run, text.end(), isDigit);
    const auto length = static_cast<std::size_t>(end - run);
    if (length >= kShortestDigitRunMasked) {
      const std::string masked = MaskPan(std::string_view(&*run, length));
      std::copy(masked.begin(), masked.end(), run);
    }
    run = end;
  }
}

void MaskDigitRuns(std::string& text, std::string_view before, std::string_view after) {
  std::string whole;
  whole.reserve(before.size() + text.size() + after.size());
  whole.append(before).append(text).append(after);
  MaskDigitRuns(whole);
  text.assign(whole, before.size(), text.size());
}

std::string_view Track2CardNumber(std::string_view track) {
  if (!track.empty() && track.front() == ';') track.remove_prefix(1);
  return track.substr(0, track.find_first_of("=D"));
}

std::string MaskTrack2(std::string_view track) { return MaskElement(35, track); }
std::string MaskTrack1(std::string_view track) { return MaskElement(45, track); }

bool ElementHoldsCardNumber(int element) {
  return element == 2 || element == 35 || element == 45 || element == emv::kChipDataElement;
}

std::string MaskElement(int element, std::string_view value) {
  if (element == emv::kChipDataElement) return emv::MaskChipData(value);
  std::string masked(value);
  if (!ElementHoldsCardNumber(element)) return masked;
  const Span span = CardNumberSpan(element, value);
  masked.replace(span.begin, span.length, MaskPan(value.substr(span.begin, span.length)));
  return masked;
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

void MaskCardNumberBytes(const DecodedMessage& message, std::int64_t firstOffset, std::string& bytes) {
  for (const DecodedElement& element : message.elements) {
    if (!ElementHoldsCardNumber(element.number) || element.span.offset < firstOffset) continue;
    const std::string masked = MaskElement(element.number, element.value);
    // The span starts at the prefix; the value's characters follow it, with
    // whatever control characters the file holds between them.
    std::size_t skip = element.prefix.size();
    std::size_t index = 0;
    const auto first = static_cast<std::size_t>(element.span.offset - firstOffset);
    const std::size_t end = std::min(bytes.size(), first + static_cast<std::size_t>(element.span.bytes));
    for (std::size_t at = first; at < end && index < masked.size(); ++at) {
      if (IsControl(bytes[at])) continue;
      if (skip > 0) {
        --skip;
        continue;
      }
      if (masked[index] != element.value[index]) bytes[at] = kMaskCharacter;
      ++index;
    }
  }
}

std::vector<std::string> CardNumbersIn(const DecodedMessage& message) {
  std::vector<std::string> numbers;
  for (const DecodedElement& element : message.elements) {
    if (!ElementHoldsCardNumber(element.number)) continue;
    if (element.number == emv::kChipDataElement) {
      for (std::string& number : emv::ChipCardNumbers(emv::DecodeTlv(element.value))) {
        if (std::find(numbers.begin(), numbers.end(), number) == numbers.end()) numbers.push_back(std::move(number));
      }
      continue;
    }
    const Span span = CardNumberSpan(element.number, element.value);
    std::string number = element.value.substr(span.begin, span.length);
    if (!number.empty() && std::find(numbers.begin(), numbers.end(), number) == numbers.end()) {
      numbers.push_back(std::move(number));
    }
  }
  return numbers;
}

void MaskQuotedCardNumbers(std::string& text, const std::vector<std::string>& numbers) {
  for (const std::string& number : numbers) {
    if (text == number) {
      text = MaskPan(number);
      continue;
    }
    const std::string quoted = "'" + number + "'";
    const std::string masked = "'" + MaskPan(number) + "'";
    for (std::size_t at = text.find(quoted); at != std::string::npos; at = text.find(quoted, at + masked.size())) {
      text.replace(at, quoted.size(), masked);
    }
  }
}

}  // namespace kalvrin
