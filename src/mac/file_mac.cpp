// File MAC verification: the MACALL, MACNHD and MACNSP variants and the MAC
// check driver.
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
#include "mac/mac_pass.h"
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

// What sets a variant apart. MACALL feeds every byte of the file in pieces
// of 512, the last one at most 512; the trimmed variants feed what their
// table keeps of the range between the MAC header and the trailer, the last
// piece taking all that is left below 1024 raw bytes.
struct VariantRule {
  const MacVariantEdits& edits;
  bool wholeFile;
  std::string_view prefix;  // a trimmed variant's messages start with it
  KeepTable keep;
  bool countsCalls;  // MACNSP shows the calls it made and advances the progress bar per call
};
constexpr VariantRule kVariantRules[] = {
    {kMacVariants[0], true, {}, MakeKeepTable(false), false},
    {kMacVariants[1], false, t::kMacNhdPrefix, MakeKeepTable(false), false},
    {kMacVariants[2], false, t::kMacNspPrefix, MakeKeepTable(true), true},
};
static_assert(std::size(kVariantRules) == std::size(kMacVariants));

constexpr std::size_t kPiece = static_cast<std::size_t>(kMacBlockSize);
constexpr std::int64_t kLastPieceLimit = 2 * kMacBlockSize;  // fewer raw bytes left: they all go to LAST

// ---------------------------------------------------------------------------
// Small helpers

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

int Generate(MacRun& run, const MacKeys& keys, int stage, const std::uint8_t* data, std::size_t length) {
  return GenerateMAC(run.macText.data(), run.chain, run.context, stage, data, length, keys.keyStore,
                     keys.keyCryptogram, keys.kcvText);
}

std::string_view MacText(const MacRun& run) {
  return {run.macText.data(), ::strnlen(run.macText.data(), run.macText.size())};
}

// ---------------------------------------------------------------------------
// Variants

