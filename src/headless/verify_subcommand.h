// kalvrin-check verify: the verify pass's findings and summaries in the
// three output forms, for one file or many.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "headless/surface_output.h"
#include "verify/finding.h"
#include "verify/verify_pass.h"

namespace kalvrin {

// One finding: a compiler-style line, one JSON object on a line, or one CSV
// record (RFC 4180, CRLF).
std::string FormatFinding(OutputFormat format, std::string_view file, const verify::Finding& finding);
// The title row of the CSV findings.
std::string CsvFindingsTitle();
// The records that hold a finding, as ranges in order: what tells the
// readable summary a batch with a finding from a clean one. A file with a
// finding in every record keeps one range.
class FindingRecords {
 public:
  void Add(std::int64_t record);
  bool AnyIn(std::int64_t first, std::int64_t last) const;

 private:
  std::vector<std::pair<std::int64_t, std::int64_t>> ranges_;  // disjoint, by their first record
};

// The per-file summary: readable lines, or one JSON object with a "summary"
// field on a line; CSV has none. The readable lines list a batch's totals
// only when it holds a finding or was not judged, and count the others,
// unless `withFindings` is null: then they list every batch.
std::string FormatSummary(OutputFormat format, std::string_view file, const verify::VerifySummary& summary,
                          const FindingRecords* withFindings = nullptr);

}  // namespace kalvrin
