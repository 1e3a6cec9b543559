// The message decoder: a small state machine over the file from one offset,
// one character at a time, with the format check's table and rules.
#include "iso/message_decoder.h"

#include <algorithm>
#include <array>

#include "io/transaction_file.h"
#include "iso/element_table.h"
#include "iso/format_rules.h"

namespace kalvrin {

namespace {

constexpr std::size_t kWindowSize = 64 * 1024;

ElementFormat FormatOf(std::int32_t prefixDigits) {
  if (prefixDigits == 2) return ElementFormat::LL;
  if (prefixDigits == 3) return ElementFormat::LLL;
  return ElementFormat::Fixed;
}

// A character that reached the decoder and where the file holds it.
struct Placed {
  char c = 0;
  std::int64_t offset = -1;  // -1: the file ends (or cannot be read) first
};

// Walks the file from the message's first byte, skipping control
// characters, and takes the message apart in the format check's order.
class Decoder {
 public:
  Decoder(MessageReader& reader, std::int64_t offset) : reader_(reader), next_(offset) {
    message_.span.offset = offset;
  }

  DecodedMessage Run() {
    if (ReadMti() && ReadBitmap(message_.primaryBitmap, message_.primarySpan, 0) &&
        ReadBitmap(message_.secondaryBitmap, message_.secondarySpan, 1)) {
      ReadElements();
    }
    return std::move(message_);
  }

 private:
  Placed Next() {
    for (;;) {
      const int byte = reader_.ByteAt(next_);
      if (byte < 0) return {};
      const std::int64_t at = next_++;
      if (!IsControl(static_cast<char>(byte))) return {static_cast<char>(byte), at};
    }
  }

  // Extends the message to the byte at `offset`.
  void Reach(std::int64_t offset) { message_.span.bytes = offset + 1 - message_.span.offset; }

  bool Ended(DecodeStop stop) {
    message_.stop = reader_.ReadFailed() ? DecodeStop::CannotRead : stop;
    if (message_.stop == DecodeStop::EndOfFile) message_.errorOffset = reader_.FileSize();
    return false;
  }

  // Takes `count` characters into `text`; false when the file ends first.
  bool Take(int count, std::string& text, FileSpan& span) {
    for (int i = 0; i < count; ++i) {
      const Placed placed = Next();
      if (placed.offset < 0) return Ended(DecodeStop::EndOfFile);
      if (span.offset < 0) span.offset = placed.offset;
      span.bytes = placed.offset + 1 - span.offset;
      Reach(placed.offset);
      text.push_back(placed.c);
    }
    return true;
  }

  // Four digits, one of the six message types, the first at the offset itself.
  bool ReadMti() {
    if (!Take(kMtiLength, message_.mti, message_.mtiSpan)) {
      // Fewer than four characters left: no message starts here.
      if (message_.stop == DecodeStop::EndOfFile) {
        message_.stop = DecodeStop::NoMessage;
        message_.errorOffset = -1;
      }
      return false;
    }
    const bool digits = std::all_of(message_.mti.begin(), message_.mti.end(), IsDigit);
    if (message_.mtiSpan.offset != message_.span.offset || !digits || !IsMessageType(TextToNumber(message_.mti))) {
      message_.stop = DecodeStop::NoMessage;
      return false;
    }
    return true;
  }

  bool ReadBitmap(std::string& text, FileSpan& span, int index) {
    if (!Take(kBitmapLength, text, span)) return false;
    for (int digit = 0; digit < kBitmapLength; ++digit) {
      const int bits = BitmapBits(text[static_cast<std::size_t>(digit)]);
      for (int bit = 0; bit < 4; ++bit) {
        if ((bits & (8 >> bit)) != 0) present_[static_cast<std::size_t>(64 * index + 4 * digit + bit + 1)] = true;
      }
    }
    return true;
  }

  void ReadElements() {
    for (int element = 2; element <= kElementCount; ++element) {
      if (!present_[static_cast<std::size_t>(element)] || !IsDataElement(element)) continue;
      if (!ReadElement(element)) return;
    }
    message_.stop = DecodeStop::Complete;
  }

