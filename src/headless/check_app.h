// kalvrin-check: runs one of the window's commands on a fresh start-up
// state and prints what the window would show. Each subcommand is a small
// self-contained part registered in the table in check_app.cpp.
#pragma once

#include <exception>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "command_outcome.h"
#include "headless/command_options.h"
#include "headless/headless_surface.h"
#include "headless/surface_output.h"
#include "io/transaction_file.h"
#include "iso/format_check.h"

namespace kalvrin {

inline constexpr int kExitSucceeded = 0;  // the command succeeded
inline constexpr int kExitFailed = 1;     // it ran but did not succeed
inline constexpr int kExitCannotRun = 2;  // it could not run: unreadable file, bad arguments, ...

// The grid rows a streaming sink leaves on the surface: the current
// message's row and the empty row below it.
inline constexpr int kLiveRows = 2;

// What a subcommand works on: the window right after start-up and the FILE
// argument, and where its output goes in which format.
struct CheckContext {
  HeadlessSurface& surface;
  FormatCheck& formatCheck;
  const std::string& path;
  std::ostream& out;
  OutputFormat format;
  std::ostream& err;  // for a subcommand that reports more than one error line
  bool maskCardNumbers = false;  // --mask-pan: card numbers masked in every output
};

// The exit status of each outcome.
int ExitStatus(Outcome outcome);

// What a subcommand hands back once it has run.
struct CheckOutcome {
  int result = 0;        // the driver's integer, as the JSON's "result"
  Outcome outcome = Outcome::Failed;
  std::string error;     // one line of UTF-8 without control characters for standard error when the
                         // command did not succeed (texts from the file through FileTextForLine, paths
                         // through PathForLine)
  bool printed = false;  // the subcommand wrote its own output instead of the window state
  std::optional<MacVerdict> verdict;  // mac's, printed with the window state
  ReportTail tail;       // what the subcommand adds after the window state
};

struct Subcommand {
  std::string_view name;
  std::string_view description;
  // Declares the subcommand's own options (FILE, --json and --csv are
  // declared for every subcommand) and returns what runs it after parsing.
  std::function<CheckOutcome(CheckContext&)> (*declare)(CommandOptions& options);
  // Declares its own file arguments and output flags instead of the common ones.
  bool declaresFiles = false;
};

// The subcommands, one line each in check_app.cpp.
Subcommand IsoSubcommand();
Subcommand MacSubcommand();
Subcommand VerifySubcommand();
Subcommand DiffSubcommand();
Subcommand ReportSubcommand();
Subcommand RewriteSubcommand();

// The one error line's text for an exception that ended a command while it
// read `path`: "out of memory while reading <path>" or the exception's own
// text.
std::string FailureWhileReading(const std::exception_ptr& failure, const std::string& path);

// "<what>: <path>", and ": <reason>" when the system tells one.
std::string OpenFailureText(std::string_view what, const std::string& path);

// The whole program: parses argv, runs the chosen subcommand, prints to out
// and err, returns the exit status. afterParse runs once the options are
// parsed, before the subcommand (the program blanks its key argument there).
int RunKalvrinCheck(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                    const std::function<void()>& afterParse = {});

}  // namespace kalvrin
