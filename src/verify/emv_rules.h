// The chip data rules: P55 read as EMV data objects, and what they say
// against the message around them (amount, currency, date, card number,
// the cryptogram against the action code).
#pragma once

#include <functional>

#include "iso/message_decoder.h"
#include "verify/element_rules.h"

namespace kalvrin::verify {

// Every emv.* rule that applies to the message's complete P55; faults name
// P55 with the index of the first character at fault in its value. A
// malformed P55 gets emv.tlv alone. With
// maskCardNumbers the texts show card numbers masked.
void CheckChipData(const DecodedMessage& message, const RuleSet& rules,
                   const std::function<void(ElementFault)>& report, bool maskCardNumbers = false);

}  // namespace kalvrin::verify
