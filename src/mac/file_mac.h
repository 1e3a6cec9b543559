// File MAC verification: the MAC envelope of a transaction file, the three
// MAC variants computed over it, and the MAC check driver that reports them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "defines.h"
#include "mac/generate_mac.h"
#include "mac/key_install.h"

namespace kalvrin {

inline constexpr std::size_t kMacHeaderSize = 60;
inline constexpr std::size_t kMacTrailerSize = 51;  // the trailer's bytes after its "1844"
inline constexpr std::int64_t kMacBlockSize = 512;

// What FindMacRecords hands the driver. Bytes a short read could not fill
// stay zero, so the declared values end at the first NUL.
struct MacRecords {
  std::array<std::uint8_t, kMacHeaderSize> macHeader{};
  std::array<std::uint8_t, kMacTrailerSize> macTrailer{};
  std::int64_t headerLength = 0;   // offset of the "1" of the file header's "1644"
  std::int64_t trailerLength = 0;  // from the trailer's "1844" to the end; 0 when no trailer was found
};

// Locates the MAC header, the 1644 file header and the trailer (the last
// "1844" whose function code is "971") in one read of the file. On failure status panel 2 names the step and the
// result is false. A file without a trailer passes with trailerLength 0, a
// zero trailer and "MAC Trailer not found" in status panel 2.
bool FindMacRecords(WindowSurface& surface, std::string_view path, MacRecords& records);

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
  MacRun run{};                    // shared by the three variants, one after the other
};

// The three variants. Each opens the file read-only, writes its figures, MAC
// and messages into the window and returns 1 when it showed its MAC, 0 when
// it stopped with a message. The overloads with a MacRun use the caller's
// records (and leave them as the run left them); the others wipe their own.
int ComputeMacAll(WindowSurface& surface, std::string_view path, const KeyStore& keyStore,
                  const KeyCryptogram& keyCryptogram, std::string_view kcvText);
int ComputeMacAll(WindowSurface& surface, std::string_view path, const KeyStore& keyStore,
                  const KeyCryptogram& keyCryptogram, std::string_view kcvText, MacRun& run);
int ComputeMacNhd(WindowSurface& surface, std::string_view path, const KeyStore& keyStore,
                  const KeyCryptogram& keyCryptogram, std::string_view kcvText,
                  std::int64_t headerLength, std::int64_t trailerLength);
int ComputeMacNhd(WindowSurface& surface, std::string_view path, const KeyStore& keyStore,
                  const KeyCryptogram& keyCryptogram, std::string_view kcvText,
                  std::int64_t headerLength, std::int64_t trailerLength, MacRun& run);
int ComputeMacNsp(WindowSurface& surface, std::string_view path, const KeyStore& keyStore,
                  const KeyCryptogram& keyCryptogram, std::string_view kcvText,
                  std::int64_t headerLength, std::int64_t trailerLength);
int ComputeMacNsp(WindowSurface& surface, std::string_view path, const KeyStore& keyStore,
                  const KeyCryptogram& keyCryptogram, std::string_view kcvText,
                  std::int64_t headerLength, std::int64_t trailerLength, MacRun& run);

// The MAC check: key check value (its 8 digits overwrite the first 8
// characters of kcvText, or as many as it holds), key installation, envelope,
// declared values, the three variants, and the results coloured against the
// declared MAC. Returns MACNSP's result, or 0 when it stopped before the
// variants. The overload with secrets keeps the key material in the caller's
// storage, which is wiped before it returns.
int CheckFileMac(WindowSurface& surface, std::string_view path, std::span<char> kcvText,
                 std::string_view key);
int CheckFileMac(WindowSurface& surface, std::string_view path, std::span<char> kcvText,
                 std::string_view key, MacCheckSecrets& secrets);

// Where a MAC check stopped and what it found, for callers that act on it
// rather than on the texts it shows.
enum class MacCheckStop { Variants, KeyCheckValue, KeyInstall, Envelope };  // Variants: it ran them all
struct MacCheckReport {
  MacCheckStop stop = MacCheckStop::Variants;
  bool trailerFound = false;
  std::array<bool, 3> matches{};  // MACALL, MACNHD and MACNSP equal the declared MAC
};
int CheckFileMac(WindowSurface& surface, std::string_view path, std::span<char> kcvText,
                 std::string_view key, MacCheckSecrets& secrets, MacCheckReport& report);

}  // namespace kalvrin
