// The MAC variants for verify: the MAC check's core call, its result taken
// as verify judges it.
#include "verify/mac_rules.h"

#include <algorithm>

#include "mac/mac_core.h"

namespace kalvrin::verify {

bool IsMacKey(std::string_view key) {
  return key.size() == 16 && std::all_of(key.begin(), key.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
         });
}

FileMacs ComputeFileMacs(TransactionFile& file, std::string_view key, const MacProgress& progress) {
  FileMacs macs;
  if (!IsMacKey(key)) {
    macs.failure = "the key is not 16 hex digits";
    return macs;
  }
  MacReadHooks hooks;
  if (progress) {
    hooks.lookingUp = [&](std::int64_t bytesRead, std::int64_t size) { return progress(bytesRead, 2 * size); };
    hooks.progress = [&](std::int64_t bytesRead, std::int64_t size) { return progress(size + bytesRead, 2 * size); };
  }
  const FileMacResult result = ComputeFileMac(file, key, hooks);
  switch (result.stop) {
    case MacCheckStop::KeyCheckValue: macs.failure = "the key is not 16 hex digits"; return macs;
    case MacCheckStop::KeyInstall: macs.failure = "the key cannot be installed"; return macs;
    case MacCheckStop::Envelope: macs.failure = result.envelopeStatus; return macs;
    case MacCheckStop::Stopped: macs.failure = "stopped"; return macs;
    case MacCheckStop::Variants: break;
  }
  macs.keyKcv = result.keyKcv;
  macs.trailerFound = result.trailerFound;
  macs.declared = result.declaredMac;
  for (std::size_t i = 0; i < macs.variants.size(); ++i) macs.variants[i] = result.variants[i].mac;
  macs.computed = true;
  return macs;
}

FileMacs ComputeFileMacs(std::string_view path, std::string_view key, const MacProgress& progress) {
  TransactionFile file(path);
  return ComputeFileMacs(file, key, progress);
}

FileMacs ComputeFileMacs(std::string_view path, std::string_view key, const FileIdentity& read,
                         const MacProgress& progress) {
  TransactionFile file(path);
  if (file.IsOpen() && file.Identity() != read) {
    FileMacs macs;
    macs.failure = kFileChanged;
    return macs;
  }
  return ComputeFileMacs(file, key, progress);
}

}  // namespace kalvrin::verify
