// File MAC verification: envelope lookup, the MACALL, MACNHD and MACNSP
// variants, and the MAC check driver.
#include "mac/file_mac.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <limits>
#include <random>
#include <string>

#include "io/transaction_file.h"
#include "mac/file_mac_texts.h"
#include "mac/wipe.h"

namespace kalvrin {

namespace {

namespace t = mac_texts;

// ---------------------------------------------------------------------------
// Tables

constexpr std::array<std::uint8_t, 256> MakeMaskTable() {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = b >= 0x20 && b <= 0x7E ? static_cast<std::uint8_t>(b) : 0xAA;
  return table;
}
constexpr std::array<std::uint8_t, 256> kMaskTable = MakeMaskTable();

// 1 for a byte that a trimmed variant keeps, 0 for one it drops.
using KeepTable = std::array<std::uint8_t, 256>;
constexpr KeepTable MakeKeepTable(bool dropSpaces) {
  KeepTable table{};
  for (int b = 0; b < 256; ++b) table[b] = 1;
  table['\t'] = table['\n'] = table['\r'] = 0;
  if (dropSpaces) table[' '] = 0;
  return table;
}

struct TrimmedVariant {
  std::string_view prefix;
  KeepTable keep;
  Edit blockSize, macCalls, byteCount, result;
  bool countsCalls;  // MACNSP shows the calls it made and advances the progress bar per call
};
constexpr TrimmedVariant kMacNhd{t::kMacNhdPrefix, MakeKeepTable(false), Edit::CalcMac2BSize,
                                 Edit::CalcMac2BNum, Edit::CalcMac2FSize, Edit::CalcMacNHD, false};
constexpr TrimmedVariant kMacNsp{t::kMacNspPrefix, MakeKeepTable(true), Edit::CalcMac3BSize,
                                 Edit::CalcMac3BNum, Edit::CalcMac3FSize, Edit::CalcMacNSP, true};

constexpr std::size_t kPiece = static_cast<std::size_t>(kMacBlockSize);
constexpr std::int64_t kLastPieceLimit = 2 * kMacBlockSize;  // fewer raw bytes left: they all go to LAST

// ---------------------------------------------------------------------------
// Small helpers

bool IsDigit(int c) { return c >= '0' && c <= '9'; }

std::string Decimal(std::int64_t value) { return std::to_string(value); }

std::string Joined(std::string_view a, std::string_view b) {
  std::string text(a);
  text += b;
  return text;
}

std::int64_t BlockCount(std::int64_t length) {
  return length <= 0 ? 0 : (length + kMacBlockSize - 1) / kMacBlockSize;
}

// The progress bar counts blocks; a count beyond an int is shown scaled down.
class BlockProgress {
 public:
  BlockProgress(WindowSurface& surface, std::int64_t blocks)
      : surface_(surface), scale_(blocks / std::numeric_limits<int>::max() + 1),
        max_(static_cast<int>(blocks / scale_)) {
    surface_.setProgressMin(0);
    surface_.setProgressMax(max_);
    surface_.setProgressPosition(0);
  }
  void Advance() {
    ++done_;
    surface_.setProgressPosition(static_cast<int>(std::min<std::int64_t>(done_ / scale_, max_)));
  }
  void Finish() { surface_.setProgressPosition(max_); }

