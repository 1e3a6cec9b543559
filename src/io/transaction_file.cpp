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
    const auto bytes = Peek();
    if (bytes.empty()) break;
    const std::size_t take = std::min(count - done, bytes.size());
    std::memcpy(out + done, bytes.data(), take);
    Skip(take);
    done += take;
  }
  return done;
}

void TransactionFile::Refill() {
  begin_ = end_ = 0;
  if (fd_ < 0) {
    failed_ = true;
    return;
  }
  for (;;) {
    const ssize_t got = ::read(fd_, buffer_.get(), bufferSize_);
    if (got > 0) {
      end_ = static_cast<std::size_t>(got);
      return;
    }
    if (got < 0 && errno == EINTR) continue;
    failed_ = got < 0;
    return;
  }
}

}  // namespace kalvrin
