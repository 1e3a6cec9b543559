// The batch rules over the messages of a file: the S71 sequence, repeated
// transactions, and each batch's totals against its transactions, with the
// batches listed for the summary.
#pragma once

#include <cstdint>

#include "verify/batch_rules.h"
#include "verify/message_reader.h"
#include "verify/reporter.h"
#include "verify/verify_pass.h"

namespace kalvrin::verify {

// Adds a transaction message (1140, 1240, 1440) to the totals, its P3 and
// P4 as the file holds them (an absent P4 counts as 0); other messages add
// nothing.
void CountTransactionTotals(const DecodedMessage& message, Totals& totals);

class BatchChecks {
 public:
  BatchChecks(Reporter& report, MessageFileReader& reader, VerifySummary& summary, bool maskCardNumbers,
              VerifyObserver* observer = nullptr)
      : report_(report), reader_(reader), summary_(summary), maskCardNumbers_(maskCardNumbers), observer_(observer) {}

  // A message that could not be read in full: its S71 is unknown and its
  // batch's totals are not judged.
  void Broken(std::int64_t record);
  // A complete message.
  void Check(const ReadMessage& message);
  // The transactions after the last totals, at the end of the file.
  void Finish();

  std::size_t DuplicateIndexBytes() const { return duplicates_.Bytes(); }

 private:
  void CheckNumber(const DecodedMessage& message, std::int64_t record);
  void CheckDuplicate(const DecodedMessage& message, std::int64_t record);
  void CountTransaction(const DecodedMessage& message);
  void JudgeTotals(const DecodedMessage& message, std::int64_t record);
  void ReportTotals(const DecodedMessage& message, std::int64_t record, BatchSummary& batch);
  void AddBatch(BatchSummary batch);

  Reporter& report_;
  MessageFileReader& reader_;
  VerifySummary& summary_;
  bool maskCardNumbers_;
  VerifyObserver* observer_;
  MessageNumbers numbers_;
  DuplicateIndex duplicates_;
  Totals batch_;
  Totals file_;
  std::int64_t batchBroken_ = 0;  // the first broken record of the open batch, 0 when none
  std::int64_t fileBroken_ = 0;
};

}  // namespace kalvrin::verify
