// The three MAC variants in one read of the file. MACALL's chain runs on the
// calling thread, MACNHD's and MACNSP's interleaved on a second one; the
// window is written from the calling thread only, and it may repaint and
// take events while the file is read.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "defines.h"
#include "mac/file_mac.h"

namespace kalvrin {

// What the three variants returned: 1 when a variant showed its MAC, 0 when
// it stopped with a message.
struct VariantResults {
  int all = 0;
  int nhd = 0;
  int nsp = 0;
  bool stopped = false;  // the caller's stop flag ended the read; nothing was shown
};

// Writes what ComputeMacAll, ComputeMacNhd and ComputeMacNsp write when run
// one after the other on a file that does not change meanwhile (the progress
// bar, which follows the read while it lasts, ends as MACNSP leaves it), and
// returns what each returned. runs holds MACALL's, MACNHD's and MACNSP's
// records, left as their last GenerateMAC calls left them. When stop turns
// true the read ends early and the variants show nothing more.
VariantResults ComputeMacVariants(WindowSurface& surface, std::string_view path, const KeyStore& keyStore,
                                  const KeyCryptogram& keyCryptogram, std::string_view kcvText,
                                  std::int64_t headerLength, std::int64_t trailerLength,
                                  std::array<MacRun, 3>& runs, const std::atomic<bool>* stop = nullptr);

// MACALL's status text for a GenerateMAC failure at a stage, as both the
// one-read check and the separate variant show it.
std::string MacAllStageError(int stage, int code);

}  // namespace kalvrin
