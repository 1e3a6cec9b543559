// The chip data rules.
#include "verify/emv_rules.h"

#include <algorithm>
#include <span>
#include <string>

#include "iso/emv_tlv.h"
#include "iso/format_rules.h"
#include "iso/iso_codes.h"
#include "iso/pan_mask.h"

namespace kalvrin::verify {

namespace {

using emv::TlvData;
using emv::TlvObject;

constexpr int kP55 = emv::kChipDataElement;

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

const DecodedElement* Complete(const DecodedMessage& message, int number) {
  for (const DecodedElement& element : message.elements) {
    if (element.number == number) return element.complete ? &element : nullptr;
  }
  return nullptr;
}

bool AllDigits(std::string_view text) { return !text.empty() && std::all_of(text.begin(), text.end(), IsDigit); }

std::string_view WithoutLeadingZeros(std::string_view digits) {
  const std::size_t first = digits.find_first_not_of('0');
  return first == std::string_view::npos ? digits.substr(digits.empty() ? 0 : digits.size() - 1) : digits.substr(first);
}

// Whether the value's leading BCD digits are exactly `digits`, without making
// a string of them: nearly every message agrees, and files hold millions.
bool LeadingDigitsAre(std::span<const std::uint8_t> value, std::string_view digits) {
  std::size_t at = 0;
  for (const std::uint8_t byte : value) {
    for (const int nibble : {byte >> 4, byte & 0x0F}) {
      if (nibble > 9) return at == digits.size();
      if (at == digits.size() || digits[at] != '0' + nibble) return false;
      ++at;
    }
  }
  return at == digits.size();
}

// What a chip data rule needs of one message.
struct Chip {
  const DecodedMessage& message;
  const TlvData& tlv;
  const std::function<void(ElementFault)>& report;
  bool mask;

