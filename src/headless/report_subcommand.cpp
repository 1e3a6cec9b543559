// kalvrin-check report FILE... [--key HEX] [--html OUT] [--junit OUT]
// [--json] [--no-mask-pan]: each file's summary for people, as JSON, as a
// self-contained HTML page or as JUnit XML for a CI server.
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>

#include <nlohmann/json.hpp>

#include "decimal_text.h"
#include "headless/check_app.h"
#include "headless/key_source.h"
#include "mac/core_dumps.h"
#include "mac/key_install.h"
#include "mac/wipe.h"
#include "report/html_report.h"
#include "report/junit_report.h"
#include "report/summary.h"
#include "verify/rules.h"

namespace kalvrin {

namespace {

using report::FileSummary;
using verify::SumText;

struct ReportCommandOptions {
  std::vector<std::string> files;
  KeyOptions keySource;
  std::string html;
  std::string junit;
  bool json = false;
  bool noMaskPan = false;
  bool strict = false;
  std::vector<std::string> disable;
};

std::string Counted(std::int64_t value) { return std::string(DecimalText(value).view()); }

std::string BatchVerdict(const report::BatchFigures& batch) {
  if (batch.agrees) return "agree";
  return batch.totals.notJudged.empty() ? "differ" : "not judged: " + batch.totals.notJudged;
}

void WriteText(std::ostream& out, const FileSummary& file) {
  const std::string name = PathForLine(file.identity.path);
  if (!file.verify.read) {
    out << name << ": not checked: " << file.verify.error << '\n';
    return;
  }
  out << name << ": " << file.identity.size << " bytes, modified " << file.identity.modified << ", SHA-256 "
      << (file.identity.sha256.empty() ? "not computed" : file.identity.sha256) << '\n';
  const report::Envelope& envelope = file.envelope;
  out << name << ": MAC method " << Printable(envelope.method) << ", version " << Printable(envelope.version)
      << ", check value " << Printable(envelope.checkValue) << ", declared MAC "
      << (envelope.declaredMac.empty() ? "none" : Printable(envelope.declaredMac)) << '\n';
  out << name << ": " << Printable(file.mac.text) << '\n';
  if (!file.mac.explanation.empty()) out << name << ": " << Printable(file.mac.explanation) << '\n';
  out << name << ": " << file.verify.messages << " messages:";
  for (const auto& [mti, byFunction] : file.messagesByFunction) {
    for (const auto& [function, count] : byFunction) {
      out << ' ' << Printable(mti) << (function.empty() ? "" : "/" + Printable(function)) << ' ' << count << ';';
    }
  }
  if (file.functionCodesNotListed > 0) out << " other function codes " << file.functionCodesNotListed << ';';
  out << '\n';
  out << name << ": " << file.batchCount << (file.batchCount == 1 ? " batch" : " batches");
  if (file.batchCount > static_cast<std::int64_t>(file.largestBatches.size())) {
    out << ", the " << file.largestBatches.size() << " largest listed";
  }
  out << '\n';
  for (const report::BatchFigures& batch : file.largestBatches) {
    const auto& v = batch.totals.computed.values;
    out << name << ": batch " << batch.number << ", records " << batch.firstRecord << '-' << batch.lastRecord
        << ": credits " << SumText(v[verify::kCredits]) << " amount " << SumText(v[verify::kCreditAmount]) << ", debits "
        << SumText(v[verify::kDebits]) << " amount " << SumText(v[verify::kDebitAmount]) << "; totals "
        << BatchVerdict(batch) << '\n';
  }
  for (const auto& [code, currency] : file.currencies) {
    const auto& v = currency.totals.values;
    out << name << ": currency " << (code.empty() ? "none" : Printable(code))
        << (currency.name.empty() ? "" : " " + Printable(currency.name)) << ": " << currency.messages
        << " transactions, credits " << SumText(v[verify::kCredits]) << " amount " << SumText(v[verify::kCreditAmount])
        << ", debits " << SumText(v[verify::kDebits]) << " amount " << SumText(v[verify::kDebitAmount]) << '\n';
  }
  if (file.currenciesNotListed > 0) {
    out << name << ": " << file.currenciesNotListed << " transactions in other currencies\n";
  }
  if (!file.issuerRanges.empty()) {
    out << name << ": issuer ranges:";
    for (const auto& [range, count] : file.issuerRanges) out << ' ' << Printable(range) << ' ' << count << ';';
    if (file.issuerRangesNotListed > 0) out << " and " << file.issuerRangesNotListed << " more";
    out << '\n';
  }
  for (const report::RuleFigures& rule : file.rules) {
    if (rule.count == 0) continue;
    out << name << ": " << verify::SeverityName(rule.info.severity) << '[' << rule.info.id << "]: " << rule.count
        << (rule.count == 1 ? " finding" : " findings") << ", first at "
        << (rule.first.front().record == verify::kNoRecord ? std::string("the file")
                                                          : "record " + Counted(rule.first.front().record))
        << '\n';
  }
  if (file.verify.stopped) out << name << ": stopped before the end of the file\n";
  out << name << ": " << file.verify.errors << (file.verify.errors == 1 ? " error, " : " errors, ")
      << file.verify.warnings << (file.verify.warnings == 1 ? " warning" : " warnings") << '\n';
}

nlohmann::ordered_json Sums(const verify::Totals& totals) {
  const auto& v = totals.values;
  return {{"credits", SumText(v[verify::kCredits])},
          {"creditAmount", SumText(v[verify::kCreditAmount])},
          {"debits", SumText(v[verify::kDebits])},
          {"debitAmount", SumText(v[verify::kDebitAmount])},
          {"creditReversals", SumText(v[verify::kCreditReversals])},
          {"creditReversalAmount", SumText(v[verify::kCreditReversalAmount])},
          {"debitReversals", SumText(v[verify::kDebitReversals])},
          {"debitReversalAmount", SumText(v[verify::kDebitReversalAmount])},
          {"authorisations", SumText(v[verify::kAuthorisations])}};
}

nlohmann::ordered_json FileJson(const FileSummary& file) {
  nlohmann::ordered_json json;
  json["file"] = PathForLine(file.identity.path);
  json["read"] = file.verify.read;
  if (!file.verify.read) {
    json["error"] = file.verify.error;
    return json;
  }
  json["size"] = file.identity.size;
  json["modified"] = file.identity.modified;
  json["sha256"] = file.identity.sha256.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(file.identity.sha256);
  json["envelope"] = {{"macMethod", Latin1ToUtf8(file.envelope.method)},
                      {"macVersion", Latin1ToUtf8(file.envelope.version)},
                      {"checkValue", Latin1ToUtf8(file.envelope.checkValue)},
                      {"declaredMac", Latin1ToUtf8(file.envelope.declaredMac)}};
  json["mac"] = {{"judged", file.mac.judged},
                 {"matched", file.mac.matched.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(file.mac.matched)},
                 {"verdict", Latin1ToUtf8(file.mac.text)}};
  if (!file.mac.explanation.empty()) json["mac"]["explanation"] = Latin1ToUtf8(file.mac.explanation);
  json["messages"] = file.verify.messages;
  nlohmann::ordered_json byType = nlohmann::ordered_json::object();
  for (const auto& [mti, byFunction] : file.messagesByFunction) {
    nlohmann::ordered_json functions = nlohmann::ordered_json::object();
    for (const auto& [function, count] : byFunction) functions[Latin1ToUtf8(function)] = count;
    byType[Latin1ToUtf8(mti)] = functions;
  }
  json["messagesByTypeAndFunction"] = byType;
  json["batchCount"] = file.batchCount;
  json["largestBatches"] = nlohmann::ordered_json::array();
  for (const report::BatchFigures& batch : file.largestBatches) {
    nlohmann::ordered_json declared = nlohmann::ordered_json::object();
    for (std::size_t i = 0; i < verify::kTotalElements.size(); ++i) {
      if (batch.totals.declared[i]) declared[verify::ElementName(verify::kTotalElements[i])] = Latin1ToUtf8(*batch.totals.declared[i]);
    }
    json["largestBatches"].push_back({{"batch", batch.number},
                                      {"firstRecord", batch.firstRecord},
                                      {"lastRecord", batch.lastRecord},
                                      {"computed", Sums(batch.totals.computed)},
                                      {"declared", declared},
                                      {"totals", BatchVerdict(batch)}});
  }
  json["totals"] = Sums(file.fileTotals);
  nlohmann::ordered_json currencies = nlohmann::ordered_json::object();
  for (const auto& [code, currency] : file.currencies) {
    nlohmann::ordered_json entry = Sums(currency.totals);
    entry["name"] = Latin1ToUtf8(currency.name);
    entry["transactions"] = currency.messages;
    currencies[Latin1ToUtf8(code)] = entry;
  }
  json["currencies"] = currencies;
  json["transactionsInCurrenciesNotListed"] = file.currenciesNotListed;
  json["messagesWithFunctionCodesNotListed"] = file.functionCodesNotListed;
  nlohmann::ordered_json issuers = nlohmann::ordered_json::object();
  for (const auto& [range, count] : file.issuerRanges) issuers[Latin1ToUtf8(range)] = count;
  json["issuerRanges"] = issuers;
  json["issuerRangesNotListed"] = file.issuerRangesNotListed;
  nlohmann::ordered_json rules = nlohmann::ordered_json::object();
  for (const report::RuleFigures& rule : file.rules) {
    if (rule.ran) rules[std::string(rule.info.id)] = {{"severity", verify::SeverityName(rule.info.severity)}, {"findings", rule.count}};
  }
  json["rules"] = rules;
  json["stopped"] = file.verify.stopped;
  json["errors"] = file.verify.errors;
  json["warnings"] = file.verify.warnings;
  return json;
}

std::string NowUtc() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  char text[32] = "";
  if (gmtime_r(&now, &parts) != nullptr) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

std::string HostName() {
  char name[256] = "";
  return ::gethostname(name, sizeof name - 1) == 0 && name[0] != '\0' ? std::string(name) : std::string("localhost");
}

// The command as typed but for the key, which never stands in a report.
std::string CommandLine(const ReportCommandOptions& options, bool withKey) {
  std::string line = "kalvrin-check report";
  if (withKey) line += " --key ...";
  if (options.noMaskPan) line += " --no-mask-pan";
  if (options.strict) line += " --strict";
  for (const std::string& rule : options.disable) line += " --disable " + rule;
  if (!options.html.empty()) line += " --html " + options.html;
  if (!options.junit.empty()) line += " --junit " + options.junit;
  if (options.json) line += " --json";
  for (const std::string& file : options.files) line += " " + file;
  return line;
}

// Writes one output file whole; one error line when it cannot.
template <typename Write>
bool WriteOutput(const std::string& path, std::string& error, Write write) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) write(out);
  out.close();
  if (out) return true;
  error = OpenFailureText("cannot write the report", path);
  return false;
}

