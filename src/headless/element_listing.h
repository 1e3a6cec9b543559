// kalvrin-check iso --elements: every message of the file with all of its
// present elements and where they stand in the file, as one JSON object per
// line or as a readable listing.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "iso/message_decoder.h"

namespace kalvrin {

// One message as a JSON object on one line, appended to `line`: record,
// offset, bytes, mti, both bitmaps, elements (element, format, prefix,
// length, value, offset, bytes, complete), stop, and error and errorOffset
// where decoding met one; written as the JSON library writes such an object,
// without building one (a big file has millions).
void AppendMessageJson(std::string& line, int record, const DecodedMessage& message);

// One message as a few readable lines, appended to `out`.
void AppendMessageListing(std::string& out, int record, const DecodedMessage& message);

}  // namespace kalvrin
