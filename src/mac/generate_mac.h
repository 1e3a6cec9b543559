// The staged MAC call: a single-DES CBC-MAC (zero IV, zero padding of a last
// incomplete block, first 4 bytes as 8 hex digits) over a message handed over
// whole (SINGLE) or in pieces (FIRST, MIDDLE..., LAST). All state of a message
// in progress lives in the caller's ChainRecord and MacContext.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "mac/des.h"
#include "mac/key_install.h"

namespace kalvrin {

inline constexpr int FIRST = 1, MIDDLE = 2, LAST = 3, SINGLE = 4;

// GenerateMAC's codes.
inline constexpr int kMacDone = 0;
inline constexpr int kMacWrongKcv = 1;          // FIRST (after processing), SINGLE (nothing done)
inline constexpr int kMacWrongStage = 2;        // nothing changed
inline constexpr int kMacWrongPendingCount = 3;  // MIDDLE, LAST; nothing changed

// Offsets 0-1: pending count as two ASCII digits; 2-9: pending bytes;
// 10-17: chaining value.
using ChainRecord = std::array<std::uint8_t, 18>;
inline constexpr std::size_t kChainCountOffset = 0;
inline constexpr std::size_t kChainPendingOffset = 2;
inline constexpr std::size_t kChainValueOffset = 10;

// The clear MAC key's schedule for one message; the caller owns it and wipes
// it when its run ends.
struct MacContext {
  KeySchedule schedule;
};

// macText: room for 9 chars (8 hex digits + NUL), written at LAST and SINGLE.
int GenerateMAC(char* macText, ChainRecord& chain, MacContext& context, int stage,
                const std::uint8_t* data, std::size_t length, const KeyStore& store,
                const KeyCryptogram& cryptogram, std::string_view kcvText);

// The pieces GenerateMAC is built from.
void InstallMacKey(MacContext& context, DesBytes& chainingValue, const DesBytes& clearKey);
// length a multiple of 8: chainingValue = E(block ^ chainingValue) block by block.
void MacBlocks(DesBytes& chainingValue, const MacContext& context, const std::uint8_t* data,
               std::size_t length);
// As MacBlocks, a last incomplete block filled up with zero bytes.
void MacPadded(DesBytes& chainingValue, const MacContext& context, const std::uint8_t* data,
               std::size_t length);
void MacStep(DesBytes& macOutput, DesBytes& chainingValue, ChainRecord& chain,
             const DesBytes& clearKey, MacContext& context, const std::uint8_t* data,
             std::size_t length, int stage);
// The count in decimal, a '0' in front of a single digit, and a NUL.
void CountText(char* text, int count);

}  // namespace kalvrin
