// What tells one state of a file from another without reading it: whether it
// exists, which file it is (device and inode) and its size and modification
// time. Taken from a path or from an open descriptor, so that a command can
// tell whether the path still names the file it opened and read.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace kalvrin {

// What every command says when the file shrank, grew or was replaced while
// it read it.
inline constexpr std::string_view kFileChanged = "the file changed while it was read";

struct FileIdentity {
  bool exists = false;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modifiedSeconds = 0;
  std::int64_t modifiedNanoseconds = 0;

  static FileIdentity Of(const std::string& path) {
    struct stat status {};
    if (path.empty() || path.find('\0') != std::string::npos || ::stat(path.c_str(), &status) != 0) return {};
    return From(status);
  }
  // The file an open descriptor reads, whatever its path names now.
  static FileIdentity OfDescriptor(int fd) {
    struct stat status {};
    if (fd < 0 || ::fstat(fd, &status) != 0) return {};
    return From(status);
  }
  bool operator==(const FileIdentity& other) const = default;

 private:
  static FileIdentity From(const struct stat& status) {
    FileIdentity identity;
    identity.exists = true;
    identity.device = static_cast<std::uint64_t>(status.st_dev);
    identity.inode = static_cast<std::uint64_t>(status.st_ino);
    identity.size = static_cast<std::int64_t>(status.st_size);
    identity.modifiedSeconds = static_cast<std::int64_t>(status.st_mtim.tv_sec);
    identity.modifiedNanoseconds = static_cast<std::int64_t>(status.st_mtim.tv_nsec);
    return identity;
  }
};

}  // namespace kalvrin
