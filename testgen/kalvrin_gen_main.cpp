// kalvrin-gen OUT --size BYTES [--seed N] [--key HEX] [--chip FRACTION] [--fault RULE[@RECORD]]...:
// writes a valid batch file, with the named faults injected.
#include <algorithm>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "testgen/filegen.h"

namespace {

// "RULE" or "RULE@RECORD".
bool ParseFault(const std::string& text, kalvrin::filegen::Fault& fault) {
  const std::size_t at = text.find('@');
  fault.rule = text.substr(0, at);
  if (at == std::string::npos) return true;
  try {
    std::size_t used = 0;
    fault.record = std::stoll(text.substr(at + 1), &used);
    return used == text.size() - at - 1 && fault.record > 0;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app("Writes a valid batch file of ISO 8583 messages, with faults injected on demand.", "kalvrin-gen");
  std::string out;
  std::vector<std::string> faults;
  kalvrin::filegen::FileOptions options;
  app.add_option("OUT", out, "the file to write")->required();
  app.add_option("--size", options.size, "bytes: the file is the smallest whole number of records reaching it")
      ->required();
  app.add_option("--seed", options.seed, "seed of the message contents");
  app.add_option("--key", options.key, "the MAC key (16 hex digits): check values and the declared MAC (MACNSP)")
      ->check([](const std::string& key) {
        const bool hex = key.size() == 16 && key.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos;
        return hex ? std::string() : std::string("the key must be 16 hex digits");
      });
  app.add_option("--mac", options.mac, "declare this MAC (8 characters) instead of the computed one");
  app.add_option("--chip", options.chip,
                 "the fraction (0 to 1) of transactions that carry chip data in P55, consistent with the message")
      ->check(CLI::Range(0.0, 1.0));
  std::string faultHelp = "inject a fault into record RECORD (or a suitable one): RULE[@RECORD]; RULE one of";
  std::vector<std::string_view> rules = kalvrin::filegen::InjectableFaults();
  std::sort(rules.begin(), rules.end());  // by family: batch, element, envelope, mac, message
  for (const std::string_view id : rules) faultHelp += " " + std::string(id);
  app.add_option("--fault", faults, faultHelp);
  CLI11_PARSE(app, argc, argv);

  for (const std::string& text : faults) {
    kalvrin::filegen::Fault fault;
    if (!ParseFault(text, fault)) {
      std::cerr << "kalvrin-gen: --fault " << text << ": RULE or RULE@RECORD, RECORD counted from 1\n";
      return 2;
    }
    options.faults.push_back(fault);
  }

  kalvrin::filegen::FileSummary summary;
  if (!kalvrin::filegen::WriteGeneratedFile(out, options, &summary)) {
    std::cerr << "kalvrin-gen: " << (summary.error.empty() ? "cannot write " + out : summary.error) << '\n';
    return 2;
  }
  std::cout << out << ": " << summary.bytes << " bytes, " << summary.messages << " messages\n";
  for (const kalvrin::filegen::Injected& fault : summary.injected) {
    std::cout << out << ": injected " << fault.rule;
    if (fault.record != 0) std::cout << " at record " << fault.record;
    if (fault.element != 0) std::cout << ", element " << (fault.element < 65 ? "P" : "S") << fault.element;
    if (fault.offset >= 0) std::cout << ", offset " << fault.offset;
    std::cout << ": " << fault.what << '\n';
  }
  return 0;
}
