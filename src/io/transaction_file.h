// Reading a transaction file: the one read-only open that every check uses,
// so that all of them accept and refuse the same files, and a buffered
// reader over it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "io/file_identity.h"

namespace kalvrin {

// Opens a transaction file read-only and returns its descriptor, or -1. Only
// a regular file is one: a directory cannot be read, and a device or pipe may
// never end. The open does not wait: a named pipe without a writer would
// otherwise hold the caller, and the window with it, for ever. `size` is the
// file's size when it opens. The caller closes the descriptor.
int OpenTransactionFile(std::string_view path, std::int64_t& size);

// Why a path cannot be opened and read as a transaction file, in the
// system's words ("No such file or directory", "a named pipe, not a file");
// empty when it opens and reads now. Every front end words a refused file
// with it.
std::string OpenFailureReason(const std::string& path);

// A file offset as "1234 (0x4D2)", and the same appended to `out`.
std::string OffsetText(std::int64_t offset);
void AppendOffsetText(std::string& out, std::int64_t offset);

// A transaction file opened by OpenTransactionFile, read through one buffer
// of bufferSize bytes; closed when the reader goes.
class TransactionFile {
 public:
  static constexpr std::size_t kDefaultBufferSize = std::size_t{1} << 18;

  explicit TransactionFile(std::string_view path, std::size_t bufferSize = kDefaultBufferSize);
  ~TransactionFile();
  TransactionFile(const TransactionFile&) = delete;
  TransactionFile& operator=(const TransactionFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  // The size when the file was opened.
  std::int64_t Size() const { return size_; }
  // True once a read or a seek has failed; a seek that succeeds clears it.
  bool Failed() const { return failed_; }
  // The file this reader has open, as it is now; not the path's file, which
  // another may have replaced meanwhile.
  FileIdentity Identity() const { return FileIdentity::OfDescriptor(fd_); }

  // Reads on from `offset`; false when the file cannot be positioned there.
  bool Seek(std::int64_t offset);

  // The unread buffered bytes, refilled when none are left; empty at the
  // end of the file and after a read error. They stay valid until the next
  // call that moves the reader.
  std::span<const std::uint8_t> Peek() {
    if (begin_ == end_ && !failed_) Refill();
    return {buffer_.get() + begin_, end_ - begin_};
  }
  // Takes `count` of the bytes Peek returned.
  void Skip(std::size_t count) {
    begin_ += count;
    position_ += static_cast<std::int64_t>(count);
  }

  // The next byte, -1 at the end of the file or after a read error.
  int Get() {
    const auto bytes = Peek();
    if (bytes.empty()) return -1;
    Skip(1);
    return bytes[0];
  }

  // Up to `count` bytes into out; fewer at the end of the file or after a
  // read error. What the buffer does not hold is read straight into out
  // when it fills a buffer or more.
  std::size_t Read(std::uint8_t* out, std::size_t count);

  // Where the next byte comes from, counted from the start of the file.
  std::int64_t Position() const { return position_; }

  bool AtEnd() { return Peek().empty(); }

 private:
  void Refill();
  // One read(2) into out, retried on EINTR; 0 at the end of the file, and
  // after an error, which it records.
  std::size_t ReadOnce(std::uint8_t* out, std::size_t count);

  int fd_ = -1;
  std::int64_t size_ = 0;
  std::size_t bufferSize_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::int64_t position_ = 0;
  bool failed_ = false;
};

}  // namespace kalvrin
