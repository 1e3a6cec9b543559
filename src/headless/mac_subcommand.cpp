// kalvrin-check mac FILE [--key HEX|-] [--key-file PATH] [--expect all|nhd|nsp]
// [--explain]: the MAC button on a fresh window, and why its MAC differs.
#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>


#include "headless/check_app.h"
#include "headless/key_source.h"
#include "mac/core_dumps.h"
#include "mac/file_mac_texts.h"
#include "mac/key_install.h"
#include "mac/mac_command.h"
#include "mac/mac_explain.h"
#include "mac/wipe.h"

namespace kalvrin {

namespace {

namespace t = mac_texts;

struct MacOptions {
  KeyOptions keySource;
  std::string expect;  // all, nhd or nsp; empty: any variant may match
  bool explain = false;
};


bool SameHex(std::string_view a, std::string_view b) {
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return upper(x) == upper(y); });
}

// keyKcv: the key's own check value, to tell a wrong key from a wrong MAC.
std::string MismatchReason(const HeadlessSurface& surface, const MacOptions& options, std::string_view keyKcv) {
  std::string text = "declared MAC " + FileTextForLine(surface.editText(Edit::INFileMac));
  text += options.expect.empty() ? " matches no computed MAC:" : " does not match";
  for (const auto& variant : kMacVariants) {
    if (!options.expect.empty() && options.expect != variant.name) continue;
    text += " ";
    text += variant.caption;
    text += " " + FileTextForLine(surface.editText(variant.result));
  }
  const std::string fileKcv = surface.editText(Edit::INFileKcv);
  if (!keyKcv.empty() && !SameHex(keyKcv, fileKcv)) {
    text += "; the key's check value ";
    text += keyKcv;
    text += " is not the file's " + FileTextForLine(fileKcv);
  }
  return text;
}

// Zeroes the whole buffer of a key text, not only what it holds at the end.
struct KeyText {
  std::string text;
  ~KeyText() { SecureWipe(text.data(), text.capacity()); }
};

// The variant --expect names has matched, or any has when it names none.
bool Expected(const MacOptions& options, const MacOutcome& mac) {
  bool matched = false;
  for (std::size_t i = 0; i < std::size(kMacVariants); ++i) {
    if (options.expect.empty() || options.expect == kMacVariants[i].name) matched = matched || mac.matches[i];
  }
  return matched;
}

// "MACALL", "MACALL and MACNSP", "MACALL, MACNHD and MACNSP"
std::string Listed(const std::vector<std::string_view>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
    text += names[i];
  }
  return text;
}

// The verdict of a check that computed its MACs: ok when the variant asked
// for (or any) equals the declared MAC; else a wrong key when the check
// values differ, else a mismatch.
std::string VerdictLine(const MacVerdict& verdict, const HeadlessSurface& surface, const MacOptions& options,
                        bool expected, std::string_view keyKcv) {
  const std::string declared = Printable(surface.editText(Edit::INFileMac));
  if (expected) {
    return "MAC ok: " + Listed(verdict.matched) + (verdict.matched.size() == 1 ? " equals" : " equal") +
           " the declared " + declared;
  }
  if (verdict.kcv == "mismatch") {
    return "wrong key: the key check value " + std::string(keyKcv) + " differs from the file's " +
           Printable(surface.editText(Edit::INFileKcv));
  }
  const auto wanted = std::find_if(std::begin(kMacVariants), std::end(kMacVariants),
                                   [&options](const MacVariantEdits& v) { return v.name == options.expect; });
  if (!verdict.matched.empty() && wanted != std::end(kMacVariants)) {
    return "MAC mismatch: " + std::string(wanted->caption) + " does not equal the declared " + declared + " (" +
           Listed(verdict.matched) + (verdict.matched.size() == 1 ? " does)" : " do)");
  }
  return "MAC mismatch: no variant equals the declared " + declared +
         (verdict.kcv == "match" ? " (the key check value equals the file's)"
                                 : " (the file declares no key check value)");
}

MacVerdict Verdict(const HeadlessSurface& surface, const MacOptions& options, const MacOutcome& mac,
                   const CheckOutcome& outcome, std::string_view keyKcv) {
  MacVerdict verdict;
  for (std::size_t i = 0; i < std::size(kMacVariants); ++i) {
    if (mac.matches[i]) verdict.matched.push_back(kMacVariants[i].caption);
  }
  const std::string fileKcv = surface.editText(Edit::INFileKcv);
  verdict.kcv = fileKcv.empty() || keyKcv.empty() ? "absent" : SameHex(keyKcv, fileKcv) ? "match" : "mismatch";
  if (mac.reason == MacReason::Matched || mac.reason == MacReason::Mismatch) {
    verdict.line = VerdictLine(verdict, surface, options, outcome.outcome == Outcome::Succeeded, keyKcv);
  } else {
    verdict.line = "MAC not checked: " + outcome.error;
  }
  return verdict;
}

