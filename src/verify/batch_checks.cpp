// The batch rules' findings and the batches of the summary.
#include "verify/batch_checks.h"

#include <algorithm>
#include <string>

#include "iso/pan_mask.h"
#include "verify/finding_text.h"

namespace kalvrin::verify {

namespace {

constexpr int kMessageNumber = 71;
constexpr std::uint64_t kLargestMessageNumber = 0xFFFFFFFFFFFFull;

bool IsTransaction(std::string_view mti) { return mti == "1140" || mti == "1240" || mti == "1440"; }

}  // namespace

void CountTransactionTotals(const DecodedMessage& message, Totals& totals) {
  if (!IsTransaction(message.mti)) return;
  const DecodedElement* code = CompleteElement(message, 3);
  const DecodedElement* amount = CompleteElement(message, 4);
  const std::optional<Sum> value = amount == nullptr ? std::optional<Sum>(0) : ParseSum(amount->value);
  totals.Add(message.mti, code != nullptr ? std::string_view(code->value) : std::string_view(), value);
}

void BatchChecks::Broken(std::int64_t record) {
  numbers_.Unknown();
  if (batchBroken_ == 0) batchBroken_ = record;
  if (fileBroken_ == 0) fileBroken_ = record;
}

void BatchChecks::Check(const ReadMessage& message) {
  CheckNumber(message.decoded, message.record);
  CheckDuplicate(message.decoded, message.record);
  CountTransaction(message.decoded);
  if (message.closesBatch) JudgeTotals(message.decoded, message.record);
}

void BatchChecks::CheckNumber(const DecodedMessage& message, std::int64_t record) {
  const DecodedElement* number = CompleteElement(message, kMessageNumber);
  const std::optional<Sum> value = number != nullptr ? ParseSum(number->value) : std::nullopt;
  if (!value || *value > kLargestMessageNumber) {
    numbers_.Unknown();
    return;
  }
  const auto v = static_cast<std::uint64_t>(*value);
  const std::optional<std::uint64_t> expected = numbers_.Next(v);
  if (!expected) return;
  std::string text = std::to_string(*expected);
  if (text.size() < number->value.size()) text.insert(0, number->value.size() - text.size(), '0');
  std::string found = "S71 " + Quoted(number->value) + " breaks the sequence: " + Quoted(text) + " expected";
  if (v > *expected) found += " (a wrong number, or " + std::to_string(v - *expected) + " messages missing)";
  report_(Rule::MessageNumber, record, reader_.OffsetInValue(*number, 0), kMessageNumber, std::move(found),
          number->value, text);
}

void BatchChecks::CheckDuplicate(const DecodedMessage& message, std::int64_t record) {
  if (!IsTransaction(message.mti) || !report_.Enabled(Rule::Duplicate)) return;
  auto value = [&message](int number) -> std::string_view {
    const DecodedElement* element = CompleteElement(message, number);
    return element != nullptr ? std::string_view(element->value) : std::string_view("\x01");
  };
  const std::uint64_t hash = KeyHash({message.mti, value(2), value(11), value(12), value(37)});
  const std::int64_t earlier = duplicates_.Insert(hash, record);
  if (earlier == 0) return;
  // an absent element is its own key value, and is named as absent
  auto shown = [&](int number) {
    if (CompleteElement(message, number) == nullptr) return std::string("absent");
    return Quoted(number == 2 && maskCardNumbers_ ? MaskPan(value(2)) : std::string(value(number)));
  };
  report_(Rule::Duplicate, record, message.span.offset, kNoElement,
          "this " + message.mti + " repeats record " + std::to_string(earlier) + " (P2 " + shown(2) + ", P11 " +
              shown(11) + ", P12 " + shown(12) + ", P37 " + shown(37) + ")");
}

void BatchChecks::CountTransaction(const DecodedMessage& message) {
  CountTransactionTotals(message, batch_);
  CountTransactionTotals(message, file_);
}

void BatchChecks::JudgeTotals(const DecodedMessage& message, std::int64_t record) {
  BatchSummary batch;
  batch.totalsRecord = record;
  batch.computed = batch_;
  for (std::size_t i = 0; i < kTotalElements.size(); ++i) {
    const DecodedElement* element = CompleteElement(message, kTotalElements[i]);
    if (element != nullptr) batch.declared[i] = element->value;
  }
  if (batchBroken_ != 0) {
    batch.notJudged = "record " + std::to_string(batchBroken_) + " of the batch could not be read in full";
  } else {
    ReportTotals(message, record, batch);
  }
  AddBatch(std::move(batch));
  batch_ = Totals{};
  batchBroken_ = 0;
}

// One reading for the whole message: since the batch's start or since the
// file header, whichever more of its values fit.
void BatchChecks::ReportTotals(const DecodedMessage& message, std::int64_t record, BatchSummary& batch) {
  DeclaredTotals declared;
  for (std::size_t i = 0; i < declared.size(); ++i) {
    if (batch.declared[i]) declared[i] = ParseSum(*batch.declared[i]);
  }
  const bool cumulative = fileBroken_ == 0 && FitsCumulative(declared, batch_, file_);
  batch.cumulative = cumulative;
  const Totals& computed = cumulative ? file_ : batch_;
  for (std::size_t i = 0; i < declared.size(); ++i) {
    if (!declared[i] || *declared[i] == computed.values[i]) continue;
    if (i >= kCreditAmount && !computed.amountsKnown) continue;
    const DecodedElement* element = CompleteElement(message, kTotalElements[i]);
    report_(Rule::Totals, record, reader_.OffsetInValue(*element, 0), kTotalElements[i],
            ElementName(kTotalElements[i]) + " declares " + element->value + ", the " +
                (cumulative ? "file's transactions since the file header give " : "batch's transactions give ") +
                SumText(computed.values[i]),
            element->value, SumText(computed.values[i]));
  }
  if (!computed.amountsKnown) batch.notJudged = "amounts not judged: a P4 of the batch is not a number";
}

void BatchChecks::AddBatch(BatchSummary batch) {
  if (observer_ != nullptr) observer_->OnBatch(batch);
  if (summary_.batches.size() < kMaxBatchesListed) {
    summary_.batches.push_back(std::move(batch));
  } else {
    ++summary_.batchesNotListed;
  }
}

void BatchChecks::Finish() {
  const bool openBatch = std::any_of(batch_.values.begin(), batch_.values.end(), [](Sum v) { return v != 0; });
  if (!openBatch) return;
  BatchSummary batch;
  batch.computed = batch_;
  batch.notJudged = "no message with totals closes these transactions";
  AddBatch(std::move(batch));
}

}  // namespace kalvrin::verify
