// The MAC variants one at a time, each opening and reading the file on its
// own and cutting it into the 512-byte pieces the MAC is specified over: the
// plain path that the one-read core call (mac/mac_core.h) is checked
// against.
#pragma once

#include <string_view>

#include "defines.h"
#include "mac/mac_core.h"

namespace kalvrin::test {

enum class MacVariant { All, Nhd, Nsp };

// One variant: opens the file read-only, writes its figures, MAC and
// messages into the window as the MAC check shows them, and returns 1 when
// it showed its MAC, 0 when it stopped with a message. MACALL does not look
// at the envelope. The run's records are left as the variant left them.
int ComputeMac(WindowSurface& surface, std::string_view path, MacVariant variant, const MacKeys& keys,
               const MacRecords& envelope, MacRun& run);

}  // namespace kalvrin::test
