// The DES block cipher of FIPS 46-3 and the byte and hex-text helpers.

#include "mac/des.h"

#include <bit>
#include <cstring>

#include "mac/des_core.h"
#include "mac/des_tables.h"
#include "mac/wipe.h"

namespace kalvrin {
namespace {

using des_core::Halves;
namespace tables = des_tables;

// The word-wise IP and its inverse must be the standard's tables: checked
// at compile time on every single-bit block.
constexpr bool PermutationsMatchTables() {
  for (int bit = 0; bit < 64; ++bit) {
    const std::uint64_t block = std::uint64_t{1} << bit;
    const auto hi = static_cast<std::uint32_t>(block >> 32);
    const auto lo = static_cast<std::uint32_t>(block);
    const Halves ip = des_core::InitialPermutation(hi, lo);
    if (((std::uint64_t{ip.left} << 32) | ip.right) != tables::Select(block, 64, tables::kIP)) {
      return false;
    }
    const Halves fp = des_core::FinalPermutation(hi, lo);
    if (((std::uint64_t{fp.left} << 32) | fp.right) != tables::Select(block, 64, tables::kFP)) {
      return false;
    }
  }
  return true;
}
static_assert(PermutationsMatchTables(), "IP delta swaps disagree with the FIPS table");

constexpr std::uint32_t kHalfKeyMask = 0x0FFFFFFFU;

constexpr std::uint32_t Rotate28(std::uint32_t half, int count) {
  return ((half << count) | (half >> (28 - count))) & kHalfKeyMask;
}

// The two 6-bit groups that one S-box pair reads, packed as Feistel reads them.
std::uint32_t PackWord(const std::array<std::uint8_t, 8>& groups, int a, int b, int c, int d) {
  return (std::uint32_t{groups[static_cast<std::size_t>(a)]} << 24) |
         (std::uint32_t{groups[static_cast<std::size_t>(b)]} << 16) |
         (std::uint32_t{groups[static_cast<std::size_t>(c)]} << 8) |
         std::uint32_t{groups[static_cast<std::size_t>(d)]};
}

// Everything BuildKeySchedule derives from the key on its way; wiped after.
struct KeyWork {
  std::uint64_t key;
  std::uint64_t cd;
  std::uint64_t subkey;
  std::uint32_t c;
  std::uint32_t d;
  // the round's subkey as eight 6-bit groups, group j feeding S-box j+1, its
  // first bit in FIPS order worth 32
  std::array<std::uint8_t, 8> groups;
};

}  // namespace

void BuildKeySchedule(KeySchedule& schedule, const DesBytes& key) {
  KeyWork w{};
  WipeGuard<KeyWork> guard(w);
  for (std::uint8_t byte : key) w.key = (w.key << 8) | byte;
  w.cd = tables::Select(w.key, 64, tables::kPC1);
  w.c = static_cast<std::uint32_t>(w.cd >> 28) & kHalfKeyMask;
  w.d = static_cast<std::uint32_t>(w.cd) & kHalfKeyMask;
  for (std::size_t round = 0; round < 16; ++round) {
    w.c = Rotate28(w.c, tables::kRotations[round]);
    w.d = Rotate28(w.d, tables::kRotations[round]);
    w.subkey = tables::Select((std::uint64_t{w.c} << 28) | w.d, 56, tables::kPC2);
    for (std::size_t j = 0; j < 8; ++j) {
      w.groups[j] = static_cast<std::uint8_t>((w.subkey >> (42 - 6 * j)) & 0x3FU);
    }
    schedule.words[2 * round] = PackWord(w.groups, 0, 2, 4, 6);
    schedule.words[2 * round + 1] = PackWord(w.groups, 7, 1, 3, 5);
  }
}

int DesBlock(DesBytes& output, char mode, const KeySchedule& schedule, const DesBytes& input) {
  if (mode != kModeEncrypt && mode != kModeDecrypt) return kDesBadMode;
  const Halves in = des_core::LoadPermuted(input.data());
  const Halves out = mode == kModeEncrypt ? des_core::Rounds<false>(in, schedule.words)
                                          : des_core::Rounds<true>(in, schedule.words);
  des_core::StorePermuted(output.data(), out);
  return 0;
}

void DesEncrypt(DesBytes& output, const DesBytes& key, const DesBytes& input) {
  KeySchedule schedule;
  WipeGuard<KeySchedule> guard(schedule);
  BuildKeySchedule(schedule, key);
  DesBlock(output, kModeEncrypt, schedule, input);
}

void TripleDesEncrypt(DesBytes& output, const DoubleKey& key, const DesBytes& input) {
  struct Work {
    KeySchedule k1;
    KeySchedule k2;
    DesBytes half;
    DesBytes block;
  } w;
  WipeGuard<Work> guard(w);
  std::memcpy(w.half.data(), key.data(), 8);
  BuildKeySchedule(w.k1, w.half);
  std::memcpy(w.half.data(), key.data() + 8, 8);
  BuildKeySchedule(w.k2, w.half);
  DesBlock(w.block, kModeEncrypt, w.k1, input);
  DesBlock(w.block, kModeDecrypt, w.k2, w.block);
  DesBlock(output, kModeEncrypt, w.k1, w.block);
}

void XorBytes(std::uint8_t* output, const std::uint8_t* first, const std::uint8_t* second,
              int count) {
  for (int i = 0; i < count; ++i) output[i] = static_cast<std::uint8_t>(first[i] ^ second[i]);
}

namespace {

// Characters are taken as signed 8-bit values, so 0x80..0xFF count as below '@'.
std::uint8_t Nibble(char c) {
  const int value = static_cast<signed char>(c);
  return static_cast<std::uint8_t>((value < 0x40 ? value - 0x30 : value - 0x37) & 0x0F);
}

}  // namespace

bool HexToBytes(std::uint8_t* output, std::string_view hex, std::size_t n) {
  auto at = [&hex](std::size_t i) { return i < hex.size() ? hex[i] : '\0'; };
  for (std::size_t i = 0; i < n; ++i) {
    output[i] = static_cast<std::uint8_t>((Nibble(at(2 * i)) << 4) | Nibble(at(2 * i + 1)));
  }
  return hex.size() / 2 >= n;
}

void BytesToHex(char* output, const std::uint8_t* bytes, std::size_t n) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < n; ++i) {
    output[2 * i] = kDigits[bytes[i] >> 4];
    output[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  output[2 * n] = '\0';
}

}  // namespace kalvrin
