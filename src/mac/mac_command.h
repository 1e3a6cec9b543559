// The MAC button's command, shared by the desktop window and kalvrin-check.
#pragma once

#include <string_view>

#include <array>
#include <atomic>

#include "command_outcome.h"
#include "defines.h"
#include "mac/file_mac.h"

namespace kalvrin {

// The MAC button's work after the window has gone busy: status panel 2
// "Processing MAC", repaint, CheckFileMac with the path, a private writable
// copy of the hidden check-value edit's text (at least 8 characters) and the
// key text, "MAC processed" when it returns nonzero. Returns the driver's
// result.
int MacCommand(WindowSurface& surface, std::string_view path, std::string_view kcvEditText, std::string_view key);
// The same with the run's key material in the caller's storage, which is
// wiped before it returns (for tests that look at it afterwards).
int MacCommand(WindowSurface& surface, std::string_view path, std::string_view kcvEditText, std::string_view key,
               MacCheckSecrets& secrets);

// Why a MAC check came out as it did.
enum class MacReason {
  Matched,          // at least one computed MAC equals the declared one
  Mismatch,         // no computed MAC equals the declared one
  VariantStopped,   // MACNSP stopped with a message
  BadKey,           // no check value for the key: not 16 or 32 hex digits
  KeyNotInstalled,  // the key cannot be installed as a single DES key
  NoEnvelope,       // the MAC header or the file header cannot be read or found
  NoTrailer,        // no trailer (1844 with function code 971): no declared MAC to verify
  FileChanged,      // the file shrank, grew or was replaced while it was read
};
struct MacOutcome {
  Outcome outcome = Outcome::Failed;
  MacReason reason = MacReason::Mismatch;
  std::array<bool, 3> matches{};  // MACALL, MACNHD and MACNSP equal the declared MAC
};
// The same, and how the check came out. The outcome follows from the run
// itself, never from the texts it showed.
// A window that closes or clears during the check sets stop (see
// CheckFileMac).
int MacCommand(WindowSurface& surface, std::string_view path, std::string_view kcvEditText, std::string_view key,
               MacOutcome& outcome, const std::atomic<bool>* stop = nullptr);
int MacCommand(WindowSurface& surface, std::string_view path, std::string_view kcvEditText, std::string_view key,
               MacCheckSecrets& secrets, MacOutcome& outcome, const std::atomic<bool>* stop = nullptr);

}  // namespace kalvrin
