// kalvrin-check rewrite: a test copy of a transaction file, edited,
// anonymised, renumbered, re-totalled and re-MACed, with a report of every
// change made.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include <nlohmann/json.hpp>

#include "headless/check_app.h"
#include "headless/key_source.h"
#include "mac/key_install.h"
#include "mac/wipe.h"
#include "rewrite/rewrite.h"
#include "verify/finding.h"

namespace kalvrin {

namespace {

inline constexpr const char* kSecretEnvironmentVariable = "KALVRIN_ANON_SECRET";

struct RewriteCommandOptions {
  std::string in;
  std::string out;
  std::vector<std::string> set, unset, remove, copy;
  bool anonymize = false;
  std::string secretFile;
  bool renumber = false;
  bool retotal = false;
  bool remac = false;
  std::string macVariant;
  KeyOptions keySource;
  bool json = false;
};

// Zeroes a secret's whole buffer when it goes.
struct SecretText {
  std::string text;
  ~SecretText() { SecureWipe(text.data(), text.capacity()); }
};

// The edits in the order the command line gives them, whatever their kind.
bool CollectEdits(const CommandOptions& app, std::vector<rewrite::Edit>& edits, std::string& error) {
  const std::vector<std::string> names = {"--set", "--unset", "--delete", "--copy"};
  const rewrite::EditKind kinds[] = {rewrite::EditKind::Set, rewrite::EditKind::Unset, rewrite::EditKind::Delete,
                                     rewrite::EditKind::Copy};
  for (const auto& [option, value] : app.valuesInOrder(names)) {
    const std::optional<rewrite::Edit> edit = rewrite::ParseEdit(kinds[option], value, error);
    if (!edit) {
      error = names[option] + ": " + error;
      return false;
    }
    edits.push_back(*edit);
  }
  return true;
}

bool ReadSecret(const std::string& file, std::string& secret, std::string& error) {
  if (file.empty()) {
    const char* text = std::getenv(kSecretEnvironmentVariable);
    secret = text != nullptr ? text : "";
    return true;
  }
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0 || !ReadFirstLine(fd, secret)) {
    error = "cannot read the anonymisation secret " + PathForLine(file) + (fd < 0 ? std::string(": ") + std::strerror(errno) : "");
    if (fd >= 0) ::close(fd);
    return false;
  }
  ::close(fd);
  while (!secret.empty() && (secret.back() == '\r' || secret.back() == ' ')) secret.pop_back();
  if (secret.empty()) {
    error = "the anonymisation secret " + PathForLine(file) + " is empty";
    return false;
  }
  return true;
}

// The report's lines, held back until the copy is written: a rewrite that
// fails reports no change. The first MiB stays in memory, the rest goes to a
// temporary file, so that a report of millions of changes costs no more.
class HeldReport {
 public:
  ~HeldReport() {
    if (spill_ != nullptr) std::fclose(spill_);
  }
  bool Add(const std::string& line) {
    if (spill_ == nullptr && held_.size() + line.size() <= kHeldInMemory) {
      held_ += line;
      return true;
    }
    if (spill_ == nullptr && (spill_ = std::tmpfile()) == nullptr) return false;
    return std::fwrite(line.data(), 1, line.size(), spill_) == line.size();
  }
  bool WriteTo(std::ostream& out) {
    out << held_;
    if (spill_ == nullptr) return true;
    std::rewind(spill_);
    std::string block(std::size_t{1} << 16, '\0');
    for (std::size_t got; (got = std::fread(block.data(), 1, block.size(), spill_)) > 0;) {
      out.write(block.data(), static_cast<std::streamsize>(got));
    }
    return std::ferror(spill_) == 0;
  }

