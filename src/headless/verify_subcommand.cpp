// kalvrin-check verify FILE... [--key HEX] [--json | --csv] [--disable RULE,...]
// [--strict] [--jobs N]: every fault of each file, files checked side by
// side and printed in argument order.
#include "headless/verify_subcommand.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <iterator>
#include <exception>
#include <memory>
#include <mutex>
#include <sstream>
#include <system_error>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "headless/check_app.h"
#include "headless/key_source.h"
#include "mac/core_dumps.h"
#include "mac/key_install.h"
#include "mac/wipe.h"
#include "verify/mac_rules.h"
#include "verify/rules.h"

namespace kalvrin {

namespace {

using verify::Finding;
using verify::VerifySummary;

// The file the calling thread checks, for the progress callback that all
// threads share.
thread_local std::size_t fileOnThread = 0;

void LowerTo(std::atomic<std::size_t>& value, std::size_t to) {
  for (std::size_t now = value.load(); to < now && !value.compare_exchange_weak(now, to);) {
  }
}

nlohmann::json OrNull(std::int64_t value, std::int64_t none) {
  return value == none ? nlohmann::json(nullptr) : nlohmann::json(value);
}

// A file name is the system's bytes, not the file's Latin-1 text: shown as
// the error lines show it, then quoted as CSV wants.
std::string CsvPathField(std::string_view path) {
  const std::string shown = PathForLine(path);
  if (shown.find_first_of(",\"") == std::string::npos) return shown;
  std::string field = "\"";
  for (const char c : shown) field += c == '"' ? std::string("\"\"") : std::string(1, c);
  return field + '"';
}

std::string TotalsName(std::size_t index) { return verify::ElementName(verify::kTotalElements[index]); }

std::string Declared(const verify::BatchSummary& batch, std::size_t index) {
  return batch.declared[index] ? Printable(*batch.declared[index]) : std::string("-");
}

// The first and last record of each listed batch: from the record after the
// totals before it; a batch that no totals close runs to the end.
std::vector<std::pair<std::int64_t, std::int64_t>> BatchRecords(const VerifySummary& summary) {
  std::vector<std::pair<std::int64_t, std::int64_t>> records;
  std::int64_t first = 1;
  for (const verify::BatchSummary& batch : summary.batches) {
    const std::int64_t last = batch.totalsRecord != 0 ? batch.totalsRecord : INT64_MAX;
    records.emplace_back(first, last);
    if (batch.totalsRecord != 0) first = batch.totalsRecord + 1;
  }
  return records;
}

void WriteBatch(std::ostream& out, const std::string& name, std::size_t number, const verify::BatchSummary& batch) {
  out << name << ": batch " << number;
  if (batch.totalsRecord != 0) {
    out << ", totals at record " << batch.totalsRecord << (batch.cumulative ? " (read as totals since the file header)" : "");
  } else {
    out << ", not closed by totals";
  }
  out << ": computed/declared";
  using namespace verify;
  const struct {
    const char* label;
    std::size_t count;
    std::size_t amount;
  } kinds[] = {{"credits", kCredits, kCreditAmount},
               {"debits", kDebits, kDebitAmount},
               {"reversed credits", kCreditReversals, kCreditReversalAmount},
               {"reversed debits", kDebitReversals, kDebitReversalAmount}};
  for (const auto& kind : kinds) {
    out << ' ' << kind.label << ' ' << SumText(batch.computed.values[kind.count]) << '/' << Declared(batch, kind.count)
        << " amount " << SumText(batch.computed.values[kind.amount]) << '/' << Declared(batch, kind.amount) << ';';
  }
  out << " 1140s " << SumText(batch.computed.values[kAuthorisations]) << '/' << Declared(batch, kAuthorisations);
  if (!batch.notJudged.empty()) out << " (not judged: " << batch.notJudged << ')';
  out << '\n';
}

void WriteTextSummary(std::ostream& out, std::string_view file, const VerifySummary& summary,
                      const FindingRecords* withFindings) {
  const std::string name = PathForLine(file);
  if (!summary.read) {
    out << name << ": not checked: " << summary.error << '\n';
    return;
  }
  out << name << ": " << summary.bytes << " bytes, " << summary.messages << " messages";
  if (!summary.messagesByType.empty()) {
    out << " (";
    bool first = true;
    for (const auto& [mti, count] : summary.messagesByType) {
      out << (first ? "" : ", ") << Printable(mti) << ": " << count;
      first = false;
    }
    out << ")";
  }
  out << '\n';
  const auto records = BatchRecords(summary);
  std::size_t clean = 0;
  for (std::size_t i = 0; i < summary.batches.size(); ++i) {
    const verify::BatchSummary& batch = summary.batches[i];
    if (withFindings != nullptr && batch.notJudged.empty() &&
        !withFindings->AnyIn(records[i].first, records[i].second)) {
      ++clean;
      continue;
    }
    WriteBatch(out, name, i + 1, batch);
  }
  if (clean != 0) {
    out << name << ": " << clean << (clean == 1 ? " batch" : " batches")
        << " without findings not listed (--batches lists every batch)\n";
  }
  if (summary.batchesNotListed != 0) out << name << ": " << summary.batchesNotListed << " more batches not listed\n";
  const verify::MacSummary& mac = summary.mac;
  out << name << ": ";
  if (!mac.matched.empty()) {
    out << "MAC " << mac.matched << " equals the declared " << Printable(mac.declared) << '\n';
  } else if (mac.checked && mac.note.empty()) {
    out << "MAC: no variant equals the declared " << Printable(mac.declared) << '\n';
  } else {
    out << mac.note << '\n';
  }
  if (summary.duplicatesOff) out << name << ": repeated transactions not looked for (--no-duplicates)\n";
  if (summary.stopped) out << name << ": stopped before the end of the file\n";
  out << name << ": " << summary.errors << (summary.errors == 1 ? " error, " : " errors, ") << summary.warnings
      << (summary.warnings == 1 ? " warning" : " warnings") << '\n';
}

nlohmann::ordered_json SummaryJson(const VerifySummary& summary) {
  nlohmann::ordered_json json;
  json["read"] = summary.read;
  if (!summary.read) {
    json["error"] = summary.error;
    return json;
  }
  json["bytes"] = summary.bytes;
  json["messages"] = summary.messages;
  nlohmann::ordered_json byType = nlohmann::ordered_json::object();
  for (const auto& [mti, count] : summary.messagesByType) byType[Latin1ToUtf8(mti)] = count;
  json["messagesByType"] = byType;
  json["batches"] = nlohmann::ordered_json::array();
  for (const verify::BatchSummary& batch : summary.batches) {
    nlohmann::ordered_json entry;
    entry["totalsRecord"] = OrNull(batch.totalsRecord, 0);
    entry["reading"] = batch.cumulative ? "cumulative" : "batch";
    entry["judged"] = batch.notJudged.empty();
    if (!batch.notJudged.empty()) entry["note"] = batch.notJudged;
    nlohmann::ordered_json computed;
    nlohmann::ordered_json declared;
    for (std::size_t i = 0; i < verify::kTotalElements.size(); ++i) {
      computed[TotalsName(i)] = verify::SumText(batch.computed.values[i]);
      declared[TotalsName(i)] = batch.declared[i] ? nlohmann::ordered_json(Latin1ToUtf8(*batch.declared[i])) : nullptr;
    }
    entry["computed"] = computed;
    entry["declared"] = declared;
    json["batches"].push_back(entry);
  }
  json["batchesNotListed"] = summary.batchesNotListed;
  nlohmann::ordered_json mac;
  mac["checked"] = summary.mac.checked;
  if (!summary.mac.note.empty()) mac["note"] = summary.mac.note;
  if (summary.mac.checked) {
    mac["declared"] = Latin1ToUtf8(summary.mac.declared);
    for (std::size_t i = 0; i < verify::kVariantNames.size(); ++i) {
      mac[std::string(verify::kVariantNames[i])] = summary.mac.computed[i];
    }
    mac["matched"] = summary.mac.matched.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(summary.mac.matched);
  }
  json["mac"] = mac;
  if (summary.duplicatesOff) json["duplicatesChecked"] = false;
  json["stopped"] = summary.stopped;
  json["errors"] = summary.errors;
  json["warnings"] = summary.warnings;
  return json;
}

// ---- several files ------------------------------------------------------------

// Each file's output in argument order: the first unfinished file writes
// straight through, the others hold theirs until every file before them is
// done. What the waiting files hold in memory stays under a budget: past
// it, the file that writes moves its text to an unnamed temporary file,
// copied out when its turn comes.
class OrderedOutput {
 public:
  OrderedOutput(std::ostream& out, std::size_t files, std::size_t budget)
      : out_(out), pending_(files), done_(files, false), budget_(budget) {}

