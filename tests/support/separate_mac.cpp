// The separate MAC variants: MACALL over the whole file, MACNHD and MACNSP
// over the trimmed range, each with its own read.
#include "support/separate_mac.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "io/transaction_file.h"
#include "mac/file_mac_texts.h"

namespace kalvrin::test {

namespace {

namespace t = mac_texts;

constexpr std::size_t kPiece = static_cast<std::size_t>(kMacBlockSize);
constexpr std::int64_t kLastPieceLimit = 2 * kMacBlockSize;  // fewer raw bytes left: they all go to LAST

std::string Decimal(std::int64_t value) { return std::to_string(value); }

std::string Joined(std::string_view a, std::string_view b) {
  std::string text(a);
  text += b;
  return text;
}

// The progress bar counts blocks.
class BlockProgress {
 public:
  BlockProgress(WindowSurface& surface, std::int64_t blocks) : surface_(surface), bar_(blocks) {
    surface_.setProgressMin(0);
    surface_.setProgressMax(bar_.max);
    surface_.setProgressPosition(0);
  }
  void Advance() { surface_.setProgressPosition(bar_.Position(++done_)); }
  void Finish() { surface_.setProgressPosition(bar_.max); }

 private:
  WindowSurface& surface_;
  MacBarScale bar_;
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

int RunWholeFile(WindowSurface& surface, std::string_view path, const MacKeys& keys, MacRun& run) {
  const MacVariantEdits& edits = kMacVariants[0];
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
  surface.setEditText(edits.byteCount, t::kByteCountPending);
  surface.setStatus(kPositionPanel, Joined(t::kFileSize, Decimal(length)));
  // a file of one block or less (even an empty one) is one SINGLE call
  const std::int64_t blocks = std::max<std::int64_t>(1, MacBlockCount(length));
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

// MACNSP shows the calls it made and advances the progress bar per call.
int RunTrimmed(MacVariant variant, WindowSurface& surface, std::string_view path, const MacKeys& keys,
               std::int64_t headerLength, std::int64_t trailerLength, MacRun& run) {
  const auto index = static_cast<std::size_t>(variant);
  const MacVariantEdits& edits = kMacVariants[index];
  const std::string_view prefix = variant == MacVariant::Nhd ? t::kMacNhdPrefix : t::kMacNspPrefix;
  const bool countsCalls = variant == MacVariant::Nsp;
  TransactionFile file(path);
  if (!file.IsOpen()) {
    surface.setStatus(kTotalsPanel, Joined(prefix, t::kFileOpenError));
    return 0;
  }
  const std::int64_t length = file.Size();
  const std::int64_t skip = std::clamp<std::int64_t>(headerLength, 0, length);
  // a range of 0 bytes or less is one SINGLE call with no data
  const std::int64_t range = std::max<std::int64_t>(0, length - skip - std::max<std::int64_t>(0, trailerLength));

  int stage = range <= kMacBlockSize ? SINGLE : FIRST;
  std::int64_t pieceSize = range <= kMacBlockSize ? range : kMacBlockSize;
  const std::int64_t blocks = MacBlockCount(range);
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
    const std::size_t kept = ReadKept(file, work.data(), static_cast<std::size_t>(pieceSize), kVariantKeep[index]);
    MaskNonPrintable(work.data(), static_cast<std::ptrdiff_t>(kept));
    const int code = Generate(run, keys, stage, work.data(), kept);
    if (code != 0) {
      surface.setStatus(kCommandPanel, TrimmedStageError(prefix, stage, code));
      return 0;
    }
    ++calls;
    fed += static_cast<std::int64_t>(kept);
    rawLeft -= pieceSize;
    stage = rawLeft >= kLastPieceLimit ? MIDDLE : LAST;
    pieceSize = rawLeft >= kLastPieceLimit ? kMacBlockSize : rawLeft;
    if (countsCalls) progress.Advance();
  } while (rawLeft > 0);

  surface.setEditText(edits.byteCount, Decimal(fed));
  surface.setEditText(edits.blockCount, Decimal(countsCalls ? calls : blocks));
  surface.setEditText(edits.result, MacText(run));
  return 1;
}

}  // namespace

int ComputeMac(WindowSurface& surface, std::string_view path, MacVariant variant, const MacKeys& keys,
               const MacRecords& envelope, MacRun& run) {
  if (variant == MacVariant::All) return RunWholeFile(surface, path, keys, run);
  return RunTrimmed(variant, surface, path, keys, envelope.headerLength, envelope.trailerLength, run);
}

}  // namespace kalvrin::test