int RunWholeFile(const VariantRule& variant, WindowSurface& surface, std::string_view path, const MacKeys& keys,
                 MacRun& run) {
  const MacVariantEdits& edits = variant.edits;
  TransactionFile file(path);
  if (!file.IsOpen()) {
    surface.setStatus(kTotalsPanel, t::kMacAllFileOpenError);
    return 0;
  }
  if (!file.Seek(0)) {
    surface.setStatus(kCommandPanel, t::kMacAllFilePosError);
    return 0;
  }
  const std::int64_t length = file.Size();
  if (length < 0) {
    surface.setStatus(kCommandPanel, t::kMacAllGetFileLenError);
    return 0;
  }
  surface.setEditText(edits.byteCount, t::kByteCountPending);
  surface.setStatus(kPositionPanel, Joined(t::kFileSize, Decimal(length)));
  // a file of one block or less (even an empty one) is one SINGLE call
  const std::int64_t blocks = std::max<std::int64_t>(1, BlockCount(length));
  surface.setEditText(edits.blockCount, Decimal(blocks));
  surface.setEditText(edits.blockSize, t::kBlockSizeText);
  surface.setStatus(kTotalsPanel, Joined(t::kBlocks, Decimal(blocks)));
  BlockProgress progress(surface, blocks);
  surface.repaint();

  std::array<std::uint8_t, kPiece> piece{};
  const auto feed = [&](int stage, std::size_t count) {
    MaskNonPrintable(piece.data(), static_cast<std::ptrdiff_t>(count));
    const int code = Generate(run, keys, stage, piece.data(), count);
    if (code != 0) surface.setStatus(kCommandPanel, MacAllStageError(stage, code));
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
  surface.setEditText(edits.byteCount, Decimal((blocks - 1) * kMacBlockSize + static_cast<std::int64_t>(last)));
  surface.repaint();
  if (!file.AtEnd()) {
    surface.setStatus(kCommandPanel, t::kMacAllNotReadToEof);
    return 0;
  }
  if (!feed(blocks > 1 ? LAST : SINGLE, last)) return 0;

  surface.setEditText(edits.result, MacText(run));
  const std::string calls = Decimal(blocks - 1) + "*" + std::string(t::kBlockSizeText) + "+" + Decimal(static_cast<std::int64_t>(last));
  surface.setEditText(edits.blockCount, calls);
  surface.setStatus(kTotalsPanel, Joined(t::kBlocks, calls));
  return 1;
}

int RunTrimmed(const VariantRule& variant, WindowSurface& surface, std::string_view path, const MacKeys& keys,
               std::int64_t headerLength, std::int64_t trailerLength, MacRun& run) {
  const MacVariantEdits& edits = variant.edits;
  TransactionFile file(path);
  if (!file.IsOpen()) {
    surface.setStatus(kTotalsPanel, Joined(variant.prefix, t::kFileOpenError));
    return 0;
  }
  const std::int64_t length = file.Size();
  const std::int64_t skip = std::clamp<std::int64_t>(headerLength, 0, length);
  // a range of 0 bytes or less is one SINGLE call with no data
  const std::int64_t range = std::max<std::int64_t>(0, length - skip - std::max<std::int64_t>(0, trailerLength));

  int stage = range <= kMacBlockSize ? SINGLE : FIRST;
  std::int64_t pieceSize = range <= kMacBlockSize ? range : kMacBlockSize;
  const std::int64_t blocks = BlockCount(range);
  surface.setEditText(edits.blockCount, Decimal(blocks));
  surface.setEditText(edits.blockSize, t::kBlockSizeText);
  surface.setStatus(kTotalsPanel, Joined(t::kBlocks, Decimal(blocks)));
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
      surface.setStatus(kCommandPanel, Joined(variant.prefix, t::kGenerateMacErrorMode) + Decimal(stage) +
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

  surface.setEditText(edits.byteCount, Decimal(fed));
  surface.setEditText(edits.blockCount, Decimal(variant.countsCalls ? calls : blocks));
  surface.setEditText(edits.result, MacText(run));
  return 1;
}

// ---------------------------------------------------------------------------
// Driver helpers

std::array<bool, 3> ColourResults(WindowSurface& surface) {
  for (const Edit edit : kMacResultEdits) surface.setEditColour(edit, TextColour::Red);
  const std::string declared = surface.editText(Edit::INFileMac);
  std::array<bool, 3> matches{};
  for (std::size_t i = 0; i < matches.size(); ++i) {
    matches[i] = surface.editText(kMacResultEdits[i]) == declared;
    if (matches[i]) surface.setEditColour(kMacResultEdits[i], TextColour::Green);
  }
  return matches;
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

int ComputeMac(WindowSurface& surface, std::string_view path, MacVariant variant, const MacKeys& keys,
               const MacRecords& envelope, MacRun& run) {
  const VariantRule& rule = kVariantRules[static_cast<std::size_t>(variant)];
  if (rule.wholeFile) return RunWholeFile(rule, surface, path, keys, run);
  return RunTrimmed(rule, surface, path, keys, envelope.headerLength, envelope.trailerLength, run);
}

int CheckFileMac(WindowSurface& surface, std::string_view path, std::span<char> kcvText, std::string_view key,
                 MacCheckSecrets& secrets) {
  MacCheckReport report;
  return CheckFileMac(surface, path, kcvText, key, secrets, report);
}

int CheckFileMac(WindowSurface& surface, std::string_view path, std::span<char> kcvText, std::string_view key,
                 MacCheckSecrets& secrets, MacCheckReport& report, const std::atomic<bool>* stop) {
  WipeGuard<MacCheckSecrets> guard(secrets);
  report = MacCheckReport{};
  if (CreateKCV(secrets.kcvText.data(), key, static_cast<int>(kKcvDigits)) == 0) {
    report.stop = MacCheckStop::KeyCheckValue;
    surface.setStatus(kTotalsPanel, t::kCreateKcvError);
    return 0;
  }
  std::copy_n(secrets.kcvText.data(), std::min(kKcvDigits, kcvText.size()), kcvText.data());
  const std::string_view kcv(secrets.kcvText.data(), kKcvDigits);

  FillSeed(secrets.seed);
  const int installed = InstallKey(secrets.keyStore, secrets.keyCryptogram, key, kcv, secrets.seed);
  if (installed != 0) {
    report.stop = MacCheckStop::KeyInstall;
    surface.setStatus(kTotalsPanel, Joined(t::kInstallKeyError, Decimal(installed)));
    return 0;
  }

  MacRecords records;
  if (!FindMacRecords(surface, path, records)) {
    report.stop = MacCheckStop::Envelope;
    surface.setStatus(kTotalsPanel, t::kMacRecordsError);
    return 0;
  }
  report.trailerFound = records.trailerLength != 0;
  ShowDeclaredValues(surface, records);

  const VariantResults results = ComputeMacVariants(surface, path, secrets.keyStore, secrets.keyCryptogram, kcv,
                                                    records.headerLength, records.trailerLength, secrets.runs, stop);
  if (results.stopped) {
    report.stop = MacCheckStop::Stopped;
    return 0;
  }
  report.matches = ColourResults(surface);
  return results.nsp;
}

int CheckFileMac(WindowSurface& surface, std::string_view path, std::span<char> kcvText, std::string_view key) {
  MacCheckSecrets secrets;
  return CheckFileMac(surface, path, kcvText, key, secrets);
}

}  // namespace kalvrin
