// The rewrite: a first read of IN for its card numbers when anonymising,
// then one read that writes OUT message by message, the bytes between
// messages copied as they are; the MAC last, over the finished copy.
#include "rewrite/rewrite.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "iso/element_table.h"
#include "iso/format_rules.h"
#include "iso/pan_mask.h"
#include "mac/key_install.h"
#include "mac/mac_core.h"
#include "mac/mac_envelope.h"
#include "rewrite/anonymize.h"
#include "rewrite/message_edit.h"
#include "rewrite/output_file.h"
#include "verify/batch_checks.h"
#include "verify/message_reader.h"

namespace kalvrin::rewrite {

namespace {

using verify::DeclaredTotals;
using verify::kTotalElements;
using verify::Totals;

constexpr int kMessageNumber = 71;
constexpr int kSecurity = 53;
constexpr std::size_t kGapPiece = std::size_t{1} << 18;
// The padding and line ends after a message are repeated after each copy of
// it, up to this many bytes.
constexpr std::size_t kLongestSeparator = std::size_t{1} << 16;
// P53 declares method, version and key check value, as the MAC header does.
constexpr std::size_t kSecurityKcvAt = kMacKcvAt - kMacMethodAt;

bool IsPadding(char c) { return c == ' ' || IsControl(c); }

std::string Padded(const std::string& digits, std::size_t width) {
  return digits.size() >= width ? digits : std::string(width - digits.size(), '0') + digits;
}

// What the report shows of a value: card data masked.
std::string Shown(int element, std::string_view value) {
  if (ElementHoldsCardNumber(element)) return MaskElement(element, value);
  if (IsAnonymizedElement(element)) return std::string(value.size(), kMaskCharacter);
  return std::string(value);
}

// The bytes between messages, read in pieces.
template <typename Piece>
bool ForEachPiece(MessageReader& reader, std::int64_t from, std::int64_t to, Piece&& piece) {
  while (from < to) {
    const auto count = static_cast<std::size_t>(std::min<std::int64_t>(to - from, kGapPiece));
    const std::string bytes = reader.ReadBytes(from, count);
    if (bytes.empty()) return false;
    piece(bytes);
    from += static_cast<std::int64_t>(bytes.size());
  }
  return true;
}

std::string ReadEndText(verify::ReadEnd end, std::string_view path) {
  switch (end) {
    case verify::ReadEnd::Stopped: return "stopped";
    case verify::ReadEnd::CannotRead: return "cannot read " + std::string(path);
    case verify::ReadEnd::Changed: return std::string(path) + " changed while it was read";
    case verify::ReadEnd::EndOfFile: break;
  }
  return {};
}

// The first read, with --anonymize: every card number of IN, so that none
// becomes another's replacement.
class CardNumberCollector : public verify::MessageVisitor {
 public:
  CardNumberCollector(std::string_view path, CardNumberMap& map) : raw_(path), map_(map), stray_(map, true) {}
  void OnStart(const verify::FileStart& start) override { copied_ = start.start; }
  void OnMessage(const verify::ReadMessage& message) override {
    Gap(message.decoded.span.offset);
    for (const DecodedElement& element : message.decoded.elements) {
      RememberCardNumbers(element.number, element.value, map_);
    }
    copied_ = message.decoded.span.offset + message.decoded.span.bytes;
  }
  void OnStrayText(const verify::StrayText&) override {}
  void Finish() {
    Gap(raw_.FileSize());
    stray_.Finish();
  }