  void Write(std::size_t file, const std::string& text) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (file == head_) {
      out_ << text;
      return;
    }
    Held& held = pending_[file];
    held.text += text;
    heldBytes_ += text.size();
    if (heldBytes_ > budget_) Spill(held);
  }

  void Finish(std::size_t file) {
    const std::lock_guard<std::mutex> lock(mutex_);
    done_[file] = true;
    while (head_ < done_.size() && done_[head_]) {
      ++head_;
      if (head_ < done_.size()) Release(pending_[head_]);
    }
    out_.flush();
  }

 private:
  struct CloseFile {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  struct Held {
    std::unique_ptr<std::FILE, CloseFile> spill;  // the older part of the text, when it grew too large
    std::string text;
  };

  static std::FILE* OpenSpill() {
    const char* folder = std::getenv("TMPDIR");
    const int fd = ::open(folder != nullptr && *folder != '\0' ? folder : "/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
      if (std::FILE* file = ::fdopen(fd, "w+b")) return file;
      ::close(fd);
    }
    return std::tmpfile();  // a folder whose file system has no unnamed files
  }

  void Spill(Held& held) {
    if (!held.spill) {
      held.spill.reset(OpenSpill());
      if (!held.spill) throw std::system_error(errno, std::generic_category(), "cannot hold the output of the later files");
    }
    if (std::fwrite(held.text.data(), 1, held.text.size(), held.spill.get()) != held.text.size()) {
      throw std::system_error(errno, std::generic_category(), "cannot hold the output of the later files");
    }
    heldBytes_ -= held.text.size();
    std::string().swap(held.text);
  }

