// What the fuzz targets share: the input as a transaction file, and a check
// that stops the fuzzer with a message when a promise is broken.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace kalvrin::fuzz {

// A broken promise is a crash to libFuzzer: it keeps the input that caused it.
#define FUZZ_CHECK(condition)                                                         \
  do {                                                                                \
    if (!(condition)) {                                                               \
      std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                   \
    }                                                                                 \
  } while (false)

// The input as a regular file in memory, reached by a path the commands open
// read-only as they would any transaction file. One file per process and
// slot (a target that compares two files uses two), rewritten for each input.
inline std::string InputFile(const std::uint8_t* data, std::size_t size, int slot = 0) {
  static const int fds[2] = {::memfd_create("kalvrin-fuzz-input", MFD_CLOEXEC),
                             ::memfd_create("kalvrin-fuzz-input-2", MFD_CLOEXEC)};
  FUZZ_CHECK(slot == 0 || slot == 1);
  const int fd = fds[slot];
  FUZZ_CHECK(fd >= 0);
  FUZZ_CHECK(::ftruncate(fd, 0) == 0);
  std::size_t written = 0;
  while (written < size) {
    const ssize_t n = ::pwrite(fd, data + written, size - written, static_cast<off_t>(written));
    FUZZ_CHECK(n > 0);
    written += static_cast<std::size_t>(n);
  }
  return "/proc/self/fd/" + std::to_string(fd);
}

inline bool IsMacText(const std::string& text) {
  if (text.size() != 8) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

}  // namespace kalvrin::fuzz
