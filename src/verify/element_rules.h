// The element rules: numeric elements, dates and times, the card number's
// Luhn digit, currency codes and track 2 against P2 and P14. Pure checks
// over one complete message's decoded values.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "iso/iso_codes.h"
#include "iso/message_decoder.h"
#include "verify/rules.h"

namespace kalvrin::verify {

// One element fault: `index` is the first offending character within the
// element's value (its data, after any length prefix).
struct ElementFault {
  Rule rule;
  int element = 0;
  std::size_t index = 0;
  std::string message;
  std::optional<std::string> declared;
  std::optional<std::string> computed;
};

// Why a date/time text is no calendar date or time of day, with the index of
// the field at fault; nullopt when it is one. `layout` names its fields in
// pairs of letters: YY, MM (01-12), DD (within the month, 29 February
// allowed), hh (00-23), mm and ss (00-59); e.g. "MMDDhhmmss".
struct DateFault {
  std::size_t index;
  std::string_view reason;
};
std::optional<DateFault> CheckDateTime(std::string_view text, std::string_view layout);

bool PassesLuhn(std::string_view digits);

// An assigned ISO 4217 code, numeric ("978") or alphabetic ("EUR").
using kalvrin::IsCurrencyCode;

// Every element rule that applies to the message's complete elements. With
// maskCardNumbers the texts show card numbers masked, as --mask-pan does.
void CheckElements(const DecodedMessage& message, const RuleSet& rules,
                   const std::function<void(ElementFault)>& report, bool maskCardNumbers = false);

}  // namespace kalvrin::verify
