// kalvrin-check iso FILE: the ISO button on a fresh window.
#include <CLI/CLI.hpp>

#include "headless/check_app.h"
#include "iso/iso_commands.h"
#include "iso/iso_texts.h"

namespace kalvrin {

namespace {

CheckOutcome RunIso(CheckContext& context) {
  CheckOutcome outcome;
  outcome.result = IsoCommand(context.formatCheck, context.surface, context.path);
  if (outcome.result != 0) {
    outcome.exitCode = kExitSucceeded;
  } else if (context.surface.status(kTotalsPanel) == iso_text::kCannotOpenFile) {
    outcome.exitCode = kExitCannotRun;
    outcome.error = std::string(iso_text::kCannotOpenFile) + ": " + context.path;
  } else if (context.formatCheck.state().stopRequested) {
    outcome.error = context.surface.status(kCommandPanel);  // the bad length prefix
  } else {
    outcome.error = "File ends inside message " + std::to_string(context.formatCheck.state().recordCount);
  }
  return outcome;
}

std::function<CheckOutcome(CheckContext&)> DeclareIso(CLI::App&) { return RunIso; }

}  // namespace

Subcommand IsoSubcommand() {
  return {"iso", "run the format check (the ISO button) and print the grid", DeclareIso};
}

}  // namespace kalvrin
