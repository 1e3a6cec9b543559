// The texts the window itself shows; the checks' own texts live with them.
#pragma once

#include "settings/settings_texts.h"

namespace kalvrin::app_text {

inline constexpr const char* kCaptionStem = settings_text::kCaptionStem;  // FormClose adds VersionText
inline constexpr const char* kUnableToWrite = "Unable to write to ";  // then the settings file's path
inline constexpr const char* kCloseWithoutSaving = "Close without saving";
inline constexpr const char* kStayOpen = "Stay open";
inline constexpr const char* kUnknownError = "Unknown error";
inline constexpr const char* kAboutCaption = "Info";
inline constexpr const char* kAboutName = " KALVRIN";
inline constexpr const char* kAboutVersion = "  Ver: ";
inline constexpr const char* kMakerAddress = "kalvrin.example";
inline constexpr const char* kConfigCaption = "Config";

// Status panel 2 after Clear or Escape stopped a running command.
inline constexpr const char* kFormatStopped = "Format check stopped";
inline constexpr const char* kMacStopped = "MAC check stopped";
inline constexpr const char* kVerifyStopped = "Verify stopped";
inline constexpr const char* kExplainStopped = "Explanation stopped";
// The MAC page's Explain button, its status while it runs, and why it did not.
inline constexpr const char* kExplainButton = "Explain";
inline constexpr const char* kExplaining = "Explaining the MAC";
inline constexpr const char* kExplainFileChanged = "The file changed after its MAC check: check its MAC again";

// The MAC page's verdict after a MAC check, and the marks beside the results
// that do not depend on their colour.
inline constexpr const char* kMatchMark = "\u2713";     // check mark
inline constexpr const char* kMismatchMark = "\u2717";  // ballot x
inline constexpr const char* kVerdictMatch = "%1 %2 the file's MAC %3.";  // mark, variants, MAC
inline constexpr const char* kVerdictNoMatch = "%1 No computed MAC equals the file's MAC %2.";
inline constexpr const char* kVerdictNoMac = "%1 No MAC was computed: %2";  // mark, the check's message
inline constexpr const char* kKcvSame = "%1 The key's check value %2 is the file's.";
inline constexpr const char* kKcvDiffers = "%1 The key's check value %2 is not the file's %3: a wrong key, not a wrong file.";
inline constexpr const char* kKcvNotDeclared = "The key's check value is %1; the file declares none.";
inline constexpr const char* kKcvNone = "%1 The key gives no check value: it is not 16 or 32 hexadecimal digits.";
// The verdict once the key has changed: the verdict, the file's name, the
// key check value it was for.
inline constexpr const char* kVerdictOfKey = "%1 (for %2, key check value %3)";
inline constexpr const char* kVerdictOfNoKey = "%1 (for %2, a key without check value)";
// Between the caption and the file's name in the title.
inline constexpr const char* kTitleSeparator = " - ";

// Menu items added around the specified ones.
inline constexpr const char* kRecentFilesMenu = "Recent files";
inline constexpr const char* kHelpItem = "Help";
inline constexpr const char* kOpenFilter = "Transaction files (*.dat)";
inline constexpr const char* kAllFilesFilter = "All files (*)";
// The status line's second half when a command's file cannot be opened.
inline constexpr const char* kNoFileNamed = "No file named in the file edit";

}  // namespace kalvrin::app_text