 private:
  void Gap(std::int64_t to) {
    ForEachPiece(raw_, copied_, to, [this](std::string_view piece) { stray_.Feed(piece); });
    stray_.Finish();
    copied_ = std::max(copied_, to);
  }
  MessageReader raw_;
  CardNumberMap& map_;
  StrayTextAnonymizer stray_;
  std::int64_t copied_ = 0;
};

// What --remac found in IN and writes into OUT.
struct MacPlan {
  std::size_t variant = kMacNsp;
  std::string kcv;  // the key's check value when the file declares another, else empty
  std::string note;
};

class Rewriter : public verify::MessageVisitor {
 public:
  Rewriter(std::string_view in, const RewriteOptions& options, const ChangeSink& sink, OutputFile& out,
           CardNumberMap* map, const MacPlan* mac)
      : raw_(in), options_(options), edits_(options.edits), sink_(sink), out_(out), map_(map), mac_(mac) {
    if (map_ != nullptr) stray_ = std::make_unique<StrayTextAnonymizer>(*map_, false);
  }

  void OnStart(const verify::FileStart& start) override { messagesStart_ = start.start; }
  void OnMessage(const verify::ReadMessage& message) override;
  void OnStrayText(const verify::StrayText&) override {}

  // After the read: the bytes after the last message and the copies still
  // waiting for them.
  void Finish();

  const std::string& Error() const { return error_; }
  bool BadEdit() const { return badEdit_; }
  std::int64_t MessagesIn() const { return messagesIn_; }
  std::int64_t MessagesOut() const { return outRecord_; }
  std::int64_t Changes() const { return changes_; }

 private:
  struct Pending {
    EditedMessage message;
    std::int64_t record;
    bool cumulative;
  };

  void Report(std::int64_t record, std::int64_t outRecord, int element, std::string what, std::string before,
              std::string after) {
    ++changes_;
    if (sink_) sink_({record, outRecord, element, std::move(what), std::move(before), std::move(after)});
  }
  void Fail(std::string text, bool badEdit = false) {
    if (error_.empty()) {
      error_ = std::move(text);
      badEdit_ = badEdit;
    }
  }
  void Write(std::string_view bytes) {
    if (!out_.Write(bytes)) Fail(out_.Error());
  }

  void CopyGap(std::int64_t to);
  void ReportStrayText();
  void WriteGapPiece(std::string_view piece);
  void FlushCopies();
  bool ApplyEdits(EditedMessage& message, std::int64_t record, bool& deleted, bool cumulative);
  bool ReadsCumulative(const verify::ReadMessage& message);
  void Emit(EditedMessage& message, std::int64_t record, bool cumulative);
  void SetValue(EditedMessage& message, std::int64_t record, int element, const std::string& value,
                std::string_view what);
  void Renumber(EditedMessage& message, std::int64_t record);
  void Anonymize(EditedMessage& message, std::int64_t record);
  void Retotal(EditedMessage& message, std::int64_t record, bool cumulative);
  void WriteKcv(EditedMessage& message, std::int64_t record);

