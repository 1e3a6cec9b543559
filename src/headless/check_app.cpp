// kalvrin-check's argument parsing, output and exit status, shared by the
// subcommands.
#include "headless/check_app.h"

#include <exception>
#include <memory>
#include <new>
#include <vector>

#include "headless/surface_output.h"
#include "iso/iso_commands.h"

namespace kalvrin {

namespace {

// Add a subcommand here; its code lives in a file of its own.
const Subcommand kSubcommands[] = {
    IsoSubcommand(),
    MacSubcommand(),
    VerifySubcommand(),
    DiffSubcommand(),
    ReportSubcommand(),
    RewriteSubcommand(),
};

struct CommonOptions {
  std::string path;
  bool json = false;
  bool csv = false;
  bool maskPan = false;
};

struct Declared {
  std::string_view name;
  std::function<CheckOutcome(CheckContext&)> run;
};

OutputFormat FormatOf(const CommonOptions& options) {
  if (options.json) return OutputFormat::Json;
  if (options.csv) return OutputFormat::Csv;
  return OutputFormat::Text;
}

int RunSubcommand(const Declared& chosen, const CommonOptions& options, std::ostream& out, std::ostream& err) {
  HeadlessSurface surface;
  FormatCheck formatCheck(surface);
  StartUpState(formatCheck, surface);
  surface.setMaskCardNumbers(options.maskPan);
  const OutputFormat format = FormatOf(options);
  // Grid rows leave as soon as no step can change them any more, in every
  // output form; a subcommand that prints its own output sets its own sink.
  std::unique_ptr<ReportStream> report;
  if (format == OutputFormat::Csv) {
    surface.setRowSink(CsvRowSink(out), kLiveRows);
  } else {
    report = format == OutputFormat::Json ? JsonReportStream(out, chosen.name) : TextReportStream(out, chosen.name);
    surface.setRowSink([&report](int, std::span<const std::string_view> cells) { report->Row(cells); }, kLiveRows);
  }

  CheckContext context{surface, formatCheck, options.path, out, format, err, options.maskPan};
  const CheckOutcome outcome = chosen.run(context);

  if (!outcome.printed) {
    surface.flushRows();
    if (report) {
      report->tail = outcome.tail;
      report->Finish(surface, outcome.result, outcome.verdict ? &*outcome.verdict : nullptr);
    }
  }
  out.flush();
  if (!outcome.error.empty()) err << "kalvrin-check: " << outcome.error << '\n';
  return ExitStatus(outcome.outcome);
}

// Whatever escapes a subcommand ends it with one line and exit status 2;
// what it printed before stays printed.
int RunGuarded(const Declared& chosen, const CommonOptions& options, std::ostream& out, std::ostream& err) {
  try {
    return RunSubcommand(chosen, options, out, err);
  } catch (const std::exception&) {
    out.flush();
    err << "kalvrin-check: " << FailureWhileReading(std::current_exception(), options.path) << '\n';
  }
  return kExitCannotRun;
}

}  // namespace

std::string FailureWhileReading(const std::exception_ptr& failure, const std::string& path) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::bad_alloc&) {
    return "out of memory while reading " + PathForLine(path);
  } catch (const std::exception& error) {
    return FileTextForLine(error.what()) + " while reading " + PathForLine(path);
  } catch (...) {
    return "an unknown failure while reading " + PathForLine(path);
  }
}

std::string OpenFailureText(std::string_view what, const std::string& path) {
  std::string text = std::string(what) + ": " + PathForLine(path);
  if (const std::string reason = OpenFailureReason(path); !reason.empty()) text += ": " + reason;
  return text;
}

namespace {

// "iso, mac, verify or report"
std::string SubcommandList() {
  std::string list;
  const std::size_t count = std::size(kSubcommands);
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) list += i + 1 == count ? " or " : ", ";
    list += kSubcommands[i].name;
  }
  return list;
}

bool IsSubcommand(std::string_view name) {
  for (const Subcommand& subcommand : kSubcommands) {
    if (subcommand.name == name) return true;
  }
  return false;
}

}  // namespace

int ExitStatus(Outcome outcome) {
  switch (outcome) {
    case Outcome::Succeeded: return kExitSucceeded;
    case Outcome::Failed: return kExitFailed;
    case Outcome::CannotRun: break;
  }
  return kExitCannotRun;
}

int RunKalvrinCheck(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                    const std::function<void()>& afterParse) {
  if (argc > 1 && argv[1][0] != '-' && !IsSubcommand(argv[1])) {
    err << "kalvrin-check: unknown command '" << PathForLine(argv[1]) << "'; use " << SubcommandList() << '\n';
    return kExitCannotRun;
  }
  CommandLine line("kalvrin-check", "Checks a batch file of ISO 8583 messages the way the window's buttons do.",
                   "kalvrin-check " KALVRIN_VERSION);
  CommonOptions options;
  std::vector<Declared> declared;
  for (const Subcommand& subcommand : kSubcommands) {
    CommandOptions& sub = line.subcommand(std::string(subcommand.name), std::string(subcommand.description));
    if (!subcommand.declaresFiles) {
      sub.option("FILE", options.path, "the transaction file").required();
      CommandOption json = sub.flag("--json", options.json, "print the window state as one JSON object");
      CommandOption csv = sub.flag("--csv", options.csv, "print the grid as CSV, title row first");
      json.excludes(csv);
    }
    sub.flag("--mask-pan", options.maskPan,
             "mask card numbers (element 2, and inside tracks 1 and 2): first six and last four digits kept");
    declared.push_back({subcommand.name, subcommand.declare(sub)});
  }

  const CommandLine::Parsed parsed = line.parse(argc, argv, out, err);
  if (parsed.chosen < 0) {
    if (parsed.error.empty()) return parsed.status;  // --help, --version
    err << "kalvrin-check: " << PathForLine(parsed.error) << '\n';
    return kExitCannotRun;
  }
  if (afterParse) afterParse();
  return RunGuarded(declared[static_cast<std::size_t>(parsed.chosen)], options, out, err);
}

}  // namespace kalvrin