  void Report(Rule rule, const TlvObject& object, bool atValue, std::string text,
              std::optional<std::string> declared = std::nullopt, std::optional<std::string> computed = std::nullopt) const {
    // an empty value has no character to point at: its tag stands for it
    const std::size_t at = atValue && object.length > 0 ? object.valueAt : object.at;
    report({rule, kP55, 2 * at, std::move(text), std::move(declared), std::move(computed)});
  }
  std::string Hex(const TlvObject& object) const { return emv::HexText(tlv.Value(object)); }
  std::string Shown(std::string_view pan) const { return mask ? MaskPan(pan) : std::string(pan); }
};

void CheckAmount(const Chip& chip, const DecodedElement& p4) {
  const TlvObject* amount = chip.tlv.Find(0x9F02);
  if (amount == nullptr || !AllDigits(p4.value)) return;
  const std::string digits = emv::LeadingDigits(chip.tlv.Value(*amount));
  if (digits.size() == 2 * amount->length && WithoutLeadingZeros(digits) == WithoutLeadingZeros(p4.value)) return;
  const std::string shown = chip.Hex(*amount);
  chip.Report(Rule::EmvAmount, *amount, true,
              "P55's amount authorised (9F02) " + Quoted(shown) + " is not P4's " + Quoted(p4.value), shown, p4.value);
}

void CheckCurrency(const Chip& chip, const DecodedElement& p49) {
  const TlvObject* currency = chip.tlv.Find(0x5F2A);
  if (currency == nullptr) return;
  const std::string_view numeric = AllDigits(p49.value) ? std::string_view(p49.value) : CurrencyNumeric(p49.value);
  if (numeric.empty()) return;  // no currency code at all: element.currency says so
  const std::string digits = emv::LeadingDigits(chip.tlv.Value(*currency));
  if (digits.size() == 2 * currency->length && WithoutLeadingZeros(digits) == WithoutLeadingZeros(numeric)) return;
  const std::string shown = chip.Hex(*currency);
  chip.Report(Rule::EmvCurrency, *currency, true,
              "P55's transaction currency code (5F2A) " + Quoted(shown) + " is not P49's " + Quoted(p49.value),
              shown, p49.value);
}

void CheckDate(const Chip& chip, const DecodedElement& p12) {
  const TlvObject* date = chip.tlv.Find(0x9A);
  if (date == nullptr || p12.value.size() < 6) return;
  const std::string shown = chip.Hex(*date);
  const std::string_view p12Date = std::string_view(p12.value).substr(0, 6);
  if (shown == p12Date) return;
  chip.Report(Rule::EmvDate, *date, true,
              "P55's transaction date (9A) " + Quoted(shown) + " is not P12's date " + Quoted(p12Date), shown,
              std::string(p12Date));
}

void CheckPan(const Chip& chip, const DecodedElement& p2) {
  for (const std::uint32_t tag : {0x5Au, 0x57u}) {
    const TlvObject* object = chip.tlv.Find(tag);
    if (object == nullptr || LeadingDigitsAre(chip.tlv.Value(*object), p2.value)) continue;
    const std::string card = emv::LeadingDigits(chip.tlv.Value(*object));
    const std::string where = tag == 0x5A ? "P55's card number (5A) " : "the card number in P55's track 2 data (57) ";
    chip.Report(Rule::EmvPan, *object, true,
                where + Quoted(chip.Shown(card)) + " is not P2's " + Quoted(chip.Shown(p2.value)), chip.Shown(card),
                chip.Shown(p2.value));
  }
}

void CheckCryptogram(const Chip& chip) {
  const TlvObject* information = chip.tlv.Find(0x9F27);
  if (information == nullptr) return;
  if (chip.tlv.Find(0x9F26) == nullptr) {
    chip.Report(Rule::EmvCryptogram, *information, false,
                "P55 has cryptogram information (9F27) but no application cryptogram (9F26)");
  }
  const auto value = chip.tlv.Value(*information);
  const DecodedElement* p39 = Complete(chip.message, 39);
  if (value.empty() || (value[0] & 0xC0) != 0x00 || p39 == nullptr) return;
  // an action code of 000-099 approves
  if (p39->value.size() != 3 || p39->value[0] != '0' || !AllDigits(p39->value)) return;
  chip.Report(Rule::EmvCryptogram, *information, true,
              "P55's cryptogram information (9F27) " + Quoted(chip.Hex(*information)) +
                  " marks an AAC (declined), but P39 " + Quoted(p39->value) + " says approved");
}

constexpr Rule kChipRules[] = {Rule::EmvTlv,  Rule::EmvAmount, Rule::EmvCurrency,
                               Rule::EmvDate, Rule::EmvPan,    Rule::EmvCryptogram};

}  // namespace

void CheckChipData(const DecodedMessage& message, const RuleSet& rules,
                   const std::function<void(ElementFault)>& report, bool maskCardNumbers) {
  const DecodedElement* p55 = Complete(message, kP55);
  if (p55 == nullptr || std::none_of(std::begin(kChipRules), std::end(kChipRules),
                                     [&rules](Rule rule) { return rules.Enabled(rule); })) {
    return;
  }
  // one per thread, its buffers reused: reading chip data allocates nothing
  // per message
  thread_local TlvData tlv;
  emv::DecodeTlv(p55->value, tlv);
  const Chip chip{message, tlv, report, maskCardNumbers};
  if (!tlv.WellFormed()) {
    // one fault, one finding: past a fault the objects may be misread, and
    // what was read before it is not judged either
    if (rules.Enabled(Rule::EmvTlv)) {
      report({Rule::EmvTlv, kP55, tlv.errorIndex, "P55 is not well-formed EMV data: " + tlv.error, std::nullopt,
              std::nullopt});
    }
    return;
  }
  if (const DecodedElement* p4 = Complete(message, 4); p4 != nullptr && rules.Enabled(Rule::EmvAmount)) {
    CheckAmount(chip, *p4);
  }
  if (const DecodedElement* p49 = Complete(message, 49); p49 != nullptr && rules.Enabled(Rule::EmvCurrency)) {
    CheckCurrency(chip, *p49);
  }
  if (const DecodedElement* p12 = Complete(message, 12); p12 != nullptr && rules.Enabled(Rule::EmvDate)) {
    CheckDate(chip, *p12);
  }
  if (const DecodedElement* p2 = Complete(message, 2); p2 != nullptr && rules.Enabled(Rule::EmvPan)) {
    CheckPan(chip, *p2);
  }
  if (rules.Enabled(Rule::EmvCryptogram)) CheckCryptogram(chip);
}

}  // namespace kalvrin::verify
