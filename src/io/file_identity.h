// What tells one state of a file from another without reading it: whether it
// exists, its size and its modification time.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace kalvrin {

struct FileIdentity {
  bool exists = false;
  std::int64_t size = 0;
  std::int64_t modifiedSeconds = 0;
  std::int64_t modifiedNanoseconds = 0;

  static FileIdentity Of(const std::string& path) {
    FileIdentity identity;
    struct stat status {};
    if (path.empty() || ::stat(path.c_str(), &status) != 0) return identity;
    identity.exists = true;
    identity.size = static_cast<std::int64_t>(status.st_size);
    identity.modifiedSeconds = static_cast<std::int64_t>(status.st_mtim.tv_sec);
    identity.modifiedNanoseconds = static_cast<std::int64_t>(status.st_mtim.tv_nsec);
    return identity;
  }
  bool operator==(const FileIdentity& other) const {
    return exists == other.exists && size == other.size && modifiedSeconds == other.modifiedSeconds &&
           modifiedNanoseconds == other.modifiedNanoseconds;
  }
  bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

}  // namespace kalvrin
