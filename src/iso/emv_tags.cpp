// The EMV tag table and bit meanings. The names are those of the data
// elements dictionary of EMV Book 3 (Annex A) and the contactless kernels'
// track data (56, 9F6B); the bit meanings are EMV's published codings of the
// same objects (Book 3 Annex C, Book 4 for terminal capabilities) and the
// Common Core Definitions' issuer application data. Written from those
// public documents, as data: the functions below only look things up.
#include "iso/emv_tags.h"

#include <algorithm>
#include <array>

namespace kalvrin::emv {

namespace {

using F = ValueForm;

// In the order of their numbers, for a binary search.
constexpr TagInfo kTags[] = {
    {0x42, "Issuer Identification Number (IIN)", F::Hex},
    {0x4F, "Application Identifier (AID) - card", F::Hex},
    {0x50, "Application Label", F::Text},
    {0x56, "Track 1 Data", F::Hex},
    {0x57, "Track 2 Equivalent Data", F::Hex},
    {0x5A, "Application Primary Account Number (PAN)", F::Hex},
    {0x61, "Application Template", F::Hex},
    {0x6F, "File Control Information (FCI) Template", F::Hex},
    {0x70, "READ RECORD Response Message Template", F::Hex},
    {0x71, "Issuer Script Template 1", F::Hex},
    {0x72, "Issuer Script Template 2", F::Hex},
    {0x73, "Directory Discretionary Template", F::Hex},
    {0x77, "Response Message Template Format 2", F::Hex},
    {0x80, "Response Message Template Format 1", F::Hex},
    {0x81, "Amount, Authorised (Binary)", F::Hex},
    {0x82, "Application Interchange Profile", F::Hex},
    {0x83, "Command Template", F::Hex},
    {0x84, "Dedicated File (DF) Name", F::Hex},
    {0x86, "Issuer Script Command", F::Hex},
    {0x87, "Application Priority Indicator", F::Hex},
    {0x88, "Short File Identifier (SFI)", F::Hex},
    {0x89, "Authorisation Code", F::Text},
    {0x8A, "Authorisation Response Code", F::Text},
    {0x8C, "Card Risk Management Data Object List 1 (CDOL1)", F::Hex},
    {0x8D, "Card Risk Management Data Object List 2 (CDOL2)", F::Hex},
    {0x8E, "Cardholder Verification Method (CVM) List", F::Hex},
    {0x8F, "Certification Authority Public Key Index", F::Hex},
    {0x90, "Issuer Public Key Certificate", F::Hex},
    {0x91, "Issuer Authentication Data", F::Hex},
    {0x92, "Issuer Public Key Remainder", F::Hex},
    {0x93, "Signed Static Application Data", F::Hex},
    {0x94, "Application File Locator (AFL)", F::Hex},
    {0x95, "Terminal Verification Results", F::Hex},
    {0x97, "Transaction Certificate Data Object List (TDOL)", F::Hex},
    {0x98, "Transaction Certificate (TC) Hash Value", F::Hex},
    {0x99, "Transaction Personal Identification Number (PIN) Data", F::Hex},
    {0x9A, "Transaction Date", F::Date},
    {0x9B, "Transaction Status Information", F::Hex},
    {0x9C, "Transaction Type", F::Hex},
    {0x9D, "Directory Definition File (DDF) Name", F::Hex},
    {0xA5, "File Control Information (FCI) Proprietary Template", F::Hex},
    {0x5F20, "Cardholder Name", F::Text},
    {0x5F24, "Application Expiration Date", F::Date},
    {0x5F25, "Application Effective Date", F::Date},
    {0x5F28, "Issuer Country Code", F::Country},
    {0x5F2A, "Transaction Currency Code", F::Currency},
    {0x5F2D, "Language Preference", F::Text},
    {0x5F30, "Service Code", F::Hex},
    {0x5F34, "Application Primary Account Number (PAN) Sequence Number", F::Hex},
    {0x5F36, "Transaction Currency Exponent", F::Hex},
    {0x5F50, "Issuer URL", F::Text},
    {0x5F53, "International Bank Account Number (IBAN)", F::Hex},
    {0x5F54, "Bank Identifier Code (BIC)", F::Hex},
    {0x5F55, "Issuer Country Code (alpha2 format)", F::Text},
    {0x5F56, "Issuer Country Code (alpha3 format)", F::Text},
    {0x9F01, "Acquirer Identifier", F::Hex},
    {0x9F02, "Amount, Authorised (Numeric)", F::Amount},
    {0x9F03, "Amount, Other (Numeric)", F::Amount},
    {0x9F04, "Amount, Other (Binary)", F::Hex},
    {0x9F05, "Application Discretionary Data", F::Hex},
    {0x9F06, "Application Identifier (AID) - terminal", F::Hex},
    {0x9F07, "Application Usage Control", F::Hex},
    {0x9F08, "Application Version Number (card)", F::Hex},
    {0x9F09, "Application Version Number (terminal)", F::Hex},
    {0x9F0B, "Cardholder Name Extended", F::Text},
    {0x9F0D, "Issuer Action Code - Default", F::Hex},
    {0x9F0E, "Issuer Action Code - Denial", F::Hex},
    {0x9F0F, "Issuer Action Code - Online", F::Hex},
    {0x9F10, "Issuer Application Data", F::Hex},
    {0x9F11, "Issuer Code Table Index", F::Hex},
    {0x9F12, "Application Preferred Name", F::Text},
    {0x9F13, "Last Online Application Transaction Counter (ATC) Register", F::Hex},
    {0x9F14, "Lower Consecutive Offline Limit", F::Hex},
    {0x9F15, "Merchant Category Code", F::Hex},
    {0x9F16, "Merchant Identifier", F::Text},
    {0x9F17, "Personal Identification Number (PIN) Try Counter", F::Hex},
    {0x9F18, "Issuer Script Identifier", F::Hex},
    {0x9F1A, "Terminal Country Code", F::Country},
    {0x9F1B, "Terminal Floor Limit", F::Hex},
    {0x9F1C, "Terminal Identification", F::Text},
    {0x9F1D, "Terminal Risk Management Data", F::Hex},
    {0x9F1E, "Interface Device (IFD) Serial Number", F::Text},
    {0x9F1F, "Track 1 Discretionary Data", F::Text},
    {0x9F20, "Track 2 Discretionary Data", F::Hex},
    {0x9F21, "Transaction Time", F::Hex},
    {0x9F22, "Certification Authority Public Key Index (terminal)", F::Hex},
    {0x9F23, "Upper Consecutive Offline Limit", F::Hex},
    {0x9F26, "Application Cryptogram", F::Hex},
    {0x9F27, "Cryptogram Information Data", F::Hex},
    {0x9F2D, "ICC PIN Encipherment Public Key Certificate", F::Hex},
    {0x9F2E, "ICC PIN Encipherment Public Key Exponent", F::Hex},
    {0x9F2F, "ICC PIN Encipherment Public Key Remainder", F::Hex},
    {0x9F32, "Issuer Public Key Exponent", F::Hex},
    {0x9F33, "Terminal Capabilities", F::Hex},
    {0x9F34, "Cardholder Verification Method (CVM) Results", F::Hex},
    {0x9F35, "Terminal Type", F::Hex},
    {0x9F36, "Application Transaction Counter (ATC)", F::Hex},
    {0x9F37, "Unpredictable Number", F::Hex},
    {0x9F38, "Processing Options Data Object List (PDOL)", F::Hex},
    {0x9F39, "Point-of-Service (POS) Entry Mode", F::Hex},
    {0x9F3A, "Amount, Reference Currency", F::Hex},
    {0x9F3B, "Application Reference Currency", F::Hex},
    {0x9F3C, "Transaction Reference Currency Code", F::Currency},
    {0x9F3D, "Transaction Reference Currency Exponent", F::Hex},
    {0x9F40, "Additional Terminal Capabilities", F::Hex},
    {0x9F41, "Transaction Sequence Counter", F::Hex},
    {0x9F42, "Application Currency Code", F::Currency},
    {0x9F43, "Application Reference Currency Exponent", F::Hex},
    {0x9F44, "Application Currency Exponent", F::Hex},
    {0x9F45, "Data Authentication Code", F::Hex},
    {0x9F46, "ICC Public Key Certificate", F::Hex},
    {0x9F47, "ICC Public Key Exponent", F::Hex},
    {0x9F48, "ICC Public Key Remainder", F::Hex},
    {0x9F49, "Dynamic Data Authentication Data Object List (DDOL)", F::Hex},
    {0x9F4A, "Static Data Authentication Tag List", F::Hex},
    {0x9F4B, "Signed Dynamic Application Data", F::Hex},
    {0x9F4C, "ICC Dynamic Number", F::Hex},
    {0x9F4D, "Log Entry", F::Hex},
    {0x9F4E, "Merchant Name and Location", F::Text},
    {0x9F4F, "Log Format", F::Hex},
    {0x9F6B, "Track 2 Data", F::Hex},
    {0xBF0C, "File Control Information (FCI) Issuer Discretionary Data", F::Hex},
};

// Sorted by number, whatever the order above groups them by.
constexpr auto kSortedTags = [] {
  std::array<TagInfo, std::size(kTags)> sorted{};
  std::copy(std::begin(kTags), std::end(kTags), sorted.begin());
  std::sort(sorted.begin(), sorted.end(), [](const TagInfo& a, const TagInfo& b) { return a.tag < b.tag; });
  return sorted;
}();

// One named bit: byte counted from 1, bit from 8 (most significant) down to 1.
struct BitName {
  std::uint8_t byte;
  std::uint8_t bit;
  std::string_view name;
};

// Terminal Verification Results (95).
constexpr BitName kTvrBits[] = {
    {1, 8, "offline data authentication was not performed"},
    {1, 7, "SDA failed"},
    {1, 6, "ICC data missing"},
    {1, 5, "card appears on terminal exception file"},
    {1, 4, "DDA failed"},
    {1, 3, "CDA failed"},
    {1, 2, "SDA selected"},
    {2, 8, "ICC and terminal have different application versions"},
    {2, 7, "expired application"},
    {2, 6, "application not yet effective"},
    {2, 5, "requested service not allowed for card product"},
    {2, 4, "new card"},
    {3, 8, "cardholder verification was not successful"},
    {3, 7, "unrecognised CVM"},
    {3, 6, "PIN try limit exceeded"},
    {3, 5, "PIN entry required and PIN pad not present or not working"},
    {3, 4, "PIN entry required, PIN pad present, but PIN was not entered"},
    {3, 3, "online PIN entered"},
    {4, 8, "transaction exceeds floor limit"},
    {4, 7, "lower consecutive offline limit exceeded"},
    {4, 6, "upper consecutive offline limit exceeded"},
    {4, 5, "transaction selected randomly for online processing"},
    {4, 4, "merchant forced transaction online"},
    {5, 8, "default TDOL used"},
    {5, 7, "issuer authentication failed"},
    {5, 6, "script processing failed before final GENERATE AC"},
    {5, 5, "script processing failed after final GENERATE AC"},
};

// Transaction Status Information (9B).
constexpr BitName kTsiBits[] = {
    {1, 8, "offline data authentication was performed"},
    {1, 7, "cardholder verification was performed"},
    {1, 6, "card risk management was performed"},
    {1, 5, "issuer authentication was performed"},
    {1, 4, "terminal risk management was performed"},
    {1, 3, "script processing was performed"},
};

// Application Interchange Profile (82).
constexpr BitName kAipBits[] = {
    {1, 7, "SDA supported"},
    {1, 6, "DDA supported"},
    {1, 5, "cardholder verification is supported"},
    {1, 4, "terminal risk management is to be performed"},
    {1, 3, "issuer authentication is supported"},
    {1, 1, "CDA supported"},
};

// Terminal Capabilities (9F33): card data input, CVM and security capability.
constexpr BitName kTerminalCapabilityBits[] = {
    {1, 8, "manual key entry"},
    {1, 7, "magnetic stripe"},
    {1, 6, "IC with contacts"},
    {2, 8, "plaintext PIN for ICC verification"},
    {2, 7, "enciphered PIN for online verification"},
    {2, 6, "signature (paper)"},
    {2, 5, "enciphered PIN for offline verification"},
    {2, 4, "no CVM required"},
    {3, 8, "SDA"},
    {3, 7, "DDA"},
    {3, 6, "card capture"},
    {3, 4, "CDA"},
};

// A coded value: the bits under `mask` equal `value`.
struct CodedValue {
  std::uint8_t mask;
  std::uint8_t value;
  std::string_view name;
};

// Cryptogram Information Data (9F27): the type in bits 8-7, advice in bit 4,
// the reason in bits 3-1.
constexpr CodedValue kCryptogramTypes[] = {
    {0xC0, 0x00, "AAC"}, {0xC0, 0x40, "TC"}, {0xC0, 0x80, "ARQC"}, {0xC0, 0xC0, "RFU"}};
constexpr CodedValue kCryptogramReasons[] = {
    {0x08, 0x08, "advice required"},
    {0x07, 0x01, "service not allowed"},
    {0x07, 0x02, "PIN try limit exceeded"},
    {0x07, 0x03, "issuer authentication failed"},
};

// CVM Results (9F34): the method performed (byte 1, bits 6-1; bit 7 says
// whether a failure moves on to the next rule), its condition (byte 2) and
// the result (byte 3).
constexpr CodedValue kCvmMethods[] = {
    {0x3F, 0x00, "fail CVM processing"},
    {0x3F, 0x01, "plaintext PIN verification performed by ICC"},
    {0x3F, 0x02, "enciphered PIN verified online"},
    {0x3F, 0x03, "plaintext PIN verification performed by ICC and signature (paper)"},
    {0x3F, 0x04, "enciphered PIN verification performed by ICC"},
    {0x3F, 0x05, "enciphered PIN verification performed by ICC and signature (paper)"},
    {0x3F, 0x1E, "signature (paper)"},
    {0x3F, 0x1F, "no CVM required"},
    {0x3F, 0x3F, "no CVM performed"},
    {0x40, 0x40, "apply succeeding CV rule if this CVM is unsuccessful"},
};
constexpr CodedValue kCvmConditions[] = {
    {0xFF, 0x00, "condition: always"},
    {0xFF, 0x01, "condition: if unattended cash"},
    {0xFF, 0x02, "condition: if not unattended cash and not manual cash and not purchase with cashback"},
    {0xFF, 0x03, "condition: if terminal supports the CVM"},
    {0xFF, 0x04, "condition: if manual cash"},
    {0xFF, 0x05, "condition: if purchase with cashback"},
    {0xFF, 0x06, "condition: if transaction is in the application currency and is under X value"},
    {0xFF, 0x07, "condition: if transaction is in the application currency and is over X value"},
    {0xFF, 0x08, "condition: if transaction is in the application currency and is under Y value"},
    {0xFF, 0x09, "condition: if transaction is in the application currency and is over Y value"},
};
constexpr CodedValue kCvmResults[] = {
    {0xFF, 0x00, "result: unknown"}, {0xFF, 0x01, "result: failed"}, {0xFF, 0x02, "result: successful"}};

void AddBits(std::span<const BitName> table, std::span<const std::uint8_t> value, std::vector<std::string_view>& names) {
  for (const BitName& bit : table) {
    if (bit.byte <= value.size() && (value[bit.byte - 1u] & (1u << (bit.bit - 1u))) != 0) names.push_back(bit.name);
  }
}

void AddCoded(std::span<const CodedValue> table, std::uint8_t byte, std::vector<std::string_view>& names) {
  for (const CodedValue& coded : table) {
    if ((byte & coded.mask) == coded.value) names.push_back(coded.name);
  }
}

constexpr char kHex[] = "0123456789ABCDEF";

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (const std::uint8_t byte : bytes) {
    text += kHex[byte >> 4];
    text += kHex[byte & 0x0F];
  }
  return text;
}

}  // namespace

