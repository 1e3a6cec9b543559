// The rule table.
#include "verify/rules.h"

#include <algorithm>

namespace kalvrin::verify {

namespace {
constexpr Severity E = Severity::Error;
constexpr Severity W = Severity::Warning;
}  // namespace

const std::array<RuleInfo, kRuleCount> kRules = {{
    {Rule::MacHeader, "envelope.mac-header", E,
     "the file is shorter than 60 bytes, or the MAC header record's method (byte 41) is not a digit, its version "
     "(42-43) not two digits or its key check value (44-51) not eight hex digits"},
    {Rule::FileHeader, "envelope.file-header", E,
     "the first digit after the MAC header record does not begin a 1644 message"},
    {Rule::TrailerMissing, "envelope.trailer-missing", E, "no 1844 message with function code 971"},
    {Rule::TrailerNotLast, "envelope.trailer-not-last", E,
     "a message follows the trailer, or a second trailer stands in the file"},
    {Rule::TrailerMac, "envelope.trailer-mac", E,
     "the trailer's S128 is not eight hex digits, or its P24 and S128 do not stand 36 and 47 bytes after its MTI, "
     "where the MAC check reads them"},
    {Rule::KcvMismatch, "envelope.kcv-mismatch", W,
     "the file header's P53 (method, version, key check value) differs from the MAC header record's"},
    {Rule::BadPrefix, "message.bad-prefix", E,
     "a length prefix that is not all digits or announces more than the element's maximum"},
    {Rule::Truncated, "message.truncated", E, "the file ends inside a message"},
    {Rule::BitmapChar, "message.bitmap-char", E,
     "a bitmap character that is not 0-9 or A-F (lower-case a-f mark no elements)"},
    {Rule::NoSecondaryBit, "message.no-secondary-bit", W,
     "bit 1 of the primary bitmap is clear, though a secondary bitmap always follows"},
    {Rule::StrayText, "message.stray-text", W,
     "characters other than spaces and line ends between two complete messages or after the last"},
    {Rule::NotNumeric, "element.not-numeric", E,
     "P3-P7, P11-P14, P17, P24-P26, S71 or S74-S90 holds a character other than 0-9"},
    {Rule::Date, "element.date", E,
     "P7, P12, P13, P14 or P17 is not a calendar date or time of day"},
    {Rule::PanLuhn, "element.pan-luhn", W, "P2 is not all digits or fails the Luhn check"},
    {Rule::Currency, "element.currency", W, "P49, P50 or P51 is not an ISO 4217 currency code"},
    {Rule::Track2Mismatch, "element.track2-mismatch", W,
     "P35's card number differs from P2, or its expiry date from P14"},
    {Rule::MessageNumber, "batch.message-number", W,
     "S71 is not the previous message's plus 1 (a wrong number, or messages missing)"},
    {Rule::Duplicate, "batch.duplicate", W,
     "a 1140, 1240 or 1440 with the same MTI, P2, P11, P12 and P37 as an earlier one"},
    {Rule::Totals, "batch.totals", E,
     "a reconciliation total (S74-S77, S81, S86-S89) differs from the one computed over the transactions"},
    {Rule::MacKcv, "mac.kcv", E, "with --key: the key's check value differs from the MAC header record's"},
    {Rule::MacMismatch, "mac.mismatch", E,
     "with --key: the declared MAC equals none of MACALL, MACNHD and MACNSP"},
    {Rule::EmvTlv, "emv.tlv", W,
     "P55 is not well-formed EMV data (BER-TLV in hex): the finding names the fault and its byte; the other emv "
     "rules then do not judge it"},
    {Rule::EmvAmount, "emv.amount", E, "P55's amount authorised (9F02) differs from P4"},
    {Rule::EmvCurrency, "emv.currency", E,
     "P55's transaction currency code (5F2A) differs from P49 (an alphabetic P49 read as its numeric code)"},
    {Rule::EmvDate, "emv.date", W, "P55's transaction date (9A, YYMMDD) differs from P12's date"},
    {Rule::EmvPan, "emv.pan", E, "the card number in P55's 5A, or in its 57 before the separator D, differs from P2"},
    {Rule::EmvCryptogram, "emv.cryptogram", W,
     "P55's 9F27 marks an AAC (declined) while P39 says approved (000-099), or P55 has 9F27 but no cryptogram (9F26)"},
}};

const RuleInfo& InfoOf(Rule rule) { return kRules[static_cast<std::size_t>(rule)]; }

std::optional<Rule> RuleById(std::string_view id) {
  const auto found = std::find_if(kRules.begin(), kRules.end(), [id](const RuleInfo& info) { return info.id == id; });
  if (found == kRules.end()) return std::nullopt;
  return found->rule;
}

}  // namespace kalvrin::verify