  MessageReader raw_;
  const RewriteOptions& options_;
  EditList edits_;
  const ChangeSink& sink_;
  OutputFile& out_;
  CardNumberMap* map_;
  const MacPlan* mac_;
  std::unique_ptr<StrayTextAnonymizer> stray_;
  std::int64_t messagesStart_ = 0;
  std::int64_t copied_ = 0;          // IN's bytes up to here are handled
  bool skipSeparator_ = false;       // the message before was deleted: so is its padding
  std::string separator_;            // the padding and line ends the last gap ended in
  std::vector<Pending> copies_;      // copies waiting for the gap after their message
  std::int64_t messagesIn_ = 0;
  std::int64_t outRecord_ = 0;
  std::int64_t changes_ = 0;
  // IN's totals, for the reading each message uses; OUT's, for the values written
  Totals inBatch_, inFile_, outBatch_, outFile_;
  bool inBroken_ = false;
  std::string error_;
  bool badEdit_ = false;
};

void Rewriter::WriteGapPiece(std::string_view piece) {
  // the padding and line ends the gap ends in, for the copies after it
  const auto tail = std::find_if_not(piece.rbegin(), piece.rend(), IsPadding).base();
  if (tail == piece.begin()) {
    separator_.append(piece.begin(), piece.end());
  } else {
    separator_.assign(tail, piece.end());
  }
  if (separator_.size() > kLongestSeparator) separator_.resize(kLongestSeparator);
  if (skipSeparator_) {
    const auto kept = std::find_if_not(piece.begin(), piece.end(), IsPadding);
    piece.remove_prefix(static_cast<std::size_t>(kept - piece.begin()));
    if (piece.empty()) return;
    skipSeparator_ = false;
  }
  if (stray_ == nullptr || copied_ <= messagesStart_) {
    Write(piece);
    return;
  }
  Write(stray_->Feed(piece));
  ReportStrayText();
}

void Rewriter::ReportStrayText() {
  for (const auto& [before, after] : stray_->TakeReplaced()) {
    Report(messagesIn_, 0, 0, "strayText", MaskPan(before), MaskPan(after));
  }
}

void Rewriter::CopyGap(std::int64_t to) {
  separator_.clear();
  const bool anonymized = stray_ != nullptr && copied_ > messagesStart_;
  const bool read = ForEachPiece(raw_, copied_, to, [this](std::string_view piece) { WriteGapPiece(piece); });
  if (!read) Fail("cannot read the input file");
  skipSeparator_ = false;  // only the gap right after a deleted message
  if (anonymized) {
    Write(stray_->Finish());
    ReportStrayText();
    if (!stray_->Error().empty()) Fail(stray_->Error());
  }
  copied_ = std::max(copied_, to);
}

void Rewriter::FlushCopies() {
  std::vector<Pending> copies = std::move(copies_);
  copies_.clear();
  const std::string separator = separator_;
  for (Pending& copy : copies) {
    Emit(copy.message, copy.record, copy.cumulative);
    Write(separator);
  }
}

bool Rewriter::ReadsCumulative(const verify::ReadMessage& message) {
  if (message.broken != verify::MessageBreak::None) {
    inBroken_ = true;
    return false;
  }
  verify::CountTransactionTotals(message.decoded, inBatch_);
  verify::CountTransactionTotals(message.decoded, inFile_);
  if (!message.closesBatch) return false;
  DeclaredTotals declared;
  for (std::size_t i = 0; i < declared.size(); ++i) {
    if (const DecodedElement* element = verify::CompleteElement(message.decoded, kTotalElements[i])) {
      declared[i] = verify::ParseSum(element->value);
    }
  }
  const bool cumulative = !inBroken_ && verify::FitsCumulative(declared, inBatch_, inFile_);
  inBatch_ = Totals{};
  return cumulative;
}

void Rewriter::OnMessage(const verify::ReadMessage& message) {
  if (!error_.empty()) return;
  CopyGap(message.decoded.span.offset);
  FlushCopies();
  const DecodedMessage& decoded = message.decoded;
  const std::int64_t record = message.record;
  messagesIn_ = record;
  const bool broken = message.broken != verify::MessageBreak::None;
  EditedMessage edited(decoded, raw_.ReadBytes(decoded.span.offset, static_cast<std::size_t>(decoded.span.bytes)),
                       broken);
  copied_ = decoded.span.offset + decoded.span.bytes;
  const bool cumulative = ReadsCumulative(message);
  bool deleted = false;
  if (!ApplyEdits(edited, record, deleted, cumulative)) return;
  if (deleted) {
    skipSeparator_ = true;
    return;
  }
  Emit(edited, record, cumulative);
}

bool Rewriter::ApplyEdits(EditedMessage& message, std::int64_t record, bool& deleted, bool cumulative) {
  for (const Edit* edit : edits_.Of(record)) {
    if (deleted) {
      Fail("record " + std::to_string(record) + " is deleted before '" + EditText(*edit) + "'", true);
      return false;
    }
    if (message.Broken() && (edit->kind == EditKind::Set || edit->kind == EditKind::Unset)) {
      Fail(EditPlace(record, edit->element) + ": the message could not be read in full, so it cannot be edited",
           true);
      return false;
    }
    switch (edit->kind) {
      case EditKind::Set: {
        const DecodedElement* element = message.Element(edit->element);
        const std::string before = element != nullptr ? Shown(edit->element, element->value) : std::string();
        message.Set(edit->element, edit->value);
        Report(record, outRecord_ + 1, edit->element, "set", before, Shown(edit->element, edit->value));
        break;
      }
      case EditKind::Unset: {
        const DecodedElement* element = message.Element(edit->element);
        if (element == nullptr) break;
        const std::string before = Shown(edit->element, element->value);
        message.Unset(edit->element);
        Report(record, outRecord_ + 1, edit->element, "unset", before, "");
        break;
      }
      case EditKind::Delete:
        deleted = true;
        Report(record, 0, 0, "delete", "", "");
        break;
      case EditKind::Copy:
        copies_.push_back({message, record, cumulative});
        Report(record, 0, 0, "copy", "", "");
        break;
    }
  }
  return true;
}

void Rewriter::SetValue(EditedMessage& message, std::int64_t record, int element, const std::string& value,
                        std::string_view what) {
  const DecodedElement* current = message.Element(element);
  if (current == nullptr || current->value == value) return;
  const std::string before = Shown(element, current->value);
  if (current->complete) {
    message.Set(element, value);
  } else {
    message.Overwrite(element, value);
  }
  Report(record, outRecord_, element, std::string(what), before, Shown(element, value));
}

void Rewriter::Renumber(EditedMessage& message, std::int64_t record) {
  const DecodedElement* number = verify::CompleteElement(message.Decoded(), kMessageNumber);
  if (number == nullptr) return;
  const auto width = static_cast<std::size_t>(kElementLayouts[kMessageNumber].maxLength);
  const std::string value = Padded(std::to_string(outRecord_), width);
  if (value.size() == width) SetValue(message, record, kMessageNumber, value, "renumber");
}

void Rewriter::Anonymize(EditedMessage& message, std::int64_t record) {
  std::vector<std::pair<int, std::string>> values;
  for (const DecodedElement& element : message.Decoded().elements) {
    if (!IsAnonymizedElement(element.number)) continue;
    std::string anonymized;
    if (element.complete) {
      std::string error;
      anonymized = AnonymizeValue(element.number, element.value, *map_, error);
      if (!error.empty()) Fail(error);
    } else {
      // what the file cut short keeps no more than an issuer's six digits
      anonymized = element.value.substr(0, std::min(element.value.size(), kKeptDigits)) +
                   std::string(element.value.size() - std::min(element.value.size(), kKeptDigits), '0');
    }
    values.emplace_back(element.number, std::move(anonymized));
  }
  for (const auto& [element, value] : values) SetValue(message, record, element, value, "anonymize");
}

void Rewriter::Retotal(EditedMessage& message, std::int64_t record, bool cumulative) {
  const Totals& computed = cumulative ? outFile_ : outBatch_;
  for (std::size_t i = 0; i < kTotalElements.size(); ++i) {
    const int element = kTotalElements[i];
    const DecodedElement* declared = verify::CompleteElement(message.Decoded(), element);
    if (declared == nullptr) continue;
    if (i >= verify::kCreditAmount && !computed.amountsKnown) continue;
    const auto width = static_cast<std::size_t>(kElementLayouts[static_cast<std::size_t>(element)].maxLength);
    const std::string value = Padded(verify::SumText(computed.values[i]), width);
    if (value.size() == width) SetValue(message, record, element, value, "retotal");
  }
}

// The file header's P53 declares the key's check value after method and version.
void Rewriter::WriteKcv(EditedMessage& message, std::int64_t record) {
  const DecodedElement* security = verify::CompleteElement(message.Decoded(), kSecurity);
  if (security == nullptr || message.Decoded().mti != "1644" ||
      security->value.size() < kSecurityKcvAt + kKcvDigits) {
    return;
  }
  std::string value = security->value;
  value.replace(kSecurityKcvAt, kKcvDigits, mac_->kcv);
  SetValue(message, record, kSecurity, value, "kcv");
}

void Rewriter::Emit(EditedMessage& message, std::int64_t record, bool cumulative) {
  ++outRecord_;
  if (options_.renumber) Renumber(message, record);
  if (map_ != nullptr) Anonymize(message, record);
  if (mac_ != nullptr && !mac_->kcv.empty() && outRecord_ == 1) WriteKcv(message, record);
  if (!message.Broken()) {
    verify::CountTransactionTotals(message.Decoded(), outBatch_);
    verify::CountTransactionTotals(message.Decoded(), outFile_);
    const bool closes = std::any_of(message.Decoded().elements.begin(), message.Decoded().elements.end(),
                                    [](const DecodedElement& e) { return verify::IsTotalElement(e.number); });
    if (closes) {
      if (options_.retotal) Retotal(message, record, cumulative);
      outBatch_ = Totals{};
    }
  }
  Write(message.Bytes());
}

void Rewriter::Finish() {
  if (!error_.empty()) return;
  CopyGap(raw_.FileSize());
  FlushCopies();
  if (edits_.LastRecord() > messagesIn_) {
    Fail("record " + std::to_string(edits_.LastRecord()) + " is not in the input file (" +
             std::to_string(messagesIn_) + " messages)",
         true);
  }
}

// --remac before the rewrite: IN's key check value and the variant that matched.
std::optional<MacPlan> PlanMac(std::string_view in, const RewriteOptions& options, std::string& error) {
  MacCheckSecrets secrets;
  const FileMacResult result = ComputeFileMac(in, options.key, secrets);
  if (result.stop != MacCheckStop::Variants) {
    error = "cannot re-MAC: " +
            (result.failure.empty() ? std::string(result.envelopeStatus) : result.failure);
    return std::nullopt;
  }
  if (!result.trailerFound) {
    error = "cannot re-MAC: the input file has no MAC trailer";
    return std::nullopt;
  }
  MacPlan plan;
  if (result.declaredKcv != result.keyKcv) plan.kcv = result.keyKcv;
  if (options.macVariant) {
    plan.variant = *options.macVariant;
    return plan;
  }
  std::optional<std::size_t> matched;
  for (std::size_t i = 0; i < result.variants.size() && !matched; ++i) {
    if (result.variants[i].computed && result.variants[i].mac == result.declaredMac) matched = i;
  }
  if (matched == kMacAll) {
    // MACALL covers the trailer's own MAC: no copy can declare it
    plan.note = "IN declares its MACALL, which covers the MAC itself; MACNSP is written";
  } else if (matched) {
    plan.variant = *matched;
  } else {
    plan.note = "no variant matched in IN; MACNSP is written";
  }
  return plan;
}

// --remac after it: OUT's MAC in S128, where the MAC check reads it, and the
// key's check value in the MAC header.
bool WriteMac(OutputFile& out, const RewriteOptions& options, const MacPlan& plan, RewriteResult& result,
              const ChangeSink& sink) {
  auto report = [&](int element, std::string what, std::string before, std::string after) {
    ++result.changes;
    if (sink) sink({0, 0, element, std::move(what), std::move(before), std::move(after)});
  };
  if (!plan.kcv.empty()) {
    MessageReader header(out.TemporaryPath());
    const std::string before = header.ReadBytes(static_cast<std::int64_t>(kMacKcvAt), kKcvDigits);
    if (before.size() == kKcvDigits && out.Patch(static_cast<std::int64_t>(kMacKcvAt), plan.kcv)) {
      report(0, "kcv", before, plan.kcv);
    }
  }
  MacCheckSecrets secrets;
  const FileMacResult mac = ComputeFileMac(out.TemporaryPath(), options.key, secrets);
  const MacVariantResult& variant = mac.variants[plan.variant];
  if (mac.stop != MacCheckStop::Variants || !mac.trailerFound || !variant.computed) {
    result.error = "cannot re-MAC the copy: " +
                   (!mac.trailerFound && mac.stop == MacCheckStop::Variants ? std::string("it has no MAC trailer")
                    : !mac.failure.empty()                                  ? mac.failure
                    : !variant.failure.empty()                              ? variant.failure
                                                                            : std::string(mac.envelopeStatus));
    return false;
  }
  const std::int64_t at = mac.fileSize - mac.trailerLength + static_cast<std::int64_t>(kTrailerMacAt);
  if (!out.Patch(at, variant.mac)) {
    result.error = out.Error();
    return false;
  }
  result.macVariant = kMacVariantNames[plan.variant];
  result.mac = variant.mac;
  result.note = plan.note;
  report(128, "mac", mac.declaredMac, variant.mac);
  return true;
}

}  // namespace

std::string OptionsRefusal(std::string_view in, std::string_view out, const RewriteOptions& options) {
  if (SameFile(in, out)) return "OUT is the input file itself; a test copy goes to another file";
  if (options.remac) {
    if (std::string refusal = MacKeyRefusal(options.key); !refusal.empty()) return refusal;
    if (options.macVariant == kMacAll) return "MACALL covers the trailer's own MAC: a copy cannot declare it";
  }
  for (const Edit& edit : options.edits) {
    if (std::string refusal = EditRefusal(edit); !refusal.empty()) return refusal;
  }
  return {};
}

RewriteResult RewriteFile(std::string_view in, std::string_view out, const RewriteOptions& options,
                          const ChangeSink& changes) {
  RewriteResult result;
  result.error = OptionsRefusal(in, out, options);
  if (!result.error.empty()) return result;
  verify::MessageFileReader reader(in);
  if (!reader.IsOpen()) {
    result.error = "cannot open " + std::string(in);
    return result;
  }
  std::optional<MacPlan> mac;
  if (options.remac && !(mac = PlanMac(in, options, result.error))) return result;
  std::unique_ptr<CardNumberMap> map;
  if (options.anonymize) {
    map = std::make_unique<CardNumberMap>(options.anonymizeSecret);
    CardNumberCollector collector(in, *map);
    const verify::ReadEnd end = reader.Read(collector);
    if (end != verify::ReadEnd::EndOfFile) {
      result.error = ReadEndText(end, in);
      return result;
    }
    collector.Finish();
    for (const Edit& edit : options.edits) {
      if (edit.kind == EditKind::Set) RememberCardNumbers(edit.element, edit.value, *map);
    }
    map->Seal();
  }
  OutputFile file(out, in);
  if (!file.IsOpen()) {
    result.error = file.Error();
    return result;
  }
  Rewriter rewriter(in, options, changes, file, map.get(), mac ? &*mac : nullptr);
  const verify::ReadEnd end = reader.Read(rewriter, options.progress);
  if (end == verify::ReadEnd::EndOfFile) rewriter.Finish();
  result.messagesIn = rewriter.MessagesIn();
  result.messagesOut = rewriter.MessagesOut();
  result.changes = rewriter.Changes();
  if (map) {
    result.cardNumbers = map->DistinctNumbers();
    result.cardMapBytes = map->Bytes();
  }
  if (end != verify::ReadEnd::EndOfFile) {
    result.error = ReadEndText(end, in);
    return result;
  }
  if (!rewriter.Error().empty()) {
    result.error = rewriter.Error();
    result.badEdit = rewriter.BadEdit();
    return result;
  }
  if (!file.Close()) {
    result.error = file.Error();
    return result;
  }
  if (mac && !WriteMac(file, options, *mac, result, changes)) return result;
  if (!file.Commit()) {
    result.error = file.Error();
    return result;
  }
  result.written = true;
  return result;
}

}  // namespace kalvrin::rewrite
