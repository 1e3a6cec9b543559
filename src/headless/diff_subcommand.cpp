// kalvrin-check diff OLD NEW [--match ELEMENTS] [--ignore ELEMENTS]
// [--json | --csv] [--summary]: what changed from one batch file to the
// other, message by message and element by element. Exit status as diff's.
#include "headless/diff_subcommand.h"

#include <memory>
#include <optional>
#include <sstream>

#include <nlohmann/json.hpp>

#include "headless/check_app.h"

namespace kalvrin {

namespace {

using compare::Change;
using compare::Difference;

nlohmann::ordered_json OrNull(std::int64_t value, std::int64_t none) {
  return value == none ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(value);
}

// A moved record's values are batch numbers; the others' are texts from the file.
nlohmann::ordered_json ValueJson(const Difference& difference, const std::optional<std::string>& value) {
  if (!value) return nullptr;
  if (difference.change == Change::Moved) return std::stoll(*value);
  return Latin1ToUtf8(*value);
}

std::string ElementText(int element) {
  return element == compare::kNoElement ? std::string() : verify::ElementName(element);
}

std::string ValueText(const std::optional<std::string>& value) {
  return value ? "'" + Printable(*value) + "'" : std::string("(absent)");
}

std::string Where(const char* side, std::int64_t record, std::int64_t offset) {
  return std::string(side) + ' ' + std::to_string(record) + " (offset " + std::to_string(offset) + ")";
}

std::string TextLine(const Difference& d) {
  std::string line(compare::ChangeName(d.change));
  line += "  ";
  switch (d.change) {
    case Change::LineEnds: return line + d.oldValue.value_or("") + " -> " + d.newValue.value_or("") + "\n";
    case Change::Envelope: return line + d.field + ": " + ValueText(d.oldValue) + " -> " + ValueText(d.newValue) + "\n";
    case Change::Removed: return line + Where("old", d.oldRecord, d.oldOffset) + "  " + Printable(d.key) + "\n";
    case Change::Added: return line + Where("new", d.newRecord, d.newOffset) + "  " + Printable(d.key) + "\n";
    case Change::Unreadable: {
      const bool old = d.oldRecord != compare::kNoRecord;
      line += old ? Where("old", d.oldRecord, d.oldOffset) : Where("new", d.newRecord, d.newOffset);
      line += d.element == compare::kNoElement ? "  broken in its bitmaps" : "  broken at " + ElementText(d.element);
      return line + "  " + Printable(d.key) + "\n";
    }
    case Change::Moved:
    case Change::Changed: break;
  }
  line += "old " + std::to_string(d.oldRecord) + " / new " + std::to_string(d.newRecord) + "  ";
  if (d.change == Change::Moved) {
    return line + "batch " + d.oldValue.value_or("") + " -> " + d.newValue.value_or("") + "  " + Printable(d.key) + "\n";
  }
  return line + ElementText(d.element) + ": " + ValueText(d.oldValue) + " -> " + ValueText(d.newValue) + "\n";
}

struct DiffOptions {
  std::string oldPath;
  std::string newPath;
  std::optional<std::string> match;   // an empty list given is an error, not the default
  std::optional<std::string> ignore;
  bool json = false;
  bool csv = false;
  bool summaryOnly = false;
};

// The CSV title goes before the first record, or alone at the end: a file
// that cannot be read leaves nothing on standard output.
class PrintingSink final : public compare::DifferenceSink {
 public:
  PrintingSink(std::ostream& out, OutputFormat format, bool quiet) : out_(out), format_(format), quiet_(quiet) {}
  void OnDifference(const Difference& difference) override {
    if (quiet_) return;
    Title();
    out_ << FormatDifference(format_, difference);
  }
  void Title() {
    if (format_ == OutputFormat::Csv && !titled_) out_ << CsvDifferencesTitle();
    titled_ = true;
  }

