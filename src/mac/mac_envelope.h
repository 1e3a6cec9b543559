// The MAC envelope of a transaction file: the MAC header before the file
// header, and the trailer whose function code tells it from other 1844
// messages. Found in one read of the file; its declared values go to the
// window's File MAC edits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "defines.h"
#include "io/transaction_file.h"

namespace kalvrin {

namespace mac_texts {
// the envelope lookup, status panel 2
inline constexpr std::string_view kDorvOpenError = "DORV open error";
inline constexpr std::string_view kMacHeaderReadError = "MAC Header read error";
inline constexpr std::string_view kFileHeaderReadError = "File Header read error";
inline constexpr std::string_view kFileHeaderNotFound = "File Header not found";
inline constexpr std::string_view kMacTrailerReadError = "MAC Trailer read error";
inline constexpr std::string_view kMacTrailerNotFound = "MAC Trailer not found";
}  // namespace mac_texts

inline constexpr std::size_t kMacHeaderSize = 60;
inline constexpr std::size_t kMacTrailerSize = 51;  // the trailer's bytes after its "1844"

// Where the MAC header record declares its method (one digit), version (two
// digits) and key check value (kKcvDigits hex digits).
inline constexpr std::size_t kMacMethodAt = 41;
inline constexpr std::size_t kMacVersionAt = 42;
inline constexpr std::size_t kMacKcvAt = 44;
// Where the MAC check reads the trailer's function code (P24) and its MAC
// (S128's eight characters), counted from the "1" of the trailer's MTI, and
// the MAC's place among the trailer bytes that MacRecords keeps.
inline constexpr std::size_t kTrailerFunctionCodeAt = 36;
inline constexpr std::size_t kTrailerMacAt = 47;
inline constexpr std::size_t kTrailerMacInRecord = kTrailerMacAt - 4;
inline constexpr std::size_t kMacDigits = 8;

// What FindMacRecords hands the driver. Bytes a short read could not fill
// stay zero, so the declared values end at the first NUL.
struct MacRecords {
  std::array<std::uint8_t, kMacHeaderSize> macHeader{};
  std::array<std::uint8_t, kMacTrailerSize> macTrailer{};
  std::int64_t headerLength = 0;   // offset of the "1" of the file header's "1644"
  std::int64_t trailerLength = 0;  // from the trailer's "1844" to the end; 0 when no trailer was found
};

// Locates the MAC header, the 1644 file header and the trailer (the last
// "1844" whose function code is "971") in one read of the file from its
// start. On failure `status` names the step for status panel 2 and `found`
// is false. A file without a trailer passes with trailerLength 0, a zero
// trailer and the status "MAC Trailer not found". The trailer search reads
// the whole file: `going`, when given, hears the bytes read after each
// buffer of it, and false ends the lookup (stopped, with no status).
using MacLookupProgress = std::function<bool(std::int64_t bytesRead)>;
struct MacEnvelopeLookup {
  bool found = false;
  std::string_view status;
  bool stopped = false;
};
MacEnvelopeLookup LookUpMacRecords(TransactionFile& file, MacRecords& records, const MacLookupProgress& going = {});

// The same over the path, with the status in status panel 2.
bool FindMacRecords(WindowSurface& surface, std::string_view path, MacRecords& records);

// The declared method, version and key check value (the header's bytes from
// kMacMethodAt on) and the declared MAC (the trailer's kMacDigits from
// kTrailerMacInRecord on), each ending at the first NUL.
std::string_view DeclaredSettings(const MacRecords& records);
std::string_view DeclaredMac(const MacRecords& records);

// Both into the File MAC edits.
void ShowDeclaredValues(WindowSurface& surface, const MacRecords& records);

}  // namespace kalvrin
