// The summary of one transaction file that every front end draws: its
// identity, envelope, messages, batches, currencies, issuer ranges and
// findings, gathered during the verify pass's one read of the file.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "verify/batch_rules.h"
#include "verify/finding.h"
#include "verify/rules.h"
#include "verify/verify_pass.h"

namespace kalvrin::report {

// What keeps a report's size flat in the file's: the lists keep their
// first or largest entries and count the rest.
inline constexpr std::size_t kFindingsKept = 1000;
inline constexpr std::size_t kFindingsPerRuleKept = 100;
inline constexpr std::size_t kLargestKept = 100;          // batches and issuer ranges
inline constexpr std::size_t kIssuerRangesCounted = 10000;  // distinct ranges before the rest count as one
inline constexpr std::size_t kHistogramBins = 50;
// Texts of the file that key a table (P49, P24): the first ones met are
// listed, the messages with any other counted apart, however many a broken
// or hostile file holds.
inline constexpr std::size_t kCurrenciesListed = 100;
inline constexpr std::size_t kFunctionCodesListed = 100;  // per MTI
inline constexpr std::size_t kBatchBars = 100;

struct SummaryOptions {
  verify::RuleSet rules;
  std::string key;  // 16 or 32 hex digits: the MAC is judged
  bool explainMac = true;  // with a key, a mismatch is explained, at the cost of another read
  bool maskCardNumbers = true;
  verify::ProgressCallback progress;
  verify::ProgressCallback macProgress;
};

struct FileIdentity {
  std::string path;
  std::string name;      // the last part of the path
  std::int64_t size = 0;
  std::string modified;  // UTC, "2026-12-09T03:34:44Z"; empty when unknown
  std::string sha256;    // of every byte read; empty when the pass did not read the whole file
};

struct Envelope {
  std::string method;      // the MAC header record's one digit
  std::string version;     // its two digits
  std::string checkValue;  // its key check value
  std::string declaredMac; // the trailer's S128, empty without a trailer
};

struct MacVerdict {
  bool judged = false;      // a key was given and the MACs were compared
  std::string matched;      // the variant that equals the declared MAC, empty when none
  std::string text;         // one line for people: the verdict or why there is none
  std::string explanation;  // for a mismatch: what the candidates tell
};

struct BatchFigures {
  std::int64_t number = 0;  // counted from 1 in file order
  std::int64_t firstRecord = 0;
  std::int64_t lastRecord = 0;  // the totals' record, or the file's last one
  verify::BatchSummary totals;
  bool agrees = false;      // judged and no totals finding at its record
  verify::Sum Amount() const;  // credits and debits, reversals not included: what "largest" means
};

struct CurrencyFigures {
  std::string name;          // ISO 4217's, empty for a code not assigned
  std::int64_t messages = 0; // transactions in the currency
  verify::Totals totals;
};

struct RuleFigures {
  verify::RuleInfo info;
  bool ran = false;
  std::int64_t count = 0;
  std::vector<verify::Finding> first;  // up to kFindingsPerRuleKept
};

// Findings over record numbers: bins of equal width that double as the
// file grows, so a cluster shows whatever the file's length.
struct RecordHistogram {
  std::int64_t width = 1;  // records per bin
  std::array<std::int64_t, kHistogramBins> bins{};
  std::int64_t fileLevel = 0;  // findings about the whole file (no record)
  void Add(std::int64_t record);
};

struct FileSummary {
  FileIdentity identity;
  bool cardNumbersMasked = true;  // in the findings' texts and the issuer ranges
  verify::VerifySummary verify;  // messages by MTI, batches listed, MAC, error and warning counts
  Envelope envelope;
  MacVerdict mac;
  // MTI -> P24 ("" none) -> count
  std::map<std::string, std::map<std::string, std::int64_t, std::less<>>, std::less<>> messagesByFunction;
  std::vector<BatchFigures> largestBatches;  // up to kLargestKept, in file order
  std::int64_t batchCount = 0;
  // Amount per batch, consecutive batches added up to at most kBatchBars bars.
  struct BatchBar {
    std::int64_t firstBatch = 0, lastBatch = 0;
    std::int64_t firstRecord = 0;
    verify::Sum credits = 0, debits = 0;
  };
  std::vector<BatchBar> batchBars;
  verify::Totals fileTotals;
  std::map<std::string, CurrencyFigures, std::less<>> currencies;  // by P49 as the file holds it
  std::int64_t currenciesNotListed = 0;    // transactions in other currencies
  std::int64_t functionCodesNotListed = 0; // messages with other function codes
  std::vector<std::pair<std::string, std::int64_t>> issuerRanges;  // the largest, by count
  std::int64_t issuerRangesNotListed = 0;  // other ranges
  std::int64_t cardsInOtherRanges = 0;     // their cards
  std::vector<RuleFigures> rules;          // in kRules's order
  std::vector<verify::Finding> findings;   // the first kFindingsKept
  std::int64_t findingsNotListed = 0;
  RecordHistogram findingsAlongFile;
};

// Verifies one file and summarises it in the same read. Findings also go
// to `sink` when it is given, as the pass meets them.
FileSummary SummariseFile(std::string_view path, const SummaryOptions& options, verify::FindingSink* sink = nullptr);

}  // namespace kalvrin::report
