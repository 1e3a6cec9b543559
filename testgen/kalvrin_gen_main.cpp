// kalvrin-gen OUT --size BYTES [--seed N] [--key HEX] [--chip FRACTION]
// [--fault RULE[@RECORD]]...
// [--mac-cause CAUSE [--mac-variant FORM]]: writes a valid batch file, with the
// named faults injected (saying where each went, and which another fault hides
// from verify), or with its MAC made the way a sender made it.
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <optional>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "io/transaction_file.h"
#include "mac/mac_explain.h"
#include "mac/key_argument.h"
#include "mac/key_install.h"
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

// "OUT: injected RULE at record N, element P12, offset N: WHAT"; a hidden
// fault ends with the fault that hides it.
void PrintFault(const std::string& out, std::string_view how, const kalvrin::filegen::Injected& fault) {
  std::cout << out << ": " << how << ' ' << fault.rule;
  if (fault.record != 0) std::cout << " at record " << fault.record;
  if (fault.element != 0) std::cout << ", element " << (fault.element < 65 ? "P" : "S") << fault.element;
  if (fault.offset >= 0) std::cout << ", offset " << fault.offset;
  std::cout << ": " << fault.what;
  if (!fault.hiddenBy.empty()) std::cout << "; verify does not find it behind " << fault.hiddenBy;
  std::cout << '\n';
}

// The declared MAC made under the candidate, written over the trailer's
// MAC field of the generated file; an error text, or empty.
std::string DeclareCandidateMac(const std::string& out, const kalvrin::MacCandidate& candidate, const std::string& key) {
  std::int64_t fieldAt = 0;
  std::optional<std::string> mac;
  {
    kalvrin::TransactionFile file(out);
    mac = kalvrin::FileCandidateMac(file, candidate, key, &fieldAt);
  }
  if (!mac) return "cannot compute the MAC of " + out;
  std::fstream file(out, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(static_cast<std::streamoff>(fieldAt));
  file.write(mac->data(), static_cast<std::streamsize>(mac->size()));
  return file.good() ? std::string() : "cannot write " + out;
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
  app.add_option("--key", options.key,
                 "the MAC key (16 hex digits, or 32 with equal halves; any 32 with --mac-cause): check values and "
                 "the declared MAC (MACNSP)")
      ->check([](const std::string& key) {
        return kalvrin::IsMacKeyText(key) ? std::string() : std::string(kalvrin::kKeyNotHex);
      });
  std::string macCause;
  std::string macVariant = "MACNSP";
  std::string causeHelp = "declare the MAC a sender made with this cause (kalvrin-check mac --explain names it):";
  for (const auto& cause : kalvrin::kMacCauses) causeHelp += " " + std::string(cause.id);
  app.add_option("--mac-cause", macCause, causeHelp);
  std::string variantHelp = "the bytes the --mac-cause MAC is made over (default MACNSP):";
  for (const auto& form : kalvrin::kMacForms) variantHelp += " " + std::string(form.id);
  app.add_option("--mac-variant", macVariant, variantHelp);
  app.add_option("--mac", options.mac, "declare this MAC (8 characters) instead of the computed one");
  app.add_option("--chip", options.chip,
                 "the fraction (0 to 1) of transactions that carry chip data in P55, consistent with the message")
      ->check(CLI::Range(0.0, 1.0));
  std::string faultHelp =
      "inject a fault into record RECORD, or without @RECORD into a suitable record that holds no other fault: "
      "RULE[@RECORD]; RULE one of";
  std::vector<std::string_view> rules = kalvrin::filegen::InjectableFaults();
  std::sort(rules.begin(), rules.end());  // by family: batch, element, envelope, mac, message
  for (const std::string_view id : rules) faultHelp += " " + std::string(id);
  app.add_option("--fault", faults, faultHelp);
  CLI11_PARSE(app, argc, argv);
  kalvrin::BlankKeyArguments(argc, argv);

  for (const std::string& text : faults) {
    kalvrin::filegen::Fault fault;
    if (!ParseFault(text, fault)) {
      std::cerr << "kalvrin-gen: --fault " << text << ": RULE or RULE@RECORD, RECORD counted from 1\n";
      return 2;
    }
    options.faults.push_back(fault);
  }

  std::optional<kalvrin::MacCandidate> candidate;
  if (!macCause.empty()) {
    candidate = kalvrin::CandidateByIds(macVariant, macCause, static_cast<int>(options.key.size()));
    if (!candidate || !options.mac.empty()) {
      std::cerr << "kalvrin-gen: --mac-cause " << macCause << " --mac-variant " << macVariant
                << ": not a candidate of a " << options.key.size() << "-digit key"
                << (options.mac.empty() ? "" : ", or given with --mac") << '\n';
      return 2;
    }
  } else if (const std::string refusal = kalvrin::MacKeyRefusal(options.key); !refusal.empty()) {
    // a sender's double-length key makes a declared MAC only through a cause
    std::cerr << "kalvrin-gen: --key: " << refusal << '\n';
    return 2;
  }

  kalvrin::filegen::FileSummary summary;
  if (!kalvrin::filegen::WriteGeneratedFile(out, options, &summary)) {
    std::cerr << "kalvrin-gen: " << (summary.error.empty() ? "cannot write " + out : summary.error) << '\n';
    return 2;
  }
  if (candidate) {
    if (const std::string error = DeclareCandidateMac(out, *candidate, options.key); !error.empty()) {
      std::cerr << "kalvrin-gen: " << error << '\n';
      return 2;
    }
  }
  std::cout << out << ": " << summary.bytes << " bytes, " << summary.messages << " messages\n";
  for (const kalvrin::filegen::Injected& fault : summary.injected) PrintFault(out, "injected", fault);
  for (const kalvrin::filegen::Injected& fault : summary.hidden) PrintFault(out, "hidden", fault);
  return 0;
}