  bool ReadElement(int element) {
    const ElementLayout layout = kElementLayouts[static_cast<std::size_t>(element)];
    DecodedElement& decoded = message_.elements.emplace_back();
    decoded.number = element;
    decoded.format = FormatOf(layout.prefixDigits);
    decoded.length = layout.maxLength;
    if (layout.prefixDigits != 0) {
      if (!Take(layout.prefixDigits, decoded.prefix, decoded.span)) return false;
      const std::int32_t length = PrefixLength(decoded.prefix, layout.maxLength);
      if (length < 0) {
        decoded.length = 0;
        message_.stop = DecodeStop::BadPrefix;
        message_.error = PrefixErrorText(PrefixErrorLabel(element), element, decoded.prefix);
        message_.errorOffset = decoded.span.offset;
        return false;
      }
      decoded.length = length;
    }
    if (!Take(decoded.length, decoded.value, decoded.span)) return false;
    decoded.complete = true;
    return true;
  }

  MessageReader& reader_;
  std::int64_t next_;
  DecodedMessage message_;
  std::array<bool, kElementCount + 1> present_{};
};

}  // namespace

std::string_view FormatName(ElementFormat format) {
  switch (format) {
    case ElementFormat::LL: return "LL";
    case ElementFormat::LLL: return "LLL";
    case ElementFormat::Fixed: break;
  }
  return "fixed";
}

MessageReader::MessageReader(std::string_view path) : file_(std::make_unique<TransactionFile>(path, kWindowSize)) {
  if (!file_->IsOpen()) file_.reset();
  if (file_ != nullptr) size_ = file_->Size();
}

MessageReader::~MessageReader() = default;

// The window is the reader's buffer, read from `offset` on.
bool MessageReader::Fill(std::int64_t offset) {
  windowStart_ = offset;
  window_ = {};
  if (!file_->Seek(offset)) {
    readFailed_ = true;
    return false;
  }
  window_ = file_->Peek();
  if (file_->Failed()) readFailed_ = true;
  return !window_.empty();
}

int MessageReader::ByteAt(std::int64_t offset) {
  if (file_ == nullptr) {
    readFailed_ = true;
    return -1;
  }
  if (offset < 0) return -1;
  if (offset < windowStart_ || offset >= windowStart_ + static_cast<std::int64_t>(window_.size())) {
    if (!Fill(offset)) return -1;
  }
  return window_[static_cast<std::size_t>(offset - windowStart_)];
}

DecodedMessage MessageReader::Decode(std::int64_t offset) {
  readFailed_ = file_ == nullptr;
  if (readFailed_) {
    DecodedMessage message;
    message.span.offset = offset;
    message.stop = DecodeStop::CannotRead;
    return message;
  }
  return Decoder(*this, offset).Run();
}

std::string MessageReader::ReadBytes(std::int64_t offset, std::size_t count) {
  std::string bytes;
  if (file_ == nullptr || offset < 0 || offset >= size_) return bytes;
  count = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(count), size_ - offset));
  window_ = {};  // the reader moves; the window is read again when next needed
  if (!file_->Seek(offset)) return {};
  bytes.resize(count);
  bytes.resize(file_->Read(reinterpret_cast<std::uint8_t*>(bytes.data()), count));
  return bytes;
}

std::vector<std::int64_t> ValueOffsets(const DecodedElement& element, MessageReader& reader) {
  std::vector<std::int64_t> offsets;
  offsets.reserve(element.value.size());
  const std::string bytes = reader.ReadBytes(element.span.offset, static_cast<std::size_t>(element.span.bytes));
  std::size_t prefix = element.prefix.size();
  for (std::size_t at = 0; at < bytes.size() && offsets.size() < element.value.size(); ++at) {
    if (IsControl(bytes[at])) continue;
    if (prefix > 0) {
      --prefix;
      continue;
    }
    offsets.push_back(element.span.offset + static_cast<std::int64_t>(at));
  }
  return offsets;
}

DecodedMessage DecodeMessageAt(std::string_view path, std::int64_t offset) {
  MessageReader reader(path);
  return reader.Decode(offset);
}

}  // namespace kalvrin