  // The file's turn: what it spilled, then what it still holds.
  void Release(Held& held) {
    if (held.spill) {
      std::FILE* file = held.spill.get();
      if (std::fflush(file) != 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        throw std::system_error(errno, std::generic_category(), "cannot read back the output of the later files");
      }
      std::vector<char> block(1 << 16);
      for (std::size_t got; (got = std::fread(block.data(), 1, block.size(), file)) != 0;) {
        out_.write(block.data(), static_cast<std::streamsize>(got));
      }
      if (std::ferror(file) != 0) {
        throw std::system_error(errno, std::generic_category(), "cannot read back the output of the later files");
      }
      held.spill.reset();
    }
    out_ << held.text;
    heldBytes_ -= held.text.size();
    std::string().swap(held.text);
  }

  std::mutex mutex_;
  std::ostream& out_;
  std::vector<Held> pending_;
  std::vector<bool> done_;
  std::size_t head_ = 0;
  std::size_t budget_;
  std::size_t heldBytes_ = 0;  // in memory, over all waiting files
};

// The bytes the waiting files keep in memory together; a test sets fewer.
std::size_t HeldOutputBudget() {
  constexpr std::size_t kBudget = 4u << 20;
  const char* text = std::getenv("KALVRIN_VERIFY_SPILL_BYTES");
  if (text == nullptr || *text == '\0') return kBudget;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  return *end == '\0' ? static_cast<std::size_t>(value) : kBudget;
}

class PrintingSink final : public verify::FindingSink {
 public:
  PrintingSink(OrderedOutput& output, std::size_t file, OutputFormat format, std::string_view name,
               FindingRecords* records)
      : output_(output), file_(file), format_(format), name_(name), records_(records) {}
  void OnFinding(const Finding& finding) override {
    if (records_ != nullptr) records_->Add(finding.record);
    output_.Write(file_, FormatFinding(format_, name_, finding));
  }

