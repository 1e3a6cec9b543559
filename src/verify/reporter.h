// Where every verify rule hands its finding: the rule's id and severity
// added, switched-off rules dropped, card numbers masked when asked, and the
// findings counted by severity.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "verify/finding.h"
#include "verify/rules.h"

namespace kalvrin::verify {

class Reporter {
 public:
  Reporter(const RuleSet& rules, FindingSink& sink) : rules_(rules), sink_(sink) {}

  bool Enabled(Rule rule) const { return rules_.Enabled(rule); }
  // The card numbers of the message being checked: masked in every text of
  // its findings. Empty: nothing is masked.
  void MaskCardNumbers(std::vector<std::string> numbers) { cardNumbers_ = std::move(numbers); }

  void operator()(Rule rule, std::int64_t record, std::int64_t offset, int element, std::string message,
                  std::optional<std::string> declared = std::nullopt,
                  std::optional<std::string> computed = std::nullopt, const std::string* cause = nullptr);

  std::int64_t Errors() const { return errors_; }
  std::int64_t Warnings() const { return warnings_; }

 private:
  const RuleSet& rules_;
  FindingSink& sink_;
  std::vector<std::string> cardNumbers_;
  std::int64_t errors_ = 0;
  std::int64_t warnings_ = 0;
};

}  // namespace kalvrin::verify
