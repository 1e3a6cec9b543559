// The MAC check as the window shows it: the core call (mac_core.h) over the
// file, its result written to the window's File MAC and Calculated MAC
// edits, status panels and progress bar.
#pragma once

#include <array>
#include <atomic>
#include <span>
#include <string_view>

#include "defines.h"
#include "mac/mac_core.h"

namespace kalvrin {

// The MAC check: key check value (its 8 digits overwrite the first 8
// characters of kcvText, or as many as it holds), key installation, envelope,
// declared values, the three variants, and the results coloured against the
// declared MAC. The file is opened once; the variants share one read of it,
// during which the window may take events. Returns MACNSP's result (1 when
// it showed its MAC), or 0 when it stopped before the variants. The overload
// with secrets keeps the key material in the caller's storage, which is
// wiped before it returns.
int CheckFileMac(WindowSurface& surface, std::string_view path, std::span<char> kcvText,
                 std::string_view key);
int CheckFileMac(WindowSurface& surface, std::string_view path, std::span<char> kcvText,
                 std::string_view key, MacCheckSecrets& secrets);

// Where a MAC check stopped and what it found, for callers that act on it
// rather than on the texts it shows.
struct MacCheckReport {
  MacCheckStop stop = MacCheckStop::Variants;
  bool trailerFound = false;
  std::array<bool, 3> matches{};  // MACALL, MACNHD and MACNSP equal the declared MAC
};
// When stop (if given) turns true while the file is read, the check ends
// there, shows no results and returns 0.
int CheckFileMac(WindowSurface& surface, std::string_view path, std::span<char> kcvText,
                 std::string_view key, MacCheckSecrets& secrets, MacCheckReport& report,
                 const std::atomic<bool>* stop = nullptr);

// The pieces of the check's display, for the core's parts on their own:
// hooks that take the window's events (a surface with an event loop) while
// the file is read and end the check when stop turns true, show the
// variants' figures when their read starts and follow it on the progress
// bar; and the variants' results once it has ended, MACNSP's result
// returned.
MacReadHooks VariantDisplayHooks(WindowSurface& surface, const std::atomic<bool>* stop = nullptr);
int ShowVariantResults(WindowSurface& surface, const FileMacResult& result);

}  // namespace kalvrin
