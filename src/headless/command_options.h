// A command line of subcommands and their options, declared without the
// argument parser's header. That header's code is compiled in every file
// that includes it (some twenty seconds a file under the sanitizers), so
// only command_options.cpp includes it.
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace kalvrin {

// One declared option; each call refines it, like the parser's own.
class CommandOption {
 public:
  explicit CommandOption(CLI::Option* option) : option_(option) {}

  CommandOption& required();
  CommandOption& excludes(const CommandOption& other);  // either, not both; a null option is ignored
  CommandOption& oneOf(const std::vector<std::string>& values);
  CommandOption& range(unsigned low, unsigned high);
  CommandOption& delimiter(char separator);  // a list given as one argument too
  CommandOption& oneValueEach();  // a list option takes one value each time it is given

  bool declared() const { return option_ != nullptr; }

 private:
  CLI::Option* option_;
};

// The options of one subcommand.
class CommandOptions {
 public:
  explicit CommandOptions(CLI::App& app) : app_(app) {}

  CommandOption flag(const std::string& name, bool& into, const std::string& help);
  // A name without leading dashes is a positional argument.
  CommandOption option(const std::string& name, std::string& into, const std::string& help);
  CommandOption option(const std::string& name, std::optional<std::string>& into, const std::string& help);
  CommandOption option(const std::string& name, std::vector<std::string>& into, const std::string& help);
  CommandOption option(const std::string& name, unsigned& into, const std::string& help);
  // An option declared before (the common --json and --csv); a null one when there is none.
  CommandOption find(const std::string& name);
  // Text printed after the options in --help.
  void footer(const std::string& text);
  // After parsing: the values of these options in the order the command
  // line gives them, across the options, each with its option's index in
  // `names`.
  std::vector<std::pair<std::size_t, std::string>> valuesInOrder(const std::vector<std::string>& names) const;

 private:
  CLI::App& app_;
};

// The whole command line: its subcommands, parsed once.
class CommandLine {
 public:
  CommandLine(const std::string& name, const std::string& description, const std::string& version);
  ~CommandLine();
  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;

  // A new subcommand, and the options to declare on it.
  CommandOptions& subcommand(const std::string& name, const std::string& description);

  struct Parsed {
    int chosen = -1;    // the subcommand to run, in the order declared; -1: none
    int status = 0;     // the exit status when there is none to run
    std::string error;  // why the command line is wrong; empty after --help or --version
  };
  // --help and --version print to `out`.
  Parsed parse(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

 private:
  std::unique_ptr<CLI::App> app_;
  std::vector<CLI::App*> subcommands_;
  std::deque<CommandOptions> options_;  // stay where they are as more are added
};

}  // namespace kalvrin
