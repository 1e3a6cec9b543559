// What every output of kalvrin-check must be, whatever the file holds: JSON
// that parses, lines of valid UTF-8, CSV records of 41 fields, and at most
// one line on standard error; no C1 control raw in a text form or in JSON;
// with --mask-pan no card number of the input whole. Shared by the iso, mac
// and verify targets, which run kalvrin-check or its printers in-process
// on their input. Built without the fuzzer's
// coverage hooks: the parsers that read the output back are the oracle, not
// the code under test, and would cost most of the executions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "iso/message_decoder.h"

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

// No U+0080-U+009F written as it is: a terminal may act on them, and a
// reader that splits lines on Unicode line ends breaks a JSON line at U+0085.
void CheckNoRawC1(std::string_view out);

// The card numbers that masked output must not show whole: P2 and the
// numbers inside P35 and P45 of these messages, and the runs of 12 or more
// digits of the texts given as stray, each of 12 characters or more.
// Left out: a number that another element, an MTI or a bitmap of the
// messages holds too, since those are shown as they are.
std::vector<std::string> CardNumbersToHide(const std::vector<DecodedMessage>& messages,
                                           const std::vector<std::string>& strayTexts = {});
void CheckNoCardNumber(std::string_view out, const std::vector<std::string>& numbers);

}  // namespace kalvrin::fuzz