// The explanation as one JSON member: ,"explain":{...}.
std::string ExplainJson(const MacExplanation& ex) {
  nlohmann::ordered_json json;
  json["result"] = kExplainResultIds[static_cast<std::size_t>(ex.result)];
  json["candidatesTried"] = ex.candidatesTried;
  json["matches"] = nlohmann::ordered_json::array();
  for (const MacCandidateMatch& m : ex.matches) {
    json["matches"].push_back({{"variant", FormInfo(m.candidate.form).id},
                               {"cause", CauseInfo(m.candidate.cause).id},
                               {"computed", m.computed}});
  }
  return ",\"explain\":" + JsonLine(json);
}

// After the check, whatever its outcome: the explanation, which leaves the
// exit status as the check made it.
void AddExplanation(CheckContext& context, std::string_view key, const MacOutcome& mac, CheckOutcome& outcome) {
  std::array<std::string, 3> known;
  const bool ran = mac.reason == MacReason::Matched || mac.reason == MacReason::Mismatch;
  for (std::size_t i = 0; i < known.size() && ran; ++i) known[i] = context.surface.editText(kMacVariants[i].result);
  TransactionFile file(context.path);
  const MacExplanation ex = ExplainFileMac(file, key, ran ? &known : nullptr);
  outcome.tail.text = Printable(ExplanationLine(ex)) + "\n";
  outcome.tail.json = ExplainJson(ex);
}

CheckOutcome RunMac(CheckContext& context, MacOptions& options) {
  const NoCoreDumps noCoreDumps;
  CheckOutcome outcome;
  KeyText key;
  if (!ReadKey(options.keySource, kDefaultKey, key.text, outcome.error)) {
    // Like a bad argument: the command did not run, so no window state.
    outcome.outcome = Outcome::CannotRun;
    outcome.printed = true;
    return outcome;
  }
  char keyKcv[kKcvDigits + 1] = {};
  if (CreateKCV(keyKcv, key.text, static_cast<int>(kKcvDigits)) == 0) keyKcv[0] = '\0';
  MacOutcome mac;
  outcome.result = MacCommand(context.surface, context.path, KcvEditText(kDefaultKey), key.text, mac);
  const HeadlessSurface& surface = context.surface;

  outcome.outcome = mac.outcome;
  switch (mac.reason) {
    case MacReason::Matched:
    case MacReason::Mismatch:
      if (Expected(options, mac)) {
        outcome.outcome = Outcome::Succeeded;
      } else {
        outcome.outcome = Outcome::Failed;
        outcome.error = MismatchReason(surface, options, keyKcv);
      }
      break;
    case MacReason::VariantStopped:
      // MACNSP's own message, or the one of the variant that stopped before it
      outcome.error = FileTextForLine(surface.status(kCommandPanel) == t::kProcessingMac ? surface.status(kTotalsPanel)
                                                                                    : surface.status(kCommandPanel));
      break;
    case MacReason::BadKey: outcome.error = "Create KCV error: " + std::string(kKeyNotHex); break;
    case MacReason::KeyNotInstalled:
      outcome.error = FileTextForLine(surface.status(kTotalsPanel)) + " (" + std::string(kKeyHalvesDiffer) + ")";
      break;
    case MacReason::NoEnvelope:
      outcome.error = surface.status(kCommandPanel) == t::kDorvOpenError
                          ? OpenFailureText(t::kDorvOpenError, context.path)
                          : FileTextForLine(surface.status(kCommandPanel)) + ": " + PathForLine(context.path);
      break;
    case MacReason::NoTrailer:
      outcome.error = "the file has no MAC trailer (1844 with function code 971): " + PathForLine(context.path);
      break;
    case MacReason::FileChanged:
      outcome.error = PathForLine(context.path) + ": " + std::string(kFileChanged);
      break;
  }
  outcome.verdict = Verdict(surface, options, mac, outcome, keyKcv);
  if (options.explain) AddExplanation(context, key.text, mac, outcome);
  return outcome;
}

std::function<CheckOutcome(CheckContext&)> DeclareMac(CommandOptions& app) {
  auto options = std::make_shared<MacOptions>();
  DeclareKeyOptions(app, options->keySource, kDefaultKey);
  app.option("--expect", options->expect, "succeed only when this variant's MAC equals the declared one")
      .oneOf({"all", "nhd", "nsp"});
  app.flag("--explain", options->explain,
               "when the declared MAC equals none of the variants, name the candidate cause that gives it");
  return [options](CheckContext& context) { return RunMac(context, *options); };
}

}  // namespace

Subcommand MacSubcommand() {
  return {"mac", "run the MAC check (the MAC button) and print the declared and computed MACs", DeclareMac};
}

}  // namespace kalvrin
