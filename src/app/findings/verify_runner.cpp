// The verify pass for the window.
#include "app/findings/verify_runner.h"

#include "mac/key_install.h"
#include "mac/wipe.h"
#include "report/summary.h"
#include "verify/mac_rules.h"

namespace kalvrin {

namespace {

class GatheringSink : public verify::FindingSink {
 public:
  explicit GatheringSink(std::vector<FindingRow>& rows) : rows_(rows) {}
  void OnFinding(const verify::Finding& finding) override {
    FindingRow row;
    row.error = finding.severity == verify::Severity::Error;
    row.rule = std::string(finding.rule);
    row.record = finding.record == verify::kNoRecord ? kNoFindingRecord : finding.record;
    row.offset = finding.offset == verify::kNoOffset ? kNoFindingOffset : finding.offset;
    row.element = finding.element == verify::kNoElement ? kNoFindingElement : finding.element;
    row.message = finding.message;
    rows_.push_back(std::move(row));
  }

 private:
  std::vector<FindingRow>& rows_;
};

}  // namespace

VerifyRunner MakeVerifyRunner(std::function<bool()> maskCardNumbers) {
  return [maskCardNumbers](const std::string& path, const std::string& key, const VerifyControl& control) {
    FindingsRun run;
    // the Summary page's figures come from the same read
    report::SummaryOptions options;
    options.explainMac = false;
    const bool keyUsable = IsMacKeyText(key);
    if (keyUsable) options.key = key;
    // The pass stops at its next progress call once the window asks, in
    // the reading of the messages and in the MAC's reads after it.
    options.progress = [&control](std::int64_t done, std::int64_t total) {
      const bool goOn = !control.progress || control.progress(VerifyPhase::Messages, done, total);
      return goOn && !control.stopped();
    };
    options.macProgress = [&control](std::int64_t done, std::int64_t total) {
      const bool goOn = !control.progress || control.progress(VerifyPhase::Mac, done, total);
      return goOn && !control.stopped();
    };
    options.maskCardNumbers = maskCardNumbers && maskCardNumbers();
    GatheringSink sink(run.findings);
    auto figures = std::make_shared<report::FileSummary>(report::SummariseFile(path, options, &sink));
    SecureWipe(options.key.data(), options.key.size());
    const verify::VerifySummary& summary = figures->verify;
    run.read = summary.read;
    run.error = summary.error;
    run.stopped = summary.stopped;
    run.note = keyUsable ? summary.mac.note : std::string(findings_text::kKeyUnusable);
    if (keyUsable && summary.mac.checked && !summary.mac.matched.empty()) {
      run.note = std::string(findings_text::kMacMatched) + summary.mac.matched;
    }
    if (summary.read) run.summary = std::move(figures);
    return run;
  };
}

}  // namespace kalvrin
