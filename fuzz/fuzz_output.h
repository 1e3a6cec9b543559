// What every output of kalvrin-check must be, whatever the file holds: JSON
// that parses, lines of valid UTF-8, CSV records of 41 fields, and at most
// one line on standard error. Shared by the iso and mac targets, which run
// kalvrin-check in-process on their input. Built without the fuzzer's
// coverage hooks: the parsers that read the output back are the oracle, not
// the code under test, and would cost most of the executions.
#pragma once

#include <string>
#include <vector>

namespace kalvrin::fuzz {

struct Printed {
  int exitCode;
  std::string out;
  std::string err;
};

// Runs kalvrin-check with these arguments (the program name is added); its
// exit status is 0, 1 or 2, and standard error is empty exactly when it is 0,
// else one line of UTF-8 without control characters.
Printed RunCheck(std::vector<std::string> args);

// What the subcommand printed with these options (none, --json, --csv,
// --elements, --elements --json) reads back as that form must.
void CheckPrinted(const std::string& out, const std::vector<std::string>& options);

}  // namespace kalvrin::fuzz
