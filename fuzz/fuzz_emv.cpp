// P55 as arbitrary text: the EMV reader, every view of its values, the
// masking of card data, the --elements JSON and text of a message holding
// it, and the chip data rules. No crash, every JSON output parses, every
// position stays inside the element.
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz_support.h"
#include "headless/element_listing.h"
#include "iso/emv_tlv.h"
#include "iso/pan_mask.h"
#include "verify/emv_rules.h"

namespace kalvrin::fuzz {
namespace {

constexpr std::int64_t kValueOffset = 1000;  // where the value's first character stands in the made-up file

// Every object's offsets inside the listing's JSON, at any depth.
void CheckOffsets(const nlohmann::json& objects, std::int64_t end) {
  FUZZ_CHECK(objects.is_array());
  for (const nlohmann::json& object : objects) {
    const std::int64_t offset = object.at("offset").get<std::int64_t>();
    FUZZ_CHECK(offset >= kValueOffset && offset < end);
    FUZZ_CHECK(object.at("length").get<std::int64_t>() >= 0);
    if (object.contains("tlv")) CheckOffsets(object["tlv"], end);
  }
}

void Run(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const emv::TlvData tlv = emv::DecodeTlv(text);
  FUZZ_CHECK(tlv.bytes.size() <= text.size() / 2);
  if (!tlv.WellFormed()) FUZZ_CHECK(tlv.errorIndex < text.size());
  for (const emv::TlvObject& object : tlv.objects) {
    FUZZ_CHECK(object.at < object.valueAt && object.valueAt + object.length <= tlv.bytes.size());
    FUZZ_CHECK(object.depth >= 0);
    (void)emv::ValueText(tlv, object);
    (void)emv::ShownValue(tlv, object, true);
    (void)emv::BitNames(object.tag, tlv.Value(object));
  }
  const std::string masked = emv::MaskChipData(text);
  FUZZ_CHECK(masked.size() == text.size());
  for (std::size_t i = 0; i < text.size(); ++i) FUZZ_CHECK(masked[i] == text[i] || masked[i] == kMaskCharacter);

  DecodedMessage message;
  message.mti = "1240";
  message.elements.push_back({2, ElementFormat::LL, "16", 16, "4761739001010119", {}, true});
  message.elements.push_back({4, ElementFormat::Fixed, "", 12, "000000012345", {}, true});
  message.elements.push_back({39, ElementFormat::Fixed, "", 3, "000", {}, true});
  message.elements.push_back({49, ElementFormat::Fixed, "", 3, "EUR", {}, true});
  message.elements.push_back({55, ElementFormat::LLL, "000", static_cast<std::int32_t>(size), text,
                              {kValueOffset - 3, static_cast<std::int64_t>(size) + 3}, true});
  ChipListing chip{tlv, {}, size % 2 == 0};
  for (std::size_t i = 0; i < size; ++i) chip.offsets.push_back(kValueOffset + static_cast<std::int64_t>(i));
  std::string line;
  AppendMessageJson(line, 1, message, &chip);
  FUZZ_CHECK(nlohmann::json::accept(line));
  const nlohmann::json json = nlohmann::json::parse(line);
  const nlohmann::json& p55 = json["elements"].back();
  const std::int64_t end = kValueOffset + static_cast<std::int64_t>(size);
  CheckOffsets(p55.at("tlv"), end);
  if (p55.contains("errorOffset")) {
    const std::int64_t at = p55["errorOffset"].get<std::int64_t>();
    FUZZ_CHECK(at >= kValueOffset && at < end);
  }
  std::string listing;
  AppendMessageListing(listing, 1, message, &chip);
  FUZZ_CHECK(!listing.empty() && listing.back() == '\n');

  verify::RuleSet rules;
  verify::CheckChipData(message, rules, [size](verify::ElementFault fault) {
    FUZZ_CHECK(fault.element == 55);
    FUZZ_CHECK(fault.index < size);
    FUZZ_CHECK(!fault.message.empty());
  }, size % 3 == 0);
}

}  // namespace
}  // namespace kalvrin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kalvrin::fuzz::Run(data, size);
  return 0;
}
