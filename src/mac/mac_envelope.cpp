// The MAC envelope lookup: header, file header and trailer in one read.
#include "mac/mac_envelope.h"

#include <algorithm>
#include <cstring>

#include "io/transaction_file.h"
#include "mac/key_install.h"

namespace kalvrin {

namespace {

namespace t = mac_texts;

bool IsDigit(int c) { return c >= '0' && c <= '9'; }

// The four digits "1844" as the trailer search's window holds them.
constexpr std::uint32_t kTrailerMti = (std::uint32_t{'1'} << 24) | (std::uint32_t{'8'} << 16) | (std::uint32_t{'4'} << 8) | '4';
constexpr std::size_t kFunctionCodeAt = kTrailerFunctionCodeAt - 4;  // within the trailer bytes after "1844"
constexpr std::string_view kTrailerFunctionCode = "971";
constexpr std::string_view kFileHeaderMti = "1644";

bool IsTrailer(const std::array<std::uint8_t, kMacTrailerSize>& trailer) {
  return std::equal(kTrailerFunctionCode.begin(), kTrailerFunctionCode.end(), trailer.begin() + kFunctionCodeAt);
}

// Scans for the next four digits reading "1844" (other bytes between the
// digits do not break them up) and leaves the file just after them. After
// each buffer it asks the caller whether to go on.
bool SkipToTrailerMti(TransactionFile& file, std::uint32_t& window, int& digits, const MacLookupProgress& going,
                      bool& stopped) {
  for (auto bytes = file.Peek(); !bytes.empty() && !stopped; bytes = file.Peek()) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (!IsDigit(bytes[i])) continue;
      window = (window << 8) | bytes[i];
      if (digits < 4) ++digits;
      if (digits == 4 && window == kTrailerMti) {
        file.Skip(i + 1);
        return true;
      }
    }
    file.Skip(bytes.size());
    stopped = going && !going(file.Position());
  }
  return false;
}

enum class TrailerSearch { Found, NotFound, ReadError, Stopped };

// The trailer is the last "1844" whose function code is "971": the digits of
// a batch message can form "1844" followed by "971" by chance, and the first
// such window in a large file would cut the MAC range in the middle of the
// batch.
TrailerSearch FindTrailer(TransactionFile& file, MacRecords& records, const MacLookupProgress& going) {
  std::uint32_t window = 0;
  int digits = 0;
  bool stopped = false;
  bool found = false;
  std::int64_t trailerEnd = 0;  // offset just past the trailer's 51 bytes
  std::array<std::uint8_t, kMacTrailerSize> candidate{};
  while (SkipToTrailerMti(file, window, digits, going, stopped)) {
    candidate.fill(0);
    if (file.Read(candidate.data(), kMacTrailerSize) == 0) return TrailerSearch::ReadError;
    if (IsTrailer(candidate)) {
      records.macTrailer = candidate;
      trailerEnd = file.Position();
      found = true;
    }
    // the 51 bytes after a "1844" are not searched again
  }
  if (stopped) return TrailerSearch::Stopped;
  if (!found) {
    records.macTrailer.fill(0);
    return TrailerSearch::NotFound;
  }
  records.trailerLength = static_cast<std::int64_t>(4 + kMacTrailerSize) + (file.Position() - trailerEnd);
  return TrailerSearch::Found;
}

// The bytes ending at the first NUL.
std::string_view DeclaredText(const std::uint8_t* bytes, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(bytes);
  return {text, ::strnlen(text, size)};
}

}  // namespace

MacEnvelopeLookup LookUpMacRecords(TransactionFile& file, MacRecords& records, const MacLookupProgress& going) {
  records = MacRecords{};
  if (!file.IsOpen()) return {false, t::kDorvOpenError};
  if (!file.Seek(0) || file.Read(records.macHeader.data(), kMacHeaderSize) == 0) return {false, t::kMacHeaderReadError};
  std::int64_t skipped = 0;  // the separator and the first digit
  int c = 0;
  do {
    c = file.Get();
    if (c < 0) return {false, t::kFileHeaderReadError};
    ++skipped;
  } while (!IsDigit(c));
  std::array<std::uint8_t, 4> mti{static_cast<std::uint8_t>(c), 0, 0, 0};
  if (file.Read(mti.data() + 1, 3) == 0) return {false, t::kFileHeaderReadError};
  if (!std::equal(kFileHeaderMti.begin(), kFileHeaderMti.end(), mti.begin())) return {false, t::kFileHeaderNotFound};
  records.headerLength = static_cast<std::int64_t>(kMacHeaderSize) + skipped - 1;

  switch (FindTrailer(file, records, going)) {
    case TrailerSearch::Found: break;
    case TrailerSearch::Stopped: return {false, {}, true};
    case TrailerSearch::ReadError: return {false, t::kMacTrailerReadError};
    case TrailerSearch::NotFound:
      // no trailer: the MAC range runs to the end of the file, and the
      // declared MAC is empty
      records.trailerLength = 0;
      return {true, t::kMacTrailerNotFound};
  }
  return {true, {}};
}

bool FindMacRecords(WindowSurface& surface, std::string_view path, MacRecords& records) {
  TransactionFile file(path);
  const MacEnvelopeLookup lookup = LookUpMacRecords(file, records);
  if (!lookup.status.empty()) surface.setStatus(kCommandPanel, lookup.status);
  return lookup.found;
}

std::string_view DeclaredSettings(const MacRecords& records) {
  return DeclaredText(records.macHeader.data() + kMacMethodAt, kMacKcvAt - kMacMethodAt + kKcvDigits);
}

std::string_view DeclaredMac(const MacRecords& records) {
  return DeclaredText(records.macTrailer.data() + kTrailerMacInRecord, kMacDigits);
}

void ShowDeclaredValues(WindowSurface& surface, const MacRecords& records) {
  ShowDeclaredMacSettings(surface, DeclaredSettings(records));
  surface.setEditText(Edit::INFileMac, DeclaredMac(records));
}

}  // namespace kalvrin