const TagInfo* FindTag(std::uint32_t tag) {
  const auto found = std::lower_bound(kSortedTags.begin(), kSortedTags.end(), tag,
                                      [](const TagInfo& info, std::uint32_t number) { return info.tag < number; });
  return found != kSortedTags.end() && found->tag == tag ? &*found : nullptr;
}

std::span<const TagInfo> Tags() { return kSortedTags; }

bool HasBitNames(std::uint32_t tag) {
  return tag == 0x95 || tag == 0x9B || tag == 0x82 || tag == 0x9F33 || tag == 0x9F27 || tag == 0x9F34;
}

std::vector<std::string_view> BitNames(std::uint32_t tag, std::span<const std::uint8_t> value) {
  std::vector<std::string_view> names;
  switch (tag) {
    case 0x95: AddBits(kTvrBits, value, names); break;
    case 0x9B: AddBits(kTsiBits, value, names); break;
    case 0x82: AddBits(kAipBits, value, names); break;
    case 0x9F33: AddBits(kTerminalCapabilityBits, value, names); break;
    case 0x9F27:
      if (!value.empty()) {
        AddCoded(kCryptogramTypes, value[0], names);
        AddCoded(kCryptogramReasons, value[0], names);
      }
      break;
    case 0x9F34:
      if (value.size() >= 1) AddCoded(kCvmMethods, value[0], names);
      if (value.size() >= 2) AddCoded(kCvmConditions, value[1], names);
      if (value.size() >= 3) AddCoded(kCvmResults, value[2], names);
      break;
    default: break;
  }
  return names;
}

std::string CommonCoreLayout(std::span<const std::uint8_t> value) {
  // 32 bytes: a length byte 0F and 15 bytes of card data, whose second
  // byte's high nibble A marks format A, then a length byte 0F and 15 bytes
  // for the issuer's own use.
  constexpr std::size_t kLength = 32;
  if (value.size() != kLength || value[0] != 0x0F || (value[1] >> 4) != 0x0A || value[16] != 0x0F) return {};
  const int version = value[1] & 0x0F;
  std::string text = "format A, cryptogram version ";
  text += kHex[version];
  text += version == 5 ? " (Triple DES)" : version == 6 ? " (AES)" : "";
  text += ", derivation key index " + Hex(value.subspan(2, 1));
  text += ", card verification results " + Hex(value.subspan(3, 5));
  text += ", counters " + Hex(value.subspan(8, 8));
  text += ", issuer discretionary data " + Hex(value.subspan(17));
  return text;
}

}  // namespace kalvrin::emv
