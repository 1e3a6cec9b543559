// Several CBC-MAC chains fed at once. One chain keeps the processor waiting:
// each block's rounds need the block before it. Two or three independent
// chains, their rounds interleaved in one loop, fill those waits, so that
// the MAC check computes its three variants in little more time than one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "mac/generate_mac.h"

namespace kalvrin {

// The most chains whose rounds run interleaved; a feed of more takes them
// in groups.
inline constexpr std::size_t kInterleavedChains = 3;

// One chain's share of a feed: the next bytes of its message, its records.
struct ChainFeed {
  ChainRecord* chain;
  const MacContext* context;  // the schedule that FIRST installed
  const std::uint8_t* data;
  std::size_t length;
};

// What one GenerateMAC MIDDLE call per feed does to its ChainRecord (the
// pending bytes and count, the chaining value), with the chains' whole
// blocks interleaved. The records of different feeds must be distinct. A
// record whose pending count GenerateMAC would refuse leaves every record
// unchanged and the result is false.
bool MacMiddle(std::span<const ChainFeed> feeds);

}  // namespace kalvrin
