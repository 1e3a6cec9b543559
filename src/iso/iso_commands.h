// The window's ISO and Clear commands and its state after start-up, shared
// by the desktop window and kalvrin-check so that the two cannot drift apart.
#pragma once

#include <string_view>

#include "command_outcome.h"
#include "defines.h"
#include "iso/format_check.h"

namespace kalvrin {

// The ISO button's work after the window has gone busy: status panel 2
// "Processing format", RunFormatCheck, "Format processed" when it returns
// nonzero. Returns the driver's result.
int IsoCommand(FormatCheck& check, WindowSurface& surface, std::string_view path);

// Why a format check run ended.
enum class IsoReason {
  Processed,          // every message read to its end
  CannotReadFile,     // the file cannot be opened or read
  BadPrefix,          // a length prefix is not a number; FormatCheck::ErrorOffset says where
  Stopped,            // the run was stopped before the end of the file
  EndsInsideMessage,  // the file ends before a message's last present element is complete
  FileChanged,        // the file shrank, grew or was replaced while it was read
};
struct IsoOutcome {
  Outcome outcome = Outcome::Failed;
  IsoReason reason = IsoReason::Processed;
};
// The same, and how the run came out. The outcome follows from the run
// itself, never from the texts it showed.
int IsoCommand(FormatCheck& check, WindowSurface& surface, std::string_view path, IsoOutcome& outcome);

// The Clear button: grid set-up, the result edits emptied, the three MAC
// results emptied and set back to black, status panels emptied, progress
// position 0 (its range stays).
void ClearCommand(FormatCheck& check, WindowSurface& surface);

// The window state right after start-up (the grid set up, then Clear), for a
// fresh surface.
void StartUpState(FormatCheck& check, WindowSurface& surface);

}  // namespace kalvrin
