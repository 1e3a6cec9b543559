// The inside of the DES engine, shared by the block operations and the CBC
// chain of the MAC: halves as 32-bit words, IP and its inverse as delta
// swaps on whole words, and the sixteen rounds over the SP tables. The
// halves between IP and its inverse are kept rotated right by 3 bits, so
// that the odd and the even expansion groups sit in whole bytes.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "mac/des.h"
#include "mac/des_tables.h"

namespace kalvrin::des_core {

inline constexpr int kHalfRotation = 3;
inline constexpr des_tables::SpTables kSp = des_tables::BuildSpTables(kHalfRotation);

// The SP tables indexed by a whole byte whose top two bits are ignored, so
// that the rounds take each group with one byte extraction and no mask.
using ByteSpTables = std::array<std::array<std::uint32_t, 256>, 8>;
constexpr ByteSpTables BuildByteSpTables() {
  ByteSpTables tables{};
  for (std::size_t box = 0; box < 8; ++box) {
    for (std::size_t b = 0; b < 256; ++b) tables[box][b] = kSp[box][b & 0x3FU];
  }
  return tables;
}
alignas(64) inline constexpr ByteSpTables kSpByte = BuildByteSpTables();

struct Halves {
  std::uint32_t left;
  std::uint32_t right;
};

constexpr std::uint32_t Load32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

constexpr void Store32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

// Exchanges the bits of b under mask with the bits of a under mask << shift.
constexpr void DeltaSwap(std::uint32_t& a, std::uint32_t& b, int shift, std::uint32_t mask) {
  const std::uint32_t t = ((a >> shift) ^ b) & mask;
  b ^= t;
  a ^= t << shift;
}

// IP of the block (left = bytes 0-3, right = bytes 4-7) as five delta swaps.
constexpr Halves InitialPermutation(std::uint32_t left, std::uint32_t right) {
  DeltaSwap(left, right, 4, 0x0F0F0F0FU);
  DeltaSwap(left, right, 16, 0x0000FFFFU);
  DeltaSwap(right, left, 2, 0x33333333U);
  DeltaSwap(right, left, 8, 0x00FF00FFU);
  DeltaSwap(left, right, 1, 0x55555555U);
  return {left, right};
}

// The inverse of IP: the same swaps in the reverse order.
constexpr Halves FinalPermutation(std::uint32_t left, std::uint32_t right) {
  DeltaSwap(left, right, 1, 0x55555555U);
  DeltaSwap(right, left, 8, 0x00FF00FFU);
  DeltaSwap(right, left, 2, 0x33333333U);
  DeltaSwap(left, right, 16, 0x0000FFFFU);
  DeltaSwap(left, right, 4, 0x0F0F0F0FU);
  return {left, right};
}

// A block into the rounds' domain: IP, then both halves rotated.
inline Halves LoadPermuted(const std::uint8_t* block) {
  const Halves h = InitialPermutation(Load32(block), Load32(block + 4));
  return {std::rotr(h.left, kHalfRotation), std::rotr(h.right, kHalfRotation)};
}

// The rounds' output (R16, L16 in the rounds' domain) back into a block.
inline void StorePermuted(std::uint8_t* block, Halves h) {
  const Halves out =
      FinalPermutation(std::rotl(h.left, kHalfRotation), std::rotl(h.right, kHalfRotation));
  Store32(block, out.left);
  Store32(block + 4, out.right);
}

// f(R, K) for R rotated right by 3: groups 1, 3, 5, 7 are the bytes of R,
// groups 8, 2, 4, 6 the bytes of R rotated right by 4 more.
inline std::uint32_t Feistel(std::uint32_t r, const std::uint32_t* key) {
  const std::uint32_t t = r ^ key[0];
  const std::uint32_t u = std::rotr(r, 4) ^ key[1];
  // The eight outputs have disjoint bits, so OR, XOR and ADD agree; a
  // different one on each level keeps the compiler from re-chaining the
  // tree into eight dependent steps.
  const std::uint32_t s1 = kSpByte[0][t >> 24] | kSpByte[2][(t >> 16) & 0xFFU];
  const std::uint32_t s2 = kSpByte[4][(t >> 8) & 0xFFU] | kSpByte[6][t & 0xFFU];
  const std::uint32_t s3 = kSpByte[7][u >> 24] | kSpByte[1][(u >> 16) & 0xFFU];
  const std::uint32_t s4 = kSpByte[3][(u >> 8) & 0xFFU] | kSpByte[5][u & 0xFFU];
  return (s1 ^ s2) + (s3 ^ s4);
}

// Sixteen rounds on halves in the rounds' domain; returns (R16, L16), the
// order in which the inverse of IP takes them.
template <bool kDecrypt>
inline Halves Rounds(Halves h, const std::array<std::uint32_t, 32>& words) {
  std::uint32_t l = h.left;
  std::uint32_t r = h.right;
#pragma GCC unroll 8
  for (int i = 0; i < 16; i += 2) {
    const int first = kDecrypt ? 15 - i : i;
    const int second = kDecrypt ? 14 - i : i + 1;
    l ^= Feistel(r, &words[static_cast<std::size_t>(2 * first)]);
    r ^= Feistel(l, &words[static_cast<std::size_t>(2 * second)]);
  }
  return {r, l};
}

}  // namespace kalvrin::des_core
