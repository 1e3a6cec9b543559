// The verify pass: reads a transaction file once, front to back, with the
// format check's framing, never stops at a fault, and hands every finding to
// a sink. Memory stays flat in the file's size apart from the index of
// transaction keys.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "verify/batch_rules.h"
#include "verify/finding.h"
#include "verify/rules.h"

namespace kalvrin::verify {

struct BatchSummary;
struct FileStart;
struct ReadMessage;

// Sees what the pass reads, for a caller that draws more from the same read
// than the findings (the report's summary). Called on the pass's thread.
class VerifyObserver {
 public:
  virtual ~VerifyObserver() = default;
  // Every byte of the file once, in file order, as the pass reads it; not
  // to the end when the pass stops early.
  virtual void OnBytes(std::string_view) {}
  virtual void OnStart(const FileStart&) {}
  virtual void OnMessage(const ReadMessage&) {}
  // Each batch as it closes, listed in the summary or not.
  virtual void OnBatch(const BatchSummary&) {}
};

struct VerifyOptions {
  RuleSet rules;
  std::string key;  // 16 hex digits: the MAC rules run; empty: they are skipped
  ProgressCallback progress;
  // The MAC's reads after the messages' (the envelope's lookup, then the
  // variants'), as bytes of twice the file's size; false stops the pass as
  // `progress` does. Empty: they report nothing and run to their end.
  ProgressCallback macProgress;
  bool maskCardNumbers = false;  // findings show card numbers with their middle digits masked
  bool explainMac = false;       // a MAC mismatch is explained (mac_explain.h), at the cost of another read
  VerifyObserver* observer = nullptr;  // null: nobody else looks
};

// One batch: the transactions since the previous message carrying totals (or
// since the file header) and what the message closing it declares.
struct BatchSummary {
  std::int64_t totalsRecord = 0;  // 0: no message closed it before the end of the file
  Totals computed;                // since the previous totals
  std::array<std::optional<std::string>, kTotalElements.size()> declared;  // as the message holds them
  bool cumulative = false;        // the declared values were read as totals since the file header
  std::string notJudged;          // why the totals were not judged, empty when they were
};

struct MacSummary {
  bool checked = false;   // a key was given and the MAC variants ran
  std::string note;       // why not, or what stopped them
  std::string declared;   // as the MAC check reads it
  std::array<std::string, 3> computed;  // MACALL, MACNHD, MACNSP
  std::string matched;    // the first variant that equals the declared MAC, empty when none
};

inline constexpr std::size_t kMaxBatchesListed = 1000;

struct VerifySummary {
  bool read = false;   // false: the file could not be read, see error
  std::string error;
  bool stopped = false;  // the progress callback asked to stop
  std::int64_t bytes = 0;
  std::int64_t messages = 0;
  std::map<std::string, std::int64_t> messagesByType;  // by MTI as the file holds it
  std::vector<BatchSummary> batches;                   // the first kMaxBatchesListed
  std::int64_t batchesNotListed = 0;
  MacSummary mac;
  std::int64_t errors = 0;    // findings reported, by severity
  std::int64_t warnings = 0;
  std::size_t duplicateIndexBytes = 0;  // the most the index of transaction keys held at once
  bool duplicatesOff = false;  // the index was turned off for a file too large for it: no batch.duplicate
};

// Checks one file. Findings go to `sink` as they are found; the summary
// comes back at the end.
VerifySummary VerifyFile(std::string_view path, const VerifyOptions& options, FindingSink& sink);

}  // namespace kalvrin::verify