 private:
  OrderedOutput& output_;
  std::size_t file_;
  OutputFormat format_;
  std::string_view name_;
  FindingRecords* records_;  // null: not wanted
};

struct VerifyCommandOptions {
  std::vector<std::string> files;
  KeyOptions keySource;
  bool json = false;
  bool csv = false;
  std::vector<std::string> disable;
  bool strict = false;
  bool noDuplicates = false;
  bool allBatches = false;
  bool explain = false;
  unsigned jobs = 0;
};

CheckOutcome RunVerify(CheckContext& context, VerifyCommandOptions& options) {
  const NoCoreDumps noCoreDumps;
  CheckOutcome outcome;
  outcome.printed = true;
  struct KeyWipe {
    std::string key;
    ~KeyWipe() { SecureWipe(key.data(), key.capacity()); }
  } keyWipe;
  // No key from any source: the MAC rules are skipped.
  if (!ReadKey(options.keySource, "", keyWipe.key, outcome.error)) {
    outcome.outcome = Outcome::CannotRun;
    return outcome;
  }
  const std::string& key = keyWipe.key;

  verify::VerifyOptions verifyOptions;
  for (const std::string& id : options.disable) {
    const auto rule = verify::RuleById(id);
    if (!rule) {
      outcome.outcome = Outcome::CannotRun;
      outcome.error = "unknown rule '" + PathForLine(id) + "' for --disable (the rules are listed by kalvrin-check verify --help)";
      return outcome;
    }
    verifyOptions.rules.Disable(*rule);
  }
  // no index of transaction keys is built for a rule that is off
  if (options.noDuplicates) verifyOptions.rules.Disable(verify::Rule::Duplicate);
  // the MAC command's rule: a key InstallKey would refuse is refused here
  if (!key.empty()) outcome.error = MacKeyRefusal(key);
  if (!outcome.error.empty()) {
    outcome.outcome = Outcome::CannotRun;
    return outcome;
  }
  verifyOptions.key = key;
  verifyOptions.maskCardNumbers = context.maskCardNumbers;
  verifyOptions.explainMac = options.explain;

  const OutputFormat format = options.json ? OutputFormat::Json : options.csv ? OutputFormat::Csv : OutputFormat::Text;
  if (format == OutputFormat::Csv) context.out << CsvFindingsTitle();

  const std::size_t count = options.files.size();
  std::vector<VerifySummary> summaries(count);
  std::vector<std::exception_ptr> failures(count);
  std::atomic<std::size_t> firstFailure{count};
  // Files after a failed one stop: nothing of theirs is printed, as when
  // the files are checked one after the other.
  verifyOptions.progress = [&firstFailure](std::int64_t, std::int64_t) { return fileOnThread < firstFailure.load(); };
  OrderedOutput output(context.out, count, HeldOutputBudget());
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t file = next++; file < count && file < firstFailure.load(); file = next++) {
      fileOnThread = file;
      try {
        // the readable summary lists only the batches with a finding
        FindingRecords records;
        FindingRecords* withFindings = format == OutputFormat::Text && !options.allBatches ? &records : nullptr;
        PrintingSink sink(output, file, format, options.files[file], withFindings);
        summaries[file] = verify::VerifyFile(options.files[file], verifyOptions, sink);
        summaries[file].duplicatesOff = options.noDuplicates;
        output.Write(file, FormatSummary(format, options.files[file], summaries[file], withFindings));
        output.Finish(file);
      } catch (...) {
        failures[file] = std::current_exception();
        LowerTo(firstFailure, file);
      }
    }
  };
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t threads = std::min<std::size_t>(count, options.jobs == 0 ? cores : options.jobs);
  std::vector<std::thread> workers;
  try {
    for (std::size_t i = 1; i < threads; ++i) workers.emplace_back(work);
  } catch (const std::system_error&) {
    // no more threads to be had: the ones that started share the files
  }
  work();
  for (std::thread& worker : workers) worker.join();
  SecureWipe(verifyOptions.key.data(), verifyOptions.key.size());

