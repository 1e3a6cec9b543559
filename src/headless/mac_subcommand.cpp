// kalvrin-check mac FILE [--key HEX] [--expect all|nhd|nsp]: the MAC button
// on a fresh window.
#include <algorithm>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "headless/check_app.h"
#include "mac/file_mac_texts.h"
#include "mac/key_install.h"
#include "mac/mac_command.h"
#include "mac/wipe.h"

namespace kalvrin {

namespace {

namespace t = mac_texts;

struct MacOptions {
  std::string key{kDefaultKey};
  std::string expect;  // all, nhd or nsp; empty: any variant may match
};

bool Matches(const HeadlessSurface& surface, Edit result) {
  return surface.editColour(result) == TextColour::Green;
}

// Why the driver stopped before its variants, or empty when it did not.
std::string CannotRunReason(const HeadlessSurface& surface, const std::string& path) {
  const std::string panel1 = surface.status(1);
  if (panel1 == t::kCreateKcvError) return "Create KCV error: the key must be 16 hex digits";
  if (panel1.starts_with(t::kInstallKeyError)) return panel1 + " (the key cannot be installed as a single DES key)";
  if (panel1 == t::kMacRecordsError) return surface.status(2) + ": " + path;
  return {};
}

bool SameHex(std::string_view a, std::string_view b) {
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return upper(x) == upper(y); });
}

// keyKcv: the key's own check value, to tell a wrong key from a wrong MAC.
std::string MismatchReason(const HeadlessSurface& surface, const MacOptions& options, std::string_view keyKcv) {
  std::string text = "declared MAC " + surface.editText(Edit::INFileMac);
  text += options.expect.empty() ? " matches no computed MAC:" : " does not match";
  for (const auto& variant : kMacVariants) {
    if (!options.expect.empty() && options.expect != variant.name) continue;
    text += " ";
    text += variant.caption;
    text += " " + surface.editText(variant.result);
  }
  const std::string fileKcv = surface.editText(Edit::INFileKcv);
  if (!keyKcv.empty() && !SameHex(keyKcv, fileKcv)) {
    text += "; the key's check value ";
    text += keyKcv;
    text += " is not the file's " + fileKcv;
  }
  return text;
}

CheckOutcome RunMac(CheckContext& context, MacOptions& options) {
  CheckOutcome outcome;
  char keyKcv[kKcvDigits + 1] = {};
  if (CreateKCV(keyKcv, options.key, static_cast<int>(kKcvDigits)) == 0) keyKcv[0] = '\0';
  // the hidden check-value edit's text at start-up; the driver overwrites its
  // copy before reading it
  outcome.result = MacCommand(context.surface, context.path, KcvEditText(kDefaultKey), options.key);
  SecureWipe(options.key.data(), options.key.size());
  const HeadlessSurface& surface = context.surface;

  if (outcome.result == 0) {
    const std::string reason = CannotRunReason(surface, context.path);
    outcome.exitCode = reason.empty() ? kExitFailed : kExitCannotRun;
    // otherwise MACNSP stopped, with its own message
    const std::string variantMessage = surface.status(2) == t::kProcessingMac ? surface.status(1) : surface.status(2);
    outcome.error = reason.empty() ? variantMessage : reason;
    return outcome;
  }
  bool matched = false;
  for (const auto& variant : kMacVariants) {
    if (options.expect.empty() || options.expect == variant.name) matched = matched || Matches(surface, variant.result);
  }
  outcome.exitCode = matched ? kExitSucceeded : kExitFailed;
  if (!matched) outcome.error = MismatchReason(surface, options, keyKcv);
  return outcome;
}

std::function<CheckOutcome(CheckContext&)> DeclareMac(CLI::App& app) {
  auto options = std::make_shared<MacOptions>();
  app.add_option("--key", options->key, "the MAC key, 16 hex digits (default " + std::string(kDefaultKey) + ")");
  app.add_option("--expect", options->expect, "succeed only when this variant's MAC equals the declared one")
      ->check(CLI::IsMember({"all", "nhd", "nsp"}));
  return [options](CheckContext& context) { return RunMac(context, *options); };
}

}  // namespace

Subcommand MacSubcommand() {
  return {"mac", "run the MAC check (the MAC button) and print the declared and computed MACs", DeclareMac};
}

}  // namespace kalvrin
