// A reference that does not move between machines: line ends counted one
// byte at a time, never vectorised (scalar_count.cpp is built without the
// compiler's vectoriser), so its speed follows the core's clock and not the
// width of its vector unit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kalvrin::bench {

// The number of '\n' in bytes[0, count): every byte read once, in order.
std::int64_t CountLineEndsScalar(const char* bytes, std::size_t count);

}  // namespace kalvrin::bench
