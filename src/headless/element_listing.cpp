// JSON and text views of decoded messages.
#include "headless/element_listing.h"

#include <array>
#include <charconv>
#include <cstdio>

#include "headless/surface_output.h"

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

// "P35", "S128": the element with the bitmap it belongs to.
std::string ElementLabel(int element) { return (element < 65 ? "P" : "S") + std::to_string(element); }

std::string Padded(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

std::string PaddedLeft(const std::string& text, std::size_t width) {
  return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

}  // namespace

void AppendMessageJson(std::string& line, int record, const DecodedMessage& message) {
  // `"name":` with the comma before every field but an object's first.
  const auto field = [&line](std::string_view name, bool first = false) {
    if (!first) line += ',';
    line += '"';
    line += name;
    line += "\":";
  };
  const auto number = [&line](std::int64_t value) {
    char digits[24];
    line.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
  };
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
    line += element.complete ? "true}" : "false}";
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

void WriteMessageListing(std::ostream& out, int record, const DecodedMessage& message) {
  out << "message " << record << " at " << OffsetText(message.span.offset) << ", " << message.span.bytes
      << " bytes, MTI " << Latin1ToUtf8(message.mti) << '\n';
  if (message.primarySpan.offset >= 0) {
    out << "  PMAP " << Latin1ToUtf8(message.primaryBitmap) << " at " << OffsetText(message.primarySpan.offset) << '\n';
  }
  if (message.secondarySpan.offset >= 0) {
    out << "  SMAP " << Latin1ToUtf8(message.secondaryBitmap) << " at " << OffsetText(message.secondarySpan.offset)
        << '\n';
  }
  for (const DecodedElement& element : message.elements) {
    std::string line = "  " + Padded(ElementLabel(element.number), 5) + Padded(std::string(FormatName(element.format)), 6);
    line += Padded(Latin1ToUtf8(element.prefix), 4) + PaddedLeft(std::to_string(element.length), 3);
    line += "  at " + Padded(OffsetText(element.span.offset), 24) + PaddedLeft(std::to_string(element.span.bytes), 4);
    line += " bytes  " + Latin1ToUtf8(element.value);
    if (!element.complete && message.stop == DecodeStop::EndOfFile) line += " (cut short)";
    out << line << '\n';
  }
  switch (message.stop) {
    case DecodeStop::Complete: break;
    case DecodeStop::BadPrefix:
      out << "  error: " << Latin1ToUtf8(message.error) << " at " << OffsetText(message.errorOffset) << '\n';
      break;
    case DecodeStop::EndOfFile: out << "  the file ends inside the message\n"; break;
    case DecodeStop::NoMessage: out << "  no message starts here\n"; break;
    case DecodeStop::CannotRead: out << "  the file cannot be read\n"; break;
  }
}

}  // namespace kalvrin
