// The MAC check's core call: key, envelope and the three variants over one
// open file, to a plain result.
#include "mac/mac_core.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <exception>
#include <random>

#include "mac/file_mac_texts.h"
#include "mac/wipe.h"

namespace kalvrin {

namespace {

namespace t = mac_texts;

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
    static std::atomic<std::uint32_t> counter = 0;
    const auto ticks = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    const std::uint64_t value = ticks ^ (std::uint64_t{++counter} << 40);
    std::memcpy(seed.data(), &value, seed.size());
  }
}

// A declared text's part from `at`, as far as the text reaches.
std::string Part(std::string_view text, std::size_t at, std::size_t count) {
  return std::string(text.substr(std::min(at, text.size()), count));
}

void TakeDeclaredValues(const MacRecords& records, FileMacResult& result) {
  const std::string_view settings = DeclaredSettings(records);
  result.declaredMethod = Part(settings, 0, kMacVersionAt - kMacMethodAt);
  result.declaredVersion = Part(settings, kMacVersionAt - kMacMethodAt, kMacKcvAt - kMacVersionAt);
  result.declaredKcv = Part(settings, kMacKcvAt - kMacMethodAt, kKcvDigits);
  result.declaredMac = DeclaredMac(records);
  result.trailerFound = records.trailerLength != 0;
  result.headerLength = records.headerLength;
  result.trailerLength = records.trailerLength;
}

}  // namespace

FileMacResult ComputeFileMac(TransactionFile& file, std::string_view key, MacCheckSecrets& secrets,
                             const MacReadHooks& hooks) {
  WipeGuard<MacCheckSecrets> guard(secrets);
  FileMacResult result;
  if (CreateKCV(secrets.kcvText.data(), key, static_cast<int>(kKcvDigits)) == 0) {
    result.stop = MacCheckStop::KeyCheckValue;
    result.failure = t::kCreateKcvError;
    return result;
  }
  const std::string_view kcv(secrets.kcvText.data(), kKcvDigits);
  result.keyKcv = kcv;

  FillSeed(secrets.seed);
  const int installed = InstallKey(secrets.keyStore, secrets.keyCryptogram, key, kcv, secrets.seed);
  if (installed != 0) {
    result.stop = MacCheckStop::KeyInstall;
    result.failure = std::string(t::kInstallKeyError) + std::to_string(installed);
    return result;
  }

  MacRecords records;
  MacLookupProgress going;
  if (hooks.lookingUp) going = [&](std::int64_t bytesRead) { return hooks.lookingUp(bytesRead, file.Size()); };
  const MacEnvelopeLookup envelope = LookUpMacRecords(file, records, going);
  if (envelope.stopped) {
    result.stop = MacCheckStop::Stopped;
    return result;
  }
  result.envelopeStatus = envelope.status;
  if (!envelope.found) {
    result.stop = MacCheckStop::Envelope;
    result.failure = t::kMacRecordsError;
    return result;
  }
  TakeDeclaredValues(records, result);

  const MacKeys keys{secrets.keyStore, secrets.keyCryptogram, kcv};
  ReadMacVariants(file, keys, records.headerLength, records.trailerLength, secrets.runs, hooks, result);
  return result;
}

FileMacResult ComputeFileMac(std::string_view path, std::string_view key, MacCheckSecrets& secrets,
                             const MacReadHooks& hooks, const FileIdentity* expected) {
  const std::string pathText(path);
  const FileIdentity identity = expected != nullptr ? *expected : FileIdentity::Of(pathText);  // before the open
  bool changed = false;
  const auto unchanged = [&] {
    changed = changed || FileIdentity::Of(pathText) != identity;
    return !changed;
  };
  // The path is looked at before the caller's word at every step, so that a
  // change ends the reads as a stop would.
  MacReadHooks watched = hooks;
  watched.lookingUp = [&](std::int64_t bytesRead, std::int64_t fileSize) {
    return unchanged() && (!hooks.lookingUp || hooks.lookingUp(bytesRead, fileSize));
  };
  watched.progress = [&](std::int64_t bytesRead, std::int64_t fileSize) {
    return unchanged() && (!hooks.progress || hooks.progress(bytesRead, fileSize));
  };
  TransactionFile file(path);
  FileMacResult result = ComputeFileMac(file, key, secrets, watched);
  const bool keyRefused = result.stop == MacCheckStop::KeyCheckValue || result.stop == MacCheckStop::KeyInstall;
  const bool stoppedByCaller = result.stop == MacCheckStop::Stopped && !changed;
  // a file that cannot be opened is the envelope's to report
  if (keyRefused || stoppedByCaller || !file.IsOpen() || unchanged()) return result;
  FileMacResult changedResult;
  changedResult.stop = MacCheckStop::FileChanged;
  changedResult.failure = kFileChanged;
  changedResult.keyKcv = result.keyKcv;
  changedResult.fileSize = result.fileSize;
  return changedResult;
}

FileMacResult ComputeFileMac(TransactionFile& file, std::string_view key, const MacReadHooks& hooks) {
  MacCheckSecrets secrets;
  return ComputeFileMac(file, key, secrets, hooks);
}

}  // namespace kalvrin
