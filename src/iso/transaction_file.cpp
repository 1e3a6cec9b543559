// The read-only open of a transaction file.
#include "iso/transaction_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace kalvrin {

std::FILE* OpenTransactionFile(std::string_view path, std::int64_t& size) {
  if (path.find('\0') != std::string_view::npos) return nullptr;
  const int fd = ::open(std::string(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  std::FILE* file = nullptr;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || ::fcntl(fd, F_SETFL, 0) != 0 ||
      (file = ::fdopen(fd, "rb")) == nullptr) {
    ::close(fd);
    return nullptr;
  }
  size = static_cast<std::int64_t>(info.st_size);
  return file;
}

}  // namespace kalvrin
