// The MAC variants for verify, over the MAC check's own envelope lookup and
// variant runs: a window surface that only keeps the texts they write.
#include "verify/mac_rules.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <random>

#include "defines.h"
#include "mac/file_mac.h"
#include "mac/mac_pass.h"
#include "mac/key_install.h"
#include "mac/wipe.h"

namespace kalvrin::verify {

namespace {

// Keeps the edits and status texts; everything else a window would show is dropped.
class TextSurface final : public WindowSurface {
 public:
  int gridRowCount() const override { return 0; }
  void setGridRowCount(int) override {}
  void setGridFixedRows(int) override {}
  void setGridColCount(int) override {}
  void setGridColWidth(int, int) override {}
  void setGridCell(int, int, std::string_view) override {}
  void repaintGrid() override {}
  void setStatus(int panel, std::string_view text) override {
    if (panel >= 0 && panel < 3) status_[static_cast<std::size_t>(panel)] = text;
  }
  void repaintStatus() override {}
  int progressMin() const override { return 0; }
  void setProgressMin(int) override {}
  int progressMax() const override { return 0; }
  void setProgressMax(int) override {}
  int progressPosition() const override { return 0; }
  void setProgressPosition(int) override {}
  std::string editText(Edit edit) const override { return edits_[static_cast<std::size_t>(edit)]; }
  void setEditText(Edit edit, std::string_view text) override { edits_[static_cast<std::size_t>(edit)] = text; }
  void setEditColour(Edit, TextColour) override {}
  void repaint() override {}
  void processEvents() override {}
  bool hasEventLoop() const override { return false; }

  const std::string& status(int panel) const { return status_[static_cast<std::size_t>(panel)]; }

 private:
  std::array<std::string, 3> status_;
  std::array<std::string, kEditCount> edits_;
};

// The key installation advances the engine's one storage-key generator.
std::mutex installLock;

struct Secrets {
  KeyStore keyStore{};
  KeyCryptogram keyCryptogram{};
  std::array<std::uint8_t, 8> seed{};
  std::array<char, 17> kcv{};
  std::array<MacRun, 3> runs{};  // MACALL's, MACNHD's and MACNSP's
};

}  // namespace

bool IsMacKey(std::string_view key) {
  return key.size() == 16 && std::all_of(key.begin(), key.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
         });
}

FileMacs ComputeFileMacs(std::string_view path, std::string_view key) {
  FileMacs macs;
  Secrets secrets;
  WipeGuard<Secrets> guard(secrets);
  if (!IsMacKey(key) || CreateKCV(secrets.kcv.data(), key, 8) == 0) {
    macs.failure = "the key is not 16 hex digits";
    return macs;
  }
  const std::string_view kcv(secrets.kcv.data(), 8);
  macs.keyKcv = kcv;
  // any 8 bytes will do as the storage key's seed; the clock where the system has no random source
  try {
    std::random_device random;
    for (auto& byte : secrets.seed) byte = static_cast<std::uint8_t>(random());
  } catch (const std::exception&) {
    auto ticks = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (auto& byte : secrets.seed) {
      byte = static_cast<std::uint8_t>(ticks);
      ticks >>= 8;
    }
  }
  {
    const std::lock_guard<std::mutex> lock(installLock);
    if (InstallKey(secrets.keyStore, secrets.keyCryptogram, key, kcv, secrets.seed) != 0) {
      macs.failure = "the key cannot be installed";
      return macs;
    }
  }

  TextSurface surface;
  MacRecords records;
  if (!FindMacRecords(surface, path, records)) {
    macs.failure = surface.status(2);
    return macs;
  }
  macs.trailerFound = records.trailerLength != 0;
  constexpr std::size_t kMacAt = 43;  // within the 51 bytes after the trailer's MTI
  const char* declared = reinterpret_cast<const char*>(records.macTrailer.data() + kMacAt);
  macs.declared.assign(declared, ::strnlen(declared, 8));

  ComputeMacVariants(surface, path, secrets.keyStore, secrets.keyCryptogram, kcv, records.headerLength,
                     records.trailerLength, secrets.runs);
  std::size_t at = 0;
  for (const Edit edit : kMacResultEdits) macs.variants[at++] = surface.editText(edit);
  macs.computed = true;
  return macs;
}

}  // namespace kalvrin::verify
