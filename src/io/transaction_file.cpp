// The read-only open of a transaction file and its buffered reader.
#include "io/transaction_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>

#include "decimal_text.h"

namespace kalvrin {

int OpenTransactionFile(std::string_view path, std::int64_t& size) {
  if (path.find('\0') != std::string_view::npos) return -1;
  const int fd = ::open(std::string(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat info {};
  // Reads wait again once the file is known to be a regular one.
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || ::fcntl(fd, F_SETFL, 0) != 0) {
    ::close(fd);
    return -1;
  }
  size = static_cast<std::int64_t>(info.st_size);
  return fd;
}

std::string OpenFailureReason(const std::string& path) {
  if (path.find('\0') != std::string::npos) return "the path holds a NUL byte";
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::strerror(errno);
  if (S_ISDIR(info.st_mode)) return std::strerror(EISDIR);
  if (S_ISFIFO(info.st_mode)) return "a named pipe, not a file";
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return "a device, not a file";
  if (!S_ISREG(info.st_mode)) return "not a file";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return std::strerror(errno);
  char byte = 0;
  const bool unreadable = ::read(fd, &byte, 1) < 0;
  const int readError = errno;
  ::close(fd);
  return unreadable ? std::strerror(readError) : std::string();
}

std::string OffsetText(std::int64_t offset) {
  std::string text;
  AppendOffsetText(text, offset);
  return text;
}

void AppendOffsetText(std::string& out, std::int64_t offset) {
  out += DecimalText(offset).view();
  out += " (0x";
  std::array<char, 16> digits{};
  // the offset's bits as an unsigned number, capital hexadecimal digits
  char* const end = std::to_chars(digits.data(), digits.data() + digits.size(), static_cast<std::uint64_t>(offset), 16).ptr;
  std::transform(digits.data(), end, digits.data(), [](char c) { return c >= 'a' ? static_cast<char>(c - 'a' + 'A') : c; });
  out.append(digits.data(), end);
  out += ')';
}

TransactionFile::TransactionFile(std::string_view path, std::size_t bufferSize)
    : bufferSize_(std::max<std::size_t>(1, bufferSize)) {
  fd_ = OpenTransactionFile(path, size_);
  if (fd_ >= 0) buffer_ = std::make_unique<std::uint8_t[]>(bufferSize_);
}

TransactionFile::~TransactionFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool TransactionFile::Seek(std::int64_t offset) {
  begin_ = end_ = 0;
  position_ = offset;
  failed_ = offset < 0 || ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0;
  return !failed_;
}

std::size_t TransactionFile::Read(std::uint8_t* out, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    if (begin_ == end_ && count - done >= bufferSize_ && !failed_) {
      // a buffer or more: straight into out, without a copy
      const std::size_t got = ReadOnce(out + done, count - done);
      if (got == 0) break;
      position_ += static_cast<std::int64_t>(got);
      done += got;
      continue;
    }
    const auto bytes = Peek();
    if (bytes.empty()) break;
    const std::size_t take = std::min(count - done, bytes.size());
    std::memcpy(out + done, bytes.data(), take);
    Skip(take);
    done += take;
  }
  return done;
}

std::size_t TransactionFile::ReadOnce(std::uint8_t* out, std::size_t count) {
  if (fd_ < 0) {
    failed_ = true;
    return 0;
  }
  for (;;) {
    const ssize_t got = ::read(fd_, out, count);
    if (got > 0) return static_cast<std::size_t>(got);
    if (got < 0 && errno == EINTR) continue;
    failed_ = got < 0;
    return 0;
  }
}

void TransactionFile::Refill() {
  begin_ = end_ = 0;
  end_ = ReadOnce(buffer_.get(), bufferSize_);
}

}  // namespace kalvrin
