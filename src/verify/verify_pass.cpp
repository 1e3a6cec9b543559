// The verify pass: the message reader's events handed to the rules, and the
// MAC variants against what the file declares at the end.
#include "verify/verify_pass.h"

#include "io/transaction_file.h"  // OpenFailureReason
#include "iso/pan_mask.h"
#include "mac/key_install.h"
#include "mac/mac_envelope.h"
#include "mac/mac_explain.h"
#include "verify/batch_checks.h"
#include "verify/element_rules.h"
#include "verify/envelope_rules.h"
#include "verify/finding_text.h"
#include "verify/framing_rules.h"
#include "verify/mac_rules.h"
#include "verify/message_reader.h"
#include "verify/reporter.h"

namespace kalvrin::verify {

namespace {

constexpr int kMac = 128;

class Pass final : public MessageVisitor {
 public:
  Pass(std::string_view path, const VerifyOptions& options, FindingSink& sink)
      : path_(path),
        options_(options),
        report_(options.rules, sink),
        reader_(path),
        batches_(report_, reader_, summary_, options.maskCardNumbers, options.observer) {
    if (options.observer != nullptr) {
      reader_.SetByteObserver([observer = options.observer](std::string_view bytes) { observer->OnBytes(bytes); });
    }
  }

  VerifySummary Run() {
    if (!reader_.IsOpen()) {
      const std::string reason = OpenFailureReason(path_);
      summary_.error = "cannot open the file: " + (reason.empty() ? "it must be a readable regular file" : reason);
      return Done();
    }
    summary_.read = true;
    summary_.bytes = reader_.Size();
    const ReadEnd end = reader_.Read(*this, options_.progress);
    if (end == ReadEnd::Stopped) {
      summary_.stopped = true;
      return Done();
    }
    if (end == ReadEnd::CannotRead || end == ReadEnd::Changed) {
      summary_.read = false;
      summary_.error = end == ReadEnd::Changed ? kFileChanged : "cannot read the file to its end";
      return Done();
    }
    Finish();
    CheckMac();
    if (summary_.stopped) return Done();
    // the MAC variants read the file again: it may have changed since
    if (reader_.Changed()) {
      summary_.read = false;
      summary_.error = kFileChanged;
      return Done();
    }
    summary_.duplicateIndexBytes = batches_.DuplicateIndexBytes();
    if (options_.progress) options_.progress(summary_.bytes, summary_.bytes);
    return Done();
  }

  void OnStart(const FileStart& start) override {
    if (options_.observer != nullptr) options_.observer->OnStart(start);
    headerRecord_ = start.macHeader;
    headerValid_ = CheckMacHeaderRecord(start, report_);
    CheckFileHeaderTest(start, report_);
  }

  void OnStrayText(const StrayText& text) override {
    if (!options_.maskCardNumbers) return CheckStrayText(text, report_);
    StrayText masked = text;
    MaskDigitRuns(masked.text, text.digitsBefore, text.digitsAfter);
    CheckStrayText(masked, report_);
  }

  void OnMessage(const ReadMessage& message) override {
    const DecodedMessage& decoded = message.decoded;
    if (options_.maskCardNumbers) report_.MaskCardNumbers(CardNumbersIn(decoded));
    if (options_.observer != nullptr) options_.observer->OnMessage(message);
    ++summary_.messages;
    ++summary_.messagesByType[decoded.mti];
    const bool complete = message.broken == MessageBreak::None;
    CheckAfterTrailer(message);
    CheckFraming(message, report_);
    if (message.isTrailer) NoteTrailer(message);
    if (message.record == 1 && decoded.mti == "1644" && complete && headerValid_) {
      CheckSecurity(decoded, headerRecord_, reader_, report_);
    }
    if (!complete) {
      batches_.Broken(message.record);
      return;
    }
    CheckElementValues(message);
    batches_.Check(message);
  }

 private:
  VerifySummary Done() {
    summary_.errors = report_.Errors();
    summary_.warnings = report_.Warnings();
    return std::move(summary_);
  }

  void CheckAfterTrailer(const ReadMessage& message) {
    if (!trailerSeen_ || reportedAfterTrailer_) return;
    report_(Rule::TrailerNotLast, message.record, message.decoded.span.offset, kNoElement,
            "message " + message.decoded.mti + " follows the trailer at record " + std::to_string(trailer_.record));
    reportedAfterTrailer_ = true;
  }

  void NoteTrailer(const ReadMessage& message) {
    if (trailerSeen_ && !reportedAfterTrailer_) {
      report_(Rule::TrailerNotLast, message.record, message.decoded.span.offset, kNoElement,
              "a second trailer: one stands at record " + std::to_string(trailer_.record));
    }
    trailerSeen_ = true;
    reportedAfterTrailer_ = false;
    trailer_ = FactsOf(message);
  }

