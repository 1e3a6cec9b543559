// File MAC verification: the three MAC variants computed over a transaction
// file within its MAC envelope, and the MAC check driver that reports them.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "defines.h"
#include "mac/generate_mac.h"
#include "mac/key_install.h"
#include "mac/mac_envelope.h"

namespace kalvrin {

inline constexpr std::int64_t kMacBlockSize = 512;

// Every byte outside 0x20..0x7E becomes 0xAA, in place.
void MaskNonPrintable(std::uint8_t* buffer, std::ptrdiff_t length);

// The records one variant run hands to every GenerateMAC call; they hold
// the clear key's schedule while the run lasts.
struct MacRun {
  ChainRecord chain{};
  MacContext context{};
  std::array<char, 9> macText{};
};

// The key material of one MAC check. CheckFileMac wipes all of it when the
// run ends, whichever way it ends.
struct MacCheckSecrets {
  KeyStore keyStore{};
  KeyCryptogram keyCryptogram{};
  std::array<std::uint8_t, 8> seed{};
  std::array<char, 17> kcvText{};  // CreateKCV's 8 digits and a NUL, room for 16
  std::array<MacRun, 3> runs{};    // MACALL's, MACNHD's and MACNSP's
};

// The three variants, in the order of kMacVariants: MACALL over every byte
// of the file; MACNHD over the bytes between the MAC header and the trailer
// (the envelope's headerLength and trailerLength) without CR, LF and TAB;
// MACNSP without spaces too.
enum class MacVariant { All, Nhd, Nsp };

// The key material every GenerateMAC call of a run is given.
struct MacKeys {
  const KeyStore& keyStore;
  const KeyCryptogram& keyCryptogram;
  std::string_view kcvText;
};

// One variant: opens the file read-only, writes its figures, MAC and
// messages into the window and returns 1 when it showed its MAC, 0 when it
// stopped with a message. MACALL does not look at the envelope. The run's
// records are left as the variant left them.
int ComputeMac(WindowSurface& surface, std::string_view path, MacVariant variant, const MacKeys& keys,
               const MacRecords& envelope, MacRun& run);

// The MAC check: key check value (its 8 digits overwrite the first 8
// characters of kcvText, or as many as it holds), key installation, envelope,
// declared values, the three variants, and the results coloured against the
// declared MAC. The variants share one read of the file, during which the
// window may take events. Returns MACNSP's result, or 0 when it stopped
// before the variants. The overload with secrets keeps the key material in
// the caller's storage, which is wiped before it returns.
int CheckFileMac(WindowSurface& surface, std::string_view path, std::span<char> kcvText,
                 std::string_view key);
int CheckFileMac(WindowSurface& surface, std::string_view path, std::span<char> kcvText,
                 std::string_view key, MacCheckSecrets& secrets);

// Where a MAC check stopped and what it found, for callers that act on it
// rather than on the texts it shows.
// Variants: it ran them all; Stopped: the caller's stop flag ended the read.
enum class MacCheckStop { Variants, KeyCheckValue, KeyInstall, Envelope, Stopped };
struct MacCheckReport {
  MacCheckStop stop = MacCheckStop::Variants;
  bool trailerFound = false;
  std::array<bool, 3> matches{};  // MACALL, MACNHD and MACNSP equal the declared MAC
};
// When stop (if given) turns true while the file is read, the check ends
// there, shows no results and returns 0.
int CheckFileMac(WindowSurface& surface, std::string_view path, std::span<char> kcvText,
                 std::string_view key, MacCheckSecrets& secrets, MacCheckReport& report,
                 const std::atomic<bool>* stop = nullptr);

}  // namespace kalvrin
