// P55 read as the BER-TLV data objects of EMV: the element's hex text taken
// apart into tags, lengths and values (constructed tags as a tree), with
// every fault named by where it stands. Whatever was read before a fault is
// kept, so a broken element still shows its good part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "iso/emv_tags.h"

namespace kalvrin::emv {

inline constexpr int kChipDataElement = 55;

// One data object. Positions count bytes of the element's data (the hex
// text's character index is twice as much).
struct TlvObject {
  std::uint32_t tag = 0;
  int depth = 0;            // 0 at the element's top level, 1 inside a constructed tag, ...
  std::size_t at = 0;       // its tag's first byte
  std::size_t valueAt = 0;  // its value's first byte
  std::size_t length = 0;   // of its value, in bytes
  bool constructed = false;
};

struct TlvData {
  std::vector<std::uint8_t> bytes;  // the element's bytes, as far as its hex text reads
  std::vector<TlvObject> objects;   // every object read, a constructed one before its content
  std::string error;                // what is wrong, empty when well-formed
  std::size_t errorIndex = 0;       // the character of the hex text at fault

  bool WellFormed() const { return error.empty(); }
  std::span<const std::uint8_t> Value(const TlvObject& object) const {
    return std::span<const std::uint8_t>(bytes).subspan(object.valueAt, object.length);
  }
  // The first object with this tag, at any depth; null when none.
  const TlvObject* Find(std::uint32_t tag) const;
};

// Reads a P55 value: hex digits of either case, objects with one- to
// three-byte tags, short and long (81, 82) lengths, padding bytes 00 and FF
// between objects skipped.
TlvData DecodeTlv(std::string_view hex);
// The same into `data`, whose buffers are reused: a reader of many messages
// keeps one TlvData and allocates nothing per message.
void DecodeTlv(std::string_view hex, TlvData& data);

// "9F02".
std::string TagText(std::uint32_t tag);
// The tag's name, or "unknown tag" for one the table does not name.
std::string_view TagName(std::uint32_t tag);

// The value as its tag's form shows it: amounts and dates as digits,
// currency and country codes with their names, texts as characters, 9F10 in
// the common core layout when it has it, everything else (and any value not
// in its form) as hex.
std::string ValueText(const TlvData& data, const TlvObject& object);

// The hex text of a value's bytes.
std::string HexText(std::span<const std::uint8_t> bytes);

// The digits of a BCD value up to its first nibble that is no digit (the F
// padding of a card number, the D separator of track 2 data).
std::string LeadingDigits(std::span<const std::uint8_t> bytes);

// The tags that hold card data: 5A (card number), 57 and 9F6B (track 2 data,
// card number before the separator), 56 (track 1 data) and 5F20 (cardholder
// name).
bool HoldsCardData(std::uint32_t tag);

// ValueText, or for card data with maskCardData its masked form: the card
// number's hex digits kept six and four, track 1 data and the cardholder
// name all '*'.
std::string ShownValue(const TlvData& data, const TlvObject& object, bool maskCardData);

// The P55 text with its card data masked: the card numbers of 5A, 57 and
// 9F6B keep their first six and last four digits, track 1 data and the
// cardholder name are masked whole; every character keeps its place.
std::string MaskChipData(std::string_view hex);

// The card numbers P55 holds (5A's, and those of 57 and 9F6B), each once.
std::vector<std::string> ChipCardNumbers(const TlvData& data);

}  // namespace kalvrin::emv
