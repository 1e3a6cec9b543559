// The MAC variants for verify: the MAC check's core call, its result taken
// as verify judges it.
#include "verify/mac_rules.h"

#include "mac/mac_core.h"

namespace kalvrin::verify {

namespace {

MacReadHooks HooksOf(const MacProgress& progress) {
  MacReadHooks hooks;
  if (progress) {
    hooks.lookingUp = [&](std::int64_t bytesRead, std::int64_t size) { return progress(bytesRead, 2 * size); };
    hooks.progress = [&](std::int64_t bytesRead, std::int64_t size) { return progress(size + bytesRead, 2 * size); };
  }
  return hooks;
}

FileMacs MacsOf(const FileMacResult& result) {
  FileMacs macs;
  switch (result.stop) {
    case MacCheckStop::KeyCheckValue: macs.failure = "the key is not 16 or 32 hex digits"; return macs;
    case MacCheckStop::KeyInstall:
    case MacCheckStop::FileChanged: macs.failure = result.failure; return macs;
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

FileMacs Computed(std::string_view path, std::string_view key, const FileIdentity* read,
                  const MacProgress& progress) {
  if (!IsMacKeyText(key)) {
    FileMacs macs;
    macs.failure = "the key is not 16 or 32 hex digits";
    return macs;
  }
  MacCheckSecrets secrets;
  return MacsOf(ComputeFileMac(path, key, secrets, HooksOf(progress), read));
}

}  // namespace

FileMacs ComputeFileMacs(std::string_view path, std::string_view key, const MacProgress& progress) {
  return Computed(path, key, nullptr, progress);
}

FileMacs ComputeFileMacs(std::string_view path, std::string_view key, const FileIdentity& read,
                         const MacProgress& progress) {
  return Computed(path, key, &read, progress);
}

}  // namespace kalvrin::verify
