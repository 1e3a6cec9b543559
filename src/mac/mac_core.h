// The MAC check's one core call: from an open transaction file and a key to
// the key's check value, the declared values and the three MAC variants,
// with their figures and what could not be computed and why. No window: the
// MAC command shows the result, verify judges it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "io/transaction_file.h"
#include "mac/generate_mac.h"
#include "mac/key_install.h"
#include "mac/mac_bytes.h"
#include "mac/mac_envelope.h"

namespace kalvrin {

// The records one variant hands to every GenerateMAC call; they hold the
// clear key's schedule while the run lasts.
struct MacRun {
  ChainRecord chain{};
  MacContext context{};
  std::array<char, 9> macText{};
};

// The key material of one MAC check, wiped when the check ends, whichever
// way it ends.
struct MacCheckSecrets {
  KeyStore keyStore{};
  KeyCryptogram keyCryptogram{};
  std::array<std::uint8_t, 8> seed{};
  std::array<char, 17> kcvText{};  // CreateKCV's digits and a NUL, room for 16
  std::array<MacRun, 3> runs{};    // MACALL's, MACNHD's and MACNSP's
};

// The installed key every GenerateMAC call of a check is given.
struct MacKeys {
  const KeyStore& keyStore;
  const KeyCryptogram& keyCryptogram;
  std::string_view kcvText;
};

// Where a MAC check stopped. Variants: it ran them all (each may still have
// failed, see MacVariantResult); Stopped: the caller ended the read;
// FileChanged: the file shrank, grew or was replaced while it was read.
enum class MacCheckStop { Variants, KeyCheckValue, KeyInstall, Envelope, Stopped, FileChanged };

// One variant, in the order of kMacVariants: MACALL over every byte of the
// file; MACNHD over the bytes between the MAC header and the trailer
// without CR, LF and TAB; MACNSP without spaces too.
struct MacVariantResult {
  std::int64_t blocks = 0;  // 512-byte blocks of its range (MACALL: at least one), known before the read
  std::int64_t calls = 0;   // GenerateMAC calls of a complete run
  std::int64_t bytes = 0;   // MACALL: the bytes it read, as (blocks-1)*512 + its last call's; the others: bytes fed
  bool computed = false;
  std::string mac;          // 8 hex digits when computed
  int failedStage = 0;      // the GenerateMAC stage that refused and its code; 0 when none did
  int failedCode = 0;
  std::string failure;      // why it has no MAC, as status panel 2 says it
};

struct FileMacResult {
  MacCheckStop stop = MacCheckStop::Variants;
  // When it stopped before the variants: status panel 1's text ("Create KCV
  // error ", "InstallKey error: 1", "MAC Records error"); kFileChanged when
  // the file changed.
  std::string failure;
  // The envelope lookup's word for status panel 2 ("File Header not found",
  // "MAC Trailer not found"); empty when it found all it looked for.
  std::string_view envelopeStatus;
  std::string keyKcv;  // the key's check value, kKcvDigits digits
  // What the file declares: the MAC header's method, version and key check
  // value, the trailer's MAC; each ends at the first NUL.
  std::string declaredMethod;
  std::string declaredVersion;
  std::string declaredKcv;
  std::string declaredMac;
  bool trailerFound = false;
  std::int64_t headerLength = 0;   // the MAC range, as MacRecords has it
  std::int64_t trailerLength = 0;
  std::int64_t fileSize = 0;       // when it was opened
  std::array<MacVariantResult, 3> variants{};
};

// What a caller sees of the check's two reads of the file. lookingUp: while
// the envelope lookup reads it for the trailer, after each buffer. started:
// once the file's size and the variants' block counts are known, before
// their read. progress: after each piece of the variants' read, and at least
// every 32 KiB of work and every 20 ms of waiting while it lasts. Both with
// the bytes read so far and the file's size; a window takes its events
// there, and false ends the check (stop Stopped, no variant results).
struct MacReadHooks {
  std::function<bool(std::int64_t bytesRead, std::int64_t fileSize)> lookingUp;
  std::function<void(const FileMacResult&)> started;
  std::function<bool(std::int64_t bytesRead, std::int64_t fileSize)> progress;
};

// The MAC check over an open file: key check value, key installation under a
// fresh storage key, envelope, declared values and the three variants in one
// more read of the same file. The key material lives in secrets and is
// wiped before it returns. Safe to call from several threads at once.
FileMacResult ComputeFileMac(TransactionFile& file, std::string_view key, MacCheckSecrets& secrets,
                             const MacReadHooks& hooks = {});
FileMacResult ComputeFileMac(TransactionFile& file, std::string_view key, const MacReadHooks& hooks = {});

// The same over the file at path, opened here, which must stay one file
// while it is read: `expected` (as an earlier read of it found it), or the
// file the path names before the open. When the path names another file,
// or the file shrinks or grows, by any progress call of the two reads or by
// their end, the check ends with stop FileChanged and no variant results:
// a shorter file's MAC would otherwise read as a MAC of the file. A change
// that keeps the size and modification time is not seen.
FileMacResult ComputeFileMac(std::string_view path, std::string_view key, MacCheckSecrets& secrets,
                             const MacReadHooks& hooks = {}, const FileIdentity* expected = nullptr);

// The three variants over the file from its start, under an installed key,
// into result's fileSize and variants (stop Stopped when progress ended the
// read). runs hold MACALL's, MACNHD's and MACNSP's records as their last
// GenerateMAC calls left them. MACALL's chain runs on the calling thread,
// MACNHD's and MACNSP's interleaved on a second one.
void ReadMacVariants(TransactionFile& file, const MacKeys& keys, std::int64_t headerLength,
                     std::int64_t trailerLength, std::array<MacRun, 3>& runs, const MacReadHooks& hooks,
                     FileMacResult& result);

// MACALL's status text for a GenerateMAC failure at a stage.
std::string MacAllStageError(int stage, int code);
// MACNHD's and MACNSP's: the variant's prefix ("MACNHD: "), stage and code.
std::string TrimmedStageError(std::string_view prefix, int stage, int code);

}  // namespace kalvrin
