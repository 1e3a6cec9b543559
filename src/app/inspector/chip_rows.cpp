// P55's child rows in the inspector.
#include "app/inspector/chip_rows.h"

#include <algorithm>
#include <string>

#include "iso/emv_tlv.h"

namespace kalvrin {

namespace {

// The file bytes of the value's characters [first, end).
FileSpan SpanOf(const std::vector<std::int64_t>& offsets, std::size_t first, std::size_t end) {
  if (offsets.empty() || first >= offsets.size()) return {};
  end = std::min(end, offsets.size());
  return {offsets[first], end > first ? offsets[end - 1] + 1 - offsets[first] : 0};
}

}  // namespace

void AddChipDataRows(std::vector<InspectedPart>& parts, const DecodedMessage& message, MessageReader& reader,
                     bool maskCardNumbers) {
  const auto p55 = std::find_if(message.elements.begin(), message.elements.end(),
                                [](const DecodedElement& e) { return e.number == emv::kChipDataElement; });
  const auto row = std::find_if(parts.begin(), parts.end(),
                                [](const InspectedPart& p) { return p.part == emv::kChipDataElement; });
  if (p55 == message.elements.end() || row == parts.end()) return;
  const emv::TlvData tlv = emv::DecodeTlv(p55->value);
  const std::vector<std::int64_t> offsets = ValueOffsets(*p55, reader);
  std::vector<InspectedPart> rows;
  for (const emv::TlvObject& object : tlv.objects) {
    const std::string indent(2 + 2 * static_cast<std::size_t>(object.depth), ' ');
    const std::size_t end = 2 * (object.valueAt + object.length);
    rows.push_back({kChipDataPart, indent + emv::TagText(object.tag), std::string(emv::TagName(object.tag)), "EMV tag",
                    {}, std::to_string(object.length),
                    object.constructed ? std::string() : emv::ShownValue(tlv, object, maskCardNumbers),
                    SpanOf(offsets, 2 * object.at, end)});
    if (!emv::HasBitNames(object.tag)) continue;
    for (const std::string_view name : emv::BitNames(object.tag, tlv.Value(object))) {
      rows.push_back({kChipDataPart, indent + "  bit", std::string(name), {}, {}, {}, {},
                      SpanOf(offsets, 2 * object.valueAt, end)});
    }
  }
  if (!tlv.WellFormed()) {
    rows.push_back({kChipDataPart, "  error", tlv.error, {}, {}, {}, {},
                    SpanOf(offsets, tlv.errorIndex, tlv.errorIndex + 1)});
  }
  parts.insert(row + 1, rows.begin(), rows.end());
}

}  // namespace kalvrin
