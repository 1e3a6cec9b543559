// P55's EMV data objects as child rows of the inspector's element table:
// each tag with its name, length and value, the set bits of the tags whose
// bits are spelled out, and the fault of a malformed P55, each with the
// bytes of the file it stands on.
#pragma once

#include <vector>

#include "app/inspector/inspector.h"
#include "iso/message_decoder.h"

namespace kalvrin {

// What the child rows point at: not an element of their own.
inline constexpr int kChipDataPart = -4;

// Inserts the rows after P55's row of `parts`; `message` is the clear
// message (P55 is read before any masking), `reader` its file.
void AddChipDataRows(std::vector<InspectedPart>& parts, const DecodedMessage& message, MessageReader& reader,
                     bool maskCardNumbers);

}  // namespace kalvrin