 private:
  std::ostream& out_;
  OutputFormat format_;
  bool quiet_;
  bool titled_ = false;
};

CheckOutcome RunDiff(CheckContext& context, const DiffOptions& options) {
  CheckOutcome outcome;
  outcome.printed = true;
  outcome.outcome = Outcome::CannotRun;
  compare::CompareOptions compareOptions;
  compareOptions.maskCardNumbers = context.maskCardNumbers;
  std::string error;
  if (options.match) {
    const auto match = compare::ParseElementList(*options.match, error);
    if (!match) {
      outcome.error = "--match: " + PathForLine(error);
      return outcome;
    }
    compareOptions.match = *match;
  }
  if (options.ignore) {
    const auto ignore = compare::ParseElementList(*options.ignore, error);
    if (!ignore) {
      outcome.error = "--ignore: " + PathForLine(error);
      return outcome;
    }
    for (const int number : *ignore) compareOptions.ignore.set(static_cast<std::size_t>(number));
  }
  const OutputFormat format = options.json ? OutputFormat::Json : options.csv ? OutputFormat::Csv : OutputFormat::Text;
  // The records come out only once both files were read through, so a
  // file that cannot be read leaves nothing printed but its error.
  PrintingSink sink(context.out, format, options.summaryOnly);
  const compare::CompareResult result =
      compare::CompareFiles(options.oldPath, options.newPath, compareOptions, sink);
  if (!result.read) {
    outcome.error = PathForLine(result.errorPath) + ": " + FileTextForLine(result.error);
    return outcome;
  }
  if (!options.summaryOnly) sink.Title();
  context.out << FormatDiffSummary(format, result.summary);
  const bool any = result.summary.Records() != 0;
  outcome.outcome = any ? Outcome::Failed : Outcome::Succeeded;
  outcome.result = any ? 0 : 1;
  return outcome;
}

std::function<CheckOutcome(CheckContext&)> DeclareDiff(CommandOptions& app) {
  auto options = std::make_shared<DiffOptions>();
  app.option("OLD", options->oldPath, "the older transaction file").required();
  app.option("NEW", options->newPath, "the newer transaction file").required();
  app.option("--match", options->match,
             "the key of transaction messages after the MTI, e.g. P2,P4 (default P2,P11,P12,P37)");
  app.option("--ignore", options->ignore, "elements not compared, e.g. P7,S71,S128");
  CommandOption json = app.flag("--json", options->json, "JSON Lines: one object per difference, then the summary");
  CommandOption csv = app.flag("--csv", options->csv, "the differences as CSV, title row first, no summary");
  json.excludes(csv);
  app.flag("--summary", options->summaryOnly, "print only the summary").excludes(csv);
  app.footer(
      "Transaction messages (1100-1499) pair by MTI and the key elements, the others by MTI, P24 and their rank; "
      "equal keys pair in file order.\n"
      "Exit status: 0 no difference, 1 differences found, 2 a file could not be read or the arguments are wrong.");
  return [options](CheckContext& context) { return RunDiff(context, *options); };
}

}  // namespace

std::string FormatDifference(OutputFormat format, const Difference& d) {
  switch (format) {
    case OutputFormat::Json: {
      nlohmann::ordered_json json;
      json["change"] = compare::ChangeName(d.change);
      json["oldRecord"] = OrNull(d.oldRecord, compare::kNoRecord);
      json["newRecord"] = OrNull(d.newRecord, compare::kNoRecord);
      json["oldOffset"] = OrNull(d.oldOffset, compare::kNoOffset);
      json["newOffset"] = OrNull(d.newOffset, compare::kNoOffset);
      json["element"] = OrNull(d.element, compare::kNoElement);
      if (d.change == Change::Envelope) json["field"] = d.field;
      json["old"] = ValueJson(d, d.oldValue);
      json["new"] = ValueJson(d, d.newValue);
      json["key"] = d.key.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(Latin1ToUtf8(d.key));
      return JsonLine(json) + "\n";
    }
    case OutputFormat::Csv: {
      auto number = [](std::int64_t value, std::int64_t none) { return value == none ? std::string() : std::to_string(value); };
      std::ostringstream out;
      WriteCsvRow(out, {std::string(compare::ChangeName(d.change)), number(d.oldRecord, compare::kNoRecord),
                        number(d.newRecord, compare::kNoRecord), number(d.oldOffset, compare::kNoOffset),
                        number(d.newOffset, compare::kNoOffset), ElementText(d.element), d.field,
                        C1Escaped(d.oldValue.value_or("")), C1Escaped(d.newValue.value_or("")), C1Escaped(d.key)});
      return out.str();
    }
    case OutputFormat::Text: break;
  }
  return TextLine(d);
}

std::string CsvDifferencesTitle() {
  std::ostringstream out;
  WriteCsvRow(out, {"change", "oldRecord", "newRecord", "oldOffset", "newOffset", "element", "field", "old", "new", "key"});
  return out.str();
}

std::string FormatDiffSummary(OutputFormat format, const compare::Summary& s) {
  const std::pair<const char*, std::int64_t> counts[] = {
      {"oldMessages", s.oldMessages}, {"newMessages", s.newMessages}, {"pairs", s.pairs},
      {"equal", s.equal},             {"removed", s.removed},         {"added", s.added},
      {"changed", s.changed},         {"moved", s.moved},             {"envelope", s.envelope},
      {"lineEnds", s.lineEnds},       {"unreadable", s.unreadable}};
  if (format == OutputFormat::Csv) return {};
  if (format == OutputFormat::Json) {
    nlohmann::ordered_json summary;
    for (const auto& [name, count] : counts) summary[name] = count;
    nlohmann::ordered_json json;
    json["summary"] = summary;
    return JsonLine(json) + "\n";
  }
  std::string line = "summary: " + std::to_string(s.oldMessages) + " old messages, " + std::to_string(s.newMessages) +
                     " new messages, " + std::to_string(s.pairs) + " pairs, " + std::to_string(s.equal) + " equal, " +
                     std::to_string(s.removed) + " removed, " + std::to_string(s.added) + " added, " +
                     std::to_string(s.changed) + " changed, " + std::to_string(s.moved) + " moved, " +
                     std::to_string(s.envelope) + " envelope, " + std::to_string(s.lineEnds) + " line-ends, " +
                     std::to_string(s.unreadable) + " unreadable";
  return line + "\n";
}

Subcommand DiffSubcommand() {
  return {"diff", "compare two batch files: messages removed, added, moved and changed, element by element",
          DeclareDiff, true};
}

}  // namespace kalvrin
