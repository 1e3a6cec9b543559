// Key check values and protected installation of the MAC key: the clear key
// is kept only as its encryption under a fresh double-length storage key,
// whose schedules alone remain (KeyStore + KeyCryptogram).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "mac/des.h"

namespace kalvrin {

struct KeyStore {
  KeySchedule k1;
  KeySchedule k2;
};
using KeyCryptogram = std::array<std::uint8_t, 8>;
using KcvBytes = std::array<std::uint8_t, 4>;

inline constexpr int kKeyInstalled = 0;
inline constexpr int kWrongCheckValue = 1;

// A key check value's digits, as a file declares it and the window shows it.
inline constexpr std::size_t kKcvDigits = 8;

// The key the window starts with, and kalvrin-check's when none is given.
inline constexpr std::string_view kDefaultKey = "A4F1C07B3E9D2658";

// The one rule for a MAC key text, whatever front end it comes from. 16 hex
// digits (either case) are a single DES key. 32 are a double-length key:
// CreateKCV gives its triple-DES check value, which equals the single-DES
// one of its left half when both halves are equal, so that such a key works
// as its left half; when they differ InstallKey refuses it with
// kWrongCheckValue ("InstallKey error: 1"). Anything else is no key.
enum class MacKeyText { NotAKey, Single, EqualHalves, DifferentHalves };
MacKeyText MacKeyTextOf(std::string_view keyText);
// 16 or 32 hex digits: a key text the MAC check takes to CreateKCV.
inline bool IsMacKeyText(std::string_view keyText) { return MacKeyTextOf(keyText) != MacKeyText::NotAKey; }
// What every command says of a key that is no key, and of one that
// InstallKey refuses.
inline constexpr std::string_view kKeyNotHex = "the key must be 16 or 32 hex digits";
inline constexpr std::string_view kKeyHalvesDiffer = "the key cannot be installed as a single DES key";
// Why a command refuses the key text before it runs, in those words
// ("InstallKey error: 1 (...)" for differing halves); empty for a key it
// takes.
std::string MacKeyRefusal(std::string_view keyText);

// Fills kcv with `digits` (clamped to 0..16) upper-case hex digits of the
// zero block encrypted under the key, and a NUL: kcv needs digits+1 chars.
// 16 digits are a single DES key, 32 a two-key triple-DES key, in either
// case. Returns 1, or 0 (with an empty text) for a key text of any other
// length or with any character that is not a hex digit.
int CreateKCV(char* kcv, std::string_view keyText, int digits);

// The hidden check-value edit's text for a key: its check value in
// parentheses, "()" for a key CreateKCV refuses.
std::string KcvEditText(std::string_view keyText);

// Checks the first 16 characters of keyText against the first 8 of kcvText
// and installs the key under a fresh storage key made from the seed. 0
// installed; 1 wrong check value, or a key text shorter than 16 or a KCV
// text shorter than 8 characters; on 1 the store, the cryptogram and the
// generator state are as they were.
int InstallKey(KeyStore& store, KeyCryptogram& cryptogram, std::string_view keyText,
               std::string_view kcvText, const std::array<std::uint8_t, 8>& seed);

// 1 when the first 4 bytes of the zero block under the key equal expected, else 0.
int CheckKCV(const KcvBytes& expected, const DesBytes& key);

// 16 upper-case hex digits and a NUL (result needs 17 chars); the key text is
// 16 digits (DesHex) or 32 (TripleDesHex), the block text 16.
void DesHex(char* result, std::string_view keyText, std::string_view blockText);
void TripleDesHex(char* result, std::string_view keyText, std::string_view blockText);

// Sets the low bit of each byte so that every byte has an odd number of set bits.
void ForceOddParity(DesBytes& output, const DesBytes& input);

// One step of the storage-key generator under generatorKey; state is updated.
void NextRandomBlock(DesBytes& output, const DesBytes& generatorKey, DesBytes& state,
                     const DesBytes& seed);

// Two generator steps with the engine's own key and state, odd parity
// forced; safe to call from several threads at once.
void GenerateStorageKey(DoubleKey& output, const DesBytes& seed);

}  // namespace kalvrin
