// The MAC check's display: the core call's result in the window.
#include "mac/file_mac.h"

#include <algorithm>
#include <string>

#include "mac/file_mac_texts.h"

namespace kalvrin {

namespace {

namespace t = mac_texts;

std::string Decimal(std::int64_t value) { return std::to_string(value); }

std::string Joined(std::string_view a, std::string_view b) {
  std::string text(a);
  text += b;
  return text;
}

void ShowBar(WindowSurface& surface, const MacBarScale& bar) {
  surface.setProgressMin(0);
  surface.setProgressMax(bar.max);
  surface.setProgressPosition(0);
}

// MACALL's figures before the read: the file's size and its blocks, its byte
// count still unknown.
void ShowVariantsStarting(WindowSurface& surface, const FileMacResult& result) {
  const MacVariantResult& all = result.variants[0];
  surface.setEditText(Edit::CalcMac1FSize, t::kByteCountPending);
  surface.setStatus(kPositionPanel, Joined(t::kFileSize, Decimal(result.fileSize)));
  surface.setEditText(Edit::CalcMac1BNum, Decimal(all.blocks));
  surface.setEditText(Edit::CalcMac1BSize, t::kBlockSizeText);
  surface.setStatus(kTotalsPanel, Joined(t::kBlocks, Decimal(all.blocks)));
  ShowBar(surface, MacBarScale(all.blocks));
  surface.repaint();
}

int ShowMacAll(WindowSurface& surface, const MacVariantResult& all) {
  if (all.failedStage == FIRST || all.failedStage == MIDDLE) {
    surface.setStatus(kCommandPanel, all.failure);
    return 0;
  }
  surface.setProgressPosition(MacBarScale(all.blocks).max);
  surface.setEditText(Edit::CalcMac1FSize, Decimal(all.bytes));
  surface.repaint();
  if (!all.computed) {
    surface.setStatus(kCommandPanel, all.failure);
    return 0;
  }
  surface.setEditText(Edit::CalcMacAll, all.mac);
  const std::int64_t last = all.bytes - (all.blocks - 1) * kMacBlockSize;
  const std::string calls = Decimal(all.blocks - 1) + "*" + std::string(t::kBlockSizeText) + "+" + Decimal(last);
  surface.setEditText(Edit::CalcMac1BNum, calls);
  surface.setStatus(kTotalsPanel, Joined(t::kBlocks, calls));
  return 1;
}

// MACNSP shows the calls it made and advances the progress bar per call;
// MACNHD shows its blocks.
int ShowTrimmed(WindowSurface& surface, const MacVariantEdits& edits, const MacVariantResult& variant,
                bool countsCalls) {
  surface.setEditText(edits.blockCount, Decimal(variant.blocks));
  surface.setEditText(edits.blockSize, t::kBlockSizeText);
  surface.setStatus(kTotalsPanel, Joined(t::kBlocks, Decimal(variant.blocks)));
  const MacBarScale bar(variant.blocks);
  ShowBar(surface, bar);
  surface.repaint();
  if (!variant.computed) {
    // the calls before the one that failed
    const std::int64_t made = variant.failedStage == FIRST || variant.failedStage == SINGLE ? 0 : variant.calls - 1;
    if (countsCalls && made > 0) surface.setProgressPosition(bar.Position(made));
    surface.setStatus(kCommandPanel, variant.failure);
    return 0;
  }
  if (countsCalls) surface.setProgressPosition(bar.Position(variant.calls));
  surface.setEditText(edits.byteCount, Decimal(variant.bytes));
  surface.setEditText(edits.blockCount, Decimal(countsCalls ? variant.calls : variant.blocks));
  surface.setEditText(edits.result, variant.mac);
  return 1;
}

// The envelope lookup's word and the declared values, as they are known.
void ShowEnvelope(WindowSurface& surface, const FileMacResult& result) {
  if (!result.envelopeStatus.empty()) surface.setStatus(kCommandPanel, result.envelopeStatus);
  if (result.stop == MacCheckStop::Envelope) return;
  surface.setEditText(Edit::INFileMacMeth, result.declaredMethod);
  surface.setEditText(Edit::INFileMacVer, result.declaredVersion);
  surface.setEditText(Edit::INFileKcv, result.declaredKcv);
  surface.setEditText(Edit::INFileMac, result.declaredMac);
}

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

}  // namespace

MacReadHooks VariantDisplayHooks(WindowSurface& surface, const std::atomic<bool>* stop) {
  MacReadHooks hooks;
  // the lookup leaves the progress bar alone
  hooks.lookingUp = [&surface, stop, pumps = surface.hasEventLoop()](std::int64_t, std::int64_t) {
    if (pumps) surface.processEvents();
    return stop == nullptr || !stop->load(std::memory_order_relaxed);
  };
  hooks.started = [&surface](const FileMacResult& result) { ShowVariantsStarting(surface, result); };
  hooks.progress = [&surface, stop, pumps = surface.hasEventLoop()](std::int64_t bytesRead, std::int64_t fileSize) {
    const MacBarScale bar(std::max<std::int64_t>(1, MacBlockCount(fileSize)));
    surface.setProgressPosition(bar.Position(bytesRead / kMacBlockSize));
    if (pumps) surface.processEvents();
    return stop == nullptr || !stop->load(std::memory_order_relaxed);
  };
  return hooks;
}

int ShowVariantResults(WindowSurface& surface, const FileMacResult& result) {
  ShowMacAll(surface, result.variants[0]);
  ShowTrimmed(surface, kMacVariants[1], result.variants[1], false);
  return ShowTrimmed(surface, kMacVariants[2], result.variants[2], true);
}

int CheckFileMac(WindowSurface& surface, std::string_view path, std::span<char> kcvText, std::string_view key,
                 MacCheckSecrets& secrets) {
  MacCheckReport report;
  return CheckFileMac(surface, path, kcvText, key, secrets, report);
}

int CheckFileMac(WindowSurface& surface, std::string_view path, std::span<char> kcvText, std::string_view key,
                 MacCheckSecrets& secrets, MacCheckReport& report, const std::atomic<bool>* stop) {
  report = MacCheckReport{};
  MacReadHooks hooks = VariantDisplayHooks(surface, stop);
  hooks.started = [&surface, showVariants = std::move(hooks.started)](const FileMacResult& result) {
    ShowEnvelope(surface, result);
    showVariants(result);
  };
  const FileMacResult result = ComputeFileMac(path, key, secrets, hooks);
  report.stop = result.stop;
  if (result.stop == MacCheckStop::KeyCheckValue) {
    surface.setStatus(kTotalsPanel, result.failure);
    return 0;
  }
  std::copy_n(result.keyKcv.data(), std::min(result.keyKcv.size(), kcvText.size()), kcvText.data());
  if (result.stop == MacCheckStop::KeyInstall || result.stop == MacCheckStop::Envelope) {
    if (result.stop == MacCheckStop::Envelope) ShowEnvelope(surface, result);
    surface.setStatus(kTotalsPanel, result.failure);
    return 0;
  }
  if (result.stop == MacCheckStop::FileChanged) {
    surface.setStatus(kCommandPanel, result.failure);
    return 0;
  }
  report.trailerFound = result.trailerFound;
  if (result.stop == MacCheckStop::Stopped) return 0;
  const int nsp = ShowVariantResults(surface, result);
  report.matches = ColourResults(surface);
  return nsp;
}

int CheckFileMac(WindowSurface& surface, std::string_view path, std::span<char> kcvText, std::string_view key) {
  MacCheckSecrets secrets;
  return CheckFileMac(surface, path, kcvText, key, secrets);
}

}  // namespace kalvrin