 private:
  WindowSurface& surface_;
  std::int64_t scale_;
  int max_;
  std::int64_t done_ = 0;
};

// Reads up to rawCount bytes and writes those the table keeps to out, in
// order; returns how many were kept. out needs room for rawCount bytes.
std::size_t ReadKept(TransactionFile& file, std::uint8_t* out, std::size_t rawCount, const KeepTable& keep) {
  std::size_t kept = 0;
  while (rawCount > 0) {
    const auto bytes = file.Peek();
    if (bytes.empty()) break;
    const std::size_t take = std::min(rawCount, bytes.size());
    for (std::size_t i = 0; i < take; ++i) {
      const std::uint8_t b = bytes[i];
      out[kept] = b;
      kept += keep[b];
    }
    file.Skip(take);
    rawCount -= take;
  }
  return kept;
}

struct MacKeys {
  const KeyStore& keyStore;
  const KeyCryptogram& keyCryptogram;
  std::string_view kcvText;
};

int Generate(MacRun& run, const MacKeys& keys, int stage, const std::uint8_t* data, std::size_t length) {
  return GenerateMAC(run.macText.data(), run.chain, run.context, stage, data, length, keys.keyStore,
                     keys.keyCryptogram, keys.kcvText);
}

std::string_view MacText(const MacRun& run) {
  return {run.macText.data(), ::strnlen(run.macText.data(), run.macText.size())};
}

std::string MacAllStageError(int stage, int code) {
  std::string text(t::kMacAllGenerateMac);
  text += t::kStageNames[stage];
  text += t::kMacAllError;
  switch (code) {
    case 1: text += t::kWrongCheckValue; break;
    case 2: text += t::kWrongStageCall; break;
    case 3:
      text += t::kWrongChainingVector;
      if (stage == FIRST) text += ": 3";
      break;
    default: text += Decimal(code); break;
  }
  return text;
}

// ---------------------------------------------------------------------------
// Variants

int RunMacAll(WindowSurface& surface, std::string_view path, const MacKeys& keys, MacRun& run) {
  TransactionFile file(path);
  if (!file.IsOpen()) {
    surface.setStatus(1, t::kMacAllFileOpenError);
    return 0;
  }
  if (!file.Seek(0)) {
    surface.setStatus(2, t::kMacAllFilePosError);
    return 0;
  }
  const std::int64_t length = file.Size();
  if (length < 0) {
    surface.setStatus(2, t::kMacAllGetFileLenError);
    return 0;
  }
  surface.setEditText(Edit::CalcMac1FSize, t::kByteCountPending);
  surface.setStatus(0, Joined(t::kFileSize, Decimal(length)));
  // a file of one block or less (even an empty one) is one SINGLE call
  const std::int64_t blocks = std::max<std::int64_t>(1, BlockCount(length));
  surface.setEditText(Edit::CalcMac1BNum, Decimal(blocks));
  surface.setEditText(Edit::CalcMac1BSize, t::kBlockSizeText);
  surface.setStatus(1, Joined(t::kBlocks, Decimal(blocks)));
  BlockProgress progress(surface, blocks);
  surface.repaint();

  std::array<std::uint8_t, kPiece> piece{};
  const auto feed = [&](int stage, std::size_t count) {
    MaskNonPrintable(piece.data(), static_cast<std::ptrdiff_t>(count));
    const int code = Generate(run, keys, stage, piece.data(), count);
    if (code != 0) surface.setStatus(2, MacAllStageError(stage, code));
    return code == 0;
  };

  if (blocks > 1) {
    if (!feed(FIRST, file.Read(piece.data(), kPiece))) return 0;
    for (std::int64_t i = 0; i < blocks - 2; ++i) {
      if (!feed(MIDDLE, file.Read(piece.data(), kPiece))) return 0;
      progress.Advance();
    }
  }
  const std::size_t last = file.Read(piece.data(), kPiece);
  progress.Finish();
  surface.setEditText(Edit::CalcMac1FSize, Decimal((blocks - 1) * kMacBlockSize + static_cast<std::int64_t>(last)));
  surface.repaint();
  if (!file.AtEnd()) {
    surface.setStatus(2, t::kMacAllNotReadToEof);
    return 0;
  }
  if (!feed(blocks > 1 ? LAST : SINGLE, last)) return 0;

  surface.setEditText(Edit::CalcMacAll, MacText(run));
  const std::string calls = Decimal(blocks - 1) + "*" + std::string(t::kBlockSizeText) + "+" + Decimal(static_cast<std::int64_t>(last));
  surface.setEditText(Edit::CalcMac1BNum, calls);
  surface.setStatus(1, Joined(t::kBlocks, calls));
  return 1;
}

int RunTrimmed(const TrimmedVariant& variant, WindowSurface& surface, std::string_view path, const MacKeys& keys,
               std::int64_t headerLength, std::int64_t trailerLength, MacRun& run) {
  TransactionFile file(path);
  if (!file.IsOpen()) {
    surface.setStatus(1, Joined(variant.prefix, t::kFileOpenError));
    return 0;
  }
  const std::int64_t length = file.Size();
  const std::int64_t skip = std::clamp<std::int64_t>(headerLength, 0, length);
  // a range of 0 bytes or less is one SINGLE call with no data
  const std::int64_t range = std::max<std::int64_t>(0, length - skip - std::max<std::int64_t>(0, trailerLength));

  int stage = range <= kMacBlockSize ? SINGLE : FIRST;
  std::int64_t pieceSize = range <= kMacBlockSize ? range : kMacBlockSize;
  const std::int64_t blocks = BlockCount(range);
  surface.setEditText(variant.macCalls, Decimal(blocks));
  surface.setEditText(variant.blockSize, t::kBlockSizeText);
  surface.setStatus(1, Joined(t::kBlocks, Decimal(blocks)));
  BlockProgress progress(surface, blocks);
  surface.repaint();
  file.Seek(skip);

  std::array<std::uint8_t, 2 * kPiece> work{};  // the last piece can hold up to 1023 bytes
  std::int64_t fed = 0;
  std::int64_t calls = 0;
  std::int64_t rawLeft = range;
  do {
    const std::size_t kept = ReadKept(file, work.data(), static_cast<std::size_t>(pieceSize), variant.keep);
    MaskNonPrintable(work.data(), static_cast<std::ptrdiff_t>(kept));
    const int code = Generate(run, keys, stage, work.data(), kept);
    if (code != 0) {
      surface.setStatus(2, Joined(variant.prefix, t::kGenerateMacErrorMode) + Decimal(stage) +
                               std::string(t::kErrorCode) + Decimal(code));
      return 0;
    }
    ++calls;
    fed += static_cast<std::int64_t>(kept);
    rawLeft -= pieceSize;
    stage = rawLeft >= kLastPieceLimit ? MIDDLE : LAST;
    pieceSize = rawLeft >= kLastPieceLimit ? kMacBlockSize : rawLeft;
    if (variant.countsCalls) progress.Advance();
  } while (rawLeft > 0);

  surface.setEditText(variant.byteCount, Decimal(fed));
  surface.setEditText(variant.macCalls, Decimal(variant.countsCalls ? calls : blocks));
  surface.setEditText(variant.result, MacText(run));
  return 1;
}

// Runs a variant on records of its own and wipes them afterwards.
template <typename Body>
int WithOwnRun(Body body) {
  MacRun run{};
  WipeGuard<MacRun> guard(run);
  return body(run);
}

// ---------------------------------------------------------------------------
// Envelope lookup

// The four digits "1844" as the trailer search's window holds them.
constexpr std::uint32_t kTrailerMti = (std::uint32_t{'1'} << 24) | (std::uint32_t{'8'} << 16) | (std::uint32_t{'4'} << 8) | '4';
constexpr std::size_t kFunctionCodeAt = 32;  // within the 51 trailer bytes
constexpr std::string_view kTrailerFunctionCode = "971";
constexpr std::string_view kFileHeaderMti = "1644";

bool IsTrailer(const std::array<std::uint8_t, kMacTrailerSize>& trailer) {
  return std::equal(kTrailerFunctionCode.begin(), kTrailerFunctionCode.end(), trailer.begin() + kFunctionCodeAt);
}

// Scans for the next four digits reading "1844" (other bytes between the
// digits do not break them up) and leaves the file just after them.
bool SkipToTrailerMti(TransactionFile& file, std::uint32_t& window, int& digits) {
  for (auto bytes = file.Peek(); !bytes.empty(); bytes = file.Peek()) {
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
  }
  return false;
}

enum class TrailerSearch { Found, NotFound, ReadError };

// The trailer is the last "1844" whose function code is "971": the digits of
// a batch message can form "1844" followed by "971" by chance, and the first
// such window in a large file would cut the MAC range in the middle of the
// batch.
TrailerSearch FindTrailer(TransactionFile& file, MacRecords& records) {
  std::uint32_t window = 0;
  int digits = 0;
  bool found = false;
  std::int64_t trailerEnd = 0;  // offset just past the trailer's 51 bytes
  std::array<std::uint8_t, kMacTrailerSize> candidate{};
  while (SkipToTrailerMti(file, window, digits)) {
    candidate.fill(0);
    if (file.Read(candidate.data(), kMacTrailerSize) == 0) return TrailerSearch::ReadError;
    if (IsTrailer(candidate)) {
      records.macTrailer = candidate;
      trailerEnd = file.Position();
      found = true;
    }
    // the 51 bytes after a "1844" are not searched again
  }
  if (!found) {
    records.macTrailer.fill(0);
    return TrailerSearch::NotFound;
  }
  records.trailerLength = static_cast<std::int64_t>(4 + kMacTrailerSize) + (file.Position() - trailerEnd);
  return TrailerSearch::Found;
}

// ---------------------------------------------------------------------------
// Driver helpers

// The header's bytes from 41 on and the trailer's from 43 on, each ending at
// the first NUL.
std::string_view DeclaredText(const std::uint8_t* bytes, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(bytes);
  return {text, ::strnlen(text, size)};
}

void ShowDeclaredValues(WindowSurface& surface, const MacRecords& records) {
  constexpr std::size_t kMethodAt = 41;
  constexpr std::size_t kMacAt = 43;
  constexpr std::size_t kMacLength = 8;
  const std::string_view header = DeclaredText(records.macHeader.data() + kMethodAt, 11);
  surface.setEditText(Edit::INFileMacMeth, header.substr(0, 1));
  surface.setEditText(Edit::INFileMacVer, header.substr(std::min<std::size_t>(1, header.size()), 2));
  surface.setEditText(Edit::INFileKcv, header.substr(std::min<std::size_t>(3, header.size()), 8));
  surface.setEditText(Edit::INFileMac, DeclaredText(records.macTrailer.data() + kMacAt, kMacLength));
}

void ColourResults(WindowSurface& surface) {
  for (const Edit edit : kMacResultEdits) surface.setEditColour(edit, TextColour::Red);
  const std::string declared = surface.editText(Edit::INFileMac);
  for (const Edit edit : kMacResultEdits) {
    if (surface.editText(edit) == declared) surface.setEditColour(edit, TextColour::Green);
  }
}

// Any 8 bytes will do as the seed; random ones, or the clock where the
// system has no random source.
void FillSeed(std::array<std::uint8_t, 8>& seed) {
  try {
    std::random_device random;
    for (std::size_t i = 0; i < seed.size(); i += 4) {
      const std::uint32_t value = random();
      std::memcpy(seed.data() + i, &value, 4);
    }
  } catch (const std::exception&) {
    static std::uint32_t counter = 0;
    const auto ticks = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    const std::uint64_t value = ticks ^ (std::uint64_t{++counter} << 40);
    std::memcpy(seed.data(), &value, seed.size());
  }
}

}  // namespace

// ---------------------------------------------------------------------------

void MaskNonPrintable(std::uint8_t* buffer, std::ptrdiff_t length) {
  for (std::ptrdiff_t i = 0; i < length; ++i) buffer[i] = kMaskTable[buffer[i]];
}

bool FindMacRecords(WindowSurface& surface, std::string_view path, MacRecords& records) {
  records = MacRecords{};
  TransactionFile file(path);
  if (!file.IsOpen()) {
    surface.setStatus(2, t::kDorvOpenError);
    return false;
  }
  if (file.Read(records.macHeader.data(), kMacHeaderSize) == 0) {
    surface.setStatus(2, t::kMacHeaderReadError);
    return false;
  }
  std::int64_t skipped = 0;  // the separator and the first digit
  int c = 0;
  do {
    c = file.Get();
    if (c < 0) {
      surface.setStatus(2, t::kFileHeaderReadError);
      return false;
    }
    ++skipped;
  } while (!IsDigit(c));
  std::array<std::uint8_t, 4> mti{static_cast<std::uint8_t>(c), 0, 0, 0};
  if (file.Read(mti.data() + 1, 3) == 0) {
    surface.setStatus(2, t::kFileHeaderReadError);
    return false;
  }
  if (!std::equal(kFileHeaderMti.begin(), kFileHeaderMti.end(), mti.begin())) {
    surface.setStatus(2, t::kFileHeaderNotFound);
    return false;
  }
  records.headerLength = static_cast<std::int64_t>(kMacHeaderSize) + skipped - 1;

  switch (FindTrailer(file, records)) {
    case TrailerSearch::Found: break;
    case TrailerSearch::ReadError:
      surface.setStatus(2, t::kMacTrailerReadError);
      return false;
    case TrailerSearch::NotFound:
      // no trailer: the MAC range runs to the end of the file, and the
      // declared MAC is empty
      records.trailerLength = 0;
      surface.setStatus(2, t::kMacTrailerNotFound);
      break;
  }
  return true;
}

int ComputeMacAll(WindowSurface& surface, std::string_view path, const KeyStore& keyStore,
                  const KeyCryptogram& keyCryptogram, std::string_view kcvText, MacRun& run) {
  return RunMacAll(surface, path, MacKeys{keyStore, keyCryptogram, kcvText}, run);
}

int ComputeMacAll(WindowSurface& surface, std::string_view path, const KeyStore& keyStore,
                  const KeyCryptogram& keyCryptogram, std::string_view kcvText) {
  return WithOwnRun([&](MacRun& run) { return ComputeMacAll(surface, path, keyStore, keyCryptogram, kcvText, run); });
}

int ComputeMacNhd(WindowSurface& surface, std::string_view path, const KeyStore& keyStore,
                  const KeyCryptogram& keyCryptogram, std::string_view kcvText, std::int64_t headerLength,
                  std::int64_t trailerLength, MacRun& run) {
  return RunTrimmed(kMacNhd, surface, path, MacKeys{keyStore, keyCryptogram, kcvText}, headerLength, trailerLength,
                    run);
}

int ComputeMacNhd(WindowSurface& surface, std::string_view path, const KeyStore& keyStore,
                  const KeyCryptogram& keyCryptogram, std::string_view kcvText, std::int64_t headerLength,
                  std::int64_t trailerLength) {
  return WithOwnRun([&](MacRun& run) {
    return ComputeMacNhd(surface, path, keyStore, keyCryptogram, kcvText, headerLength, trailerLength, run);
  });
}

int ComputeMacNsp(WindowSurface& surface, std::string_view path, const KeyStore& keyStore,
                  const KeyCryptogram& keyCryptogram, std::string_view kcvText, std::int64_t headerLength,
                  std::int64_t trailerLength, MacRun& run) {
  return RunTrimmed(kMacNsp, surface, path, MacKeys{keyStore, keyCryptogram, kcvText}, headerLength, trailerLength,
                    run);
}

int ComputeMacNsp(WindowSurface& surface, std::string_view path, const KeyStore& keyStore,
                  const KeyCryptogram& keyCryptogram, std::string_view kcvText, std::int64_t headerLength,
                  std::int64_t trailerLength) {
  return WithOwnRun([&](MacRun& run) {
    return ComputeMacNsp(surface, path, keyStore, keyCryptogram, kcvText, headerLength, trailerLength, run);
  });
}

int CheckFileMac(WindowSurface& surface, std::string_view path, std::span<char> kcvText, std::string_view key,
                 MacCheckSecrets& secrets) {
  WipeGuard<MacCheckSecrets> guard(secrets);
  if (CreateKCV(secrets.kcvText.data(), key, 8) == 0) {
    surface.setStatus(1, t::kCreateKcvError);
    return 0;
  }
  std::copy_n(secrets.kcvText.data(), std::min<std::size_t>(8, kcvText.size()), kcvText.data());
  const std::string_view kcv(secrets.kcvText.data(), 8);

  FillSeed(secrets.seed);
  const int installed = InstallKey(secrets.keyStore, secrets.keyCryptogram, key, kcv, secrets.seed);
  if (installed != 0) {
    surface.setStatus(1, Joined(t::kInstallKeyError, Decimal(installed)));
    return 0;
  }

  MacRecords records;
  if (!FindMacRecords(surface, path, records)) {
    surface.setStatus(1, t::kMacRecordsError);
    return 0;
  }
  ShowDeclaredValues(surface, records);

  MacRun& run = secrets.run;
  ComputeMacAll(surface, path, secrets.keyStore, secrets.keyCryptogram, kcv, run);
  ComputeMacNhd(surface, path, secrets.keyStore, secrets.keyCryptogram, kcv, records.headerLength,
                records.trailerLength, run);
  const int result = ComputeMacNsp(surface, path, secrets.keyStore, secrets.keyCryptogram, kcv,
                                   records.headerLength, records.trailerLength, run);
  ColourResults(surface);
  return result;
}

int CheckFileMac(WindowSurface& surface, std::string_view path, std::span<char> kcvText, std::string_view key) {
  MacCheckSecrets secrets;
  return CheckFileMac(surface, path, kcvText, key, secrets);
}

}  // namespace kalvrin
