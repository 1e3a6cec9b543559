// The framing rules' findings, worded with the values as the file holds them.
#include "verify/framing_rules.h"

#include <algorithm>
#include <string>

#include "iso/element_table.h"
#include "iso/format_rules.h"
#include "verify/finding_text.h"

namespace kalvrin::verify {

namespace {

void CheckBitmapCharacters(const ReadMessage& read, Reporter& report) {
  const BitmapFault& fault = read.bitmap;
  if (fault.firstIndex < 0) return;
  const DecodedMessage& message = read.decoded;
  const bool primary = fault.firstIndex < kBitmapLength;
  const int firstElement = 1 + 4 * (fault.firstIndex % kBitmapLength) + (primary ? 0 : 64);
  const bool lower =
      std::all_of(fault.characters.begin(), fault.characters.end(), [](char c) { return c >= 'a' && c <= 'f'; });
  report(Rule::BitmapChar, read.record, fault.offset, kNoElement,
         std::string(primary ? "primary" : "secondary") + " bitmap " +
             Quoted(primary ? message.primaryBitmap : message.secondaryBitmap) + " holds " + Quoted(fault.characters) +
             (lower ? ": lower-case digits mark no elements, so elements " : ": these mark no elements, so elements ") +
             std::to_string(firstElement) + "-" + std::to_string(firstElement + 3) + " are not read");
}

void CheckSecondaryBit(const ReadMessage& read, Reporter& report) {
  const DecodedMessage& message = read.decoded;
  if (message.primaryBitmap.size() == static_cast<std::size_t>(kBitmapLength) &&
      IsUpperHex(message.primaryBitmap[0]) && (BitmapBits(message.primaryBitmap[0]) & 8) == 0) {
    report(Rule::NoSecondaryBit, read.record, message.primarySpan.offset, kNoElement,
           "bit 1 of primary bitmap " + Quoted(message.primaryBitmap) + " is clear, yet the secondary bitmap " +
               Quoted(message.secondaryBitmap) + " follows");
  }
}

void CheckBadPrefix(const ReadMessage& read, Reporter& report) {
  const DecodedMessage& message = read.decoded;
  const DecodedElement& bad = message.elements.back();
  const ElementLayout layout = kElementLayouts[static_cast<std::size_t>(bad.number)];
  const bool digits = std::all_of(bad.prefix.begin(), bad.prefix.end(), IsDigit);
  report(Rule::BadPrefix, read.record, message.errorOffset, bad.number,
         "length prefix " + Quoted(bad.prefix) + " of " + ElementName(bad.number) +
             (digits ? " announces more than its maximum " + std::to_string(layout.maxLength)
                     : std::string(" is not a number")) +
             "; the format check stops here with \"" + message.error + "\"");
}

void CheckTruncated(const ReadMessage& read, Reporter& report) {
  const DecodedMessage& message = read.decoded;
  const DecodedElement* cut =
      message.elements.empty() || message.elements.back().complete ? nullptr : &message.elements.back();
  if (cut == nullptr) {
    report(Rule::Truncated, read.record, message.span.offset, kNoElement,
           "the file ends inside the MTI and bitmaps of this " + message.mti + " message");
    return;
  }
  report(Rule::Truncated, read.record, cut->span.offset >= 0 ? cut->span.offset : message.span.offset, cut->number,
         "the file ends inside " + ElementName(cut->number) + " of this " + message.mti + " message (" +
             std::to_string(cut->value.size()) + " of its " + std::to_string(cut->length) + " characters there)");
}

}  // namespace

void CheckFraming(const ReadMessage& message, Reporter& report) {
  CheckBitmapCharacters(message, report);
  CheckSecondaryBit(message, report);
  if (message.broken == MessageBreak::BadPrefix) CheckBadPrefix(message, report);
  if (message.broken == MessageBreak::Truncated) CheckTruncated(message, report);
}

void CheckStrayText(const StrayText& text, Reporter& report) {
  report(Rule::StrayText, text.afterRecord, text.offset, kNoElement,
         "text " + Quoted(text.text) + " after the message is neither padding nor a message");
}

}  // namespace kalvrin::verify
