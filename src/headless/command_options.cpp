// The subcommands' options over the argument parser.
#include "headless/command_options.h"

#include <map>

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

CommandOption& CommandOption::oneValueEach() {
  option_->allow_extra_args(false);
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

std::vector<std::pair<std::size_t, std::string>> CommandOptions::valuesInOrder(
    const std::vector<std::string>& names) const {
  // The parser keeps each option's values in order; parse_order tells the
  // order of the options' appearances.
  std::vector<std::pair<std::size_t, std::string>> values;
  std::map<const CLI::Option*, std::size_t> taken;
  for (const CLI::Option* option : app_.parse_order()) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (option != app_.get_option_no_throw(names[i])) continue;
      const std::vector<std::string>& results = option->results();
      const std::size_t index = taken[option]++;
      if (index < results.size()) values.emplace_back(i, results[index]);
    }
  }
  return values;
}

CommandLine::CommandLine(const std::string& name, const std::string& description, const std::string& version)
    : app_(std::make_unique<CLI::App>(description, name)) {
  app_->require_subcommand(1);
  app_->set_version_flag("--version", version, "print the version and exit");
}

CommandLine::~CommandLine() = default;

CommandOptions& CommandLine::subcommand(const std::string& name, const std::string& description) {
  subcommands_.push_back(app_->add_subcommand(name, description));
  return options_.emplace_back(*subcommands_.back());
}

CommandLine::Parsed CommandLine::parse(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  Parsed parsed;
  try {
    app_->parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) {
      parsed.status = app_->exit(error, out, err);  // --help, --version
    } else {
      parsed.status = error.get_exit_code();
      parsed.error = error.what();
    }
    return parsed;
  }
  for (std::size_t i = 0; i < subcommands_.size(); ++i) {
    if (subcommands_[i]->parsed()) parsed.chosen = static_cast<int>(i);
  }
  return parsed;
}

}  // namespace kalvrin