  // A failure ends the command as it would have ended one file at a time:
  // the files before it printed in full, then its one line.
  if (const std::size_t failed = firstFailure.load(); failed < count) {
    outcome.outcome = Outcome::CannotRun;
    outcome.error = FailureWhileReading(failures[failed], options.files[failed]);
    return outcome;
  }

  bool unreadable = false;
  bool failed = false;
  for (std::size_t file = 0; file < count; ++file) {
    const VerifySummary& summary = summaries[file];
    if (!summary.read) {
      unreadable = true;
      context.err << "kalvrin-check: " << PathForLine(options.files[file]) << ": " << FileTextForLine(summary.error)
                  << '\n';
    }
    failed = failed || summary.errors != 0 || (options.strict && summary.warnings != 0);
  }
  outcome.outcome = unreadable ? Outcome::CannotRun : failed ? Outcome::Failed : Outcome::Succeeded;
  outcome.result = failed ? 0 : 1;
  return outcome;
}

std::string RulesHelp() {
  std::string text = "Rules (id, severity: what it checks):\n";
  for (const verify::RuleInfo& info : verify::kRules) {
    text += "  " + std::string(info.id) + ", " + std::string(verify::SeverityName(info.severity)) + ": " +
            std::string(info.checks) + "\n";
  }
  return text;
}

std::function<CheckOutcome(CheckContext&)> DeclareVerify(CommandOptions& app) {
  auto options = std::make_shared<VerifyCommandOptions>();
  app.option("FILE", options->files, "the transaction files").required();
  DeclareKeyOptions(app, options->keySource, "no MAC check; with a key the declared MAC is checked too");
  CommandOption json = app.flag("--json", options->json, "JSON Lines: one object per finding, then a summary per file");
  CommandOption csv = app.flag("--csv", options->csv, "the findings as CSV, title row first");
  json.excludes(csv);
  app.option("--disable", options->disable, "rule ids not to report, separated by commas").delimiter(',');
  app.flag("--strict", options->strict, "warnings count as errors for the exit status");
  app.flag("--explain", options->explain,
               "with --key: a declared MAC that equals no variant is explained by the candidate cause that gives it");
  app.flag("--no-duplicates", options->noDuplicates,
               "no index of transaction keys, so no batch.duplicate: for files too large for it (about 17 bytes a "
               "transaction)");
  app.flag("--batches", options->allBatches,
               "the readable summary lists every batch's totals, not only those of the batches with a finding");
  app.option("--jobs", options->jobs, "files checked at once (default: the number of cores)").range(1, 1024);
  app.footer(RulesHelp() +
             "Exit status: 0 no error found, 1 an error found (or a warning with --strict), 2 a file could not be read "
             "or the arguments are wrong.");
  return [options](CheckContext& context) { return RunVerify(context, *options); };
}

}  // namespace

