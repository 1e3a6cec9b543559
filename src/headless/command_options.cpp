// The subcommands' options over the argument parser.
#include "headless/command_options.h"

#include <CLI/CLI.hpp>

namespace kalvrin {

CommandOption& CommandOption::required() {
  option_->required();
  return *this;
}

CommandOption& CommandOption::excludes(const CommandOption& other) {
  if (other.option_ != nullptr) option_->excludes(other.option_);
  return *this;
}

CommandOption& CommandOption::oneOf(const std::vector<std::string>& values) {
  option_->check(CLI::IsMember(values));
  return *this;
}

CommandOption& CommandOption::range(unsigned low, unsigned high) {
  option_->check(CLI::Range(low, high));
  return *this;
}

CommandOption& CommandOption::delimiter(char separator) {
  option_->delimiter(separator);
  return *this;
}

CommandOption CommandOptions::flag(const std::string& name, bool& into, const std::string& help) {
  return CommandOption(app_.add_flag(name, into, help));
}

CommandOption CommandOptions::option(const std::string& name, std::string& into, const std::string& help) {
  return CommandOption(app_.add_option(name, into, help));
}

CommandOption CommandOptions::option(const std::string& name, std::optional<std::string>& into,
                                     const std::string& help) {
  return CommandOption(app_.add_option(name, into, help));
}

CommandOption CommandOptions::option(const std::string& name, std::vector<std::string>& into,
                                     const std::string& help) {
  return CommandOption(app_.add_option(name, into, help));
}

CommandOption CommandOptions::option(const std::string& name, unsigned& into, const std::string& help) {
  return CommandOption(app_.add_option(name, into, help));
}

CommandOption CommandOptions::find(const std::string& name) { return CommandOption(app_.get_option_no_throw(name)); }

void CommandOptions::footer(const std::string& text) { app_.footer(text); }

}  // namespace kalvrin
