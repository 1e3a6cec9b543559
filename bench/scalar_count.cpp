// In a file of its own and built with -fno-tree-vectorize
// -fno-tree-slp-vectorize (bench/CMakeLists.txt): the loop stays one byte at
// a time whatever the caller's flags, and the result is returned to a caller
// in another file, so the compiler cannot drop it.
#include "scalar_count.h"

namespace kalvrin::bench {

std::int64_t CountLineEndsScalar(const char* bytes, std::size_t count) {
  std::int64_t lines = 0;
  for (std::size_t i = 0; i < count; ++i) lines += bytes[i] == '\n';
  return lines;
}

}  // namespace kalvrin::bench
