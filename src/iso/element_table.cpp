// The element table's buffers and its reset.
#include "iso/element_table.h"

#include <algorithm>
#include <cstring>

namespace kalvrin {

std::string_view ElementDef::Text() const {
  const void* nul = std::memchr(buffer.data(), '\0', buffer.size());
  const std::size_t size = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - buffer.data()) : buffer.size();
  return {buffer.data(), size};
}

namespace {
void FillWithSpaces(ElementDef& def) {
  std::fill(def.buffer.begin(), def.buffer.end() - 1, ' ');
  def.buffer.back() = '\0';
}
}  // namespace

ElementTable::ElementTable() {
  // One block holds every element's buffer, so a message never allocates.
  std::size_t total = 0;
  for (int element = 1; element <= kElementCount; ++element) total += static_cast<std::size_t>(kElementLayouts[element].maxLength) + 1;
  storage_.resize(total);
  std::size_t offset = 0;
  for (int element = 1; element <= kElementCount; ++element) {
    ElementDef& def = (*this)[element];
    const auto size = static_cast<std::size_t>(kElementLayouts[element].maxLength) + 1;
    def.buffer = std::span<char>(storage_.data() + offset, size);
    offset += size;
    def.present = 1;  // so that Reset fills every buffer this first time
  }
  Reset();
}

void ElementTable::Reset() {
  for (int element = 1; element <= kElementCount; ++element) {
    ElementDef& def = (*this)[element];
    // The steps touch only present elements: the others are still as the
    // last reset left them.
    if (def.present == 0) continue;
    FillWithSpaces(def);
    def.maxLength = kElementLayouts[element].maxLength;
    def.prefixDigits = kElementLayouts[element].prefixDigits;
    def.length = def.maxLength;
    def.taken = 0;
    def.present = 0;
    def.complete = 0;
  }
}

}  // namespace kalvrin