 private:
  static constexpr std::size_t kHeldInMemory = std::size_t{1} << 20;
  std::string held_;
  std::FILE* spill_ = nullptr;
};

std::string ElementText(int element) { return element == 0 ? std::string() : verify::ElementName(element); }

std::string ChangeLine(bool json, const rewrite::Change& change) {
  if (json) {
    nlohmann::ordered_json line;
    line["record"] = change.record == 0 ? nlohmann::ordered_json() : nlohmann::ordered_json(change.record);
    line["outRecord"] = change.outRecord == 0 ? nlohmann::ordered_json() : nlohmann::ordered_json(change.outRecord);
    line["element"] = change.element == 0 ? nlohmann::ordered_json() : nlohmann::ordered_json(ElementText(change.element));
    line["change"] = change.what;
    line["before"] = Latin1ToUtf8(change.before);
    line["after"] = Latin1ToUtf8(change.after);
    return JsonLine(line) + '\n';
  }
  // the many values anonymisation changes are counted, not listed
  if (change.what == "anonymize" || change.what == "strayText") return {};
  std::string line = change.what;
  if (change.record != 0) line += " record " + std::to_string(change.record);
  if (change.element != 0) line += (change.record != 0 ? ", " : " ") + ElementText(change.element);
  if (!change.before.empty() || !change.after.empty()) {
    line += ": '" + Printable(change.before) + "' -> '" + Printable(change.after) + "'";
  }
  return line + '\n';
}

void PrintSummary(std::ostream& out, bool json, const RewriteCommandOptions& options,
                  const rewrite::RewriteResult& result) {
  if (json) {
    nlohmann::ordered_json summary;
    summary["in"] = PathForLine(options.in);
    summary["out"] = PathForLine(options.out);
    summary["messagesIn"] = result.messagesIn;
    summary["messagesOut"] = result.messagesOut;
    summary["changes"] = result.changes;
    if (options.anonymize) summary["cardNumbers"] = result.cardNumbers;
    if (options.remac) {
      summary["macVariant"] = result.macVariant;
      summary["mac"] = result.mac;
    }
    if (!result.note.empty()) summary["note"] = result.note;
    nlohmann::ordered_json line;
    line["summary"] = summary;
    out << JsonLine(line) << '\n';
    return;
  }
  out << "wrote " << PathForLine(options.out) << ": " << result.messagesOut << " messages (" << result.messagesIn
      << " in " << PathForLine(options.in) << "), " << result.changes << " changes";
  if (options.anonymize) out << ", " << result.cardNumbers << " card numbers replaced";
  if (options.remac) out << "; " << result.macVariant << " " << result.mac << " written";
  out << '\n';
  if (!result.note.empty()) out << result.note << '\n';
}

std::optional<std::size_t> VariantOf(const std::string& name) {
  std::string upper = "MAC" + name;
  for (char& c : upper) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  for (std::size_t i = 0; i < rewrite::kMacVariantNames.size(); ++i) {
    if (rewrite::kMacVariantNames[i] == upper) return i;
  }
  return std::nullopt;
}

CheckOutcome RunRewrite(const CommandOptions& app, CheckContext& context, RewriteCommandOptions& options) {
  CheckOutcome outcome;
  outcome.printed = true;
  outcome.outcome = Outcome::CannotRun;
  rewrite::RewriteOptions rewriteOptions;
  if (!CollectEdits(app, rewriteOptions.edits, outcome.error)) return outcome;
  rewriteOptions.anonymize = options.anonymize;
  rewriteOptions.renumber = options.renumber;
  rewriteOptions.retotal = options.retotal;
  rewriteOptions.remac = options.remac;
  if (!options.macVariant.empty()) rewriteOptions.macVariant = VariantOf(options.macVariant);
  SecretText secret;
  SecretText key;
  if (options.anonymize && !ReadSecret(options.secretFile, secret.text, outcome.error)) return outcome;
  if (options.remac && !ReadKey(options.keySource, kDefaultKey, key.text, outcome.error)) return outcome;
  rewriteOptions.anonymizeSecret = secret.text;
  rewriteOptions.key = key.text;
  HeldReport report;
  bool reportHeld = true;
  const rewrite::RewriteResult result =
      rewrite::RewriteFile(options.in, options.out, rewriteOptions, [&](const rewrite::Change& change) {
        reportHeld = report.Add(ChangeLine(options.json, change)) && reportHeld;
      });
  SecureWipe(rewriteOptions.anonymizeSecret.data(), rewriteOptions.anonymizeSecret.capacity());
  SecureWipe(rewriteOptions.key.data(), rewriteOptions.key.capacity());
  if (!result.written) {
    outcome.error = FileTextForLine(result.error);
    return outcome;
  }
  if (!report.WriteTo(context.out) || !reportHeld) {
    outcome.error = "the copy was written, but its report of changes could not be held";
    return outcome;
  }
  PrintSummary(context.out, options.json, options, result);
  outcome.outcome = Outcome::Succeeded;
  return outcome;
}

std::function<CheckOutcome(CheckContext&)> DeclareRewrite(CommandOptions& app) {
  auto options = std::make_shared<RewriteCommandOptions>();
  app.option("IN", options->in, "the transaction file to copy (read only)").required();
  app.option("OUT", options->out, "the test copy to write (never IN itself)").required();
  app.option("--set", options->set, "RECORD:ELEMENT=VALUE: the element's new value (RECORD counts IN's messages)")
      .oneValueEach();
  app.option("--unset", options->unset, "RECORD:ELEMENT: remove the element").oneValueEach();
  app.option("--delete", options->remove, "RECORD: leave the message out").oneValueEach();
  app.option("--copy", options->copy, "RECORD: a copy of the message after it").oneValueEach();
  app.flag("--anonymize", options->anonymize,
           "replace every card number (same length, first six digits kept, Luhn-valid, one to one) and make "
           "names, addresses and other card data neutral");
  app.option("--anonymize-secret", options->secretFile,
             std::string("FILE whose first line keys the card number mapping (else ") + kSecretEnvironmentVariable +
                 ", else a random secret)");
  app.flag("--renumber", options->renumber, "S71 counts 1, 2, 3 ... in OUT's order");
  app.flag("--retotal", options->retotal, "totals (S74-S77, S81, S86-S89) as verify computes them");
  app.flag("--remac", options->remac, "write the trailer's MAC (S128) for OUT, and the key's check value");
  app.option("--mac-variant", options->macVariant, "nhd or nsp (default: the variant that matched in IN)")
      .oneOf({"nhd", "nsp", "NHD", "NSP"});
  DeclareKeyOptions(app, options->keySource, "the window's default key for --remac");
  app.flag("--json", options->json, "JSON Lines: one object per change, then a summary");
  app.footer("Exit status: 0 the copy was written, 2 it was not (bad arguments, unreadable IN, OUT = IN, a write "
             "failure); nothing is left at OUT then.");
  return [options, &app](CheckContext& context) { return RunRewrite(app, context, *options); };
}

}  // namespace

Subcommand RewriteSubcommand() {
  return {"rewrite", "write a test copy of a batch file: edits, anonymisation, renumbering, totals and MAC",
          DeclareRewrite, true};
}

}  // namespace kalvrin
