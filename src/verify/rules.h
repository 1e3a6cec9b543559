// The verify rules: each with a stable id, a severity and an off switch.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "verify/finding.h"

namespace kalvrin::verify {

enum class Rule {
  MacHeader, FileHeader, TrailerMissing, TrailerNotLast, TrailerMac, KcvMismatch,
  BadPrefix, Truncated, BitmapChar, NoSecondaryBit, StrayText,
  NotNumeric, Date, PanLuhn, Currency, Track2Mismatch,
  MessageNumber, Duplicate, Totals,
  MacKcv, MacMismatch,
  EmvTlv, EmvAmount, EmvCurrency, EmvDate, EmvPan, EmvCryptogram,
};

struct RuleInfo {
  Rule rule;
  std::string_view id;
  Severity severity;
  std::string_view checks;  // one line for --help and the README
};

inline constexpr std::size_t kRuleCount = static_cast<std::size_t>(Rule::EmvCryptogram) + 1;

// In the order of Rule.
extern const std::array<RuleInfo, kRuleCount> kRules;

const RuleInfo& InfoOf(Rule rule);
std::optional<Rule> RuleById(std::string_view id);

// Which rules a pass reports; all of them unless switched off.
class RuleSet {
 public:
  bool Enabled(Rule rule) const { return !off_[static_cast<std::size_t>(rule)]; }
  void Disable(Rule rule) { off_[static_cast<std::size_t>(rule)] = true; }

 private:
  std::array<bool, kRuleCount> off_{};
};

}  // namespace kalvrin::verify
