// The element table's buffers and its reset.
#include "iso/element_table.h"

#include <algorithm>
#include <bit>

#include "iso/char_scan.h"

namespace kalvrin {

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
    std::fill(def.buffer.begin(), def.buffer.end() - 1, ' ');
    def.buffer.back() = '\0';
  }
  presentBits_.fill(~std::uint64_t{0});  // so that Reset sets every element up this first time
  Reset();
}

namespace {
void Refill(ElementDef& def, const ElementLayout& layout) {
  // The steps write a character at a time with a NUL after it, and the
  // count taken only drops when a prefix turns into a length: nothing past
  // the larger of the two counts has left the spaces of the last reset.
  const auto written = static_cast<std::size_t>(std::max(def.taken, layout.prefixDigits)) + 1;
  FillBytes(def.buffer.data(), ' ', std::min(written, def.buffer.size() - 1));
  def.buffer.back() = '\0';
  def.maxLength = layout.maxLength;
  def.prefixDigits = layout.prefixDigits;
  def.length = def.maxLength;
  def.taken = 0;
  def.complete = 0;
}
}  // namespace

void ElementTable::Reset() {
  // The steps touch only present elements: the others are still as the
  // last reset left them.
  for (std::size_t word = 0; word < presentBits_.size(); ++word) {
    for (std::uint64_t bits = presentBits_[word]; bits != 0; bits &= bits - 1) {
      const auto element = static_cast<std::size_t>(64 * word) + static_cast<std::size_t>(std::countr_zero(bits)) + 1;
      Refill(defs_[element], kElementLayouts[element]);
    }
    presentBits_[word] = 0;
  }
}

}  // namespace kalvrin
