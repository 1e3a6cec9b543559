// JSON and text views of decoded messages.
#include "headless/element_listing.h"

#include <algorithm>

#include "decimal_text.h"
#include "headless/surface_output.h"
#include "io/transaction_file.h"
#include "iso/grid_csv.h"

namespace kalvrin {

namespace {

constexpr std::string_view StopName(DecodeStop stop) {
  switch (stop) {
    case DecodeStop::Complete: return "complete";
    case DecodeStop::BadPrefix: return "bad prefix";
    case DecodeStop::EndOfFile: return "end of file";
    case DecodeStop::NoMessage: return "no message";
    case DecodeStop::CannotRead: return "cannot read";
  }
  return "complete";
}

// Spaces after what `out` holds from `from` on, up to `width` bytes of it.
void PadFrom(std::string& out, std::size_t from, std::size_t width) {
  if (out.size() - from < width) out.append(width - (out.size() - from), ' ');
}

void AppendPaddedLeft(std::string& out, std::string_view text, std::size_t width) {
  if (text.size() < width) out.append(width - text.size(), ' ');
  out += text;
}

// `"name":` with the comma before every field but an object's first.
void AppendField(std::string& line, std::string_view name, bool first = false) {
  if (!first) line += ',';
  line += '"';
  line += name;
  line += "\":";
}

void AppendNumber(std::string& line, std::int64_t value) { line += DecimalText(value).view(); }

// The objects from `at` on that stand at `depth`, each with those inside it;
// gives the index of the first object after them.
std::size_t AppendTlvJson(std::string& line, const ChipListing& chip, std::size_t at, int depth) {
  const std::vector<emv::TlvObject>& objects = chip.tlv.objects;
  line += '[';
  for (bool first = true; at < objects.size() && objects[at].depth == depth; first = false) {
    const emv::TlvObject& object = objects[at++];
    if (!first) line += ',';
    line += '{';
    AppendField(line, "tag", true);
    AppendJsonText(line, emv::TagText(object.tag));
    AppendField(line, "name");
    AppendJsonText(line, emv::TagName(object.tag));
    AppendField(line, "length");
    AppendNumber(line, static_cast<std::int64_t>(object.length));
    AppendField(line, "value");
    AppendJsonText(line, emv::ShownValue(chip.tlv, object, chip.maskCardData));
    AppendField(line, "offset");
    AppendNumber(line, chip.OffsetOf(2 * object.at));
    if (emv::HasBitNames(object.tag)) {
      AppendField(line, "bits");
      line += '[';
      bool firstBit = true;
      for (const std::string_view name : emv::BitNames(object.tag, chip.tlv.Value(object))) {
        if (!firstBit) line += ',';
        firstBit = false;
        AppendJsonText(line, name);
      }
      line += ']';
    }
    if (object.constructed) {
      AppendField(line, "tlv");
      at = AppendTlvJson(line, chip, at, depth + 1);
    }
    line += '}';
  }
  line += ']';
  return at;
}

void AppendChipJson(std::string& line, const ChipListing& chip) {
  AppendField(line, "tlv");
  AppendTlvJson(line, chip, 0, 0);
  if (!chip.tlv.WellFormed()) {
    AppendField(line, "error");
    AppendJsonText(line, chip.tlv.error);
    AppendField(line, "errorOffset");
    AppendNumber(line, chip.OffsetOf(chip.tlv.errorIndex));
  }
}

void AppendChipListing(std::string& out, const ChipListing& chip) {
  for (const emv::TlvObject& object : chip.tlv.objects) {
    out.append(6 + 2 * static_cast<std::size_t>(object.depth), ' ');
    const std::size_t from = out.size();
    out += emv::TagText(object.tag);
    PadFrom(out, from, 6);
    out += ' ';
    out += emv::TagName(object.tag);
    out += ", ";
    out += DecimalText(static_cast<std::int64_t>(object.length)).view();
    out += object.length == 1 ? " byte at " : " bytes at ";
    AppendOffsetText(out, chip.OffsetOf(2 * object.at));
    if (!object.constructed) {
      out += ": ";
      AppendPrintable(out, emv::ShownValue(chip.tlv, object, chip.maskCardData));
    }
    out += '\n';
    if (!emv::HasBitNames(object.tag)) continue;
    for (const std::string_view name : emv::BitNames(object.tag, chip.tlv.Value(object))) {
      out.append(10 + 2 * static_cast<std::size_t>(object.depth), ' ');
      out += "- ";
      out += name;
      out += '\n';
    }
  }
  if (!chip.tlv.WellFormed()) {
    out += "      error: ";
    AppendPrintable(out, chip.tlv.error);
    out += " at ";
    AppendOffsetText(out, chip.OffsetOf(chip.tlv.errorIndex));
    out += '\n';
  }
}

}  // namespace

std::int64_t ChipListing::OffsetOf(std::size_t index) const {
  if (index < offsets.size()) return offsets[index];
  return offsets.empty() ? -1 : offsets.back() + 1;
}

std::optional<ChipListing> ReadChipListing(const DecodedMessage& message, MessageReader& reader, bool maskCardData) {
  const auto p55 = std::find_if(message.elements.begin(), message.elements.end(),
                                [](const DecodedElement& e) { return e.number == emv::kChipDataElement; });
  if (p55 == message.elements.end()) return std::nullopt;
  return ChipListing{emv::DecodeTlv(p55->value), ValueOffsets(*p55, reader), maskCardData};
}

void AppendMessageJson(std::string& line, int record, const DecodedMessage& message, const ChipListing* chip) {
  // `"name":` with the comma before every field but an object's first.
  const auto field = [&line](std::string_view name, bool first = false) {
    if (!first) line += ',';
    line += '"';
    line += name;
    line += "\":";
  };
  const auto number = [&line](std::int64_t value) { line += DecimalText(value).view(); };
  line += '{';
  field("record", true);
  number(record);
  field("offset");
  number(message.span.offset);
  field("bytes");
  number(message.span.bytes);
  field("mti");
  AppendJsonText(line, message.mti);
  field("primaryBitmap");
  AppendJsonText(line, message.primaryBitmap);
  field("secondaryBitmap");
  AppendJsonText(line, message.secondaryBitmap);
  field("elements");
  line += '[';
  for (std::size_t at = 0; at < message.elements.size(); ++at) {
    const DecodedElement& element = message.elements[at];
    if (at > 0) line += ',';
    line += '{';
    field("element", true);
    number(element.number);
    field("format");
    AppendJsonText(line, FormatName(element.format));
    field("prefix");
    AppendJsonText(line, element.prefix);
    field("length");
    number(element.length);
    field("value");
    AppendJsonText(line, element.value);
    field("offset");
    number(element.span.offset);
    field("bytes");
    number(element.span.bytes);
    field("complete");
    line += element.complete ? "true" : "false";
    if (chip != nullptr && element.number == emv::kChipDataElement) AppendChipJson(line, *chip);
    line += '}';
  }
  line += ']';
  field("stop");
  AppendJsonText(line, StopName(message.stop));
  if (!message.error.empty()) {
    field("error");
    AppendJsonText(line, message.error);
  }
  if (message.errorOffset >= 0) {
    field("errorOffset");
    number(message.errorOffset);
  }
  line += '}';
}

void AppendMessageListing(std::string& out, int record, const DecodedMessage& message, const ChipListing* chip) {
  out += "message ";
  out += DecimalText(record).view();
  out += " at ";
  AppendOffsetText(out, message.span.offset);
  out += ", ";
  out += DecimalText(message.span.bytes).view();
  out += " bytes, MTI ";
  AppendPrintable(out, message.mti);
  out += '\n';
  if (message.primarySpan.offset >= 0) {
    out += "  PMAP ";
    AppendPrintable(out, message.primaryBitmap);
    out += " at ";
    AppendOffsetText(out, message.primarySpan.offset);
    out += '\n';
  }
  if (message.secondarySpan.offset >= 0) {
    out += "  SMAP ";
    AppendPrintable(out, message.secondaryBitmap);
    out += " at ";
    AppendOffsetText(out, message.secondarySpan.offset);
    out += '\n';
  }
  for (const DecodedElement& element : message.elements) {
    out += "  ";
    std::size_t from = out.size();
    out += element.number < 65 ? 'P' : 'S';  // the element with the bitmap it belongs to: "P35", "S128"
    out += DecimalText(element.number).view();
    PadFrom(out, from, 5);
    from = out.size();
    out += FormatName(element.format);
    PadFrom(out, from, 6);
    from = out.size();
    AppendPrintable(out, element.prefix);
    PadFrom(out, from, 4);
    AppendPaddedLeft(out, DecimalText(element.length).view(), 3);
    out += "  at ";
    from = out.size();
    AppendOffsetText(out, element.span.offset);
    PadFrom(out, from, 24);
    AppendPaddedLeft(out, DecimalText(element.span.bytes).view(), 4);
    out += " bytes  ";
    AppendPrintable(out, element.value);
    if (!element.complete && message.stop == DecodeStop::EndOfFile) out += " (cut short)";
    out += '\n';
    if (chip != nullptr && element.number == emv::kChipDataElement) AppendChipListing(out, *chip);
  }
  switch (message.stop) {
    case DecodeStop::Complete: break;
    case DecodeStop::BadPrefix:
      out += "  error: ";
      AppendPrintable(out, message.error);
      out += " at ";
      AppendOffsetText(out, message.errorOffset);
      out += '\n';
      break;
    case DecodeStop::EndOfFile: out += "  the file ends inside the message\n"; break;
    case DecodeStop::NoMessage: out += "  no message starts here\n"; break;
    case DecodeStop::CannotRead: out += "  the file cannot be read\n"; break;
  }
}

}  // namespace kalvrin
