// What the EMV data objects of chip transactions mean: the names of the tags,
// the form each value is shown in, and the meanings of the bits people look
// up (TVR, TSI, AIP, CVM results, cryptogram information, terminal
// capabilities, the issuer application data's common layout).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kalvrin::emv {

// How a tag's value reads.
enum class ValueForm {
  Hex,       // as hex digits
  Amount,    // twelve BCD digits, shown as a number
  Date,      // YYMMDD in BCD
  Currency,  // an ISO 4217 numeric code in two BCD bytes, shown with its name
  Country,   // an ISO 3166-1 numeric code in two BCD bytes, shown with its name
  Text,      // characters
};

struct TagInfo {
  std::uint32_t tag;  // its bytes as one number: 0x9F02
  std::string_view name;
  ValueForm form;
};

// The tag's entry; null for a tag the table does not name.
const TagInfo* FindTag(std::uint32_t tag);
// Every named tag, in the order of their numbers.
std::span<const TagInfo> Tags();

// The tags whose bits or coded bytes are spelled out.
bool HasBitNames(std::uint32_t tag);
// The names of the value's set bits (for 95, 9B, 82, 9F33), or of its coded
// values (9F27's cryptogram type and reason, 9F34's method, condition and
// result); empty for other tags.
std::vector<std::string_view> BitNames(std::uint32_t tag, std::span<const std::uint8_t> value);

// 9F10 read in the layout of EMV's Common Core Definitions: "cryptogram
// version 5 (Triple DES), derivation key index 01, card verification results
// 03A4000000, ..."; empty when its length or format bytes say it is in
// another layout.
std::string CommonCoreLayout(std::span<const std::uint8_t> value);

}  // namespace kalvrin::emv
