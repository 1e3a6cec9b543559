// Interleaved CBC-MAC chains. Like MacBlocks, the chaining values stay in
// the rounds' domain (after IP) from block to block.
#include "mac/mac_chains.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "defines.h"
#include "mac/des_core.h"

namespace kalvrin {
namespace {

using des_core::Halves;
constexpr std::size_t kBlock = 8;
constexpr int kMaxPending = 7;

// One chain while its whole blocks run.
struct Lane {
  Halves value;
  const std::uint32_t* words;
  const std::uint8_t* data;
  std::size_t blocks;
};

// Sixteen rounds of N chains under one schedule, round by round, so that
// each round of one chain overlaps the same round of the others.
template <std::size_t N>
inline void RoundsTogether(std::array<Halves, N>& h, const std::uint32_t* words) {
  std::array<std::uint32_t, N> l{};
  std::array<std::uint32_t, N> r{};
  for (std::size_t n = 0; n < N; ++n) {
    l[n] = h[n].left;
    r[n] = h[n].right;
  }
  // Every loop unrolled, so that the halves stay in registers.
#pragma GCC unroll 8
  for (std::size_t i = 0; i < 16; i += 2) {
#pragma GCC unroll 3
    for (std::size_t n = 0; n < N; ++n) l[n] ^= des_core::Feistel(r[n], words + 2 * i);
#pragma GCC unroll 3
    for (std::size_t n = 0; n < N; ++n) r[n] ^= des_core::Feistel(l[n], words + 2 * i + 2);
  }
  for (std::size_t n = 0; n < N; ++n) h[n] = {r[n], l[n]};
}

// GCC's vectoriser would pack the lanes' halves into one vector register
// and fetch every S-box entry through it, at half the speed of plain words.
#if defined(__GNUC__) && !defined(__clang__)
#define KALVRIN_SCALAR_LANES [[gnu::noinline, gnu::optimize("no-tree-vectorize")]]
#else
#define KALVRIN_SCALAR_LANES [[gnu::noinline]]
#endif

// `count` blocks of each of N lanes, which all have that many left and run
// under the first lane's schedule. Kept out of line, so that each N gets the
// registers to itself.
template <std::size_t N>
KALVRIN_SCALAR_LANES void RunLanes(std::array<Lane*, N> lanes, std::size_t count) {
  std::array<Halves, N> h{};
  std::array<const std::uint8_t*, N> data{};
  const std::uint32_t* const words = lanes[0]->words;
  for (std::size_t n = 0; n < N; ++n) {
    h[n] = lanes[n]->value;
    data[n] = lanes[n]->data;
  }
  for (std::size_t b = 0; b < count; ++b) {
    for (std::size_t n = 0; n < N; ++n) {
      const Halves block = des_core::LoadPermuted(data[n] + b * kBlock);
      h[n] = {block.left ^ h[n].left, block.right ^ h[n].right};
    }
    RoundsTogether<N>(h, words);
  }
  for (std::size_t n = 0; n < N; ++n) {
    lanes[n]->value = h[n];
    lanes[n]->data += count * kBlock;
    lanes[n]->blocks -= count;
  }
}

bool SameSchedule(const Lane& a, const Lane& b) {
  return a.words == b.words || std::memcmp(a.words, b.words, 32 * sizeof(std::uint32_t)) == 0;
}

// Runs the lanes' blocks, as many lanes together as have blocks left; lanes
// under different keys run one at a time.
void RunAll(std::span<Lane> lanes) {
  bool oneKey = true;
  for (const Lane& lane : lanes) oneKey = oneKey && SameSchedule(lane, lanes[0]);
  std::array<Lane*, kInterleavedChains> busy{};
  for (;;) {
    std::size_t n = 0;
    for (Lane& lane : lanes) {
      if (lane.blocks > 0 && n < (oneKey ? busy.size() : 1)) busy[n++] = &lane;
    }
    if (n == 0) return;
    std::size_t count = busy[0]->blocks;
    for (std::size_t i = 1; i < n; ++i) count = std::min(count, busy[i]->blocks);
    switch (n) {
      case 1: RunLanes<1>({busy[0]}, count); break;
      case 2: RunLanes<2>({busy[0], busy[1]}, count); break;
      default: RunLanes<3>({busy[0], busy[1], busy[2]}, count); break;
    }
  }
}

int PendingCount(const ChainRecord& chain) {
  return TextToNumber(std::string_view(reinterpret_cast<const char*>(chain.data() + kChainCountOffset), 2));
}

}  // namespace

bool MacMiddle(std::span<const ChainFeed> feeds) {
  for (const ChainFeed& feed : feeds) {
    const int count = PendingCount(*feed.chain);
    if (count < 0 || count > kMaxPending) return false;
  }
  for (std::size_t start = 0; start < feeds.size(); start += kInterleavedChains) {
    const std::span<const ChainFeed> group = feeds.subspan(start, std::min(kInterleavedChains, feeds.size() - start));
    std::array<Lane, kInterleavedChains> lanes{};
    // Bytes kept for the next feed: the stream's tail after its last whole block.
    std::array<std::array<std::uint8_t, kBlock>, kInterleavedChains> tails{};
    std::array<std::size_t, kInterleavedChains> tailSizes{};
    for (std::size_t i = 0; i < group.size(); ++i) {
      const ChainFeed& feed = group[i];
      ChainRecord& chain = *feed.chain;
      const std::uint8_t* data = feed.data;
      std::size_t left = data == nullptr ? 0 : feed.length;
      const auto pending = static_cast<std::size_t>(PendingCount(chain));
      Lane& lane = lanes[i];
      lane.value = des_core::LoadPermuted(chain.data() + kChainValueOffset);
      lane.words = feed.context->schedule.words.data();
      if (pending + left < kBlock) {
        std::memcpy(tails[i].data(), chain.data() + kChainPendingOffset, pending);
        if (left > 0) std::memcpy(tails[i].data() + pending, data, left);
        tailSizes[i] = pending + left;
        continue;
      }
      if (pending > 0) {
        // the pending bytes and the first of the new ones make one block
        std::array<std::uint8_t, kBlock> block{};
        std::memcpy(block.data(), chain.data() + kChainPendingOffset, pending);
        std::memcpy(block.data() + pending, data, kBlock - pending);
        Lane first{lane.value, lane.words, block.data(), 1};
        RunLanes<1>({&first}, 1);
        lane.value = first.value;
        data += kBlock - pending;
        left -= kBlock - pending;
      }
      lane.data = data;
      lane.blocks = left / kBlock;
      tailSizes[i] = left % kBlock;
      if (tailSizes[i] > 0) std::memcpy(tails[i].data(), data + left - tailSizes[i], tailSizes[i]);
    }
    RunAll(std::span<Lane>(lanes.data(), group.size()));
    for (std::size_t i = 0; i < group.size(); ++i) {
      ChainRecord& chain = *group[i].chain;
      des_core::StorePermuted(chain.data() + kChainValueOffset, lanes[i].value);
      std::memcpy(chain.data() + kChainPendingOffset, tails[i].data(), tailSizes[i]);
      char text[3];
      CountText(text, static_cast<int>(tailSizes[i]));
      chain[kChainCountOffset] = static_cast<std::uint8_t>(text[0]);
      chain[kChainCountOffset + 1] = static_cast<std::uint8_t>(text[1]);
    }
  }
  return true;
}

}  // namespace kalvrin
