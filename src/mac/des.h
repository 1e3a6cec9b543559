// The DES block cipher of FIPS 46-3: key schedules, single and two-key triple
// DES by schedule or by key bytes, and the byte and hex-text helpers the rest
// of the engine is built from. Nothing here keeps state between calls.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kalvrin {

// 8 bytes, big-endian bit order: byte 0 holds DES bits 1..8, bit 1 in its
// most significant position.
using DesBytes = std::array<std::uint8_t, 8>;
using DoubleKey = std::array<std::uint8_t, 16>;  // K1 then K2

inline constexpr char kModeEncrypt = 'E';
inline constexpr char kModeDecrypt = 'D';
inline constexpr int kDesBadMode = 3;

// The sixteen round subkeys, each as two 32-bit words that hold its eight
// 6-bit groups packed the way the rounds consume them. A plain value: copy
// and reuse it.
struct KeySchedule {
  std::array<std::uint32_t, 32> words;
};

void BuildKeySchedule(KeySchedule& schedule, const DesBytes& key);

// Mode 'E' encrypts, 'D' decrypts; any other mode returns 3 and leaves
// output untouched, else 0. The input is read whole before the output is
// written, so both may be the same block.
int DesBlock(DesBytes& output, char mode, const KeySchedule& schedule, const DesBytes& input);

// By key bytes: a temporary schedule per call, wiped before returning.
// Output and input may be the same block.
void DesEncrypt(DesBytes& output, const DesBytes& key, const DesBytes& input);
// Two-key EDE: encrypt under K1, decrypt under K2, encrypt under K1.
void TripleDesEncrypt(DesBytes& output, const DoubleKey& key, const DesBytes& input);

// output[i] = first[i] ^ second[i] for i < count; a count of 0 or less writes nothing.
void XorBytes(std::uint8_t* output, const std::uint8_t* first, const std::uint8_t* second,
              int count);

// Reads 2n characters into n bytes; no terminator read or written. A
// character c gives the low four bits of c - 0x30 when c (as a signed 8-bit
// value) is below 0x40, else of c - 0x37; nothing is rejected. Characters
// past the end of the text read as NUL (nibble 0) and are never touched;
// the result says whether the text held all 2n of them.
bool HexToBytes(std::uint8_t* output, std::string_view hex, std::size_t n);

// 2n upper-case hex digits, high nibble first, then a NUL: output needs 2n+1 chars.
void BytesToHex(char* output, const std::uint8_t* bytes, std::size_t n);

}  // namespace kalvrin
