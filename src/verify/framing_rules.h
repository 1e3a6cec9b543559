// The framing rules: bitmap characters that mark no elements, a secondary
// bitmap without bit 1, bad length prefixes, messages the file cuts short,
// and text between messages. They judge what the message reader met.
#pragma once

#include "verify/message_reader.h"
#include "verify/reporter.h"

namespace kalvrin::verify {

// The bitmaps, then how the message broke off, if it did.
void CheckFraming(const ReadMessage& message, Reporter& report);

void CheckStrayText(const StrayText& text, Reporter& report);

}  // namespace kalvrin::verify