std::string FormatFinding(OutputFormat format, std::string_view file, const Finding& finding) {
  const std::string element = finding.element == verify::kNoElement ? std::string() : verify::ElementName(finding.element);
  switch (format) {
    case OutputFormat::Json: {
      nlohmann::ordered_json json;
      json["file"] = PathForLine(file);
      json["rule"] = finding.rule;
      json["severity"] = verify::SeverityName(finding.severity);
      json["record"] = OrNull(finding.record, verify::kNoRecord);
      json["offset"] = OrNull(finding.offset, verify::kNoOffset);
      json["element"] = OrNull(finding.element, verify::kNoElement);
      json["message"] = Latin1ToUtf8(finding.message);
      if (finding.declared) json["declared"] = Latin1ToUtf8(*finding.declared);
      if (finding.computed) json["computed"] = Latin1ToUtf8(*finding.computed);
      if (finding.explained) json["cause"] = finding.cause.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(finding.cause);
      return JsonLine(json) + "\n";
    }
    case OutputFormat::Csv: {
      std::ostringstream out;
      out << CsvPathField(file) << ',';
      WriteCsvRow(out, {std::string(finding.rule), std::string(verify::SeverityName(finding.severity)),
                        finding.record == verify::kNoRecord ? "" : std::to_string(finding.record),
                        finding.offset == verify::kNoOffset ? "" : std::to_string(finding.offset), element,
                        C1Escaped(finding.message), C1Escaped(finding.declared.value_or("")),
                        C1Escaped(finding.computed.value_or(""))});
      return out.str();
    }
    case OutputFormat::Text: break;
  }
  std::string line = PathForLine(file) + ":";
  if (finding.offset != verify::kNoOffset) line += std::to_string(finding.offset) + ":";
  line += " " + std::string(verify::SeverityName(finding.severity)) + "[" + std::string(finding.rule) + "]: " +
          Printable(finding.message);
  std::string where;
  if (finding.record != verify::kNoRecord) where = "record " + std::to_string(finding.record);
  if (!element.empty()) where += (where.empty() ? "element " : ", element ") + element;
  if (!where.empty()) line += " (" + where + ")";
  return line + "\n";
}

std::string CsvFindingsTitle() {
  std::ostringstream out;
  WriteCsvRow(out, {"file", "rule", "severity", "record", "offset", "element", "message", "declared", "computed"});
  return out.str();
}

void FindingRecords::Add(std::int64_t record) {
  if (record == verify::kNoRecord) return;
  if (!ranges_.empty() && record >= ranges_.back().first && record <= ranges_.back().second + 1) {
    ranges_.back().second = std::max(ranges_.back().second, record);
    return;
  }
  // findings come in reading order, so this is rare but for the end's
  const auto after = std::upper_bound(ranges_.begin(), ranges_.end(), record,
                                      [](std::int64_t r, const auto& range) { return r < range.first; });
  if (after != ranges_.begin() && std::prev(after)->second >= record) return;
  ranges_.insert(after, {record, record});
}

bool FindingRecords::AnyIn(std::int64_t first, std::int64_t last) const {
  const auto after = std::upper_bound(ranges_.begin(), ranges_.end(), last,
                                      [](std::int64_t r, const auto& range) { return r < range.first; });
  return after != ranges_.begin() && std::prev(after)->second >= first;
}

std::string FormatSummary(OutputFormat format, std::string_view file, const VerifySummary& summary,
                          const FindingRecords* withFindings) {
  std::ostringstream out;
  switch (format) {
    case OutputFormat::Json: {
      nlohmann::ordered_json json;
      json["file"] = PathForLine(file);
      json["summary"] = SummaryJson(summary);
      out << JsonLine(json) << '\n';
      break;
    }
    case OutputFormat::Csv: break;
    case OutputFormat::Text: WriteTextSummary(out, file, summary, withFindings); break;
  }
  return out.str();
}

Subcommand VerifySubcommand() {
  return {"verify", "find every fault of each batch file: framing, elements, totals, envelope and MAC", DeclareVerify,
          true};
}

}  // namespace kalvrin
