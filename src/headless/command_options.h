// A subcommand's options, declared without the argument parser's header.
// That header's code is compiled in every file that includes it (some
// twenty seconds a file under the sanitizers), so only check_app.cpp and
// command_options.cpp include it; the subcommands declare through this.
#pragma once

#include <optional>
#include <string>
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

 private:
  CLI::App& app_;
};

}  // namespace kalvrin
