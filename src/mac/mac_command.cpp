// The MAC button's command.
#include "mac/mac_command.h"

#include <algorithm>
#include <span>
#include <string>

#include "mac/file_mac.h"
#include "mac/file_mac_texts.h"
#include "mac/wipe.h"

namespace kalvrin {

namespace {
// Wipes the text's bytes when it leaves scope.
struct TextWipe {
  std::string& text;
  ~TextWipe() { SecureWipe(text.data(), text.size()); }
};


MacOutcome OutcomeOf(int result, const MacCheckReport& report) {
  MacOutcome outcome;
  outcome.matches = report.matches;
  switch (report.stop) {
    case MacCheckStop::KeyCheckValue: outcome.reason = MacReason::BadKey; break;
    case MacCheckStop::KeyInstall: outcome.reason = MacReason::KeyNotInstalled; break;
    case MacCheckStop::Envelope: outcome.reason = MacReason::NoEnvelope; break;
    case MacCheckStop::Stopped: outcome.reason = MacReason::VariantStopped; break;
    case MacCheckStop::FileChanged: outcome.reason = MacReason::FileChanged; break;
    case MacCheckStop::Variants:
      if (!report.trailerFound) {
        outcome.reason = MacReason::NoTrailer;
      } else if (result == 0) {
        outcome.reason = MacReason::VariantStopped;
      } else {
        const bool matched = report.matches[0] || report.matches[1] || report.matches[2];
        outcome.reason = matched ? MacReason::Matched : MacReason::Mismatch;
      }
      break;
  }
  switch (outcome.reason) {
    case MacReason::Matched: outcome.outcome = Outcome::Succeeded; break;
    case MacReason::Mismatch:
    case MacReason::VariantStopped: outcome.outcome = Outcome::Failed; break;
    case MacReason::BadKey:
    case MacReason::KeyNotInstalled:
    case MacReason::NoEnvelope:
    case MacReason::NoTrailer:
    case MacReason::FileChanged: outcome.outcome = Outcome::CannotRun; break;
  }
  return outcome;
}

}  // namespace

int MacCommand(WindowSurface& surface, std::string_view path, std::string_view kcvEditText, std::string_view key) {
  MacCheckSecrets secrets;
  MacOutcome outcome;
  return MacCommand(surface, path, kcvEditText, key, secrets, outcome);
}

int MacCommand(WindowSurface& surface, std::string_view path, std::string_view kcvEditText, std::string_view key,
               MacCheckSecrets& secrets) {
  MacOutcome outcome;
  return MacCommand(surface, path, kcvEditText, key, secrets, outcome);
}

int MacCommand(WindowSurface& surface, std::string_view path, std::string_view kcvEditText, std::string_view key,
               MacOutcome& outcome, const std::atomic<bool>* stop) {
  MacCheckSecrets secrets;
  return MacCommand(surface, path, kcvEditText, key, secrets, outcome, stop);
}

int MacCommand(WindowSurface& surface, std::string_view path, std::string_view kcvEditText, std::string_view key,
               MacCheckSecrets& secrets, MacOutcome& outcome, const std::atomic<bool>* stop) {
  surface.setStatus(kCommandPanel, mac_texts::kProcessingMac);
  surface.repaint();
  // the driver writes the key's check value into this copy; the edit's own
  // text never changes
  std::string kcvCopy(kcvEditText);
  kcvCopy.resize(std::max(kcvCopy.size(), kKcvDigits), ' ');
  const TextWipe wipe{kcvCopy};
  MacCheckReport report;
  const int result = CheckFileMac(surface, path, std::span<char>(kcvCopy), key, secrets, report, stop);
  if (result != 0) surface.setStatus(kCommandPanel, mac_texts::kMacProcessed);
  outcome = OutcomeOf(result, report);
  return result;
}

}  // namespace kalvrin
