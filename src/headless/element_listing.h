// kalvrin-check iso --elements: every message of the file with all of its
// present elements and where they stand in the file, as one JSON object per
// line or as a readable listing.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "iso/emv_tlv.h"
#include "iso/message_decoder.h"

namespace kalvrin {

// A message's P55 read as EMV data objects for a listing: read from the
// clear value (before any masking), with where each character of the value
// stands in the file.
struct ChipListing {
  emv::TlvData tlv;
  std::vector<std::int64_t> offsets;  // of the value's characters, in order
  bool maskCardData = false;

  // The file offset of the value's character at `index`; past the last, the
  // byte after it.
  std::int64_t OffsetOf(std::size_t index) const;
};

// The message's P55, if it has one; `reader` gives the file's bytes of it.
std::optional<ChipListing> ReadChipListing(const DecodedMessage& message, MessageReader& reader, bool maskCardData);

// One message as a JSON object on one line, appended to `line`: record,
// offset, bytes, mti, both bitmaps, elements (element, format, prefix,
// length, value, offset, bytes, complete), stop, and error and errorOffset
// where decoding met one; written as the JSON library writes such an object,
// without building one (a big file has millions). With `chip`, P55 also
// carries `tlv`: its data objects ({tag, name, length, value, offset}, with
// `bits` where they are spelled out and `tlv` inside a constructed one), and
// `error` and `errorOffset` when it is malformed.
void AppendMessageJson(std::string& line, int record, const DecodedMessage& message,
                       const ChipListing* chip = nullptr);

// One message as a few readable lines, appended to `out`; with `chip`, P55's
// data objects indented under it.
void AppendMessageListing(std::string& out, int record, const DecodedMessage& message,
                          const ChipListing* chip = nullptr);

}  // namespace kalvrin
