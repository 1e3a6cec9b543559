// The staged MAC call and the buffering between its stages. The chaining
// value of a CBC run stays in the rounds' domain (after IP) from block to
// block: IP is linear over XOR, so only each message block goes through IP
// and the inverse runs once at the end of the run.

#include "mac/generate_mac.h"

#include <cstring>

#include "defines.h"
#include "mac/des_core.h"
#include "mac/wipe.h"

namespace kalvrin {
namespace {

constexpr std::size_t kBlock = 8;
constexpr int kMaxPending = 7;

int PendingCount(const ChainRecord& chain) {
  return TextToNumber(
      std::string_view(reinterpret_cast<const char*>(chain.data() + kChainCountOffset), 2));
}

void SetPendingCount(ChainRecord& chain, std::size_t count) {
  char text[3];
  CountText(text, static_cast<int>(count));
  chain[kChainCountOffset] = static_cast<std::uint8_t>(text[0]);
  chain[kChainCountOffset + 1] = static_cast<std::uint8_t>(text[1]);
}

// The bytes become the pending bytes and their number the pending count.
void KeepPending(ChainRecord& chain, const std::uint8_t* bytes, std::size_t count) {
  if (count > 0) std::memcpy(chain.data() + kChainPendingOffset, bytes, count);
  SetPendingCount(chain, count);
}

// The clear key: the KeyCryptogram decrypted with the KeyStore (two-key EDE
// undone: decrypt under K1, encrypt under K2, decrypt under K1).
void DecryptMacKey(DesBytes& clearKey, const KeyStore& store, const KeyCryptogram& cryptogram) {
  DesBlock(clearKey, kModeDecrypt, store.k1, cryptogram);
  DesBlock(clearKey, kModeEncrypt, store.k2, clearKey);
  DesBlock(clearKey, kModeDecrypt, store.k1, clearKey);
}

// A KCV text too short to hold 8 digits cannot match any key.
bool KcvTextMatches(std::string_view kcvText, const DesBytes& clearKey) {
  if (kcvText.size() < kKcvDigits) return false;
  KcvBytes expected;
  HexToBytes(expected.data(), kcvText, expected.size());
  return CheckKCV(expected, clearKey) == 1;
}

bool OpensMessage(int stage) { return stage == FIRST || stage == SINGLE; }
bool CarriesOn(int stage) { return stage == FIRST || stage == MIDDLE; }
bool ClosesMessage(int stage) { return stage == LAST || stage == SINGLE; }

}  // namespace

void CountText(char* text, int count) {
  if (count < 0) count = 0;
  if (count > 99) count = 99;
  text[0] = static_cast<char>('0' + count / 10);
  text[1] = static_cast<char>('0' + count % 10);
  text[2] = '\0';
}

void InstallMacKey(MacContext& context, DesBytes& chainingValue, const DesBytes& clearKey) {
  BuildKeySchedule(context.schedule, clearKey);
  chainingValue.fill(0);
}

void MacBlocks(DesBytes& chainingValue, const MacContext& context, const std::uint8_t* data,
               std::size_t length) {
  using des_core::Halves;
  Halves chain = des_core::LoadPermuted(chainingValue.data());
  for (std::size_t offset = 0; offset + kBlock <= length; offset += kBlock) {
    const Halves block = des_core::LoadPermuted(data + offset);
    chain = des_core::Rounds<false>({block.left ^ chain.left, block.right ^ chain.right},
                                    context.schedule.words);
  }
  des_core::StorePermuted(chainingValue.data(), chain);
}

void MacPadded(DesBytes& chainingValue, const MacContext& context, const std::uint8_t* data,
               std::size_t length) {
  const std::size_t whole = length - length % kBlock;
  if (whole > 0) MacBlocks(chainingValue, context, data, whole);
  if (whole < length) {
    DesBytes last{};
    std::memcpy(last.data(), data + whole, length - whole);
    MacBlocks(chainingValue, context, last.data(), kBlock);
  }
}

void MacStep(DesBytes& macOutput, DesBytes& chainingValue, ChainRecord& chain,
             const DesBytes& clearKey, MacContext& context, const std::uint8_t* data,
             std::size_t length, int stage) {
  std::size_t offset = 0;
  std::size_t left = data == nullptr ? 0 : length;
  const int pendingCount = stage == LAST || stage == MIDDLE ? PendingCount(chain) : 0;
  const std::size_t count = pendingCount > 0 && pendingCount <= kMaxPending
                                ? static_cast<std::size_t>(pendingCount) : 0;
  std::uint8_t* pending = chain.data() + kChainPendingOffset;

  if (stage == LAST && count > 0) {
    DesBytes block;
    std::memcpy(block.data(), pending, count);
    if (left <= kBlock - count) {
      if (left > 0) std::memcpy(block.data() + count, data, left);
      MacPadded(chainingValue, context, block.data(), count + left);
      left = 0;
    } else {
      std::memcpy(block.data() + count, data, kBlock - count);
      MacBlocks(chainingValue, context, block.data(), kBlock);
      offset += kBlock - count;
      left -= kBlock - count;
    }
  }

  if (stage == MIDDLE) {
    if (count > 0 && left < kBlock - count) {
      if (left > 0) std::memcpy(pending + count, data, left);
      SetPendingCount(chain, count + left);
      left = 0;
    } else if (count > 0) {
      DesBytes block;
      std::memcpy(block.data(), pending, count);
      std::memcpy(block.data() + count, data, kBlock - count);
      MacBlocks(chainingValue, context, block.data(), kBlock);
      offset += kBlock - count;
      left -= kBlock - count;
      if (left < kBlock) {
        KeepPending(chain, data + offset, left);
        left = 0;
      } else {
        SetPendingCount(chain, 0);
      }
    } else if (left < kBlock) {
      KeepPending(chain, data, left);
      left = 0;
    }
  }

  if (CarriesOn(stage)) {
    const std::size_t rest = left % kBlock;
    if (left > 0 && rest == 0) SetPendingCount(chain, 0);
    if (left > kBlock && rest != 0) {
      KeepPending(chain, data + offset + left - rest, rest);
      left -= rest;
    }
    if (stage == FIRST && left < kBlock) {
      KeepPending(chain, data + offset, left);
      left = 0;
    }
  }

  if (OpensMessage(stage)) InstallMacKey(context, chainingValue, clearKey);
  if (CarriesOn(stage) && left > 0) MacBlocks(chainingValue, context, data + offset, left);
  if (ClosesMessage(stage)) {
    if (left > 0) MacPadded(chainingValue, context, data + offset, left);
    macOutput = chainingValue;
  }
}

int GenerateMAC(char* macText, ChainRecord& chain, MacContext& context, int stage,
                const std::uint8_t* data, std::size_t length, const KeyStore& store,
                const KeyCryptogram& cryptogram, std::string_view kcvText) {
  if (stage < FIRST || stage > SINGLE) return kMacWrongStage;
  if (stage == MIDDLE || stage == LAST) {
    const int count = PendingCount(chain);
    if (count < 0 || count > kMaxPending) return kMacWrongPendingCount;
  }

  DesBytes clearKey{};
  WipeGuard<DesBytes> guard(clearKey);
  int code = kMacDone;
  if (OpensMessage(stage)) {
    DecryptMacKey(clearKey, store, cryptogram);
    if (!KcvTextMatches(kcvText, clearKey)) {
      if (stage == SINGLE) return kMacWrongKcv;
      code = kMacWrongKcv;  // FIRST goes on all the same; its callers stop the message
    }
  }

  DesBytes chainingValue;
  std::memcpy(chainingValue.data(), chain.data() + kChainValueOffset, kBlock);
  DesBytes macOutput{};
  MacStep(macOutput, chainingValue, chain, clearKey, context, data, length, stage);
  if (CarriesOn(stage)) {
    std::memcpy(chain.data() + kChainValueOffset, chainingValue.data(), kBlock);
  }
  if (ClosesMessage(stage) && macText != nullptr) BytesToHex(macText, macOutput.data(), 4);
  return code;
}

}  // namespace kalvrin
