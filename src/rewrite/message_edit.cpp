// In-place and rebuilding edits of one message.
#include "rewrite/message_edit.h"

#include <algorithm>

#include "iso/element_table.h"
#include "iso/format_rules.h"

namespace kalvrin::rewrite {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr int kSecondaryBitmapElement = 1;
constexpr int kFirstSecondaryElement = 65;

std::string PrefixOf(int number, std::size_t length) {
  const auto digits = static_cast<std::size_t>(kElementLayouts[static_cast<std::size_t>(number)].prefixDigits);
  if (digits == 0) return {};
  std::string prefix = std::to_string(length);
  prefix.insert(0, digits > prefix.size() ? digits - prefix.size() : 0, '0');
  return prefix;
}

ElementFormat FormatOf(int number) {
  const std::int32_t digits = kElementLayouts[static_cast<std::size_t>(number)].prefixDigits;
  return digits == 2 ? ElementFormat::LL : digits == 3 ? ElementFormat::LLL : ElementFormat::Fixed;
}

}  // namespace

EditedMessage::EditedMessage(const DecodedMessage& decoded, std::string raw, bool broken)
    : decoded_(decoded), raw_(std::move(raw)), broken_(broken) {
  for (const DecodedElement& element : decoded_.elements) fileStarts_.push_back(Relative(element.span.offset));
}

const DecodedElement* EditedMessage::Element(int number) const {
  for (const DecodedElement& element : decoded_.elements) {
    if (element.number == number) return &element;
  }
  return nullptr;
}

// `text` over the characters from `from` on, `skip` characters left out
// first; control characters in between keep their place.
void EditedMessage::WriteCharacters(std::int64_t from, std::size_t skip, std::string_view text) {
  std::size_t index = 0;
  for (auto at = static_cast<std::size_t>(std::max<std::int64_t>(0, Relative(from)));
       at < raw_.size() && index < text.size(); ++at) {
    if (IsControl(raw_[at])) continue;
    if (skip > 0) {
      --skip;
      continue;
    }
    raw_[at] = text[index++];
  }
}

void EditedMessage::SetBitmapBit(int number, bool present) {
  const int bit = number - 1;
  const bool secondary = bit >= 64;
  std::string& bitmap = secondary ? decoded_.secondaryBitmap : decoded_.primaryBitmap;
  const FileSpan& span = secondary ? decoded_.secondarySpan : decoded_.primarySpan;
  const auto digit = static_cast<std::size_t>((bit % 64) / 4);
  if (digit >= bitmap.size()) return;
  const int mask = 8 >> (bit % 4);
  int bits = BitmapBits(bitmap[digit]);
  bits = present ? (bits | mask) : (bits & ~mask);
  bitmap[digit] = kHexDigits[bits];
  WriteCharacters(span.offset, digit, std::string_view(&bitmap[digit], 1));
}

void EditedMessage::Overwrite(int number, std::string_view value) {
  for (DecodedElement& element : decoded_.elements) {
    if (element.number != number) continue;
    const std::size_t length = std::min(value.size(), element.value.size());
    element.value.replace(0, length, value.substr(0, length));
    if (element.span.offset >= 0) WriteCharacters(element.span.offset, element.prefix.size(), value.substr(0, length));
    return;
  }
}

void EditedMessage::Set(int number, std::string_view value) {
  auto it = std::find_if(decoded_.elements.begin(), decoded_.elements.end(),
                         [number](const DecodedElement& e) { return e.number >= number; });
  if (it != decoded_.elements.end() && it->number == number) {
    if (it->complete && it->span.offset >= 0 && it->value.size() == value.size()) {
      Overwrite(number, value);
      return;
    }
    it->value = value;
    it->prefix = PrefixOf(number, value.size());
    it->length = static_cast<std::int32_t>(value.size());
    it->complete = true;
    it->span.offset = -1;
    rebuilt_ = true;
    return;
  }
  DecodedElement element;
  element.number = number;
  element.format = FormatOf(number);
  element.prefix = PrefixOf(number, value.size());
  element.length = static_cast<std::int32_t>(value.size());
  element.value = value;
  element.complete = true;
  decoded_.elements.insert(it, std::move(element));
  SetBitmapBit(number, true);
  if (number >= kFirstSecondaryElement) SetBitmapBit(kSecondaryBitmapElement, true);
  rebuilt_ = true;
}

bool EditedMessage::Unset(int number) {
  auto it = std::find_if(decoded_.elements.begin(), decoded_.elements.end(),
                         [number](const DecodedElement& e) { return e.number == number; });
  if (it == decoded_.elements.end()) return false;
  decoded_.elements.erase(it);
  SetBitmapBit(number, false);
  rebuilt_ = true;
  return true;
}

// The bytes before the file's first element as they are (the bitmaps edited
// in place), then each element: its own bytes and the control characters
// after it when unchanged, its prefix and value when written anew. The bytes
// of a removed element go with it.
std::string EditedMessage::Bytes() const {
  if (!rebuilt_) return raw_;
  const auto size = static_cast<std::int64_t>(raw_.size());
  const std::int64_t first = fileStarts_.empty() ? size : fileStarts_.front();
  std::string bytes = raw_.substr(0, static_cast<std::size_t>(first));
  for (const DecodedElement& element : decoded_.elements) {
    if (element.span.offset < 0) {
      bytes += element.prefix;
      bytes += element.value;
      continue;
    }
    const std::int64_t start = Relative(element.span.offset);
    const auto next = std::upper_bound(fileStarts_.begin(), fileStarts_.end(), start);
    const std::int64_t end = next == fileStarts_.end() ? std::max(size, start) : *next;
    bytes.append(raw_, static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
  }
  return bytes;
}

}  // namespace kalvrin::rewrite