CheckOutcome RunReport(CheckContext& context, ReportCommandOptions& options) {
  const NoCoreDumps noCoreDumps;
  CheckOutcome outcome;
  outcome.printed = true;
  outcome.outcome = Outcome::CannotRun;
  struct KeyWipe {
    std::string key;
    ~KeyWipe() { SecureWipe(key.data(), key.capacity()); }
  } keyWipe;
  if (!ReadKey(options.keySource, "", keyWipe.key, outcome.error)) return outcome;
  if (!keyWipe.key.empty()) outcome.error = MacKeyRefusal(keyWipe.key);
  if (!outcome.error.empty()) return outcome;

  report::SummaryOptions summaryOptions;
  for (const std::string& id : options.disable) {
    const auto rule = verify::RuleById(id);
    if (!rule) {
      outcome.error = "unknown rule '" + PathForLine(id) + "' for --disable (the rules are listed by kalvrin-check verify --help)";
      return outcome;
    }
    summaryOptions.rules.Disable(*rule);
  }
  summaryOptions.key = keyWipe.key;
  summaryOptions.maskCardNumbers = !options.noMaskPan;

  std::vector<FileSummary> files;
  bool unreadable = false;
  bool failed = false;
  for (const std::string& path : options.files) {
    files.push_back(report::SummariseFile(path, summaryOptions));
    const FileSummary& file = files.back();
    if (options.json) {
      context.out << JsonLine(FileJson(file)) << '\n';
    } else if (options.html.empty() && options.junit.empty()) {
      WriteText(context.out, file);
    }
    if (!file.verify.read) {
      unreadable = true;
      context.err << "kalvrin-check: " << PathForLine(path) << ": " << FileTextForLine(file.verify.error) << '\n';
    }
    failed = failed || file.verify.errors != 0 || (options.strict && file.verify.warnings != 0);
  }
  SecureWipe(summaryOptions.key.data(), summaryOptions.key.size());

  const report::RunFacts run{KALVRIN_VERSION, CommandLine(options, !keyWipe.key.empty()), NowUtc(), !options.noMaskPan};
  if (!options.html.empty() &&
      !WriteOutput(options.html, outcome.error, [&](std::ostream& out) { report::WriteHtmlReport(out, files, run); })) {
    return outcome;
  }
  if (!options.junit.empty() &&
      !WriteOutput(options.junit, outcome.error,
                   [&](std::ostream& out) { report::WriteJUnitReport(out, files, run, HostName()); })) {
    return outcome;
  }
  outcome.outcome = unreadable ? Outcome::CannotRun : failed ? Outcome::Failed : Outcome::Succeeded;
  outcome.result = failed ? 0 : 1;
  return outcome;
}

