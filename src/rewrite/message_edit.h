// One message of a test copy: its bytes as the input holds them and its
// decoded elements, edited. A value of the same length is written into the
// bytes in place, so line ends and other control characters inside the
// message stay where they are; a new, removed or resized element rebuilds
// the message around the bytes of the elements left as they were.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "iso/message_decoder.h"

namespace kalvrin::rewrite {

class EditedMessage {
 public:
  // `raw`: the file's bytes of the message's span.
  EditedMessage(const DecodedMessage& decoded, std::string raw, bool broken);

  const DecodedMessage& Decoded() const { return decoded_; }
  bool Broken() const { return broken_; }
  // The element's value, null when absent.
  const DecodedElement* Element(int number) const;

  // Sets an element's value (with its length prefix written as needed, and
  // its bitmap bit for a new element).
  void Set(int number, std::string_view value);
  // Removes the element and clears its bitmap bit; false when it was absent.
  bool Unset(int number);
  // Writes characters over the start of an element's value, whatever the
  // file holds of it (an element the file cuts short too); the value keeps
  // its length.
  void Overwrite(int number, std::string_view value);

  // The message's bytes as they are now.
  std::string Bytes() const;

 private:
  std::int64_t Relative(std::int64_t offset) const { return offset - decoded_.span.offset; }
  void WriteCharacters(std::int64_t from, std::size_t skip, std::string_view text);
  void SetBitmapBit(int number, bool present);

  DecodedMessage decoded_;  // values as they are now; an element with span.offset -1 is written from its value
  std::string raw_;
  std::vector<std::int64_t> fileStarts_;  // where each element of the file starts in raw_, in order
  bool broken_;
  bool rebuilt_ = false;  // an element was added, removed or changed its length
};

}  // namespace kalvrin::rewrite
