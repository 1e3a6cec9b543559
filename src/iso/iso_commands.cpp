// The ISO and Clear commands and the start-up state of the window.
#include "iso/iso_commands.h"

#include "iso/iso_texts.h"

namespace kalvrin {

namespace {
// Clear empties the read-out and figure edits in this order, then the three
// MAC results, which also go back to black.
constexpr Edit kClearedEdits[] = {
    Edit::INFileKcv,     Edit::INFileMacVer,  Edit::INFileMacMeth, Edit::INFileMac,
    Edit::CalcMac1BSize, Edit::CalcMac2BSize, Edit::CalcMac3BSize, Edit::CalcMac1BNum,
    Edit::CalcMac2BNum,  Edit::CalcMac3BNum,  Edit::CalcMac1FSize, Edit::CalcMac2FSize,
    Edit::CalcMac3FSize};
}  // namespace

int IsoCommand(FormatCheck& check, WindowSurface& surface, std::string_view path) {
  surface.setStatus(kCommandPanel, iso_text::kProcessingFormat);
  const int result = check.RunFormatCheck(path);
  if (result != 0) surface.setStatus(kCommandPanel, iso_text::kFormatProcessed);
  return result;
}

int IsoCommand(FormatCheck& check, WindowSurface& surface, std::string_view path, IsoOutcome& outcome) {
  const int result = IsoCommand(check, surface, path);
  if (result != 0) {
    outcome = {Outcome::Succeeded, IsoReason::Processed};
  } else if (check.FileUnreadable()) {
    outcome = {Outcome::CannotRun, IsoReason::CannotReadFile};
  } else if (check.FileChanged()) {
    outcome = {Outcome::CannotRun, IsoReason::FileChanged};
  } else if (check.ErrorOffset() >= 0) {
    outcome = {Outcome::Failed, IsoReason::BadPrefix};
  } else if (check.state().stopRequested) {
    outcome = {Outcome::Failed, IsoReason::Stopped};
  } else {
    outcome = {Outcome::Failed, IsoReason::EndsInsideMessage};
  }
  return result;
}

void ClearCommand(FormatCheck& check, WindowSurface& surface) {
  check.SetUpResultGrid();
  for (Edit edit : kClearedEdits) surface.setEditText(edit, {});
  for (Edit edit : kMacResultEdits) {
    surface.setEditText(edit, {});
    surface.setEditColour(edit, TextColour::Black);
  }
  for (int panel : {kPositionPanel, kTotalsPanel, kCommandPanel}) surface.setStatus(panel, {});
  surface.setProgressPosition(0);
}

void StartUpState(FormatCheck& check, WindowSurface& surface) {
  check.SetUpResultGrid();
  ClearCommand(check, surface);
}

}  // namespace kalvrin
