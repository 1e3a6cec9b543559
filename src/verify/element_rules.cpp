// The element rules.
#include "verify/element_rules.h"

#include <algorithm>
#include <array>

#include "iso/format_rules.h"
#include "iso/pan_mask.h"
#include "verify/emv_rules.h"

namespace kalvrin::verify {

namespace {

// Elements whose ISO 8583:1993 format, as far as this tool's table agrees
// with it, is numeric.
constexpr bool IsNumericElement(int element) {
  switch (element) {
    case 3: case 4: case 5: case 6: case 7: case 11: case 12: case 13: case 14: case 17:
    case 24: case 25: case 26: case 71:
      return true;
    default:
      return element >= 74 && element <= 90;
  }
}

struct DateElement {
  int element;
  std::string_view layout;
};
constexpr DateElement kDateElements[] = {
    {7, "MMDDhhmmss"}, {12, "YYMMDDhhmmss"}, {13, "YYMM"}, {14, "YYMM"}, {17, "MMDD"}};

bool AllDigits(std::string_view text) { return std::all_of(text.begin(), text.end(), IsDigit); }

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

const DecodedElement* Find(const DecodedMessage& message, int number) {
  for (const DecodedElement& element : message.elements) {
    if (element.number == number) return element.complete ? &element : nullptr;
  }
  return nullptr;
}

void CheckNumeric(const DecodedElement& element, const std::function<void(ElementFault)>& report) {
  const auto bad = std::find_if_not(element.value.begin(), element.value.end(), IsDigit);
  if (bad == element.value.end()) return;
  report({Rule::NotNumeric, element.number, static_cast<std::size_t>(bad - element.value.begin()),
          ElementName(element.number) + " " + Quoted(element.value) + " holds " + Quoted(std::string_view(&*bad, 1)) +
              ", not a digit",
          std::nullopt, std::nullopt});
}

std::string Shown(std::string_view pan, bool mask) { return mask ? MaskPan(pan) : std::string(pan); }

void CheckLuhn(const DecodedElement& pan, const std::function<void(ElementFault)>& report, bool mask) {
  const std::string& value = pan.value;
  const auto bad = std::find_if_not(value.begin(), value.end(), IsDigit);
  if (bad != value.end()) {
    report({Rule::PanLuhn, 2, static_cast<std::size_t>(bad - value.begin()),
            "card number " + Quoted(Shown(value, mask)) + " is not all digits", std::nullopt, std::nullopt});
  } else if (value.empty() || !PassesLuhn(value)) {
    report({Rule::PanLuhn, 2, value.empty() ? 0 : value.size() - 1,
            "card number " + Quoted(Shown(value, mask)) + " fails the Luhn check", std::nullopt, std::nullopt});
  }
}

void CheckTrack2(const DecodedElement& track2, const DecodedElement* pan, const DecodedElement* expiry,
                 const std::function<void(ElementFault)>& report, bool mask) {
  const std::string& value = track2.value;
  const std::string_view card = Track2CardNumber(value);
  const auto cardAt = static_cast<std::size_t>(card.data() - value.data());
  const std::size_t separator = cardAt + card.size() < value.size() ? cardAt + card.size() : std::string::npos;
  if (pan != nullptr && card != pan->value) {
    const auto differs = std::mismatch(card.begin(), card.end(), pan->value.begin(), pan->value.end());
    report({Rule::Track2Mismatch, 35, cardAt + static_cast<std::size_t>(differs.first - card.begin()),
            "P35's card number " + Quoted(Shown(card, mask)) + " is not P2's " + Quoted(Shown(pan->value, mask)),
            Shown(card, mask), Shown(pan->value, mask)});
    return;
  }
  if (expiry == nullptr || separator == std::string::npos) return;
  const std::string_view date = std::string_view(value).substr(separator + 1, 4);
  if (date != expiry->value) {
    report({Rule::Track2Mismatch, 35, separator + 1,
            "P35's expiry date " + Quoted(date) + " is not P14's " + Quoted(expiry->value), std::string(date),
            expiry->value});
  }
}

}  // namespace

std::optional<DateFault> CheckDateTime(std::string_view text, std::string_view layout) {
  if (text.size() != layout.size()) return DateFault{0, "wrong length"};
  int month = 0;
  int year = -1;
  for (std::size_t at = 0; at + 1 < layout.size(); at += 2) {
    const std::string_view field = layout.substr(at, 2);
    if (!IsDigit(text[at]) || !IsDigit(text[at + 1])) return DateFault{at, "not digits"};
    const int value = (text[at] - '0') * 10 + (text[at + 1] - '0');
    if (field == "YY") {
      year = value;
    } else if (field == "MM") {
      if (value < 1 || value > 12) return DateFault{at, "no month"};
      month = value;
    } else if (field == "DD") {
      constexpr std::array<int, 13> kDays = {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
      if (value < 1 || value > kDays[static_cast<std::size_t>(month)]) return DateFault{at, "no day of the month"};
    } else if (field == "hh") {
      if (value > 23) return DateFault{at, "no hour"};
    } else if (value > 59) {
      return DateFault{at, field == "mm" ? "no minute" : "no second"};
    }
  }
  (void)year;  // any two-digit year; 29 February is taken as it comes
  return std::nullopt;
}

bool PassesLuhn(std::string_view digits) {
  int sum = 0;
  bool twice = false;
  for (auto c = digits.rbegin(); c != digits.rend(); ++c) {
    int digit = *c - '0';
    if (twice && (digit *= 2) > 9) digit -= 9;
    sum += digit;
    twice = !twice;
  }
  return sum % 10 == 0;
}

void CheckElements(const DecodedMessage& message, const RuleSet& rules,
                   const std::function<void(ElementFault)>& report, bool maskCardNumbers) {
  for (const DecodedElement& element : message.elements) {
    if (!element.complete) continue;
    const int number = element.number;
    if (rules.Enabled(Rule::NotNumeric) && IsNumericElement(number)) CheckNumeric(element, report);
    if (rules.Enabled(Rule::Date)) {
      for (const DateElement& date : kDateElements) {
        if (date.element != number || !AllDigits(element.value)) continue;
        if (const auto fault = CheckDateTime(element.value, date.layout)) {
          report({Rule::Date, number, fault->index,
                  ElementName(number) + " " + Quoted(element.value) + " is not a date and time (" +
                      std::string(date.layout) + "): " + std::string(fault->reason),
                  std::nullopt, std::nullopt});
        }
      }
    }
    if (rules.Enabled(Rule::PanLuhn) && number == 2) CheckLuhn(element, report, maskCardNumbers);
    if (rules.Enabled(Rule::Currency) && number >= 49 && number <= 51 && !IsCurrencyCode(element.value)) {
      report({Rule::Currency, number, 0,
              ElementName(number) + " " + Quoted(element.value) + " is not an ISO 4217 currency code", std::nullopt,
              std::nullopt});
    }
    if (rules.Enabled(Rule::Track2Mismatch) && number == 35) {
      CheckTrack2(element, Find(message, 2), Find(message, 14), report, maskCardNumbers);
    }
  }
  CheckChipData(message, rules, report, maskCardNumbers);
}

}  // namespace kalvrin::verify
