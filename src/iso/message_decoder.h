// One message of a transaction file taken apart from its file offset: the
// MTI, both bitmaps and every present element with where its bytes stand in
// the file. It reads the file the way the format check does (control
// characters skipped, the same element table and prefix rules), so what it
// shows of a message is what the check's grid row was made from.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "io/transaction_file.h"

namespace kalvrin {

enum class ElementFormat { Fixed, LL, LLL };

// "fixed", "LL" or "LLL".
std::string_view FormatName(ElementFormat format);

// Bytes of the file from `offset` on; control characters that stand inside
// the span are counted as the file holds them.
struct FileSpan {
  std::int64_t offset = -1;
  std::int64_t bytes = 0;
};

struct DecodedElement {
  int number = 0;
  ElementFormat format = ElementFormat::Fixed;
  std::string prefix;      // the length prefix as read, empty for a fixed element
  std::int32_t length = 0;  // the fixed length or the prefix's value; 0 for a bad prefix
  std::string value;       // the data characters, control characters dropped
  FileSpan span;           // from the prefix's first byte to the last data byte
  bool complete = false;   // false for a bad prefix and for data the file cuts short
};

// Why decoding stopped.
enum class DecodeStop {
  Complete,    // the last present element is complete
  BadPrefix,   // a length prefix is not a number, or announces more than the element holds
  EndOfFile,   // the file ends inside the message
  NoMessage,   // no recognised MTI starts at the offset
  CannotRead,  // the file cannot be opened or read
};

struct DecodedMessage {
  FileSpan span;  // from the MTI's first digit to the last byte decoded
  std::string mti;
  FileSpan mtiSpan;
  std::string primaryBitmap;
  FileSpan primarySpan;
  std::string secondaryBitmap;
  FileSpan secondarySpan;
  std::vector<DecodedElement> elements;  // present elements in file order, the unfinished one last
  DecodeStop stop = DecodeStop::Complete;
  std::string error;              // for BadPrefix: the format check's status text
  std::int64_t errorOffset = -1;  // for BadPrefix: the prefix's first byte; for EndOfFile: the file's size
};

// Decodes messages of one file, opened read-only for as long as the reader
// lives. Reads through a bounded window, so neither a large file nor a long
// run of control characters inside a message costs more than the window.
class MessageReader {
 public:
  explicit MessageReader(std::string_view path);
  ~MessageReader();
  MessageReader(const MessageReader&) = delete;
  MessageReader& operator=(const MessageReader&) = delete;

  bool IsOpen() const { return file_ != nullptr; }
  std::int64_t FileSize() const { return size_; }

  // The message whose MTI's first digit stands at `offset`.
  DecodedMessage Decode(std::int64_t offset);
  // Up to `count` bytes of the file from `offset`, fewer at its end.
  std::string ReadBytes(std::int64_t offset, std::size_t count);

  // A byte of the file, -1 past its end or when it cannot be read.
  int ByteAt(std::int64_t offset);
  bool ReadFailed() const { return readFailed_; }

 private:
  bool Fill(std::int64_t offset);

  std::unique_ptr<TransactionFile> file_;  // null when the file cannot be opened
  std::int64_t size_ = 0;
  std::span<const std::uint8_t> window_;   // the file's bytes from windowStart_ on
  std::int64_t windowStart_ = 0;
  bool readFailed_ = false;
};

// The file offset of each character of an element's value (its data after
// the prefix), with whatever control characters the file holds between
// them skipped; fewer than the value's characters when the file is cut.
std::vector<std::int64_t> ValueOffsets(const DecodedElement& element, MessageReader& reader);

// Opens the file, decodes the one message and closes it again.
DecodedMessage DecodeMessageAt(std::string_view path, std::int64_t offset);

}  // namespace kalvrin
