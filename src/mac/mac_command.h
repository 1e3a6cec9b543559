// The MAC button's command, shared by the desktop window and kalvrin-check.
#pragma once

#include <string_view>

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

}  // namespace kalvrin
