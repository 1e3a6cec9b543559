// Where kalvrin-check takes the MAC key from, so that it need not stand on
// the command line, where every user of the machine can read it in the
// process list: --key HEX, --key - (the first line of standard input),
// --key-file PATH (its first line), the environment variable KALVRIN_KEY,
// or the subcommand's fallback (the window's default key for mac, none for
// verify), in this order.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "headless/command_options.h"

namespace kalvrin {

inline constexpr const char* kKeyEnvironmentVariable = "KALVRIN_KEY";
inline constexpr std::size_t kLongestKeyLine = 4096;  // read no further for the first line

struct KeyOptions {
  std::optional<std::string> key;  // --key: hex digits, or "-" for standard input
  std::string keyFile;  // --key-file: empty when not given
};

// Declares --key and --key-file on a subcommand, one excluding the other;
// without either the key is what `fallback` says ("else no MAC check").
void DeclareKeyOptions(CommandOptions& app, KeyOptions& options, std::string_view fallback);

// The key text from the first source given, blanks and the line end taken
// off a line read from a file or standard input. False with one line for
// standard error when the source cannot give one; neither the key nor any
// part of it is ever in that line. A key file that its group or other users
// may read or write is refused, as ssh refuses such a private key. Every
// copy made on the way is wiped; the caller wipes `key` when done.
bool ReadKey(KeyOptions& options, std::string_view defaultKey, std::string& key, std::string& error);

// The first line of the descriptor, at most kLongestKeyLine bytes of it.
bool ReadFirstLine(int fd, std::string& line);

}  // namespace kalvrin