std::function<CheckOutcome(CheckContext&)> DeclareReport(CommandOptions& app) {
  auto options = std::make_shared<ReportCommandOptions>();
  app.option("FILE", options->files, "the transaction files").required();
  DeclareKeyOptions(app, options->keySource, "no MAC verdict; with a key the declared MAC is judged and a mismatch explained");
  app.option("--html", options->html, "write one self-contained HTML report of every file to this path");
  app.option("--junit", options->junit, "write JUnit XML (Apache Ant format) to this path, a suite per file");
  app.flag("--json", options->json, "one JSON object per file on standard output");
  app.flag("--no-mask-pan", options->noMaskPan,
           "show card numbers whole (a report is meant to be shared: masked by default)")
      .excludes(app.find("--mask-pan"));
  app.option("--disable", options->disable, "rule ids not to report, separated by commas").delimiter(',');
  app.flag("--strict", options->strict, "warnings count as errors for the exit status");
  app.footer("Without --html, --junit or --json the summary is printed for people. Exit status: 0 no error found, 1 "
             "an error found (or a warning with --strict), 2 a file could not be read, a report not written or the "
             "arguments are wrong.");
  return [options](CheckContext& context) { return RunReport(context, *options); };
}

}  // namespace

Subcommand ReportSubcommand() {
  return {"report", "summarise each batch file for people, CI (JUnit) or a ticket (HTML): figures, charts, findings",
          DeclareReport, true};
}

}  // namespace kalvrin