  void CheckElementValues(const ReadMessage& message) {
    const DecodedMessage& decoded = message.decoded;
    CheckElements(decoded, options_.rules, [&](ElementFault fault) {
      const DecodedElement* element = FindElement(decoded, fault.element);
      report_(fault.rule, message.record,
              element != nullptr ? reader_.OffsetInValue(*element, fault.index) : decoded.span.offset, fault.element,
              std::move(fault.message), std::move(fault.declared), std::move(fault.computed));
    }, options_.maskCardNumbers);
  }

  // ---- the end of the file -------------------------------------------------------

  void Finish() {
    batches_.Finish();
    if (!trailerSeen_) {
      report_(Rule::TrailerMissing, kNoRecord, kNoOffset, kNoElement, "no 1844 message with function code 971");
      return;
    }
    if (trailer_.complete) CheckTrailerLayout(trailer_, reader_, report_);  // else its own finding says why
  }

  // The MAC header record's key check value, empty when the record is too short to hold one.
  std::string HeaderKcv() const {
    return headerRecord_.size() >= kMacKcvAt + kKcvDigits ? headerRecord_.substr(kMacKcvAt, kKcvDigits)
                                                          : std::string();
  }

  void CheckMac() {
    MacSummary& mac = summary_.mac;
    if (options_.key.empty()) {
      mac.note = "MAC not checked: no --key";
      return;
    }
    if (!report_.Enabled(Rule::MacKcv) && !report_.Enabled(Rule::MacMismatch)) {
      mac.note = "MAC not checked: its rules are disabled";
      return;
    }
    bool stopped = false;
    MacProgress progress;
    if (options_.macProgress) {
      progress = [this, &stopped](std::int64_t done, std::int64_t total) {
        stopped = !options_.macProgress(done, total);
        return !stopped;
      };
    }
    const FileMacs macs = ComputeFileMacs(path_, options_.key, reader_.Identity(), progress);
    if (stopped) {
      summary_.stopped = true;
      return;
    }
    if (!macs.computed) {
      mac.note = "MAC not computed: " + macs.failure;
      return;
    }
    mac.checked = true;
    mac.declared = macs.declared;
    mac.computed = macs.variants;
    JudgeMac(macs);
  }

  void JudgeMac(const FileMacs& macs) {
    MacSummary& mac = summary_.mac;
    const std::string headerKcv = HeaderKcv();
    if (!SameHex(macs.keyKcv, headerKcv)) {
      report_(Rule::MacKcv, kNoRecord, headerKcv.empty() ? kNoOffset : static_cast<std::int64_t>(kMacKcvAt),
              kNoElement, "the key's check value " + macs.keyKcv + " is not the MAC header record's " + Quoted(headerKcv),
              headerKcv, macs.keyKcv);
      mac.note = "a wrong key: the MACs were not judged";
      return;
    }
    if (!macs.trailerFound) {
      mac.note = "no trailer declares a MAC";
      return;
    }
    if (trailerSeen_ && !trailer_.complete) {
      mac.note = "the trailer is cut short: its MAC was not judged";
      return;
    }
    for (std::size_t i = 0; i < macs.variants.size(); ++i) {
      if (macs.variants[i] == macs.declared) {
        mac.matched = kVariantNames[i];
        return;
      }
    }
    const bool here = trailerSeen_ && trailer_.macOffset >= 0;
    std::string message = "declared MAC " + Quoted(macs.declared) + " equals none of MACALL " + macs.variants[0] +
                          ", MACNHD " + macs.variants[1] + ", MACNSP " + macs.variants[2];
    std::string cause;
    if (options_.explainMac) {
      TransactionFile file(path_);
      const MacExplanation explanation = ExplainFileMac(file, options_.key, &macs.variants);
      message += "; " + ExplanationLine(explanation);
      cause = FirstCause(explanation);
    }
    report_(Rule::MacMismatch, here ? trailer_.record : kNoRecord, here ? trailer_.macOffset : kNoOffset,
            here ? kMac : kNoElement, std::move(message), macs.declared, std::nullopt,
            options_.explainMac ? &cause : nullptr);
  }

  std::string path_;
  const VerifyOptions& options_;
  VerifySummary summary_;
  Reporter report_;
  MessageFileReader reader_;
  BatchChecks batches_;

  std::string headerRecord_;
  bool headerValid_ = false;
  bool trailerSeen_ = false;
  bool reportedAfterTrailer_ = false;
  TrailerFacts trailer_;
};

}  // namespace

VerifySummary VerifyFile(std::string_view path, const VerifyOptions& options, FindingSink& sink) {
  return Pass(path, options, sink).Run();
}

}  // namespace kalvrin::verify
