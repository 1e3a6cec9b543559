// Key check values and the protected installation of the MAC key under a
// fresh storage key from the engine's generator.

#include "mac/key_install.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <mutex>

#include "mac/file_mac_texts.h"
#include "mac/wipe.h"

namespace kalvrin {
namespace {

// Any fixed key will do: the storage keys it yields never leave the engine.
constexpr DesBytes kGeneratorKey = {0x5E, 0x2C, 0x91, 0xA7, 0x3B, 0xD0, 0x64, 0xF8};

// The engine's only lasting state: zero at start, advanced by every
// generator step, never saved. Installations may run on several threads at
// once (verify's jobs, the MAC command); each takes its two steps under the
// lock, so that no two get the same storage key.
DesBytes generatorState{};
std::mutex generatorLock;

constexpr std::string_view kZeroBlockText = "0000000000000000";
constexpr std::size_t kSingleKeyDigits = 16;
constexpr std::size_t kDoubleKeyDigits = 32;
constexpr std::size_t kKcvBytes = 4;
constexpr int kMaxKcvDigits = 16;

}  // namespace

void DesHex(char* result, std::string_view keyText, std::string_view blockText) {
  struct Work {
    DesBytes key;
    DesBytes block;
  } w;
  WipeGuard<Work> guard(w);
  HexToBytes(w.key.data(), keyText, w.key.size());
  HexToBytes(w.block.data(), blockText, w.block.size());
  DesEncrypt(w.block, w.key, w.block);
  BytesToHex(result, w.block.data(), w.block.size());
}

void TripleDesHex(char* result, std::string_view keyText, std::string_view blockText) {
  struct Work {
    DoubleKey key;
    DesBytes block;
  } w;
  WipeGuard<Work> guard(w);
  HexToBytes(w.key.data(), keyText, w.key.size());
  HexToBytes(w.block.data(), blockText, w.block.size());
  TripleDesEncrypt(w.block, w.key, w.block);
  BytesToHex(result, w.block.data(), w.block.size());
}

std::string KcvEditText(std::string_view keyText) {
  char kcv[kKcvDigits + 1] = {};
  CreateKCV(kcv, keyText, static_cast<int>(kKcvDigits));
  return "(" + std::string(kcv) + ")";
}

MacKeyText MacKeyTextOf(std::string_view keyText) {
  // An O for a 0 would otherwise make another key, and red MACs with it.
  const bool allHex = std::all_of(keyText.begin(), keyText.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
  });
  if (!allHex) return MacKeyText::NotAKey;
  if (keyText.size() == kSingleKeyDigits) return MacKeyText::Single;
  if (keyText.size() != kDoubleKeyDigits) return MacKeyText::NotAKey;
  const auto upper = [](char c) { return c >= 'a' ? static_cast<char>(c - 'a' + 'A') : c; };
  const std::string_view left = keyText.substr(0, kSingleKeyDigits);
  const std::string_view right = keyText.substr(kSingleKeyDigits);
  const bool equal = std::equal(left.begin(), left.end(), right.begin(), [&](char a, char b) { return upper(a) == upper(b); });
  return equal ? MacKeyText::EqualHalves : MacKeyText::DifferentHalves;
}

std::string MacKeyRefusal(std::string_view keyText) {
  switch (MacKeyTextOf(keyText)) {
    case MacKeyText::NotAKey: return std::string(kKeyNotHex);
    case MacKeyText::DifferentHalves:
      return std::string(mac_texts::kInstallKeyError) + std::to_string(kWrongCheckValue) + " (" +
             std::string(kKeyHalvesDiffer) + ")";
    case MacKeyText::Single:
    case MacKeyText::EqualHalves: break;
  }
  return {};
}

int CreateKCV(char* kcv, std::string_view keyText, int digits) {
  if (kcv == nullptr) return 0;
  char result[2 * 8 + 1];
  const MacKeyText form = MacKeyTextOf(keyText);
  if (form == MacKeyText::NotAKey) {
    kcv[0] = '\0';
    return 0;
  }
  if (form == MacKeyText::Single) {
    DesHex(result, keyText, kZeroBlockText);
  } else {
    TripleDesHex(result, keyText, kZeroBlockText);
  }
  const auto n = static_cast<std::size_t>(std::clamp(digits, 0, kMaxKcvDigits));
  std::memcpy(kcv, result, n);
  kcv[n] = '\0';
  return 1;
}

int CheckKCV(const KcvBytes& expected, const DesBytes& key) {
  DesBytes block{};
  DesEncrypt(block, key, block);
  return std::memcmp(block.data(), expected.data(), kKcvBytes) == 0 ? 1 : 0;
}

void ForceOddParity(DesBytes& output, const DesBytes& input) {
  for (std::size_t i = 0; i < input.size(); ++i) {
    const std::uint8_t byte = input[i];
    output[i] = std::popcount(byte) % 2 == 0 ? static_cast<std::uint8_t>(byte ^ 1U) : byte;
  }
}

void NextRandomBlock(DesBytes& output, const DesBytes& generatorKey, DesBytes& state,
                     const DesBytes& seed) {
  struct Work {
    DesBytes i;
    DesBytes x;
    DesBytes r;
    DesBytes rx;
  } w;
  WipeGuard<Work> guard(w);
  DesEncrypt(w.i, generatorKey, seed);
  XorBytes(w.x.data(), w.i.data(), state.data(), 8);
  DesEncrypt(w.r, generatorKey, w.x);
  XorBytes(w.rx.data(), w.r.data(), w.x.data(), 8);
  DesEncrypt(state, generatorKey, w.rx);
  output = w.r;
}

void GenerateStorageKey(DoubleKey& output, const DesBytes& seed) {
  DesBytes half;
  WipeGuard<DesBytes> guard(half);
  const std::lock_guard lock(generatorLock);
  for (std::size_t offset = 0; offset < output.size(); offset += half.size()) {
    NextRandomBlock(half, kGeneratorKey, generatorState, seed);
    ForceOddParity(half, half);
    std::memcpy(output.data() + offset, half.data(), half.size());
  }
}

int InstallKey(KeyStore& store, KeyCryptogram& cryptogram, std::string_view keyText,
               std::string_view kcvText, const std::array<std::uint8_t, 8>& seed) {
  // Shorter texts would leave the key or its check value partly unread.
  if (keyText.size() < kSingleKeyDigits || kcvText.size() < kKcvDigits) return kWrongCheckValue;
  struct Work {
    DesBytes key;
    KcvBytes expected;
    DoubleKey storageKey;
    DesBytes half;
    DesBytes block;
  } w;
  WipeGuard<Work> guard(w);
  HexToBytes(w.key.data(), keyText, w.key.size());
  HexToBytes(w.expected.data(), kcvText, w.expected.size());
  if (CheckKCV(w.expected, w.key) != 1) return kWrongCheckValue;

  GenerateStorageKey(w.storageKey, seed);
  std::memcpy(w.half.data(), w.storageKey.data(), 8);
  BuildKeySchedule(store.k1, w.half);
  std::memcpy(w.half.data(), w.storageKey.data() + 8, 8);
  BuildKeySchedule(store.k2, w.half);
  DesBlock(w.block, kModeEncrypt, store.k1, w.key);
  DesBlock(w.block, kModeDecrypt, store.k2, w.block);
  DesBlock(cryptogram, kModeEncrypt, store.k1, w.block);
  return kKeyInstalled;
}

}  // namespace kalvrin
