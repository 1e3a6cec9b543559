// The findings of one pass, on their way to the sink.
#include "verify/reporter.h"

#include "iso/pan_mask.h"

namespace kalvrin::verify {

void Reporter::operator()(Rule rule, std::int64_t record, std::int64_t offset, int element, std::string message,
                          std::optional<std::string> declared, std::optional<std::string> computed,
                          const std::string* cause) {
  if (!rules_.Enabled(rule)) return;
  const RuleInfo& info = InfoOf(rule);
  if (!cardNumbers_.empty()) {
    MaskQuotedCardNumbers(message, cardNumbers_);
    if (declared) MaskQuotedCardNumbers(*declared, cardNumbers_);
    if (computed) MaskQuotedCardNumbers(*computed, cardNumbers_);
  }
  const Finding finding{info.id,
                        info.severity,
                        record,
                        offset,
                        element,
                        std::move(message),
                        std::move(declared),
                        std::move(computed),
                        cause != nullptr,
                        cause != nullptr ? *cause : std::string()};
  (info.severity == Severity::Error ? errors_ : warnings_) += 1;
  sink_.OnFinding(finding);
}

}  // namespace kalvrin::verify
